// Raw CD sectors: the EDC/ECC of every kernel set against the check
// equations and the virtual drive's own encoder, checks and repair, the
// sector builder and scrambler, the subchannels and the made-up areas.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <vector>

#include "quorvane.h"
#include "support/test_support.h"
#include "record/raw_areas.h"
#include "vdrive/edc_ecc.h"
#include "vdrive/subchannel.h"

namespace {

using Sector = std::array<uint8_t, 2352>;
using Layout = QuorvaneI_SectorLayout;
namespace sec = qv::sectors;

// GF(2^8) by shifts (x^8 + x^4 + x^3 + x^2 + 1), apart from the engine's tables.
uint8_t Mul(uint8_t a, uint8_t b) {
  unsigned r = 0, x = a;
  for (; b; b >>= 1, x = (x << 1) ^ ((x & 0x80) ? 0x11D : 0))
    if (b & 1) r ^= x;
  return static_cast<uint8_t>(r);
}

// Every P and Q codeword of the sector meets the check matrix
// [1 ... 1; a^(n-1) ... 1], with the header zeroed for Form 1.
bool CodewordsVanish(Sector s, bool zeroHeader) {
  if (zeroHeader) std::memset(&s[12], 0, 4);
  auto check = [&](size_t n, const std::function<size_t(size_t)>& word, int half) {
    uint8_t s0 = 0, s1 = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t v = s[12 + 2 * word(i) + half];
      s0 ^= v;
      s1 = Mul(s1, 2) ^ v;
    }
    return s0 == 0 && s1 == 0;
  };
  for (int half = 0; half < 2; ++half) {
    for (size_t col = 0; col < 43; ++col)
      if (!check(26, [&](size_t i) { return 43 * i + col; }, half)) return false;
    for (size_t d = 0; d < 26; ++d)
      if (!check(45, [&](size_t i) { return i < 43 ? (44 * i + 43 * d) % 1118 : 1118 + 26 * (i - 43) + d; }, half))
        return false;
  }
  return true;
}

std::mt19937& Random() {
  static std::mt19937 rng(20060630);
  return rng;
}
std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(Random()());
  return v;
}

Sector Build(Layout layout, int32_t address, const uint8_t* subHeader = nullptr,
             const CQuorvane_EDCECC& e = CQuorvane_EDCECC()) {
  Sector s{};
  const auto user = RandomBytes(QuorvaneI_SectorUserBytes(layout));
  CQuorvane_RawSectorBuilder(e).Build(layout, address, user.data(), subHeader, s.data());
  return s;
}

TEST(SectorMath, EveryKernelSetMakesWhatTheCheckMatrixAndTheDriveAgreeWith) {
  for (const sec::Kernels* k : sec::Available()) {
    SCOPED_TRACE(k->name);
    const CQuorvane_EDCECC e(*k);
    for (int i = 0; i < 20; ++i) {
      for (Layout layout : {Layout::Mode1, Layout::Mode2Form1, Layout::Mode2Form2}) {
        Sector ours = Build(layout, i * 977 - 150, nullptr, e), drive = ours;
        if (layout == Layout::Mode1) {
          qv::vdrive::FinishMode1Sector(drive.data());
        } else {
          qv::vdrive::FinishMode2Sector(drive.data());
        }
        EXPECT_EQ(ours, drive) << static_cast<int>(layout);
        EXPECT_TRUE(layout == Layout::Mode2Form2 || CodewordsVanish(ours, layout == Layout::Mode2Form1));
      }
    }
    for (size_t n : {1, 15, 16, 63, 64, 255, 256, 257, 1000, 2056, 2064, 2332, 2352}) {
      const auto data = RandomBytes(n);
      EXPECT_EQ(k->edc(data.data(), n), qv::vdrive::SectorEdc(data.data(), n)) << n << " bytes";
    }
  }
}

TEST(SectorChecks, FirstFailureAndWhatCheckLBMakesOfIt) {
  using F = CQuorvane_EDCECC::Fault;
  static const uint8_t kSpecial[4] = {0x47, 0x02, 0x00, 0x00};
  struct Case {
    const char* name;
    Layout layout;
    const uint8_t* subHeader;
    std::function<void(Sector&)> damage;
    F fault;       // first failure, Form 2 EDC not checked
    bool accepted;  // CheckLB
    bool mended;    // and the sector is the undamaged one again
    const char* logged;  // CheckLB's verdict line (nullptr: none)
  };
  const CQuorvane_EDCECC e;
  const std::vector<Case> cases = {
      {"Form 2 with a wrong EDC", Layout::Mode2Form2, nullptr, [](Sector& s) { s[2350] ^= 1; }, F::None, true, false,
       nullptr},
      {"address not where it is read", Layout::Mode1, nullptr,
       [&](Sector& s) {
         s[14] ^= 0x10;
         e.GenerateMODE1(s.data());
       },
       F::None, true, false, nullptr},
      {"sync", Layout::Mode1, nullptr, [](Sector& s) { s[5] = 0; }, F::Sync, true, true, "RECOVERED"},
      {"mode byte", Layout::Mode1, nullptr, [](Sector& s) { s[15] = 3; }, F::Header, true, true, "RECOVERED"},
      {"P parity", Layout::Mode1, nullptr, [](Sector& s) { s[2100] ^= 0x01; }, F::ECCP, true, true, "RECOVERED"},
      {"Q parity", Layout::Mode1, nullptr, [](Sector& s) { s[2300] ^= 0x80; }, F::ECCQ, true, true, "RECOVERED"},
      {"sub-header copies", Layout::Mode2Form1, nullptr, [](Sector& s) { s[21] ^= 0x04; }, F::SubHeader, true, true,
       "RECOVERED"},
      {"two rows", Layout::Mode1, nullptr,
       [](Sector& s) { std::memset(&s[12 + 86 * 3], 0xA5, 172); }, F::EDC, false, false, "UNRECOVERABLE"},
      {"mended into 47 02 00 00", Layout::Mode2Form1, kSpecial, [](Sector& s) { s[500] ^= 1; }, F::EDC, false, false,
       "UNRECOVERABLE [ *SPECIAL* ]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Sector good = Build(c.layout, 1234, c.subHeader);
    Sector s = good;
    c.damage(s);
    const Sector damaged = s;
    const int mode = c.layout == Layout::Mode1 ? 1 : 2;
    EXPECT_EQ(e.Inspect(s.data(), mode, false), c.fault);
    EXPECT_EQ(mode == 1 ? e.CheckMODE1LB(s.data()) : e.CheckMODE2LB(s.data()), c.fault == F::None);
    EXPECT_EQ(s, damaged) << "checking changed the sector";
    qvtest::LogCapture log;
    EXPECT_EQ(e.CheckLB(s.data(), mode, 1234), c.accepted);
    EXPECT_EQ(s, c.mended ? good : damaged);
    const size_t verdict = log.Text().find(c.logged ? std::string("LBA 1234 - ") + c.logged + "\n" : "CheckLB(): ***");
    EXPECT_EQ(verdict != std::string::npos, c.logged != nullptr) << log.Text();
  }
}

// Errors placed so that each codeword of one code holds at most one are
// always within reach; two smashed rows, or a thousand random bytes, never.
TEST(SectorRepair, DamageWithinReachIsMendedAndBeyondItIsRefused) {
  auto& rng = Random();
  for (const sec::Kernels* k : sec::Available()) {
    SCOPED_TRACE(k->name);
    const CQuorvane_EDCECC e(*k);
    for (int trial = 0; trial < 60; ++trial) {
      const bool form1 = trial % 2;
      const Sector good = Build(form1 ? Layout::Mode2Form1 : Layout::Mode1, trial);
      Sector s = good;
      const bool alongQ = trial % 4 >= 2;
      for (size_t c = 0; c < (alongQ ? 52u : 86u); ++c) {
        if (rng() % 3 == 0) continue;
        const size_t i = rng() % (alongQ ? 45 : 26);
        const size_t word = alongQ ? (i < 43 ? (44 * i + 43 * (c / 2)) % 1118 : 1118 + 26 * (i - 43) + c / 2) : 43 * i + c / 2;
        const size_t byte = 12 + 2 * word + c % 2;
        // The header of Form 1 is no part of its parity; its form bit tells CheckLB there is none.
        if (!(form1 && (byte < 16 || byte == 18))) s[byte] ^= static_cast<uint8_t>(1 + rng() % 255);
      }
      EXPECT_TRUE(e.CheckLB(s.data(), form1 ? 2 : 1, trial)) << trial;
      EXPECT_EQ(s, good) << trial;
    }
    Sector beyond = Build(Layout::Mode1, 7);
    for (int i = 0; i < 1000; ++i) beyond[12 + rng() % 2340] ^= static_cast<uint8_t>(1 + rng() % 255);
    const Sector before = beyond;
    EXPECT_EQ(e.Repair(beyond.data(), CQuorvane_EDCECC::kTypeMode1), CQuorvane_EDCECC::kUnrecoverable);
    EXPECT_EQ(beyond, before);
  }
}

TEST(SectorBuilder, HeadersScramblingAndTheCApi) {
  const struct {
    int32_t address;
    uint8_t msf[3];
  } headers[] = {{4350, {0x01, 0x00, 0x00}}, {-151, {0x99, 0x59, 0x74}}};
  for (const auto& h : headers) {
    const Sector s = Build(Layout::Mode1, h.address);
    EXPECT_EQ(0, std::memcmp(&s[12], h.msf, 3)) << h.address;
  }
  // ECMA-130 Annex B: the register's first output.
  Sector zero{};
  QuorvaneI_Scramble(zero.data());
  const uint8_t sequence[16] = {0x01, 0x80, 0x00, 0x60, 0x00, 0x28, 0x00, 0x1E,
                                0x80, 0x08, 0x60, 0x06, 0xA8, 0x02, 0xFE, 0x81};
  EXPECT_EQ(0, std::memcmp(&zero[12], sequence, 16));
  Sector data = Build(Layout::Mode1, 5), audio = Build(Layout::Audio, 5);
  audio[1] = 0;  // no sync
  const Sector plain = data, samples = audio;
  EXPECT_TRUE(QuorvaneI_ScrambleDataSector(data.data()));
  EXPECT_FALSE(QuorvaneI_ScrambleDataSector(audio.data()));
  EXPECT_EQ(audio, samples);
  EXPECT_NE(data, plain);
  QuorvaneI_Scramble(data.data());
  EXPECT_EQ(data, plain);

  // The C API refuses what it cannot build or check. (What it builds is
  // judged against vcdimager, and what it mends by the check command.)
  EXPECT_EQ(Quorvane_BuildRawSectors(4, 0, 1, data.data(), nullptr, zero.data()), QV_ULONG{EN_INVALID_PARAMETER});
  QV_ULONG fault = 99, result = 99;
  EXPECT_EQ(Quorvane_CheckRawSector(nullptr, 1, 0, 0, &fault, &result), QV_ULONG{EN_INVALID_PARAMETER});
  // A Form 1 sector whose first sub-header copy says Form 2: CheckLB lets it
  // pass as Form 2, unmended; the C API mends it as the Form 1 it is.
  const Sector form1 = Build(Layout::Mode2Form1, 9);
  Sector flipped = form1;
  flipped[18] ^= 0x20;
  Sector copy = flipped;
  EXPECT_TRUE(CQuorvane_EDCECC().CheckLB(copy.data(), 2, 9));
  EXPECT_EQ(copy, flipped);
  ASSERT_EQ(Quorvane_CheckRawSector(flipped.data(), 2, 9, 1, &fault, &result), 0u);
  EXPECT_EQ(fault, static_cast<QV_ULONG>(QVX_SECTOR_BAD_SUBHEADER));
  EXPECT_EQ(result, static_cast<QV_ULONG>(QVX_REPAIR_DONE));
  EXPECT_EQ(flipped, form1);
}

// Calls check with each P-Q sector of an area: its number, main data, Q
// and P (the high bit of the last byte).
void EachSector(CQuorvane_RawAreaChain& area, const std::function<void(size_t, const Sector&, uint8_t*, bool)>& check) {
  std::vector<uint8_t> all(area.GetSectorCount() * 2368);
  area.Read(all.size(), all.data());
  for (size_t n = 0; n < area.GetSectorCount(); ++n) {
    Sector main;
    std::memcpy(main.data(), &all[n * 2368], 2352);
    check(n, main, &all[n * 2368 + 2352], all[n * 2368 + 2367] & 0x80);
  }
}

// The areas made up around the program area, by the Red Book: the lead-in
// repeats each TOC point three times over scrambled Mode 1 sectors (audio
// sessions over zeros, an XA session's disc type in A0), the pre-gap counts
// down with P on, the lead-out's P blinks at 2 Hz after two seconds. (Their
// Q as a recorder reads it, in P-Q and raw P-W, is the raw burn tests'.)
TEST(MadeUpAreas, LeadInTocPreGapCountdownAndLeadOutBlinking) {
  QuorvaneI_LeadInContents one;
  one.trackStarts = {0};
  one.leadOutStart = 1000;
  const CQuorvane_EDCECC e;
  const uint8_t points[4] = {0xA0, 0xA1, 0xA2, 0x01};
  const uint8_t times[4][3] = {{0x01, 0, 0}, {0x01, 0, 0}, {0x00, 0x15, 0x25}, {0x00, 0x02, 0x00}};
  CQuorvane_ISO9660FileTreeLeadInRawPQ in(-174, 24, one);
  EachSector(in, [&](size_t n, const Sector& main, uint8_t* q, bool p) {
    EXPECT_EQ(q[0], 0x41);
    EXPECT_EQ(q[2], points[n % 12 / 3]) << n;
    EXPECT_EQ(0, std::memcmp(&q[7], times[n % 12 / 3], 3)) << n;
    EXPECT_TRUE(QuorvaneI_CheckQCrc(q));
    EXPECT_FALSE(p);
    Sector s = main;
    QuorvaneI_Scramble(s.data());
    EXPECT_TRUE(e.CheckMODE1LB(s.data())) << "lead-in sector " << n;
  });
  CQuorvane_ISO9660FileTreePreGapRawPQ gap(-150, 150, 1, true, false);
  EachSector(gap, [&](size_t i, const Sector&, uint8_t* q, bool p) {
    uint8_t expected[12];
    QuorvaneI_QPosition(4, 1, 0, static_cast<uint32_t>(149 - i), static_cast<int32_t>(i) - 150, expected);
    EXPECT_EQ(0, std::memcmp(q, expected, 12)) << i;
    EXPECT_TRUE(p);
  });
  CQuorvane_ISO9660FileTreeLeadOutRawPQ out(1000, true, false);
  ASSERT_EQ(out.GetSectorCount(), 6750u);
  EachSector(out, [&](size_t n, const Sector&, uint8_t* q, bool p) {
    EXPECT_EQ(p, n >= 150 && n % 150 < 75) << "lead-out sector " << n;
    EXPECT_TRUE(n != 225 || (q[1] == 0xAA && q[2] == 0x01));
  });
  // Three audio tracks in an XA session: cycles of 18.
  QuorvaneI_LeadInContents three{false, true, 1, {0, 5000, 9000}, 12000};
  CQuorvane_ISO9660FileTreeLeadInRawPQ xa(-200, 36, three);
  const uint8_t xaPoints[6] = {0xA0, 0xA1, 0xA2, 0x01, 0x02, 0x03};
  EachSector(xa, [&](size_t n, const Sector& main, uint8_t* q, bool) {
    EXPECT_EQ(q[0], 0x01);
    EXPECT_EQ(q[2], xaPoints[n % 18 / 3]) << n;
    EXPECT_TRUE(n != 0 || q[8] == 0x20) << "CD-ROM XA";
    EXPECT_TRUE(n != 3 || q[7] == 0x03) << "last track";
    EXPECT_EQ(main, Sector{}) << "audio sessions have zero main data";
  });
}

}  // namespace
