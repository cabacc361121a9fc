// GET PERFORMANCE (MMC-5 6.8: nominal performance and write speed
// descriptors), SET CD SPEED (6.37), SET STREAMING (6.39) and SEND OPC
// INFORMATION (6.35).
#include "vdrive/bytes.h"
#include "vdrive/commands.h"

namespace qv::vdrive {

namespace {

constexpr Asc kCannotWriteIncompatible{0x30, 0x05};
constexpr uint32_t kStreamingDescriptorLength = 28;
constexpr uint64_t kOpcUs = 1500000;  // a power calibration takes a while

// The speeds of a disc's family that the model writes it at (none when it
// does not write that disc).
const std::vector<uint32_t>& WriteSpeedsFor(const DriveModel& m, const Medium* disc) {
  static const std::vector<uint32_t> none;
  if (disc == nullptr) return m.cdWriteSpeeds;
  if (!m.Writes(disc->profile)) return none;
  return disc->IsDvd() ? m.dvdWriteSpeeds : m.cdWriteSpeeds;
}

}  // namespace

void GetPerformance(Exec& x) {
  const uint8_t dataType = x.cdb[1] & 0x1F;
  const uint32_t startLba = Be32(x.cdb + 2);
  const uint32_t maxDescriptors = Be16(x.cdb + 8);
  const uint8_t type = x.cdb[10];
  const DriveModel& model = x.model();
  DriveState& state = x.state();
  const Medium* disc = state.ReadyDisc(model);
  Bytes d;
  d.U32(0);
  if (type == 0x00) {
    // Nominal performance: tolerance 10b is the only one defined.
    if ((dataType & 0x18) != 0x10) return x.Check(InvalidCdbField(1, 4));
    const Readiness r = state.PeekReady(model);
    if (r != Readiness::Ready) return x.Check(NotReadySense(r));
    const bool write = (dataType & 0x04) != 0;
    const uint8_t except = dataType & 0x03;
    if (except == 3) return x.Check(InvalidCdbField(1, 1));
    d.U8((write ? 0x02 : 0x00) | (except != 0 ? 0x01 : 0x00));
    d.Zeros(3);
    // No exceptions on a virtual disc: the nominal list is one descriptor
    // over the disc, as a CAV drive speeds up from 40% to the top.
    const uint32_t speed = write ? state.WriteSpeed(model) : state.ReadSpeed(model);
    const uint32_t blocks = write ? disc->capacity : std::max(disc->ReadableBlocks(), 1u);
    if (except != 2 && maxDescriptors > 0 && startLba < blocks) {
      d.U32(startLba);
      d.U32(speed * 2 / 5 + speed * 3 / 5 * startLba / blocks);
      d.U32(blocks - 1);
      d.U32(speed);
    }
  } else if (type == 0x03) {
    // Write speed descriptors: one per speed the disc can be written at,
    // fastest first.
    d.Zeros(4);
    const std::vector<uint32_t>& speeds = WriteSpeedsFor(model, disc);
    const uint32_t end = model.Has(kQuirkZeroPerformanceEnd) || disc == nullptr ? 0 : disc->capacity - 1;
    const uint32_t readSpeed = state.ReadSpeed(model);
    for (size_t i = 0; i < speeds.size() && i < maxDescriptors; ++i) {
      d.U8(0);  // CLV, not exact
      d.Zeros(3);
      d.U32(end);
      d.U32(readSpeed);
      d.U32(speeds[i]);
    }
  } else {
    return x.Check(InvalidCdbField(10));
  }
  PutBe32(d.data().data(), static_cast<uint32_t>(d.size() - 4));
  x.Send(d.data(), static_cast<uint32_t>(d.size()));
}

void SetCdSpeed(Exec& x) {
  if ((x.cdb[1] & 0x03) > 1) return x.Check(InvalidCdbField(1, 1));  // CLV or CAV
  const uint32_t read = Be16(x.cdb + 2);
  const uint32_t write = Be16(x.cdb + 4);
  DriveState& state = x.state();
  SpeedChoice& choice = state.Speeds(x.model());
  const Medium* disc = state.ReadyDisc(x.model());
  const bool dvd = disc != nullptr && disc->IsDvd();
  if (read != 0) choice.read = static_cast<uint16_t>(PickReadSpeed(dvd ? x.model().dvdReadSpeed : x.model().cdReadSpeed, read));
  const std::vector<uint32_t>& speeds = dvd ? x.model().dvdWriteSpeeds : x.model().cdWriteSpeeds;
  if (write != 0 && !speeds.empty()) choice.write = static_cast<uint16_t>(PickWriteSpeed(speeds, write));
  choice.streaming = false;
  x.StateChanged();
}

void SetStreaming(Exec& x) {
  if (x.cdb[8] != 0) return x.Check(InvalidCdbField(8));  // only the performance descriptor
  const uint32_t length = Be16(x.cdb + 9);
  if (length == 0) return;
  if (length < kStreamingDescriptorLength || length > x.outLength)
    return x.Check(Sense(kIllegalRequest, asc::kParameterListLengthError));
  const uint8_t* p = x.out;
  DriveState& state = x.state();
  SpeedChoice& choice = state.Speeds(x.model());
  if (p[0] & 0x04) {  // RDD: back to the drive's defaults
    choice = SpeedChoice{};
    return x.StateChanged();
  }
  const uint32_t startLba = Be32(p + 4), endLba = Be32(p + 8);
  const uint32_t readSize = Be32(p + 12), readTime = Be32(p + 16);
  const uint32_t writeSize = Be32(p + 20), writeTime = Be32(p + 24);
  if (endLba < startLba) return x.Check(InvalidParameterField(8));
  if (readSize != 0 && readTime == 0) return x.Check(InvalidParameterField(16));
  if (writeSize != 0 && writeTime == 0) return x.Check(InvalidParameterField(24));
  const Medium* disc = state.ReadyDisc(x.model());
  const bool dvd = disc != nullptr && disc->IsDvd();
  // Sizes in kilobytes over times in milliseconds: kB/s after * 1000.
  if (readSize != 0) {
    const uint64_t kbs = uint64_t{readSize} * 1000 / readTime;
    choice.read = static_cast<uint16_t>(PickReadSpeed(dvd ? x.model().dvdReadSpeed : x.model().cdReadSpeed,
                                                      static_cast<uint32_t>(std::min<uint64_t>(kbs, 0xFFFF))));
  }
  const std::vector<uint32_t>& speeds = dvd ? x.model().dvdWriteSpeeds : x.model().cdWriteSpeeds;
  if (writeSize != 0 && !speeds.empty()) {
    const uint64_t kbs = uint64_t{writeSize} * 1000 / writeTime;
    choice.write = static_cast<uint16_t>(PickWriteSpeed(speeds, static_cast<uint32_t>(std::min<uint64_t>(kbs, 0xFFFF))));
  }
  choice.streaming = true;
  x.StateChanged();
}

void SendOpcInformation(Exec& x) {
  const bool doOpc = (x.cdb[1] & 0x01) != 0;
  const uint32_t length = Be16(x.cdb + 7);
  if (length > x.outLength) return x.Check(Sense(kIllegalRequest, asc::kParameterListLengthError));
  Medium& disc = *x.state().disc;
  if (!disc.Writable() || !x.model().Writes(disc.profile)) return x.Check(Sense(kIllegalRequest, kCannotWriteIncompatible));
  if (!doOpc) {
    // The host hands back values of an earlier calibration: whole entries only.
    if (length % 8 != 0) return x.Check(Sense(kIllegalRequest, asc::kParameterListLengthError));
    if (length >= 8) disc.opcSpeed = static_cast<uint16_t>(Be16(x.out));
    return x.StateChanged();
  }
  disc.opcSpeed = static_cast<uint16_t>(x.state().WriteSpeed(x.model()));
  x.extraUs += kOpcUs;
  x.StateChanged();
}

}  // namespace qv::vdrive
