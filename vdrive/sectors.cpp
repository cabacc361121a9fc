#include "vdrive/sectors.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "vdrive/bytes.h"
#include "vdrive/cd_address.h"
#include "vdrive/edc_ecc.h"

namespace qv::vdrive {

namespace {

constexpr uint32_t kSamplesPerSector = 588;  // stereo 16-bit samples in 2352 bytes
constexpr uint8_t kSubmodeData = 0x08;
constexpr uint8_t kSubmodeForm2 = 0x20;

void PutSample(uint8_t* at, uint16_t left, uint16_t right) {
  at[0] = static_cast<uint8_t>(left);
  at[1] = static_cast<uint8_t>(left >> 8);
  at[2] = static_cast<uint8_t>(right);
  at[3] = static_cast<uint8_t>(right >> 8);
}

// Generated audio: sample numbers count from LBA 0.
void AudioPattern(Pattern p, int64_t lba, uint8_t* out) {
  const uint32_t first = static_cast<uint32_t>(lba * kSamplesPerSector);
  for (uint32_t i = 0; i < kSamplesPerSector; ++i) {
    const uint32_t n = first + i;
    if (p == Pattern::Counter) {
      PutSample(out + 4 * i, static_cast<uint16_t>(n), static_cast<uint16_t>(~n));
    } else {
      // 441 Hz: 100 samples a period, rising for 50 and falling for 50.
      const int32_t k = static_cast<int32_t>(n % 100);
      const int32_t v = k < 50 ? -8000 + 320 * k : 8000 - 320 * (k - 50);
      PutSample(out + 4 * i, static_cast<uint16_t>(v), static_cast<uint16_t>(v));
    }
  }
}

// Generated data: the block address, big-endian, over and over.
void DataPattern(int64_t lba, uint8_t* out, size_t count) {
  uint8_t word[4];
  PutBe32(word, static_cast<uint32_t>(lba));
  for (size_t i = 0; i < count; ++i) out[i] = word[i % 4];
}

void PutSubheader(uint8_t* at, uint8_t submode) {
  const uint8_t sub[4] = {0, 0, submode, 0};
  std::memcpy(at, sub, 4);
  std::memcpy(at + 4, sub, 4);
}

}  // namespace

const TrackRef* SectorReader::Find(int64_t lba) const {
  if (lba < 0) return nullptr;
  const TrackRef* ref = layout_.TrackAt(lba);
  if (ref == nullptr) return nullptr;
  // A DVD track reads as far as it is recorded.
  if (layout_.medium().IsDvd() && lba >= int64_t{ref->track->start} + ref->track->recorded) return nullptr;
  return ref;
}

uint32_t SectorReader::Stored(const TrackRef& ref, int64_t lba, uint8_t* out) {
  const Track& t = *ref.track;
  const uint32_t size = t.storedSectorBytes();
  const int64_t firstStored = std::max<int64_t>(t.areaStart(), 0);
  return data_.Read(t.dataOffset + static_cast<uint64_t>(lba - firstStored) * size, out, size);
}

uint32_t SectorReader::Kind(const TrackRef& ref, int64_t lba, SectorKind* kind) {
  switch (ref.track->mode) {
    case TrackMode::Audio: *kind = SectorKind::CdDa; return 0;
    case TrackMode::Mode1: *kind = SectorKind::Mode1; return 0;
    case TrackMode::Mode2Form1: *kind = SectorKind::Mode2Form1; return 0;
    case TrackMode::Mode2Form2: *kind = SectorKind::Mode2Form2; return 0;
    case TrackMode::Mode2: break;
  }
  *kind = SectorKind::Mode2Form1;
  if (ref.track->pattern != Pattern::Stored) return 0;
  uint8_t sector[2336];
  if (uint32_t err = Stored(ref, lba, sector)) return err;
  if (sector[2] & kSubmodeForm2) *kind = SectorKind::Mode2Form2;
  return 0;
}

uint32_t SectorReader::Raw(const TrackRef& ref, int64_t lba, uint8_t* s) {
  const Track& t = *ref.track;
  std::memset(s, 0, kRawSectorBytes);
  if (t.mode == TrackMode::Audio) {
    if (t.pattern != Pattern::Stored) {
      AudioPattern(t.pattern, lba, s);
      return 0;
    }
    return Stored(ref, lba, s);
  }
  // Sync, then the header: the address in BCD and the mode.
  std::memset(s + 1, 0xFF, 10);
  const Msf at = LbaToMsf(static_cast<int32_t>(lba));
  s[12] = ToBcd(at.m);
  s[13] = ToBcd(at.s);
  s[14] = ToBcd(at.f);
  s[15] = t.mode == TrackMode::Mode1 ? 1 : 2;
  const bool generated = t.pattern != Pattern::Stored;
  switch (t.mode) {
    case TrackMode::Mode1:
      if (generated) DataPattern(lba, s + 16, 2048);
      else if (uint32_t err = Stored(ref, lba, s + 16)) return err;
      FinishMode1Sector(s);
      return 0;
    case TrackMode::Mode2Form1:
      PutSubheader(s + 16, kSubmodeData);
      if (generated) DataPattern(lba, s + 24, 2048);
      else if (uint32_t err = Stored(ref, lba, s + 24)) return err;
      break;
    case TrackMode::Mode2Form2:
      PutSubheader(s + 16, kSubmodeForm2);
      if (generated) DataPattern(lba, s + 24, 2324);
      else if (uint32_t err = Stored(ref, lba, s + 24)) return err;
      break;
    case TrackMode::Mode2:
      if (generated) {
        PutSubheader(s + 16, kSubmodeData);
        DataPattern(lba, s + 24, 2048);
      } else if (uint32_t err = Stored(ref, lba, s + 16)) {
        return err;
      }
      // Whatever the stored data area held past the user data, the drive
      // writes its own EDC/ECC there.
      break;
    case TrackMode::Audio: break;
  }
  FinishMode2Sector(s);
  return 0;
}

uint32_t SectorReader::UserBlock(int64_t lba, uint8_t* out) {
  const Medium& m = layout_.medium();
  const TrackRef* ref = m.RandomAccess() ? nullptr : Find(lba);
  if (!m.IsCd() && (ref == nullptr || ref->track->pattern == Pattern::Stored))
    return data_.Read(static_cast<uint64_t>(lba) * 2048, out, 2048);
  const Track& t = *ref->track;
  if (t.pattern != Pattern::Stored) {
    DataPattern(lba, out, 2048);
    return 0;
  }
  if (t.mode == TrackMode::Mode2) {
    uint8_t sector[2336];
    if (uint32_t err = Stored(*ref, lba, sector)) return err;
    std::memcpy(out, sector + 8, 2048);
    return 0;
  }
  return Stored(*ref, lba, out);
}

QPosition SectorReader::Position(const TrackRef& ref, int64_t lba) const {
  const Track& t = *ref.track;
  QPosition q;
  q.control = t.control();
  q.track = ref.number;
  q.lba = static_cast<int32_t>(lba);
  if (lba < int64_t{t.start}) {
    q.index = 0;
    // The pause counts down to zero on its last frame, before index 1 starts again from zero.
    q.relative = static_cast<uint32_t>(int64_t{t.start} - 1 - lba);
    return q;
  }
  const uint32_t offset = static_cast<uint32_t>(lba - t.start);
  q.index = static_cast<uint8_t>(1 + std::count_if(t.indexes.begin(), t.indexes.end(),
                                                    [offset](uint32_t ix) { return ix <= offset; }));
  q.relative = offset;
  return q;
}

}  // namespace qv::vdrive
