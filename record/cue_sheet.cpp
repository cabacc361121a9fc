#include "record/cue_sheet.h"

#include <algorithm>
#include <cstring>

#include "core/log.h"

namespace {

constexpr uint8_t kCtlAdrData = 0x41;   // data track, Q mode 1
constexpr uint8_t kCtlAdrAudio = 0x01;  // two-channel audio, Q mode 1
constexpr uint8_t kAdrCatalog = 0x02;
constexpr uint8_t kAdrIsrc = 0x03;
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr int32_t kPregapBlocks = 150;
constexpr int32_t kMsfLimit = 450000;

// DATA FORM: the host sends 2048-byte Mode 1, 2352-byte audio, 2336-byte
// CD-ROM XA (20h) or Mode 2 (30h), or raw-with-P-W blocks; the drive
// generates the lead-in and lead-out (the forms ending in 4h or 1h).
// The raw forms (11h, 21h, 31h) take the whole 2352-byte sector from the host.
uint8_t DataForm(const QuorvaneI_CueTrack& t, bool xa) {
  if (t.audio) return 0x00;
  const uint8_t raw = t.rawData ? 0x01 : 0x00;
  if (xa) return 0x20 | raw;
  return (t.mode2 ? 0x30 : 0x10) | raw;
}

// The form of the blocks the drive makes in the lead-in and lead-out.
uint8_t GeneratedForm(const QuorvaneI_CueTrack& t, bool xa) {
  return t.audio ? 0x01 : static_cast<uint8_t>((DataForm(t, xa) & 0xF0) | 0x04);
}

uint8_t TrackForm(const QuorvaneI_CueTrack& t, bool xa) { return t.rawPW ? 0x40 : DataForm(t, xa); }

uint8_t LeadInForm(const QuorvaneI_CueTrack& first, bool xa, bool rawPW, bool text) {
  if (rawPW && first.rawPW) return 0x41;
  return static_cast<uint8_t>((text ? 0x40 : 0x00) | GeneratedForm(first, xa));
}

uint8_t LeadOutForm(const QuorvaneI_CueTrack& last, bool xa) {
  if (last.rawPW) return xa ? 0x24 : 0x14;
  return GeneratedForm(last, xa);
}

// An address from -150 as absolute time: LBA + 150 = 75 x (60 x M + S) + F.
void PutEntry(uint8_t* e, uint8_t ctlAdr, uint8_t track, uint8_t index, uint8_t form, int32_t lba) {
  e[0] = ctlAdr;
  e[1] = track;
  e[2] = index;
  e[3] = form;
  e[4] = 0;  // SCMS
  if (lba < -kPregapBlocks || lba >= kMsfLimit) return;
  const int32_t frames = lba + kPregapBlocks;
  e[5] = static_cast<uint8_t>(frames / (75 * 60));
  e[6] = static_cast<uint8_t>(frames / 75 % 60);
  e[7] = static_cast<uint8_t>(frames % 75);
}

}  // namespace

std::vector<uint8_t> QuorvaneI_BuildCueSheet(const QuorvaneI_CueTrack* tracks, int32_t count, bool xa, bool rawPW,
                                             const char* catalog, bool leadInText) {
  std::vector<uint8_t> out;
  if (tracks == nullptr || count < 1 || count > kQuorvaneCueSheetTracks) return out;
  const auto ctlAdr = [](const QuorvaneI_CueTrack& t) {
    uint8_t c = t.audio ? kCtlAdrAudio : kCtlAdrData;
    if (t.fourChannel && t.audio) c |= 0x80;
    if (t.copyPermitted) c |= 0x20;
    if (t.preEmphasis && t.audio) c |= 0x10;
    return c;
  };
  const auto entry = [&out]() {
    out.resize(out.size() + 8);
    return out.data() + out.size() - 8;
  };
  // The catalogue number: 13 digits over two entries, before the lead-in.
  if (catalog != nullptr && std::strlen(catalog) == 13) {
    uint8_t* e = entry();
    e[0] = kAdrCatalog;
    std::memcpy(e + 1, catalog, 7);
    e = entry();
    e[0] = kAdrCatalog;
    std::memcpy(e + 1, catalog + 7, 6);
  }
  PutEntry(entry(), ctlAdr(tracks[0]), 0, 0, LeadInForm(tracks[0], xa, rawPW, leadInText), -kPregapBlocks);
  int32_t address = -kPregapBlocks;
  for (int32_t i = 0; i < count; ++i) {
    const QuorvaneI_CueTrack& t = tracks[i];
    const auto number = static_cast<uint8_t>(i + 1);
    QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::CompileCueSheet(): Track %ld, Size %ld\n", static_cast<long>(i),
                  static_cast<long>(t.sizeInBlocks));
    // The ISRC: 12 characters over two entries, before the track's indexes.
    if (std::strlen(t.isrc) == 12) {
      for (int half = 0; half < 2; ++half) {
        uint8_t* e = entry();
        e[0] = static_cast<uint8_t>((ctlAdr(t) & 0xF0) | kAdrIsrc);
        e[1] = number;
        std::memcpy(e + 2, t.isrc + 6 * half, 6);
      }
    }
    const int32_t pause = t.pregapBlocks + t.pregapExtraBlocks;
    if (pause + t.pregapInSourceBlocks > 0 || i == 0) PutEntry(entry(), ctlAdr(t), number, 0, TrackForm(t, xa), address);
    address += pause + t.pregapInSourceBlocks;
    PutEntry(entry(), ctlAdr(t), number, 1, TrackForm(t, xa), address);
    for (size_t k = 0; k < t.indexes.size() && k < 98; ++k)
      PutEntry(entry(), ctlAdr(t), number, static_cast<uint8_t>(k + 2), TrackForm(t, xa), address + t.indexes[k]);
    address += t.sizeInBlocks - t.pregapInSourceBlocks + t.postgapBlocks;
  }
  PutEntry(entry(), ctlAdr(tracks[count - 1]), kLeadOutTrack, 1, LeadOutForm(tracks[count - 1], xa), address);
  return out;
}

size_t QuorvaneI_CompileCueSheet(const QuorvaneI_CueTrack* tracks, int32_t count, bool xa, bool rawPW,
                                 uint8_t out[kQuorvaneCueSheetBytes]) {
  std::memset(out, 0, kQuorvaneCueSheetBytes);
  const std::vector<uint8_t> sheet = QuorvaneI_BuildCueSheet(tracks, count, xa, rawPW, nullptr);
  if (sheet.size() > kQuorvaneCueSheetBytes) return 0;
  std::copy(sheet.begin(), sheet.end(), out);
  return sheet.size();
}
