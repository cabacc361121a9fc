// The SPTD transport against a stand-in for the run-time pass-through
// library, registered under its module name: enumeration by name, open
// modes, the request it receives and the failures of each step.
#include <cstring>
#include <vector>

#include "platform/dynlib.h"
#include "scsi/transport_sptd.h"
#include "scsi_fixtures.h"

namespace {

using scsitest::Catch;

struct FakeDevice {
  std::u16string name;
  const char* vendor;
  const char* product;
  const char* revision;
  uint8_t lun;
};

struct FakeSptd {
  std::vector<FakeDevice> devices;
  uint32_t enumerateResult = 0;
  uint32_t openResult = 0;
  uint32_t lastOpenFlags = 0;
  std::u16string lastOpenName;
  int lists = 0, frees = 0, opens = 0, closes = 0;
  std::vector<QVDRIVE_REQUEST> requests;
  std::function<uint32_t(QVDRIVE_REQUEST&)> send;
} g_sptd;

int g_handle;  // its address is the device handle

// Builds the list as the library lays it out: fixed 96-byte entries, the
// names after all entries.
uint32_t Enumerate(uint32_t kind, uint32_t, uint32_t* count, void** list, QVSPTD_PROGRESS progress) {
  if (kind != 2 || progress == nullptr) return 87;
  if (g_sptd.enumerateResult != 0) return g_sptd.enumerateResult;
  progress();
  const size_t entrySize = 96, n = g_sptd.devices.size();
  size_t total = entrySize * n;
  for (const auto& d : g_sptd.devices) total += (d.name.size() + 1) * 2;
  auto* block = new uint8_t[total + 1]();
  size_t nameAt = entrySize * n;
  for (size_t i = 0; i < n; ++i) {
    uint8_t* e = block + i * entrySize;
    const uint32_t next = i + 1 < n ? entrySize : 0;
    std::memcpy(e, &next, 4);
    std::memcpy(e + 16, g_sptd.devices[i].vendor, 8);
    std::memcpy(e + 24, g_sptd.devices[i].product, 16);
    std::memcpy(e + 40, g_sptd.devices[i].revision, 4);
    e[47] = g_sptd.devices[i].lun;
    const uint32_t nameOffset = static_cast<uint32_t>(nameAt - i * entrySize);
    std::memcpy(e + 64, &nameOffset, 4);
    std::memcpy(block + nameAt, g_sptd.devices[i].name.c_str(), (g_sptd.devices[i].name.size() + 1) * 2);
    nameAt += (g_sptd.devices[i].name.size() + 1) * 2;
  }
  *count = static_cast<uint32_t>(n);
  *list = block;
  ++g_sptd.lists;
  return 0;
}
uint32_t Open(const char16_t* name, uint32_t flags, void** handle) {
  g_sptd.lastOpenName = name;
  g_sptd.lastOpenFlags = flags;
  if (g_sptd.openResult != 0) return g_sptd.openResult;
  ++g_sptd.opens;
  *handle = &g_handle;
  return 0;
}
uint32_t Close(void* handle) {
  if (handle == &g_handle) ++g_sptd.closes;
  return 0;
}
uint32_t SendCommand(void* handle, QVDRIVE_REQUEST* r) {
  if (handle != &g_handle) return 6;
  g_sptd.requests.push_back(*r);
  return g_sptd.send ? g_sptd.send(*r) : 0;
}
uint32_t FreeList(void* list) {
  delete[] static_cast<uint8_t*>(list);
  ++g_sptd.frees;
  return 0;
}

bool g_without47 = false;
void* Resolve(const char* symbol) {
  if (std::strcmp(symbol, "QvSptd_Ordinal44") == 0) return reinterpret_cast<void*>(&Enumerate);
  if (std::strcmp(symbol, "QvSptd_Ordinal45") == 0) return reinterpret_cast<void*>(&Open);
  if (std::strcmp(symbol, "QvSptd_Ordinal46") == 0) return reinterpret_cast<void*>(&Close);
  if (std::strcmp(symbol, "QvSptd_Ordinal47") == 0 && !g_without47) return reinterpret_cast<void*>(&SendCommand);
  if (std::strcmp(symbol, "QvSptd_Ordinal48") == 0) return reinterpret_cast<void*>(&FreeList);
  return nullptr;
}
const qv::plat::BuiltinLibrary kFakeSptd{"dtpro.dll", &Resolve};

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
  qvtest::LogCapture log;
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
    EXPECT_EQ(log.Count("Found device 'CdRom1' with 'QUORVANE' : 'Virtual Drive   ' : '1.00'"), 1u);
    EXPECT_TRUE(g_sptd.requests.empty());  // no INQUIRY on this transport
  }
  EXPECT_EQ(g_sptd.closes, 1);
  // Any other open mode asks for the device alone.
  CQuorvane_ScsiTransportSPTD t(u"CdRom10", 0);
  EXPECT_EQ(g_sptd.lastOpenFlags, 0x10000000u);
  EXPECT_EQ(t.GetLUN(), 0);
}

TEST_F(Sptd, OpeningFailsWithNotFoundOrSharingViolation) {
  const std::string notFound = "CQuorvane_ScsiTransportSPTD::CQuorvane_ScsiTransportSPTD(): Unable to locate device "
                               "with device name '";
  const struct {
    const char16_t* device;
    uint32_t openResult;
    uint32_t number;
    std::string text;
  } cases[] = {
      {u"CdRom2", 0, 17, notFound + "CdRom2'"},
      {u"CdRom", 0, 17, notFound + "CdRom'"},  // a prefix of a listed name is not that name
      {u"CdRom1", 5, 35,
       "CQuorvane_ScsiTransportSPTD::CQuorvane_ScsiTransportSPTD(): Unable to open b/s of sharing violation device "
       "with device name 'CdRom1'"},
      {u"CdRom1", 1167, 17, notFound + "CdRom1'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.openResult);
    g_sptd.frees = 0;
    g_sptd.openResult = c.openResult;
    auto e = Catch([&] { CQuorvane_ScsiTransportSPTD t(c.device, 1); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Number(), c.number);
    EXPECT_EQ(e->Text(), c.text);
    EXPECT_EQ(g_sptd.frees, 1);
    EXPECT_EQ(g_sptd.closes, 0);
  }
}

TEST_F(Sptd, LibraryFailuresAreSystemCallFailures) {
  g_without47 = true;
  auto e = Catch([] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 127u);
  EXPECT_NE(std::strstr(e->Text(), "'dtpro.dll', 47"), nullptr) << e->Text();
  g_without47 = false;

  g_sptd.enumerateResult = 1167;
  e = Catch([] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 1167u);

  scsitest::ScopedEnv missing("QUORVANE_LIB_DTPRO", "/nonexistent/libnothing.so");
  e = Catch([] { CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_STREQ(e->Text(),
               "CQuorvane_ScsiTransportSPTD::CQuorvane_ScsiTransportSPTD(): LoadLibrary( 'dtpro.dll' ) failed, status "
               "126 ( 0x7e )");
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

TEST_F(Sptd, CommandOutcomes) {
  CQuorvane_ScsiTransportSPTD t(u"CdRom1", 1);
  const uint8_t tur[6] = {};
  // Unit attention once, then GOOD: invisible to the caller.
  int calls = 0;
  g_sptd.send = [&](QVDRIVE_REQUEST& r) { return ++calls == 1 ? scsitest::CheckCondition(r, 0x06, 0x28) : 0u; };
  EXPECT_EQ(Catch([&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); }), nullptr);
  EXPECT_EQ(calls, 2);

  g_sptd.send = [](QVDRIVE_REQUEST& r) { return scsitest::CheckCondition(r, 0x05, 0x20); };
  auto e = Catch([&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 8u);
  EXPECT_STREQ(e->Text(), "CQuorvane_ScsiTransportSPTD::ExecuteCDBEx(): Command failed");
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__SenseLength, 32);
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x20);

  // The drive vanished: the library's error, never a success.
  g_sptd.send = [](QVDRIVE_REQUEST&) { return 1167u; };
  e = Catch([&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 1167u);
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
