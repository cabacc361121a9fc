// Command builders' CDBs, byte for byte, as the T10 SPC/MMC command tables
// lay them out, where a fault would pass the virtual drive unnoticed: the
// LUN bits, fields it ignores and values only some callers give. (The
// plain forms reach it in every recording and grab test, and a wrong one
// fails them.) Then GetInquiryStrings and WaitForReady.
#include <cstring>
#include <deque>
#include <vector>

#include "scsi/device_writer.h"
#include "scsi_fixtures.h"

namespace {

using scsitest::Check;
using Bytes = std::vector<uint8_t>;

// A transport whose drive is a script: it records every request, and
// answers from a queue (GOOD once the queue is empty).
class ScriptedTransport : public CQuorvane_ScsiTransport {
 public:
  struct Sent {
    Bytes cdb;
    uint32_t size;
    int direction;  // -1: no buffer, 0: in, 1: out
    bool timing;
  };
  explicit ScriptedTransport(uint8_t lun = 0) : CQuorvane_ScsiTransport("Scripted", "Scripted::ExecuteCDB") {
    m__UCHAR__LUN = lun;
  }
  std::deque<scsitest::Answer> answers;
  std::vector<Sent> sent;
  std::function<void(void* buffer)> fill;  // the IN buffer of a GOOD command

 protected:
  void Deliver(Attempt& a) override {
    sent.push_back({Bytes(a.cdb, a.cdb + a.cdbLength), a.bufferSize, a.buffer ? int{a.dataOut} : -1,
                    a.timing1 != nullptr && a.timing2 != nullptr});
    scsitest::Answer answer;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    a.targetStatus = answer.status;
    a.good = answer.status == 0;
    a.sense[0] = 0x70, a.sense[2] = answer.key, a.sense[12] = answer.asc, a.sense[13] = answer.ascq;
    if (a.good && fill && a.buffer && !a.dataOut) fill(a.buffer);
  }
};

struct BuilderCase {
  const char* name;
  std::function<void(CQuorvane_ScsiDeviceCdvdRomWriter&, uint8_t* buffer)> call;
  Bytes cdb;
  int direction;
  uint32_t size;
  bool timing, carriesLun;
};

class Builders : public ::testing::TestWithParam<BuilderCase> {};

// On LUN 0 and LUN 5: bits 7-5 of byte 1 carry the LUN exactly where the
// command is one of the LUN-carrying group.
TEST_P(Builders, SendTheT10Layout) {
  const BuilderCase& c = GetParam();
  for (uint8_t lun : {0, 5}) {
    auto* t = new ScriptedTransport(lun);
    CQuorvane_ScsiDeviceCdvdRomWriter device(t);
    std::vector<uint8_t> buffer(0x20000, 0);
    c.call(device, buffer.data());
    ASSERT_EQ(t->sent.size(), 1u);
    Bytes expected = c.cdb;
    if (c.carriesLun && lun != 0) expected[1] |= 0xA0;
    EXPECT_EQ(t->sent[0].cdb, expected) << int{lun};
    EXPECT_EQ((std::tuple{t->sent[0].size, t->sent[0].direction, t->sent[0].timing}),
              (std::tuple{c.size, c.direction, c.timing}));
  }
}

uint64_t g_t1, g_t2;

// Expected bytes written out from the T10 tables, not from the builders.
INSTANTIATE_TEST_SUITE_P(
    Commands, Builders,
    ::testing::Values(
        BuilderCase{"Inquiry", [](auto& d, auto* b) { d.Inquiry(b, 96); }, {0x12, 0, 0, 0, 0x60, 0}, 0, 96, false, true},
        BuilderCase{"Read10Fua", [](auto& d, auto* b) { d.Read10(b, 4096, 0x00012345, 2, 0x08); }, {0x28, 0x08, 0x00, 0x01, 0x23, 0x45, 0, 0x00, 0x02, 0}, 0, 4096, false, true},
        BuilderCase{"Read10Ex", [](auto& d, auto* b) { d.Read10Ex(b, 2048, 0xFEDCBA98, 1, 0, &g_t1, &g_t2); }, {0x28, 0x00, 0xFE, 0xDC, 0xBA, 0x98, 0, 0x00, 0x01, 0}, 0, 2048, true, true},
        BuilderCase{"ModeSense10ChangeableAllPages", [](auto& d, auto* b) { d.ModeSense10(b, 0x100, 0x3F, 1); }, {0x5A, 0, 0x7F, 0, 0, 0, 0, 0x01, 0x00, 0}, 0, 0x100, false, true},
        BuilderCase{"ReadTOCFullTocMsf", [](auto& d, auto* b) { d.ReadTOC(b, 0x324, true, 2, 1); }, {0x43, 0x02, 0x02, 0, 0, 0, 0x01, 0x03, 0x24, 0x80}, 0, 0x324, false, true},
        BuilderCase{"ReportKeyChallengeWithAgid", [](auto& d, auto* b) { d.ReportKey(0, 0, b, 16, 0x01, 2); }, {0xA4, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x10, 0x81, 0}, 0, 16, false, false},
        BuilderCase{"ReadDVDStructureWithAgid", [](auto& d, auto* b) { d.ReadDVDStructure(b, 0x10, 0x00030000, 0, 0x0E, 3); }, {0xAD, 0, 0x00, 0x03, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x10, 0xC0, 0}, 0, 0x10, false, true},
        BuilderCase{"ReadCDExSubchannelOnly", [](auto& d, auto* b) { d.ReadCDEx(0, 0, 1, 0, false, false, 0, false, 1, b, 96, &g_t1, &g_t2); }, {0xBE, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x01, 0}, 0, 96, true, false},
        BuilderCase{"FormatUnitInterleave", [](auto& d, auto* b) { d.FormatUnit(true, true, 7, 0x0102, b, 12); }, {0x04, 0x1F, 0, 0x01, 0x02, 0}, 1, 12, false, true},
        BuilderCase{"SendCueSheet24BitLength", [](auto& d, auto* b) { d.SendCueSheet(b, 0x010020); }, {0x5D, 0, 0, 0, 0, 0, 0x01, 0x00, 0x20, 0}, 1, 0x010020, false, false},
        BuilderCase{"SynchronizeCacheRange", [](auto& d, auto*) { d.SynchronizeCache(false, 0x00ABCDEF, 0x20); }, {0x35, 0x00, 0x00, 0xAB, 0xCD, 0xEF, 0, 0x00, 0x20, 0}, -1, 0, false, false},
        BuilderCase{"CloseTrackImmediate", [](auto& d, auto*) { d.CloseTrackSession(true, false, false, true, 7); }, {0x5B, 0x01, 0x01, 0, 0x00, 0x07, 0, 0, 0, 0}, -1, 0, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Each field is copied whole, with no terminator after it.
TEST(Device, GetInquiryStringsCopiesTheThreeFieldsWithoutTerminators) {
  auto* t = new ScriptedTransport;
  CQuorvane_ScsiDeviceGeneric device(t);
  t->fill = [](void* buffer) { std::memcpy(static_cast<char*>(buffer) + 8, "PLEXTOR DVDR   PX-716A 1.11!", 28); };
  char vendor[9], product[17], revision[5];
  std::memset(vendor, '#', sizeof vendor);
  std::memset(product, '#', sizeof product);
  std::memset(revision, '#', sizeof revision);
  device.GetInquiryStrings(vendor, product, revision);
  EXPECT_EQ(std::string(vendor, 9) + std::string(product, 17) + std::string(revision, 5),
            "PLEXTOR #DVDR   PX-716A 1#.11!#");
}

// WaitForReady polls with TEST UNIT READY (after READ DISC INFORMATION
// when asked); a missing disc (CHECK CONDITION with ASC 3Ah, nothing else)
// ends it at once with fast exit; it pauses between attempts only and
// never throws.
TEST(WaitForReady, PollsUntilReadyOrOutOfAttempts) {
  const auto notReady = Check(2, 0x04, 0x01), noDisc = Check(2, 0x3A, 0x00);
  const struct {
    std::vector<scsitest::Answer> answers;
    uint32_t attempts, pauseMs;
    bool discInfo, fastExit, ready;
    Bytes opcodes;
    uint64_t ms;
  } cases[] = {
      {{Check(2, 0x3A, 0x01), noDisc}, 10, 5000, true, true, true, {0x51, 0x00}, 0},
      {{noDisc, noDisc, noDisc}, 3, 250, false, false, false, {0x00, 0x00, 0x00}, 500},
      {{Check(2, 0x3B, 0x00), Check(3, 0x02, 0x00), Check(5, 0x20, 0x00)}, 5, 100, false, true, true, {0x00, 0x00, 0x00, 0x00}, 300},
      {{notReady, {}, notReady}, 4, 10, true, false, true, {0x51, 0x51, 0x00, 0x00}, 20},
      {std::vector<scsitest::Answer>(8, notReady), 4, 10, true, true, false, {0x51, 0x51, 0x51, 0x51, 0x00, 0x00, 0x00, 0x00}, 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.attempts << " attempts, " << c.pauseMs << " ms");
    qvtest::VirtualTime time;
    auto* t = new ScriptedTransport;
    CQuorvane_ScsiDeviceCdvdRomReader device{t};
    t->answers.assign(c.answers.begin(), c.answers.end());
    bool ready = false;
    EXPECT_EQ(scsitest::Catch([&] { ready = device.WaitForReady(c.attempts, c.pauseMs, c.discInfo, c.fastExit); }), nullptr);
    EXPECT_EQ(ready, c.ready);
    Bytes opcodes;
    for (const auto& sent : t->sent) opcodes.push_back(sent.cdb[0]);
    EXPECT_EQ(opcodes, c.opcodes);
    EXPECT_EQ(time.clock().NowMs(), c.ms);
    EXPECT_EQ(t->sent[0].size, c.discInfo ? 4096u : 0u);
  }
}

}  // namespace
