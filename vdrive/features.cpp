#include "vdrive/features.h"

#include <algorithm>
#include <functional>

#include "vdrive/bytes.h"

namespace qv::vdrive {

namespace {

// What every feature builder sees.
struct Context {
  const DriveModel& model;
  const DriveState& state;
  const Medium* disc;  // the ready disc, or nullptr
  uint16_t profile;    // the current profile

  bool Current(std::initializer_list<uint16_t> profiles) const {
    return std::find(profiles.begin(), profiles.end(), profile) != profiles.end();
  }
  bool WritableNow(std::initializer_list<uint16_t> profiles) const {
    return Current(profiles) && disc->Writable() && model.Writes(profile);
  }
  bool ReadsAny(std::initializer_list<uint16_t> profiles) const {
    return std::any_of(profiles.begin(), profiles.end(), [&](uint16_t p) { return model.Reads(p); });
  }
  bool WritesAny(std::initializer_list<uint16_t> profiles) const {
    return std::any_of(profiles.begin(), profiles.end(), [&](uint16_t p) { return model.Writes(p); });
  }
};

struct Feature {
  uint16_t code;
  uint8_t version;
  bool persistent;
  std::function<bool(const Context&)> supported;
  std::function<bool(const Context&)> current;
  std::function<void(const Context&, Bytes&)> data;  // the bytes after the 4-byte descriptor header
};

constexpr std::initializer_list<uint16_t> kCdProfiles = {kProfileCdRom, kProfileCdR, kProfileCdRw};
constexpr std::initializer_list<uint16_t> kDvdProfiles = {kProfileDvdRom,          kProfileDvdR,      kProfileDvdRam,
                                                          kProfileDvdRwRestricted, kProfileDvdRwSequential,
                                                          kProfileDvdPlusRw,       kProfileDvdPlusR,  kProfileDvdPlusRDl};

auto Always = [](const Context&) { return true; };
auto NoData = [](const Context&, Bytes&) {};

const std::vector<Feature>& Features() {
  static const std::vector<Feature> features = {
      {0x0000, 0, true, Always, Always,
       [](const Context& c, Bytes& b) {
         // Every profile the drive reads, highest number first.
         std::vector<uint16_t> profiles = c.model.readProfiles;
         std::sort(profiles.rbegin(), profiles.rend());
         for (uint16_t p : profiles) {
           b.U16(p);
           b.U8(p == c.profile ? 0x01 : 0x00);
           b.U8(0);
         }
       }},
      {0x0001, 2, true, Always, Always,  // Core
       [](const Context& c, Bytes& b) {
         b.U32(c.model.physicalInterface);
         b.U8(0x02);  // INQ2: the whole standard INQUIRY data
         b.Zeros(3);
       }},
      {0x0002, 1, true, Always, Always,  // Morphing
       [](const Context&, Bytes& b) {
         b.U8(0x02);  // OCEvent: operational change events; only polling
         b.Zeros(3);
       }},
      {0x0003, 0, true, Always, Always,  // Removable Medium
       [](const Context& c, Bytes& b) {
         b.U8(static_cast<uint8_t>(c.model.loadingMechanism << 5) | 0x10 /* load */ | 0x08 /* eject */ |
              0x01 /* lock */);
         b.Zeros(3);
       }},
      {0x0010, 0, false, Always, [](const Context& c) { return c.disc != nullptr && c.disc->ReadableBlocks() > 0; },
       [](const Context& c, Bytes& b) {  // Random Readable
         b.U32(2048);
         b.U16(c.disc != nullptr && c.disc->IsDvd() ? 16 : 1);  // blocking
         b.U8(0x01);  // PP: the error recovery page is there
         b.U8(0);
       }},
      {0x001D, 0, false, [](const Context& c) { return c.ReadsAny({kProfileCdR, kProfileCdRw}); },
       [](const Context& c) { return c.Current(kCdProfiles); }, NoData},  // Multi-Read
      {0x001E, 2, false, [](const Context& c) { return c.ReadsAny(kCdProfiles); },
       [](const Context& c) { return c.Current(kCdProfiles); },
       [](const Context&, Bytes& b) {  // CD Read
         b.U8(0x80 | 0x02 | 0x01);  // DAP, C2 flags, CD-Text
         b.Zeros(3);
       }},
      {0x001F, 1, false, [](const Context& c) { return c.ReadsAny(kDvdProfiles); },
       [](const Context& c) { return c.Current(kDvdProfiles); },
       [](const Context&, Bytes& b) {  // DVD Read
         b.U8(0x01);  // MULTI110
         b.Zeros(3);  // no DVD-R dual layer
       }},
      {0x0020, 0, false, [](const Context& c) { return c.model.Writes(kProfileDvdRam); },
       [](const Context& c) { return c.WritableNow({kProfileDvdRam}) && c.disc->formatted; },
       [](const Context& c, Bytes& b) {  // Random Writable
         b.U32(c.disc != nullptr ? c.disc->LastCapacityBlock() : 0);
         b.U32(2048);
         b.U16(16);
         b.U8(0x01);
         b.U8(0);
       }},
      {0x0021, 1, false,
       [](const Context& c) { return c.WritesAny({kProfileCdR, kProfileCdRw, kProfileDvdR, kProfileDvdRwSequential}); },
       [](const Context& c) { return c.WritableNow({kProfileCdR, kProfileCdRw, kProfileDvdR, kProfileDvdRwSequential}); },
       [](const Context& c, Bytes& b) {  // Incremental Streaming Writable
         const bool dvd = c.disc != nullptr && c.disc->IsDvd();
         b.U16(dvd ? 0x0001 : 0x3F0F);  // data block types: DVD Mode 1 only; CD 0-3 and 8-13
         b.U8(c.model.bufferUnderrunFree ? 0x01 : 0x00);
         b.U8(1);                      // one link size
         b.U8(dvd ? 16 : 7);
         b.Zeros(3);
       }},
      {0x0023, 0, false,
       [](const Context& c) {
         return c.WritesAny({kProfileCdRw, kProfileDvdRwSequential, kProfileDvdPlusRw, kProfileDvdRam});
       },
       [](const Context& c) {
         return c.WritableNow({kProfileCdRw, kProfileDvdRwRestricted, kProfileDvdRwSequential, kProfileDvdPlusRw,
                               kProfileDvdRam});
       },
       [](const Context&, Bytes& b) {  // Formattable
         b.U8(0x00);
         b.Zeros(3);
         b.U8(0x00);
         b.Zeros(3);
       }},
      {0x0024, 0, false, [](const Context& c) { return c.model.Writes(kProfileDvdRam); },
       [](const Context& c) { return c.Current({kProfileDvdRam}); },
       [](const Context&, Bytes& b) {  // Hardware Defect Management
         b.U8(0x80);  // SSA: spare areas reported
         b.Zeros(3);
       }},
      {0x0026, 0, false, [](const Context& c) { return c.model.Writes(kProfileDvdRwRestricted); },
       [](const Context& c) { return c.WritableNow({kProfileDvdRwRestricted}); }, NoData},  // Restricted Overwrite
      {0x0027, 0, false, [](const Context& c) { return c.model.Writes(kProfileCdRw); },
       [](const Context& c) { return c.WritableNow({kProfileCdRw}); },
       [](const Context&, Bytes& b) { b.Zeros(4); }},  // CD-RW CAV Write
      {0x002A, 1, false, [](const Context& c) { return c.model.Reads(kProfileDvdPlusRw); },
       [](const Context& c) { return c.Current({kProfileDvdPlusRw}); },
       [](const Context& c, Bytes& b) {  // DVD+RW
         b.U8(c.model.Writes(kProfileDvdPlusRw) ? 0x01 : 0x00);
         b.U8(0x00);
         b.Zeros(2);
       }},
      {0x002B, 0, false, [](const Context& c) { return c.model.Reads(kProfileDvdPlusR); },
       [](const Context& c) { return c.Current({kProfileDvdPlusR}); },
       [](const Context& c, Bytes& b) {  // DVD+R
         b.U8(c.model.Writes(kProfileDvdPlusR) ? 0x01 : 0x00);
         b.Zeros(3);
       }},
      {0x002D, 2, false, [](const Context& c) { return c.WritesAny({kProfileCdR, kProfileCdRw}) && c.model.trackAtOnce; },
       [](const Context& c) { return c.WritableNow({kProfileCdR, kProfileCdRw}); },
       [](const Context& c, Bytes& b) {  // CD Track at Once
         const DriveModel& m = c.model;
         b.U8((m.bufferUnderrunFree ? 0x40 : 0) | (m.rawPw ? 0x10 | 0x08 : 0) | (m.testWrite ? 0x04 : 0) |
              (m.Writes(kProfileCdRw) ? 0x02 : 0) | (m.rawPw ? 0x01 : 0));
         b.U8(0);
         b.U16(0x3F0F);  // data block types 0-3 and 8-13
       }},
      {0x002E, 1, false,
       [](const Context& c) {
         return c.WritesAny({kProfileCdR, kProfileCdRw}) && (c.model.sessionAtOnce || c.model.rawPq || c.model.rawPw);
       },
       [](const Context& c) { return c.WritableNow({kProfileCdR, kProfileCdRw}); },
       [](const Context& c, Bytes& b) {  // CD Mastering
         const DriveModel& m = c.model;
         const bool raw = m.rawPq || m.rawPw;
         b.U8((m.bufferUnderrunFree ? 0x40 : 0) | (m.sessionAtOnce ? 0x20 : 0) | (raw ? 0x10 | 0x08 : 0) |
              (m.testWrite ? 0x04 : 0) | (m.Writes(kProfileCdRw) ? 0x02 : 0) | (m.rawPw ? 0x01 : 0));
         b.U24(m.sessionAtOnce ? 0x010000 : 0);  // maximum cue sheet length
       }},
      {0x002F, 1, false, [](const Context& c) { return c.WritesAny({kProfileDvdR, kProfileDvdRwSequential}); },
       [](const Context& c) { return c.WritableNow({kProfileDvdR, kProfileDvdRwSequential}); },
       [](const Context& c, Bytes& b) {  // DVD-R/-RW Write
         const DriveModel& m = c.model;
         b.U8((m.bufferUnderrunFree ? 0x40 : 0) | (m.testWrite ? 0x04 : 0) |
              (m.Writes(kProfileDvdRwSequential) ? 0x02 : 0));
         b.Zeros(3);
       }},
      {0x003B, 0, false, [](const Context& c) { return c.model.Reads(kProfileDvdPlusRDl); },
       [](const Context& c) { return c.Current({kProfileDvdPlusRDl}); },
       [](const Context& c, Bytes& b) {  // DVD+R Double Layer
         b.U8(c.model.Writes(kProfileDvdPlusRDl) ? 0x01 : 0x00);
         b.Zeros(3);
       }},
      {0x0100, 0, true, Always, Always, NoData},  // Power Management
      {0x0105, 1, true, Always, Always,
       [](const Context&, Bytes& b) {  // Timeout
         b.U8(0);
         b.U8(0);
         b.U16(0);
       }},
      {0x0107, 3, true, Always, Always,
       [](const Context& c, Bytes& b) {  // Real Time Streaming
         b.U8(c.model.WritesAny() ? 0x1E : 0x18);  // RBCB, SCS; MP2A and WSPD for writers
         b.Zeros(3);
       }},
      {0x0108, 0, true, Always, Always,
       [](const Context& c, Bytes& b) {  // Logical Unit Serial Number
         b.Text(c.model.serial, (c.model.serial.size() + 3) / 4 * 4);
       }},
  };
  return features;
}

void Descriptor(const Feature& f, const Context& c, Bytes& out) {
  Bytes data;
  f.data(c, data);
  out.U16(f.code);
  out.U8(static_cast<uint8_t>(f.version << 2) | (f.persistent ? 0x02 : 0) | (f.current(c) ? 0x01 : 0));
  out.U8(static_cast<uint32_t>(data.size()));
  out.Append(data.data().data(), data.size());
}

}  // namespace

std::vector<uint8_t> Configuration(RequestType type, uint16_t startingFeature, const DriveModel& model,
                                   const DriveState& state) {
  const Medium* disc = state.ReadyDisc(model);
  const Context c{model, state, disc, state.CurrentProfile(model)};
  Bytes out;
  out.U32(0);  // data length, below
  out.U16(0);
  out.U16(c.profile);
  for (const Feature& f : Features()) {
    if (!f.supported(c)) continue;
    const bool wanted = type == kOneFeature ? f.code == startingFeature
                        : type == kCurrentFeatures ? f.code >= startingFeature && f.current(c)
                                                   : f.code >= startingFeature;
    if (wanted) Descriptor(f, c, out);
  }
  PutBe32(out.data().data(), static_cast<uint32_t>(out.size() - 4));
  return out.data();
}

}  // namespace qv::vdrive
