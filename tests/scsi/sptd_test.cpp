// The SPTD transport against a stand-in for the run-time pass-through
// library, registered under its module name: enumeration by name, open
// modes, the request it receives and the failures of each step.
#include <cstring>
#include <vector>

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
    g_sptd.devices = {{u"CdRom10", "VIRTUAL ", "Other Drive     ", "0.01", 0},
                      {u"CdRom1", "QUORVANE", "Virtual Drive   ", "1.00", 2}};
    g_without47 = false;
  }
  scsitest::ScopedBuiltinLibrary library{&kFakeSptd};
  qvtest::VirtualTime time;
};

TEST_F(Sptd, FindsTheDeviceByNameWithoutRegardToCase) {
  {
    CQuorvane_ScsiTransportSPTD t(u"cdrom1", 1);
    EXPECT_EQ(g_sptd.lastOpenName, u"cdrom1");
    EXPECT_EQ(g_sptd.lastOpenFlags, 0u);  // shared
    EXPECT_EQ(t.GetLUN(), 2);
    EXPECT_EQ(t.GetPortId(), 255);
    EXPECT_EQ(t.GetDeviceType(), 5);
    EXPECT_EQ(t.GetMaximumTransferLength(), 61440u);
    EXPECT_EQ(g_sptd.frees, 1);
    EXPECT_TRUE(g_sptd.requests.empty());  // no INQUIRY on this transport
  }
  EXPECT_EQ(g_sptd.closes, 1);
  // Any other open mode asks for the device alone.
  CQuorvane_ScsiTransportSPTD t(u"CdRom10", 0);
  EXPECT_EQ(g_sptd.lastOpenFlags, 0x10000000u);
  EXPECT_EQ(t.GetLUN(), 0);
}

TEST_F(Sptd, OpeningFailsWithNotFoundOrSharingViolation) {
  // A prefix of a listed name is not that name; a sharing violation is 35.
  const struct {
    const char16_t* device;
    uint32_t openResult, number;
  } cases[] = {{u"CdRom2", 0, 17}, {u"CdRom", 0, 17}, {u"CdRom1", 5, 35}, {u"CdRom1", 1167, 17}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.openResult);
    g_sptd.frees = 0;
    g_sptd.openResult = c.openResult;
    Fails(c.number, [&] { CQuorvane_ScsiTransportSPTD t(c.device, 1); });
    EXPECT_EQ(g_sptd.frees, 1);
    EXPECT_EQ(g_sptd.closes, 0);
  }
}

TEST_F(Sptd, LibraryFailuresAreSystemCallFailures) {
  g_without47 = true;
  auto e = Fails(5, [] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); });
  EXPECT_EQ(e->SystemError(), 127u);
  EXPECT_NE(std::strstr(e->Text(), "'dtpro.dll', 47"), nullptr) << e->Text();
  g_without47 = false;

  g_sptd.enumerateResult = 1167;
  e = Fails(5, [] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); });
  EXPECT_EQ(e->SystemError(), 1167u);

  // A request the library fails: never a success (the retry loop itself is
  // the RetryLoop suite's).
  g_sptd.enumerateResult = 0;
  {
    CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1);
    g_sptd.send = [](QVDRIVE_REQUEST&) { return 1167u; };
    const uint8_t tur[6] = {};
    e = Fails(5, [&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); });
    EXPECT_EQ(e->SystemError(), 1167u);
  }

  scsitest::ScopedEnv missing("QUORVANE_LIB_DTPRO", "/nonexistent/libnothing.so");
  e = Fails(5, [] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); });
  EXPECT_EQ(e->SystemError(), 126u);
}

TEST_F(Sptd, SendsTheRequestAsTheLibraryDefinesIt) {
  CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1);
  uint8_t in[2048] = {};
  const uint8_t read10[10] = {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0};
  t.ExecuteCDB(read10, 10, in, sizeof in, 0);
  const uint8_t tur[6] = {};
  t.ExecuteCDB(tur, 6, nullptr, 0, 0);
  uint8_t out[2048] = {};
  const uint8_t write10[10] = {0x2A, 0, 0, 0, 0, 16, 0, 0, 1, 0};
  t.ExecuteCDB(write10, 10, out, sizeof out, 1);

  ASSERT_EQ(g_sptd.requests.size(), 3u);
  const QVDRIVE_REQUEST& r = g_sptd.requests[0];
  EXPECT_EQ(0, std::memcmp(r.cdb, read10, 10));
  EXPECT_EQ(r.cdbLength, 10);
  EXPECT_EQ(r.direction, QVDRIVE_DIR_IN);
  EXPECT_EQ(r.buffer, in);
  EXPECT_EQ(r.bufferSize, 2048u);
  EXPECT_EQ(r.timeoutSeconds, 108000u);
  EXPECT_EQ(r.flags, 0u);
  EXPECT_EQ(g_sptd.requests[1].direction, QVDRIVE_DIR_NONE);
  EXPECT_EQ(g_sptd.requests[1].bufferSize, 0u);
  EXPECT_EQ(g_sptd.requests[2].direction, QVDRIVE_DIR_OUT);
}

TEST_F(Sptd, ReportsTheDrivesTimingWhenAskedAndGiven) {
  CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1);
  uint64_t start = 11, duration = 22;
  g_sptd.send = [](QVDRIVE_REQUEST& r) {
    if (r.flags == QVDRIVE_FLAG_TIMING) r.timing1 = 1000, r.timing2 = 250;
    return 0u;
  };
  const uint8_t tur[6] = {};
  t.ExecuteCDBEx(tur, 6, nullptr, 0, 0, &start, nullptr);  // one pointer: no timing asked
  EXPECT_EQ(g_sptd.requests.back().flags, 0u);
  EXPECT_EQ(start, 11u);
  t.ExecuteCDBEx(tur, 6, nullptr, 0, 0, &start, &duration);
  EXPECT_EQ(g_sptd.requests.back().flags, 0x10100u);
  EXPECT_EQ(start, 1000u);
  EXPECT_EQ(duration, 250u);
  // A zero pair leaves the caller's values alone.
  g_sptd.send = nullptr;
  t.ExecuteCDBEx(tur, 6, nullptr, 0, 0, &start, &duration);
  EXPECT_EQ(start, 1000u);
  EXPECT_EQ(duration, 250u);
}

// Names reach the log in the system's narrow form; what has none shows as '_'.
TEST(Utf16, ConvertsNamesForTheLog) {
  EXPECT_EQ(QuorvaneI_NarrowForLog(u"CdRom0"), "CdRom0");
#ifndef _WIN32
  EXPECT_EQ(QuorvaneI_NarrowForLog(u"Laufwerk \u00c4\u20ac\U0001F4BF"), "Laufwerk \xc3\x84\xe2\x82\xac\xf0\x9f\x92\xbf");
  EXPECT_EQ(QuorvaneI_NarrowForLog(u"a" + std::u16string(1, char16_t(0xD800))), "a_");
#endif
}

}  // namespace
