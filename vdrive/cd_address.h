// CD addresses: logical block addresses, minute/second/frame times and the
// BCD digits the Q subchannel carries them in (ECMA-130 22.3.3).
#pragma once
#include <cstdint>

namespace qv::vdrive {

inline constexpr int32_t kFramesPerSecond = 75;
inline constexpr int32_t kFramesPerMinute = 60 * kFramesPerSecond;
// LBA 0 is 00:02:00: the first track's two-second pause lies before it.
inline constexpr int32_t kMsfOffset = 150;
// Times of 90:00:00 and later stand for the lead-in, before LBA -150.
inline constexpr int32_t kLeadInWrap = 90 * kFramesPerMinute;
inline constexpr int32_t kAbsoluteFramesInAnHour = 100 * kFramesPerMinute;

struct Msf {
  uint8_t m = 0, s = 0, f = 0;
  bool operator==(const Msf&) const = default;
};

// A frame count (not an address) as minutes, seconds and frames.
inline Msf FramesToMsf(uint32_t frames) {
  return Msf{static_cast<uint8_t>(frames / kFramesPerMinute % 100),
             static_cast<uint8_t>(frames / kFramesPerSecond % 60), static_cast<uint8_t>(frames % kFramesPerSecond)};
}

// The absolute time of an address, as the Q subchannel and READ TOC with
// MSF report it; lead-in addresses come out as 90:00:00 and later.
inline Msf LbaToMsf(int32_t lba) {
  int32_t frames = lba + kMsfOffset;
  if (frames < 0) frames += kAbsoluteFramesInAnHour;
  return FramesToMsf(static_cast<uint32_t>(frames));
}

inline int32_t MsfToLba(uint32_t m, uint32_t s, uint32_t f) {
  const int32_t frames = static_cast<int32_t>(m * kFramesPerMinute + s * kFramesPerSecond + f);
  return frames >= kLeadInWrap ? frames - kAbsoluteFramesInAnHour - kMsfOffset : frames - kMsfOffset;
}
inline int32_t MsfToLba(const Msf& t) { return MsfToLba(t.m, t.s, t.f); }

inline uint8_t ToBcd(uint32_t v) { return static_cast<uint8_t>((v / 10 % 10) << 4 | v % 10); }

}  // namespace qv::vdrive
