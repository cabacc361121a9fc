// EDC and layer-2 ECC of 2352-byte CD-ROM sectors (ECMA-130 14): making
// them, checking them, and repairing what the P and Q parity can repair.
//
// Sector layouts (byte offsets):
//   all          0-11 sync (00h, ten FFh, 00h), 12-14 address (BCD M, S, F),
//                15 mode
//   Mode 1       16-2063 user data, 2064-2067 EDC over 0-2063, 2068-2075
//                zero, 2076-2247 P, 2248-2351 Q
//   Mode 2 Form 1  16-23 sub-header (4 bytes twice), 24-2071 user data,
//                2072-2075 EDC over 16-2071, P and Q as Mode 1, computed
//                with the four header bytes taken as zero
//   Mode 2 Form 2  24-2347 user data, 2348-2351 EDC over 16-2347 (optional:
//                zero when unused), no parity
// A Mode 2 sector is Form 2 when bit 5 of the submode (byte 18) is set.
//
// The object keeps no state of its own: its tables are the process's, built
// once, and every method may run on many threads at once on different
// sectors.
#pragma once
#include <cstddef>
#include <cstdint>

#include "device/sector_math.h"

inline constexpr size_t kQuorvaneRawSectorSize = 2352;

class CQuorvane_EDCECC {
 public:
  // The fastest arithmetic this processor runs.
  CQuorvane_EDCECC();
  // A given set of kernels (tests and benchmarks compare them).
  explicit CQuorvane_EDCECC(const qv::sectors::Kernels& kernels);

  // The first check a sector fails, in the order the checks run.
  enum class Fault : uint8_t { None, Sync, Header, SubHeader, EDC, ECCP, ECCQ };
  // What the layer-2 decoder did: corrected bytes, found nothing to
  // correct, or could not make the sector consistent.
  enum RepairStatus : int { kCorrected = 0, kClean = 1, kUnrecoverable = 2 };
  // The sector types the decoder knows (READ CD's expected sector types).
  enum SectorType : int { kTypeMode1 = 2, kTypeMode2Form1 = 4, kTypeMode2Form2 = 5 };

  // Generation: the sector's sync, header, sub-header and user data are in
  // place; these add the EDC, then P, then Q.
  void GenerateMODE1(uint8_t* sector) const;
  void GenerateMODE2Form1(uint8_t* sector) const;
  void GenerateMODE2Form2(uint8_t* sector) const;

  // The EDC of the range of mode and form, as stored (little-endian).
  uint32_t ComputeEDC(const uint8_t* sector, int mode, int form) const;
  // Compares it with the stored one; a mismatch is logged.
  bool CalculateEDC(const uint8_t* sector, int mode, int form) const;

  static bool VerifySync(const uint8_t* sector);
  static bool VerifyHeader(const uint8_t* sector, uint8_t mode);
  // Bytes 16-19 equal bytes 20-23; *form is 2 when submode bit 5 is set.
  static bool VerifySubHeader(const uint8_t* sector, int* form);
  // The stored parity against the parity of the stored data. Mode 2 Form 1
  // sectors must have their header zeroed for these.
  bool CheckECCP(const uint8_t* sector) const;
  bool CheckECCQ(const uint8_t* sector) const;

  // The checks of one mode, the first failure logged. A Form 2 sector passes
  // CheckMODE2LB after its sub-header (its EDC is not checked). The header of
  // a Form 1 sector is zeroed while its parity is checked, then restored.
  bool CheckMODE1LB(uint8_t* sector) const;
  bool CheckMODE2LB(uint8_t* sector) const;
  // The same checks, quietly, giving the first failure. expectedMode 0 takes
  // the sector's own mode byte. With strictForm2 a Form 2 sector whose EDC is
  // present (not zero) must match it.
  Fault Inspect(uint8_t* sector, int expectedMode, bool strictForm2) const;

  // Checks a sector of the expected mode (1 or 2; other modes are accepted)
  // and repairs what the decoder can; false when it stays bad. A repaired
  // sector is rewritten in place.
  bool CheckLB(uint8_t* sector, int mode, int32_t lba) const;
  // The layer-2 decoder on a sector of a type: P and Q correction, each
  // codeword mending one wrong byte per pass, passes repeated while they
  // help; the sync, the mode byte and a Mode 1 sector's zero bytes are
  // restored as known. The sector is rewritten only when corrected.
  RepairStatus Repair(uint8_t* sector, int sectorType) const;

  // Writes the sector to "LBA%08d.bin" in the current folder, for diagnosis.
  void DumpLB(const uint8_t* sector, int32_t lba) const;

  const qv::sectors::Kernels& Kernels() const { return *m__PKernels; }

 private:
  bool CheckParity(const uint8_t* sector, bool p) const;
  bool CheckForm1Parity(uint8_t* sector, bool* pGood) const;
  // One pass over the P (or Q) codewords of the 2340 bytes at rows; counts
  // corrections, false when a codeword holds more than one error.
  bool CorrectPass(uint8_t* rows, bool p, bool zeroHeader, int* corrected) const;

  const qv::sectors::Kernels* m__PKernels;
};
