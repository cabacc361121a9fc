// Device control: speeds on CD and DVD media with the drive families that
// need CD-style values, buffer-underrun protection of both kinds, power
// calibration, the tray and the DVD region fields.
#include <fstream>

#include "drive_rig.h"

namespace devtest {
namespace {

void Add32(Bytes& b, uint32_t v) {
  const Bytes x = Be32(v);
  b.insert(b.end(), x.begin(), x.end());
}
// GET PERFORMANCE as MMC lays it out: an 8-byte header, 16-byte
// descriptors of four numbers each.
Bytes Performance(uint8_t byte4, const std::vector<std::array<uint32_t, 4>>& descriptors) {
  Bytes b(8, 0);
  b[4] = byte4;
  for (const auto& d : descriptors)
    for (uint32_t v : d) Add32(b, v);
  const Bytes length = Be32(static_cast<uint32_t>(b.size() - 4));
  std::copy(length.begin(), length.end(), b.begin());
  return b;
}

// Nominal read performance ending at 5540 and 11080 kB/s, write at 8310,
// and write speeds of 5540 and 16620 kB/s.
std::vector<json> DvdPerformance() {
  std::vector<json> rules = Answer(0xAC, Performance(0, {{0, 2770, 2295103, 5540}, {0, 5540, 2295103, 11080}}),
                                   CdbByte(1, 0x10, 0x1F));
  rules = With(rules, Answer(0xAC, Performance(2, {{0, 4155, 2295103, 8310}}), CdbByte(1, 0x14, 0x1F)));
  rules = With(rules, Answer(0xAC, Performance(0, {{0, 2295103, 11080, 5540}, {0, 2295103, 11080, 16620}}), CdbByte(10, 3)));
  return rules;
}

// Page 2Ah's speeds: maximum read 7056, current read 5645, maximum write
// 7056, current write 1411.
std::vector<json> PageSpeeds() {
  const json page = CdbByte(2, 0x2A);
  return {Garble(0x5A, 8 + 8, Be16(7056), page), Garble(0x5A, 8 + 14, Be16(5645), page),
          Garble(0x5A, 8 + 18, {0x1B, 0x90, 0x05, 0x83}, page)};
}

// The CD-style values of a quirk's drives on DVD, and a drive without GET
// PERFORMANCE whose DVD values stay 0; no GET PERFORMANCE for a CD.
TEST_F(DeviceTest, SpeedsComeFromThePageOrFromGetPerformance) {
  const struct {
    const char *media, *model;
    bool performance;
    std::vector<uint32_t> speeds;  // current and maximum read, current and maximum write
  } cases[] = {{"cd-r", "ACME:X", true, {5645, 7056, 1411, 7056}},
               {"dvd-r", "ACME:X", true, {11080, 11080, 8310, 16620}},
               {"dvd-r", "LITE-ON:X", true, {5645, 7056, 1411, 16620}},
               {"dvd-r", "ACME:X", false, {0, 0, 0, 0}}};
  for (const auto& c : cases) {
    std::vector<json> rules = PageSpeeds();
    rules = With(rules, c.performance ? DvdPerformance() : std::vector<json>{Refuse(0xAC, 5, 0x20, 0, Always())});
    std::vector<uint32_t> got(4, 1);
    auto& g = Create(c.media, c.model, rules);
    const size_t before = Count(0xAC);
    g.GetCdvdSpeeds(&got[0], &got[1], &got[2], &got[3]);
    EXPECT_EQ(got, c.speeds) << c.media << " " << c.model;
    if (c.media[0] == 'c') { EXPECT_EQ(Count(0xAC), before); }
  }
}

TEST_F(DeviceTest, AnOldCapabilitiesPageHasNoCurrentWriteSpeed) {
  // A page of 20 bytes (length 12h): its maximum write speed is 4234.
  const json page = CdbByte(2, 0x2A);
  uint32_t cr, mr, cw = 1, mw;
  Create("cd-r", nullptr,
         {Garble(0x5A, 0, Be16(6 + 20), page), Garble(0x5A, 9, {0x12}, page), Garble(0x5A, 8 + 18, Be16(4234), page),
          Cut(0x5A, 8 + 20, page)})
      .GetCdvdSpeeds(&cr, &mr, &cw, &mw);
  EXPECT_EQ(mw, 4234u);
  EXPECT_EQ(cw, 0u);
}

TEST_F(DeviceTest, GetSpeedsFailsWithoutTheCapabilitiesPage) {
  auto& g = Create("cd-r");
  Arm({Refuse(0x5A, 5, 0x24, 0, CdbByte(2, 0x2A))});
  uint32_t s[4];
  Fails(8, [&] { g.GetCdvdSpeeds(s, s + 1, s + 2, s + 3); });
}

// A length counting descriptors only: the DVD values stay 0, no failure.
TEST_F(DeviceTest, AMalformedPerformanceAnswerLeavesTheDvdValuesZero) {
  Bytes answer(8 + 16, 0x11);
  answer[0] = answer[1] = answer[2] = 0;
  answer[3] = 16;
  auto& g = Create("dvd-r", nullptr, Answer(0xAC, answer));
  uint32_t s[4] = {9, 9, 9, 9};
  EXPECT_EQ(Catch([&] { g.GetCdvdSpeeds(s, s + 1, s + 2, s + 3); }), nullptr);
  EXPECT_EQ((std::vector<uint32_t>(s, s + 4)), (std::vector<uint32_t>{0, 0, 0, 0}));
}

Bytes Streaming(uint32_t end, uint32_t read, uint32_t readTime, uint32_t write, uint32_t writeTime) {
  Bytes d(8, 0);
  for (uint32_t v : {end, read, readTime, write, writeTime}) Add32(d, v);
  return d;
}

TEST_F(DeviceTest, SetSpeedsUseSetCdSpeedOrSetStreaming) {
  const struct {
    const char *media, *model;
    std::vector<json> rules;
    uint32_t read, write;
    Bytes setCdSpeed;  // empty: none sent
    Bytes streaming;   // the descriptor; empty: none sent
  } cases[] = {
      // Speeds are 16-bit: the high bits go.
      {"cd-rw", nullptr, {}, 0x12345, 0xFFFF, {0xBB, 0, 0x23, 0x45, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, {}},
      // The end of a DVD+R's write speed descriptors is its last block.
      {"dvd+r", nullptr, {}, 11080, 5540, {}, Streaming(2295103, 11080, 1000, 5540, 1000)},
      // A drive that reports an end LBA of 0 streams up to 2298495.
      {"dvd+r", "HP:DVD Writer 640v", {}, 11080, 5540, {}, Streaming(2298495, 11080, 1000, 5540, 1000)},
      {"dvd+r", nullptr, {Refuse(0xAC, 5, 0x20, 0, Always())}, 2770, 2770, {}, Streaming(2298495, 2770, 1000, 2770, 1000)}};
  for (const auto& c : cases) {
    Create(c.media, c.model, c.rules).SetCdvdSpeeds(c.read, c.write);
    EXPECT_EQ(Cdb(0xBB), c.setCdSpeed) << c.media;
    EXPECT_EQ(Out(0xB6), c.streaming) << c.media;
    if (!c.streaming.empty()) { EXPECT_EQ(Cdb(0xB6), (Bytes{0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0})); }
  }
}

TEST_F(DeviceTest, SetReadSpeedOnCdSetsOnlyTheReadSpeedOnDvdStreamsAReadDescriptor) {
  Create("cd-r").SetCdvdReadSpeed(1764);
  EXPECT_EQ(Cdb(0xBB), (Bytes{0xBB, 0, 0x06, 0xE4, 0, 0, 0, 0, 0, 0, 0, 0}));
  auto& g = Create("dvd-rom");
  g.SetCdvdReadSpeed(5540);
  EXPECT_EQ(Out(0xB6), Streaming(0, 5540, 1000, 0, 0));
  Arm({Refuse(0xB6, 5, 0x20, 0, Always())});
  Fails(8, [&] { g.SetCdvdReadSpeed(5540); });
}

// Buffer-underrun protection: page 30h (JustLink style) and page 05h's
// BUFE bit with page 2Ah's BUF bit (BURN-Proof style).
class Bup : public DeviceTest {
 protected:
  // The drive's model with page 30h, as a model file edited by hand.
  void WithPage30() {
    const auto path = home.path() / "CdRom0" / "model.json";
    json model = json::parse(qvtest::ReadFile(path));
    model["page30"] = true;
    std::ofstream(path) << model.dump();
  }
};

// Page 2Ah's byte 4 without BUF, page 05h's byte 2 without BUFE, and
// page 30h's enable bit.
const json kNoBuf = Garble(0x5A, 8 + 4, {0x71}, CdbByte(2, 0x2A, 0x3F));
const json kNoBufe = Garble(0x5A, 8 + 2, {0x01}, CdbByte(2, 0x05));
const json kJustLinkOn = Garble(0x5A, 8 + 3, {0x01}, CdbByte(2, 0x30));

TEST_F(Bup, EitherStyleCounts) {
  const struct {
    bool page30;
    std::vector<json> rules;
    uint8_t supported, enabled;
  } cases[] = {{false, {}, 1, 1},                              // BURN-Proof on
               {true, {kNoBuf, kNoBufe, kJustLinkOn}, 1, 1},  // JustLink on
               {false, {kNoBuf, kNoBufe}, 0, 0}};             // neither
  for (const auto& c : cases) {
    auto& g = Create("cd-r");
    if (c.page30) WithPage30();
    Arm(c.rules);
    const size_t before = Count(0x5A);
    uint8_t enabled = 9, supported = 9;
    g.GetBUP(&enabled, &supported);
    EXPECT_EQ((Bytes{supported, enabled}), (Bytes{c.supported, c.enabled}));
    // Defaults for the support bits, current values for the enable bits.
    Bytes pages;
    for (size_t i = 0; i < 4; ++i) pages.push_back(Cdb(0x5A, before + i).at(2));
    EXPECT_EQ(pages, (Bytes{0xB0, 0x30, 0xAA, 0x05}));
  }
}

// The last page the drive was sent of a code, from its page code on.
Bytes LastPage(const std::vector<qv::vdrive::LoggedCommand>& sent, uint8_t code) {
  Bytes page;
  for (const auto& c : sent)
    if (c.cdb[0] == 0x55 && c.out.size() > 10 && (c.out[8] & 0x3F) == code) page.assign(c.out.begin() + 8, c.out.end());
  return page;
}

TEST_F(Bup, SetSetsBothStylesAndRecordingRemembersTheRequest) {
  const struct {
    const char* model;
    bool page30, enable;
    uint8_t bufe;  // BUFE left in page 05h
  } cases[] = {{"PLEXTOR:PX-W4824A", false, true, 1},
               {"PLEXTOR:PX-W4824A", true, false, 0},
               {"SAMSUNG:CDRW/DVD SM-308B", false, true, 0}};  // BURN-Proof broken: BUFE stays off
  for (const auto& c : cases) {
    auto& g = Create("cd-r", c.model);
    if (c.page30) WithPage30();
    g.SetBUP(c.enable);
    EXPECT_EQ(g.IsBufferUnderrunProtection(), c.enable);
    EXPECT_EQ(LastPage(Sent(), 0x05).at(2) & 0x40, c.bufe ? 0x40 : 0) << c.model;
    if (c.page30) {
      // The page code without its savable bit, the support bit, the enable bit.
      const Bytes page = LastPage(Sent(), 0x30);
      EXPECT_EQ((Bytes{page.at(0), page.at(2), page.at(3)}), (Bytes{0x30, 1, static_cast<uint8_t>(c.enable)}));
    }
    g.SetWriteParameters(1, 8, 4, false, false, 0, 0, 0, 0, 0, false);
    EXPECT_EQ(LastPage(Sent(), 0x05).at(2) & 0x40, c.bufe ? 0x40 : 0) << c.model;
  }
}

TEST_F(DeviceTest, OpcSendsDoOpcWithoutData) {
  auto& g = Create("cd-r");
  g.SendOPC();
  EXPECT_EQ(Cdb(0x54), (Bytes{0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
  Arm({Refuse(0x54, 3, 0x73, 0x03)});  // power calibration area error
  Fails(8, [&] { g.SendOPC(); });
}

TEST_F(DeviceTest, TrayComesFromTheMediaEvent) {
  const struct {
    std::vector<json> rules;
    uint8_t present, open;
    uint32_t number;  // 0: success
  } cases[] = {{Answer(0x4A, {0, 6, 0x04, 0x10, 2, 0x02, 0, 0}), 1, 0, 0},  // closed, disc
               {Answer(0x4A, {0, 2, 0x84, 0x10}), 0, 0, 10},                // no event
               {{Refuse(0x4A, 5, 0x20, 0, Always())}, 0, 0, 8}};
  auto& g = Create("cd-r");
  for (const auto& c : cases) {
    Arm(c.rules);
    uint8_t present = 9, open = 9;
    auto e = Catch([&] { g.GetMediaTrayStatus(&present, &open); });
    EXPECT_EQ(e ? e->Number() : 0u, c.number);
    if (c.number == 0) { EXPECT_EQ((Bytes{present, open}), (Bytes{c.present, c.open})); }
  }
  EXPECT_EQ(Cdb(0x4A), (Bytes{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}));
}

TEST_F(DeviceTest, DvdProtectionSystemRegionMaskAndRpcState) {
  std::vector<json> rules = Answer(0xAD, {0, 6, 0, 0, 0x01, 0xFE, 0, 0}, CdbByte(7, 0x01));
  rules = With(rules, Answer(0xA4, {0, 6, 0, 0, 0x63, 0xFD, 0x01, 0}));
  auto& g = Create("dvd-rom", nullptr, rules);
  uint8_t type = 0, mask = 0;
  g.GetDVDProtectionSystem(&type);
  g.GetDVDRegionMask(&mask);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(mask, 0xFE);
  EXPECT_EQ(Cdb(0xAD), (Bytes{0xAD, 0, 0, 0, 0, 0, 0, 0x01, 0x10, 0x00, 0, 0}));
  uint8_t code = 0, vendorResets = 0, userChanges = 0, rpcMask = 0, scheme = 0;
  g.GetRPC(&code, &vendorResets, &userChanges, &rpcMask, &scheme);
  EXPECT_EQ((Bytes{code, vendorResets, userChanges, rpcMask, scheme}), (Bytes{1, 4, 3, 0xFD, 1}));
  EXPECT_EQ(Cdb(0xA4), (Bytes{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0x08, 0}));

  // Answers that stop before their fields.
  rules = Answer(0xAD, {0, 2, 0, 0, 0x01, 0xFE}, CdbByte(7, 0x01));
  rules = With(rules, Answer(0xA4, {0, 6, 0, 0, 0x63}));
  Arm(rules);
  for (const auto& call : std::vector<std::function<void()>>{[&] { g.GetDVDProtectionSystem(&type); },
                                                            [&] { g.GetDVDRegionMask(&mask); },
                                                            [&] { g.GetRPC(&code, &vendorResets, &userChanges, &rpcMask, &scheme); }})
    Fails(10, call);
}

}  // namespace
}  // namespace devtest
