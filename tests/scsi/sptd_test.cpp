// The SPTD transport against a stand-in for the run-time pass-through
// library, for what the virtual drive's own library never does: fail to
// enumerate, lack an entry, or be missing.
#include "platform/dynlib.h"
#include "scsi/transport_sptd.h"
#include "fake_libraries.h"
#include "scsi_fixtures.h"

namespace {

using namespace scsitest;

class Sptd : public ::testing::Test {
 protected:
  void SetUp() override {
    g_sptd = FakeSptd{};
    g_sptd.devices = {{u"CdRom10", 0}, {u"CdRom1", 2}};
    g_without47 = false;
  }
  scsitest::ScopedBuiltinLibrary library{&kFakeSptd};
  qvtest::VirtualTime time;
};

// Found by name without regard to case; mode 1 shares the device, any
// other asks for it alone. The list is freed, the device closed.
TEST_F(Sptd, FindsTheDeviceByNameWithoutRegardToCase) {
  {
    CQuorvane_ScsiTransportSPTD t(u"cdrom1", 1);
    EXPECT_EQ(g_sptd.lastOpenFlags, 0u);
    EXPECT_EQ(t.GetLUN(), 2);
    EXPECT_EQ(g_sptd.frees, 1);
  }
  EXPECT_EQ(g_sptd.closes, 1);
  CQuorvane_ScsiTransportSPTD t(u"CdRom10", 0);
  EXPECT_EQ(g_sptd.lastOpenFlags, 0x10000000u);
}

// A prefix of a listed name is not that name; a sharing violation is 35.
TEST_F(Sptd, OpeningFailsWithNotFoundOrSharingViolation) {
  const struct {
    const char16_t* device;
    uint32_t openResult, number;
  } cases[] = {{u"CdRom", 0, 17}, {u"CdRom1", 5, 35}, {u"CdRom1", 1167, 17}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.openResult);
    g_sptd.frees = 0;
    g_sptd.openResult = c.openResult;
    Fails(c.number, [&] { CQuorvane_ScsiTransportSPTD t(c.device, 1); });
    EXPECT_EQ(g_sptd.frees, 1);
    EXPECT_EQ(g_sptd.closes, 0);
  }
}

// (A request the library fails is RetryLoop.DoorFailures's.)
TEST_F(Sptd, LibraryFailuresAreSystemCallFailures) {
  g_without47 = true;
  EXPECT_EQ(Fails(5, [] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); })->SystemError(), 127u);
  g_without47 = false;
  g_sptd.enumerateResult = 1167;
  EXPECT_EQ(Fails(5, [] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); })->SystemError(), 1167u);
  g_sptd.enumerateResult = 0;
  scsitest::ScopedEnv missing("QUORVANE_LIB_DTPRO", "/nonexistent/libnothing.so");
  EXPECT_EQ(Fails(5, [] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); })->SystemError(), 126u);
}

#ifndef _WIN32
// Names reach the log in the system's narrow form; what has none shows as '_'.
TEST(Utf16, ConvertsNamesForTheLog) {
  EXPECT_EQ(QuorvaneI_NarrowForLog(u"Laufwerk \u00c4\u20ac\U0001F4BF"), "Laufwerk \xc3\x84\xe2\x82\xac\xf0\x9f\x92\xbf");
  EXPECT_EQ(QuorvaneI_NarrowForLog(u"a" + std::u16string(1, char16_t(0xD800))), "a_");
}
#endif

}  // namespace
