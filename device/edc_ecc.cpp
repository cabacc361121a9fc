#include "device/edc_ecc.h"

#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "core/log.h"
#include "platform/file.h"

namespace {

namespace sec = qv::sectors;

constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr size_t kRows = 12;          // the product code starts at the header
constexpr size_t kStoredP = 2064;     // P parity, from the header
constexpr size_t kStoredQ = 2236;     // Q parity, from the header
constexpr int kMostPasses = 8;        // a pass that mends nothing ends it sooner

struct EdcRange {
  size_t from, size, at;
};
constexpr EdcRange Range(int mode, int form) {
  if (mode == 1) return {0, 2064, 2064};
  return form == 2 ? EdcRange{16, 2332, 2348} : EdcRange{16, 2056, 2072};
}


// Runs body on the sector with its four header bytes zeroed, as the parity
// of Mode 2 Form 1 is defined, and puts them back.
template <class Body>
auto WithZeroHeader(uint8_t* sector, Body&& body) {
  uint8_t header[4];
  std::memcpy(header, sector + 12, 4);
  std::memset(sector + 12, 0, 4);
  auto result = body();
  std::memcpy(sector + 12, header, 4);
  return result;
}

const char* StepName(CQuorvane_EDCECC::Fault f) {
  switch (f) {
    case CQuorvane_EDCECC::Fault::Sync: return "VerifySync()";
    case CQuorvane_EDCECC::Fault::Header: return "VerifyHeader()";
    case CQuorvane_EDCECC::Fault::SubHeader: return "VerifySubHeader()";
    case CQuorvane_EDCECC::Fault::EDC: return "CalculateEDC()";
    case CQuorvane_EDCECC::Fault::ECCP: return "CheckECCP()";
    case CQuorvane_EDCECC::Fault::ECCQ: return "CheckECCQ()";
    case CQuorvane_EDCECC::Fault::None: break;
  }
  return "";
}

}  // namespace

CQuorvane_EDCECC::CQuorvane_EDCECC() : m__PKernels(&sec::Active()) {}
CQuorvane_EDCECC::CQuorvane_EDCECC(const sec::Kernels& kernels) : m__PKernels(&kernels) {}

// ---- Generation ------------------------------------------------------------------

void CQuorvane_EDCECC::GenerateMODE1(uint8_t* sector) const {
  QuorvaneI_PutLE32(sector + 2064, ComputeEDC(sector, 1, 1));
  std::memset(sector + 2068, 0, 8);
  m__PKernels->parityP(sector + kRows, sector + kRows + kStoredP);
  m__PKernels->parityQ(sector + kRows, sector + kRows + kStoredQ);
}

void CQuorvane_EDCECC::GenerateMODE2Form1(uint8_t* sector) const {
  QuorvaneI_PutLE32(sector + 2072, ComputeEDC(sector, 2, 1));
  WithZeroHeader(sector, [&] {
    m__PKernels->parityP(sector + kRows, sector + kRows + kStoredP);
    m__PKernels->parityQ(sector + kRows, sector + kRows + kStoredQ);
    return 0;
  });
}

void CQuorvane_EDCECC::GenerateMODE2Form2(uint8_t* sector) const { QuorvaneI_PutLE32(sector + 2348, ComputeEDC(sector, 2, 2)); }

// ---- Checks ------------------------------------------------------------------------

uint32_t CQuorvane_EDCECC::ComputeEDC(const uint8_t* sector, int mode, int form) const {
  const EdcRange r = Range(mode, form);
  return m__PKernels->edc(sector + r.from, r.size);
}

bool CQuorvane_EDCECC::CalculateEDC(const uint8_t* sector, int mode, int form) const {
  const uint32_t ours = ComputeEDC(sector, mode, form), stored = QuorvaneI_LE32(sector + Range(mode, form).at);
  if (ours == stored) return true;
  QuorvaneI_Log("\nCQuorvane_EDCECC::CalculateEDC(): 0x%08X [our] vs 0x%08X [LB], Mode %ld, MODE2Form %ld\n", ours,
                stored, static_cast<long>(mode), static_cast<long>(form));
  return false;
}

bool CQuorvane_EDCECC::VerifySync(const uint8_t* sector) { return std::memcmp(sector, kSync, sizeof kSync) == 0; }

bool CQuorvane_EDCECC::VerifyHeader(const uint8_t* sector, uint8_t mode) { return sector[15] == mode; }

bool CQuorvane_EDCECC::VerifySubHeader(const uint8_t* sector, int* form) {
  *form = (sector[18] & 0x20) ? 2 : 1;
  return std::memcmp(sector + 16, sector + 20, 4) == 0;
}

bool CQuorvane_EDCECC::CheckParity(const uint8_t* sector, bool p) const {
  uint8_t parity[sec::kParityPBytes];
  if (p) {
    m__PKernels->parityP(sector + kRows, parity);
    return std::memcmp(parity, sector + kRows + kStoredP, sec::kParityPBytes) == 0;
  }
  m__PKernels->parityQ(sector + kRows, parity);
  return std::memcmp(parity, sector + kRows + kStoredQ, sec::kParityQBytes) == 0;
}

bool CQuorvane_EDCECC::CheckECCP(const uint8_t* sector) const { return CheckParity(sector, true); }
bool CQuorvane_EDCECC::CheckECCQ(const uint8_t* sector) const { return CheckParity(sector, false); }

bool CQuorvane_EDCECC::CheckForm1Parity(uint8_t* sector, bool* pGood) const {
  return WithZeroHeader(sector, [&] {
    *pGood = CheckECCP(sector);
    return *pGood && CheckECCQ(sector);
  });
}

CQuorvane_EDCECC::Fault CQuorvane_EDCECC::Inspect(uint8_t* sector, int expectedMode, bool strictForm2) const {
  const int mode = expectedMode != 0 ? expectedMode : sector[15];
  if (!VerifySync(sector)) return Fault::Sync;
  if (mode == 0) return VerifyHeader(sector, 0) ? Fault::None : Fault::Header;
  if (mode > 2 || !VerifyHeader(sector, static_cast<uint8_t>(mode))) return Fault::Header;
  int form = 1;
  if (mode == 2 && !VerifySubHeader(sector, &form)) return Fault::SubHeader;
  if (mode == 2 && form == 2) {
    const uint32_t stored = QuorvaneI_LE32(sector + 2348);
    return strictForm2 && stored != 0 && stored != ComputeEDC(sector, 2, 2) ? Fault::EDC : Fault::None;
  }
  if (ComputeEDC(sector, mode, form) != QuorvaneI_LE32(sector + Range(mode, form).at)) return Fault::EDC;
  bool pGood = true;
  if (mode == 1) {
    if (!CheckECCP(sector)) return Fault::ECCP;
    return CheckECCQ(sector) ? Fault::None : Fault::ECCQ;
  }
  if (CheckForm1Parity(sector, &pGood)) return Fault::None;
  return pGood ? Fault::ECCQ : Fault::ECCP;
}

bool CQuorvane_EDCECC::CheckMODE1LB(uint8_t* sector) const {
  const Fault f = Inspect(sector, 1, false);
  if (f == Fault::None) return true;
  if (f == Fault::EDC) CalculateEDC(sector, 1, 1);
  QuorvaneI_Log("\nCQuorvane_EDCECC::CheckMODE1LB(): %s failed\n", StepName(f));
  return false;
}

bool CQuorvane_EDCECC::CheckMODE2LB(uint8_t* sector) const {
  const Fault f = Inspect(sector, 2, false);
  if (f == Fault::None) return true;
  if (f == Fault::EDC) CalculateEDC(sector, 2, 1);
  QuorvaneI_Log("\nCQuorvane_EDCECC::CheckMODE2LB(): %s failed\n", StepName(f));
  return false;
}

bool CQuorvane_EDCECC::CheckLB(uint8_t* sector, int mode, int32_t lba) const {
  if (mode == 1 ? CheckMODE1LB(sector) : mode == 2 ? CheckMODE2LB(sector) : true) return true;
  const int type = mode == 1 ? kTypeMode1 : (sector[18] & 0x20) ? kTypeMode2Form2 : kTypeMode2Form1;
  if (type != kTypeMode1 && type != kTypeMode2Form1) return true;  // nothing protects a Form 2 sector
  uint8_t repaired[kQuorvaneRawSectorSize];
  std::memcpy(repaired, sector, sizeof repaired);
  const int status = Repair(repaired, type);
  if (status == kClean) return true;
  if (status != kCorrected) {
    QuorvaneI_Log("\nCQuorvane_EDCECC::CheckLB(): *** EXITing with failure, SectorType %d, Status %d, LBA %d - "
                  "UNRECOVERABLE\n", type, status, static_cast<int>(lba));
    return false;
  }
  static constexpr uint8_t kSpecial[4] = {0x47, 0x02, 0x00, 0x00};
  if (std::memcmp(repaired + 16, kSpecial, 4) == 0) {
    QuorvaneI_Log("\nCQuorvane_EDCECC::CheckLB(): *** EXITing with success, SectorType %d, Status %d, LBA %d - "
                  "UNRECOVERABLE [ *SPECIAL* ]\n", type, status, static_cast<int>(lba));
    return false;
  }
  QuorvaneI_Log("\nCQuorvane_EDCECC::CheckLB(): *** EXITing with success, SectorType %d, Status %d, LBA %d - "
                "RECOVERED\n", type, status, static_cast<int>(lba));
  std::memcpy(sector, repaired, sizeof repaired);
  return true;
}

// ---- The layer-2 decoder -------------------------------------------------------------
//
// The syndromes of a codeword follow from its parity as computed from its
// data (p', q') and as stored (p, q): with dp = p' + p and dq = q' + q,
// s0 = dp + dq and s1 = a dp + dq. One wrong symbol e at position i gives
// s0 = e and s1 = a^(n-1-i) e, so i comes from log s1 - log s0; anything
// else (one syndrome zero, a position past the codeword) is more than one
// error, left to the other code's pass.

bool CQuorvane_EDCECC::CorrectPass(uint8_t* rows, bool p, bool zeroHeader, int* corrected) const {
  const auto& f = sec::kField;
  uint8_t parity[sec::kParityPBytes];
  const size_t codewords = p ? sec::kRowBytes : 52, n = p ? 26 : 45;
  const uint8_t* stored = rows + (p ? kStoredP : kStoredQ);
  (p ? m__PKernels->parityP : m__PKernels->parityQ)(rows, parity);
  bool consistent = true;
  for (size_t c = 0; c < codewords; ++c) {
    const uint8_t dp = parity[c] ^ stored[c], dq = parity[codewords + c] ^ stored[codewords + c];
    if ((dp | dq) == 0) continue;
    const uint8_t s0 = dp ^ dq, s1 = f.Mul(2, dp) ^ dq;
    const unsigned distance = s0 && s1 ? (f.log[s1] + 255u - f.log[s0]) % 255 : 255;
    if (distance >= n) {
      consistent = false;
      continue;
    }
    const size_t i = n - 1 - distance;
    size_t byte;
    if (p) {
      byte = sec::kRowBytes * i + c;
    } else {
      const size_t diagonal = c / 2;
      const size_t word = i < 43 ? (44 * i + 43 * diagonal) % 1118 : (i == 43 ? 1118 : 1144) + diagonal;
      byte = 2 * word + c % 2;
    }
    if (zeroHeader && byte < 4) {  // the header counts as zero: a "correction" there is a miscorrection
      consistent = false;
      continue;
    }
    rows[byte] ^= s0;
    ++*corrected;
  }
  return consistent;
}

CQuorvane_EDCECC::RepairStatus CQuorvane_EDCECC::Repair(uint8_t* sector, int sectorType) const {
  if (sectorType != kTypeMode1 && sectorType != kTypeMode2Form1) return kUnrecoverable;
  const bool form1 = sectorType == kTypeMode2Form1;
  uint8_t s[kQuorvaneRawSectorSize];
  std::memcpy(s, sector, sizeof s);
  std::memcpy(s, kSync, sizeof kSync);
  s[15] = form1 ? 2 : 1;
  if (!form1) std::memset(s + 2068, 0, 8);
  uint8_t header[4];
  std::memcpy(header, s + 12, 4);
  if (form1) std::memset(s + 12, 0, 4);
  bool consistent = false;
  for (int pass = 0; pass < kMostPasses && !consistent; ++pass) {
    int corrected = 0;
    const bool pGood = CorrectPass(s + kRows, true, form1, &corrected);
    const bool qGood = CorrectPass(s + kRows, false, form1, &corrected);
    consistent = pGood && qGood && (corrected == 0 || (CheckECCP(s) && CheckECCQ(s)));
    if (corrected == 0 && !consistent) break;
  }
  if (form1) std::memcpy(s + 12, header, 4);
  if (!consistent || ComputeEDC(s, form1 ? 2 : 1, 1) != QuorvaneI_LE32(s + (form1 ? 2072 : 2064))) return kUnrecoverable;
  if (std::memcmp(s, sector, sizeof s) == 0) return kClean;
  std::memcpy(sector, s, sizeof s);
  return kCorrected;
}

void CQuorvane_EDCECC::DumpLB(const uint8_t* sector, int32_t lba) const {
  char name[32];
  std::snprintf(name, sizeof name, "LBA%08d.bin", static_cast<int>(lba));
  uint32_t error = 0;
  qv::plat::File file = qv::plat::File::Open(name, qv::plat::FileMode::CreateAlways, &error);
  if (!file.IsOpen() || !file.Write(sector, kQuorvaneRawSectorSize, &error))
    QuorvaneI_Log("\nCQuorvane_EDCECC::DumpLB(): writing %s failed, status %lu\n", name,
                  static_cast<unsigned long>(error));
}
