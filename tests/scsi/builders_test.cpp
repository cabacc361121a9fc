// Command builders' CDBs, byte for byte, as the T10 SPC/MMC command tables
// lay them out, where a fault would pass the virtual drive unnoticed: the
// LUN bits, fields it ignores and values only some callers give. (The
// plain forms reach it in every recording and grab test, and a wrong one
// fails them.) Then GetInquiryStrings and WaitForReady.
#include <cstring>
#include <vector>

#include "scsi/device_writer.h"
#include "scsi_fixtures.h"

namespace {

using scsitest::Catch;
using scsitest::Fails;
using scsitest::Check;
using scsitest::ScriptedTransport;
using Bytes = std::vector<uint8_t>;

enum class Data { None, In, Out };

struct BuilderCase {
  const char* name;
  std::function<void(CQuorvane_ScsiDeviceCdvdRomWriter&, uint8_t* buffer)> call;
  Bytes cdb;
  Data data;
  uint32_t size;
  bool timing = false;
  bool carriesLun = false;
};

class Builders : public ::testing::TestWithParam<BuilderCase> {};

// On LUN 0 and LUN 5: bits 7-5 of byte 1 carry the LUN exactly where the
// command is one of the LUN-carrying group.
TEST_P(Builders, SendTheT10Layout) {
  const BuilderCase& c = GetParam();
  for (uint8_t lun : {0, 5}) {
    SCOPED_TRACE(int(lun));
    auto* t = new ScriptedTransport(lun);
    CQuorvane_ScsiDeviceCdvdRomWriter device(t);
    std::vector<uint8_t> buffer(0x20000, 0);
    c.call(device, buffer.data());
    ASSERT_EQ(t->sent.size(), 1u);
    const auto& s = t->sent[0];
    Bytes expected = c.cdb;
    if (c.carriesLun && lun != 0) expected[1] |= 0xA0;
    EXPECT_EQ(s.cdb, expected);
    EXPECT_EQ(s.size, c.size);
    EXPECT_EQ(s.hasBuffer, c.data != Data::None);
    if (c.data != Data::None) {
      EXPECT_EQ(s.dataOut, c.data == Data::Out);
    }
    EXPECT_EQ(s.timing, c.timing);
  }
}

uint64_t g_t1, g_t2;

// Expected bytes written out from the T10 tables, not from the builders.
INSTANTIATE_TEST_SUITE_P(
    Commands, Builders,
    ::testing::Values(
        BuilderCase{"Inquiry", [](auto& d, auto* b) { d.Inquiry(b, 96); }, {0x12, 0, 0, 0, 0x60, 0}, Data::In, 96,
                    false, true},
        BuilderCase{"StartStopUnitLoad", [](auto& d, auto*) { d.StartStopUnit(true, true, true); },
                    {0x1B, 0x01, 0, 0, 0x03, 0}, Data::None, 0, false, true},
        BuilderCase{"Read10Fua", [](auto& d, auto* b) { d.Read10(b, 4096, 0x00012345, 2, 0x08); },
                    {0x28, 0x08, 0x00, 0x01, 0x23, 0x45, 0, 0x00, 0x02, 0}, Data::In, 4096, false, true},
        BuilderCase{"Read10Ex", [](auto& d, auto* b) { d.Read10Ex(b, 2048, 0xFEDCBA98, 1, 0, &g_t1, &g_t2); },
                    {0x28, 0x00, 0xFE, 0xDC, 0xBA, 0x98, 0, 0x00, 0x01, 0}, Data::In, 2048, true, true},
        BuilderCase{"ModeSense10ChangeableAllPages", [](auto& d, auto* b) { d.ModeSense10(b, 0x100, 0x3F, 1); },
                    {0x5A, 0, 0x7F, 0, 0, 0, 0, 0x01, 0x00, 0}, Data::In, 0x100, false, true},
        BuilderCase{"ReadTOCFullTocMsf", [](auto& d, auto* b) { d.ReadTOC(b, 0x324, true, 2, 1); },
                    {0x43, 0x02, 0x02, 0, 0, 0, 0x01, 0x03, 0x24, 0x80}, Data::In, 0x324, false, true},
        BuilderCase{"ReportKeyChallengeWithAgid", [](auto& d, auto* b) { d.ReportKey(0, 0, b, 16, 0x01, 2); },
                    {0xA4, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x10, 0x81, 0}, Data::In, 16},
        BuilderCase{"ReadDVDStructureWithAgid",
                    [](auto& d, auto* b) { d.ReadDVDStructure(b, 0x10, 0x00030000, 0, 0x0E, 3); },
                    {0xAD, 0, 0x00, 0x03, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x10, 0xC0, 0}, Data::In, 0x10, false, true},
        BuilderCase{"ReadTrackInformationByLba",
                    [](auto& d, auto* b) { d.ReadTrackInformation(b, 48, 0, 0x00FFFF96); },
                    {0x52, 0x00, 0x00, 0xFF, 0xFF, 0x96, 0, 0x00, 0x30, 0}, Data::In, 48, false, true},
        BuilderCase{"SetCDSpeed10x4x", [](auto& d, auto*) { d.SetCDSpeed(1764, 706); },
                    {0xBB, 0, 0x06, 0xE4, 0x02, 0xC2, 0, 0, 0, 0, 0, 0}, Data::None, 0},
        BuilderCase{"ReadCDMode1UserDataWithQ",
                    [](auto& d, auto* b) { d.ReadCD(2, 0x123456, 0x010203, 1, false, true, 0, false, 2, b, 4096); },
                    {0xBE, 0x08, 0x00, 0x12, 0x34, 0x56, 0x01, 0x02, 0x03, 0x12, 0x02, 0}, Data::In, 4096},
        BuilderCase{"ReadCDExSubchannelOnly",
                    [](auto& d, auto* b) {
                      d.ReadCDEx(0, 0, 1, 0, false, false, 0, false, 1, b, 96, &g_t1, &g_t2);
                    },
                    {0xBE, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x01, 0}, Data::In, 96, true},
        BuilderCase{"GetPerformanceWriteSpeeds", [](auto& d, auto* b) { d.GetPerformance(0, 3, 0x100, 8, b, 136); },
                    {0xAC, 0x00, 0, 0, 0x01, 0x00, 0, 0, 0x00, 0x08, 0x03, 0}, Data::In, 136},
        BuilderCase{"FormatUnitInterleave", [](auto& d, auto* b) { d.FormatUnit(true, true, 7, 0x0102, b, 12); },
                    {0x04, 0x1F, 0, 0x01, 0x02, 0}, Data::Out, 12, false, true},
        BuilderCase{"BlankTrackAtAddress", [](auto& d, auto*) { d.Blank(2, 0x1234, false); },
                    {0xA1, 0x02, 0, 0, 0x12, 0x34, 0, 0, 0, 0, 0, 0}, Data::None, 0},
        BuilderCase{"SendCueSheet24BitLength", [](auto& d, auto* b) { d.SendCueSheet(b, 0x010020); },
                    {0x5D, 0, 0, 0, 0, 0, 0x01, 0x00, 0x20, 0}, Data::Out, 0x010020},
        BuilderCase{"SynchronizeCacheRange", [](auto& d, auto*) { d.SynchronizeCache(false, 0x00ABCDEF, 0x20); },
                    {0x35, 0x00, 0x00, 0xAB, 0xCD, 0xEF, 0, 0x00, 0x20, 0}, Data::None, 0},
        BuilderCase{"CloseTrackImmediate", [](auto& d, auto*) { d.CloseTrackSession(true, false, false, true, 7); },
                    {0x5B, 0x01, 0x01, 0, 0x00, 0x07, 0, 0, 0, 0}, Data::None, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Device, BuildersPassTheTransportsFailureUnchanged) {
  auto* t = new ScriptedTransport;
  CQuorvane_ScsiDeviceCdvdRomWriter device(t);
  t->answers = {Check(5, 0x24, 0x00)};
  uint8_t b[8];
  auto e = Fails(8, [&] { device.ReadCapacity(b, 8); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__CDB[0], 0x25);
  EXPECT_EQ(t->sent.size(), 1u);  // builders do not retry
}

TEST(Device, GetInquiryStringsCopiesTheThreeFieldsWithoutTerminators) {
  auto* t = new ScriptedTransport;
  CQuorvane_ScsiDeviceGeneric device(t);
  t->fill = [](const uint8_t*, void* buffer, uint32_t size) {
    ASSERT_EQ(size, 96u);
    auto* p = static_cast<uint8_t*>(buffer);
    p[0] = 0x05;
    std::memcpy(p + 8, "PLEXTOR DVDR   PX-716A 1.11", 8 + 16 + 4 - 1);
    p[35] = '!';
  };
  char vendor[9], product[17], revision[5];
  std::memset(vendor, '#', sizeof vendor);
  std::memset(product, '#', sizeof product);
  std::memset(revision, '#', sizeof revision);
  device.GetInquiryStrings(vendor, product, revision);
  EXPECT_EQ(std::string(vendor, 8), "PLEXTOR ");
  EXPECT_EQ(std::string(product, 16), "DVDR   PX-716A 1");
  EXPECT_EQ(std::string(revision, 4), ".11!");
  EXPECT_EQ(vendor[8], '#');
  EXPECT_EQ(product[16], '#');
  EXPECT_EQ(revision[4], '#');
  EXPECT_EQ(t->sent[0].cdb, (Bytes{0x12, 0, 0, 0, 96, 0}));
}

// WaitForReady polls with TEST UNIT READY (after READ DISC INFORMATION
// when asked); a missing disc (CHECK CONDITION with ASC 3Ah, nothing else)
// ends it at once with fast exit; it pauses between attempts only and
// never throws.
TEST(WaitForReady, PollsUntilReadyOrOutOfAttempts) {
  const struct {
    std::vector<scsitest::Answer> answers;
    uint32_t attempts, pauseMs;
    bool discInfo, fastExit, ready;
    Bytes opcodes;
    uint64_t ms;
  } cases[] = {
      {{Check(2, 0x04, 0x01), Check(2, 0x04, 0x01)}, 10, 1000, false, true, true, {0x00, 0x00, 0x00}, 2000},
      {{Check(2, 0x3A, 0x01), Check(2, 0x3A, 0x00)}, 10, 5000, true, true, true, {0x51, 0x00}, 0},
      {{Check(2, 0x3A, 0x00), Check(2, 0x3A, 0x00), Check(2, 0x3A, 0x00)}, 3, 250, false, false, false,
       {0x00, 0x00, 0x00}, 500},
      {{Check(2, 0x3B, 0x00), Check(3, 0x02, 0x00), Check(5, 0x20, 0x00)}, 5, 100, false, true, true,
       {0x00, 0x00, 0x00, 0x00}, 300},
      {{Check(2, 0x04, 0x01), {}, Check(2, 0x04, 0x01)}, 4, 10, true, false, true, {0x51, 0x51, 0x00, 0x00}, 20},
      {std::vector<scsitest::Answer>(8, Check(2, 0x04, 0x01)), 4, 10, true, true, false,
       {0x51, 0x51, 0x51, 0x51, 0x00, 0x00, 0x00, 0x00}, 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.attempts << " attempts, " << c.pauseMs << " ms");
    qvtest::VirtualTime time;
    auto* t = new ScriptedTransport;
    CQuorvane_ScsiDeviceCdvdRomReader device{t};
    t->answers.assign(c.answers.begin(), c.answers.end());
    bool ready = false;
    EXPECT_EQ(Catch([&] { ready = device.WaitForReady(c.attempts, c.pauseMs, c.discInfo, c.fastExit); }), nullptr);
    EXPECT_EQ(ready, c.ready);
    Bytes opcodes;
    for (const auto& sent : t->sent) opcodes.push_back(sent.cdb[0]);
    EXPECT_EQ(opcodes, c.opcodes);
    EXPECT_EQ(time.clock().NowMs(), c.ms);
    if (c.discInfo) {
      EXPECT_EQ(t->sent[0].size, 4096u);
    }
    EXPECT_EQ(device.GetBufferSize(), 0u);
  }
}

}  // namespace
