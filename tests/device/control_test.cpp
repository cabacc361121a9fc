// Device control: speeds on CD and DVD media with the drive families that
// need CD-style values, buffer-underrun protection of both kinds, power
// calibration, the tray and the DVD region fields.
#include "fake_drive.h"

namespace devtest {
namespace {

struct Performance {
  std::vector<uint32_t> readEnds, writeEnds;                 // nominal performance, end of each descriptor
  std::vector<std::pair<uint32_t, uint32_t>> writeSpeeds;    // (read, write) of each write speed descriptor
  uint32_t endLba = 2295103;
};

// GET PERFORMANCE as MMC lays it out: an 8-byte header, 16-byte descriptors.
void ServePerformance(FakeDrive& d, const Performance& p) {
  d.On(0xAC, [&p](const Bytes& cdb, const Bytes&) {
    const uint8_t dataType = cdb[1] & 0x1F, type = cdb[10];
    Bytes b(8, 0);
    auto add = [&](uint32_t a, uint32_t bb, uint32_t c, uint32_t dd) {
      for (uint32_t v : {a, bb, c, dd}) {
        const Bytes x = Be32(v);
        b.insert(b.end(), x.begin(), x.end());
      }
    };
    if (type == 0 && dataType == 0x10) {
      for (uint32_t e : p.readEnds) add(0, e / 2, p.endLba, e);
    } else if (type == 0 && dataType == 0x14) {
      b[4] = 0x02;  // write
      for (uint32_t e : p.writeEnds) add(0, e / 2, p.endLba, e);
    } else if (type == 3) {
      const size_t limit = size_t{cdb[8]} << 8 | cdb[9];
      for (size_t i = 0; i < p.writeSpeeds.size() && i < limit; ++i)
        add(0, p.endLba, p.writeSpeeds[i].first, p.writeSpeeds[i].second);
    } else {
      return Reply::InvalidField();
    }
    Put32(b, 0, static_cast<uint32_t>(b.size() - 4));
    return Reply::Good(b);
  });
}

struct SpeedCase {
  const char* name;
  uint16_t profile;
  const char* vendor;
  bool performance;
  uint32_t cr, mr, cw, mw;
};

using Speeds = DeviceCases<SpeedCase>;

TEST_P(Speeds, ComeFromThePageOrFromGetPerformance) {
  const SpeedCase& c = GetParam();
  rig.drive.vendor = c.vendor;
  rig.drive.profile = c.profile;
  rig.drive.currentPages[0x2A] = CapabilitiesPage(0x3B, 0x37, 2048, 7056, 5645, 7056, 1411);
  const Performance p{{5540, 11080}, {8310}, {{11080, 5540}, {11080, 16620}}};
  if (c.performance) ServePerformance(rig.drive, p);
  uint32_t cr = 1, mr = 1, cw = 1, mw = 1;
  rig.Create().GetCdvdSpeeds(&cr, &mr, &cw, &mw);
  EXPECT_EQ((std::vector<uint32_t>{cr, mr, cw, mw}), (std::vector<uint32_t>{c.cr, c.mr, c.cw, c.mw}));
  EXPECT_EQ(log.Count("GetCdvdSpeeds(): [ CD ] Current Read 5645, Maximum Read 7056, Current Write 1411, Maximum "
                      "Write 7056"),
            1u);
  if (c.profile < 0x10) {
    EXPECT_EQ(rig.drive.Count(0xAC), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drives, Speeds,
    ::testing::Values(SpeedCase{"Cd", 0x0009, "ACME", true, 5645, 7056, 1411, 7056},
                      SpeedCase{"DvdGeneric", 0x0011, "ACME", true, 11080, 11080, 8310, 16620},
                      SpeedCase{"DvdLiteOn", 0x0011, "LITE-ON", true, 5645, 7056, 1411, 16620},
                      SpeedCase{"DvdSlimtype", 0x001B, "Slimtype", true, 5645, 7056, 1411, 16620},
                      SpeedCase{"DvdMatshita", 0x0010, "MATSHITA", true, 5645, 7056, 1411, 16620},
                      // A drive without GET PERFORMANCE: the DVD values stay 0.
                      SpeedCase{"DvdWithoutPerformance", 0x0011, "ACME", false, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

using Control = DeviceTest;

TEST_F(Control, AnOldCapabilitiesPageHasNoCurrentWriteSpeed) {
  Bytes page = CapabilitiesPage(0x3B, 0x37, 2048, 7056, 5645, 4234, 1411);
  page.resize(20);
  page[1] = 0x12;
  rig.drive.currentPages[0x2A] = page;
  uint32_t cr, mr, cw = 1, mw;
  rig.Create().GetCdvdSpeeds(&cr, &mr, &cw, &mw);
  EXPECT_EQ(mw, 4234u);
  EXPECT_EQ(cw, 0u);
}

TEST_F(Control, GetSpeedsFailsWithoutTheCapabilitiesPage) {
  auto& g = rig.Create();
  rig.drive.currentPages.erase(0x2A);
  uint32_t s[4];
  Fails(8, [&] { g.GetCdvdSpeeds(s, s + 1, s + 2, s + 3); });
}

TEST_F(Control, MalformedPerformanceAnswersLeaveTheDvdValuesZero) {
  rig.drive.profile = 0x0011;
  auto& g = rig.Create();
  // Too short for a descriptor; a length counting descriptors only; a
  // descriptor cut by the transfer.
  auto answer = [](uint32_t declared, uint8_t fill) {
    Bytes b(8 + 16, fill);
    Put32(b, 0, declared);
    return b;
  };
  const std::vector<Reply> replies = {Reply::Good(Bytes{0, 0, 0, 4, 0, 0, 0, 0}), Reply::Good(answer(16, 0x11)),
                                      Reply::Cut(answer(20, 0x22), 20)};
  for (const Reply& reply : replies) {
    rig.drive.Returns(0xAC, reply);
    uint32_t s[4] = {9, 9, 9, 9};
    EXPECT_EQ(Catch([&] { g.GetCdvdSpeeds(s, s + 1, s + 2, s + 3); }), nullptr);
    EXPECT_EQ((std::vector<uint32_t>(s, s + 4)), (std::vector<uint32_t>{0, 0, 0, 0}));
  }
  EXPECT_GE(log.Count("GetCurrentSpeedsForDVD(): WARNING! Current read speed returned 4 UCHARs instead of expected at "
                      "least 16 UCHARs"),
            1u);
}

struct SetSpeedCase {
  const char* name;
  uint16_t profile;
  std::function<void(FakeDrive&)> set;
  uint32_t read, write;
  Bytes setCdSpeed;  // empty: none sent
  Bytes streaming;   // the descriptor; empty: none sent
};

using SetSpeeds = DeviceCases<SetSpeedCase>;

Bytes Streaming(uint32_t end, uint32_t read, uint32_t readTime, uint32_t write, uint32_t writeTime) {
  Bytes d(28, 0);
  Put32(d, 8, end);
  Put32(d, 12, read);
  Put32(d, 16, readTime);
  Put32(d, 20, write);
  Put32(d, 24, writeTime);
  return d;
}

TEST_P(SetSpeeds, UseSetCdSpeedOrSetStreaming) {
  const SetSpeedCase& c = GetParam();
  rig.drive.profile = c.profile;
  rig.drive.Returns(0xBB, Reply::Good());
  rig.drive.Returns(0xB6, Reply::Good());
  if (c.set) c.set(rig.drive);
  rig.Create().SetCdvdSpeeds(c.read, c.write);
  EXPECT_EQ(rig.drive.Cdb(0xBB), c.setCdSpeed);
  EXPECT_EQ(rig.drive.Out(0xB6), c.streaming);
  if (!c.streaming.empty()) {
    EXPECT_EQ(rig.drive.Cdb(0xB6), (Bytes{0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}));
  }
}

Performance g_endLba{{}, {}, {{11080, 11080}}, 2295103};
Performance g_zeroEnd{{}, {}, {{11080, 11080}}, 0};

INSTANTIATE_TEST_SUITE_P(
    Media, SetSpeeds,
    ::testing::Values(
        SetSpeedCase{"Cd", 0x0009, nullptr, 7056, 1411, {0xBB, 0, 0x1B, 0x90, 0x05, 0x83, 0, 0, 0, 0, 0, 0}, {}},
        // Speeds are 16-bit: the high bits go.
        SetSpeedCase{"CdHighBits", 0x000A, nullptr, 0x12345, 0xFFFF, {0xBB, 0, 0x23, 0x45, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, {}},
        SetSpeedCase{"DvdEndFromDrive", 0x0011, [](FakeDrive& d) { ServePerformance(d, g_endLba); }, 11080,
                     5540, {}, Streaming(2295103, 11080, 1000, 5540, 1000)},
        // A drive that reports an end LBA of 0 streams up to 2298495.
        SetSpeedCase{"DvdZeroEnd", 0x001B, [](FakeDrive& d) { ServePerformance(d, g_zeroEnd); }, 11080,
                     5540, {}, Streaming(2298495, 11080, 1000, 5540, 1000)},
        SetSpeedCase{"DvdWithoutPerformance", 0x0011, nullptr, 2770, 2770, {}, Streaming(2298495, 2770, 1000, 2770, 1000)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Control, SetReadSpeedOnCdSetsOnlyTheReadSpeedOnDvdStreamsAReadDescriptor) {
  rig.drive.profile = 0x0008;
  rig.drive.Returns(0xBB, Reply::Good());
  rig.drive.Returns(0xB6, Reply::Good());
  auto& g = rig.Create();
  g.SetCdvdReadSpeed(1764);
  EXPECT_EQ(rig.drive.Cdb(0xBB), (Bytes{0xBB, 0, 0x06, 0xE4, 0, 0, 0, 0, 0, 0, 0, 0}));
  rig.drive.profile = 0x0010;
  g.SetCdvdReadSpeed(5540);
  EXPECT_EQ(rig.drive.Out(0xB6), Streaming(0, 5540, 1000, 0, 0));
  rig.drive.Off(0xB6);
  Fails(8, [&] { g.SetCdvdReadSpeed(5540); });
}

// Buffer-underrun protection: page 30h (JustLink style) and page 05h's
// BUFE bit with page 2Ah's BUF bit (BURN-Proof style).
struct BupCase {
  const char* name;
  bool page30, supported30, enabled30;
  bool buf2A, bufe05;
  uint8_t supported, enabled;
};

using GetBup = DeviceCases<BupCase>;

TEST_P(GetBup, EitherStyleCounts) {
  const BupCase& c = GetParam();
  if (c.page30) {
    rig.drive.defaultPages[0x30] = {0x30, 2, static_cast<uint8_t>(c.supported30), 0};
    rig.drive.currentPages[0x30] = {0x30, 2, static_cast<uint8_t>(c.supported30), static_cast<uint8_t>(c.enabled30)};
  }
  rig.drive.defaultPages[0x2A] = CapabilitiesPage(0x3B, 0x37, 2048, 1, 1, 1, 1, c.buf2A ? 0x80 : 0);
  if (c.bufe05) rig.drive.currentPages[0x05][2] |= 0x40;
  uint8_t enabled = 9, supported = 9;
  rig.Create().GetBUP(&enabled, &supported);
  EXPECT_EQ(supported, c.supported);
  EXPECT_EQ(enabled, c.enabled);
  // Defaults for the support bits, current values for the enable bits.
  Bytes pages;
  for (size_t i = 1; i <= 4; ++i) pages.push_back(rig.drive.Cdb(0x5A, i).at(2));
  EXPECT_EQ(pages, (Bytes{0xB0, 0x30, 0xAA, 0x05}));
}

INSTANTIATE_TEST_SUITE_P(Drives, GetBup,
                         ::testing::Values(BupCase{"BurnProofOn", false, false, false, true, true, 1, 1},
                                           BupCase{"BurnProofOff", false, false, false, true, false, 1, 0},
                                           BupCase{"JustLinkOff", true, true, false, false, false, 1, 0},
                                           BupCase{"JustLinkOn", true, true, true, false, false, 1, 1},
                                           BupCase{"Neither", false, false, false, false, false, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SetBupCase {
  const char* vendor;
  const char* product;
  bool page30;
  bool enable;
  uint8_t bufe;  // BUFE left in page 05h
};

using SetBup = DeviceCases<SetBupCase>;

TEST_P(SetBup, SetsBothStylesAndRemembersTheRequest) {
  const SetBupCase& c = GetParam();
  rig.drive.vendor = c.vendor;
  rig.drive.product = c.product;
  if (c.page30) rig.drive.defaultPages[0x30] = rig.drive.currentPages[0x30] = {0xB0, 2, 0, 0};
  rig.drive.defaultPages[0x05] = WriteParametersPage();
  auto& g = rig.Create();
  g.SetBUP(c.enable);
  EXPECT_EQ(g.IsBufferUnderrunProtection(), c.enable);
  EXPECT_EQ(rig.drive.currentPages[0x05][2] & 0x40, c.bufe ? 0x40 : 0);
  if (c.page30) {
    // The page code without its savable bit, the support bit, the enable bit.
    EXPECT_EQ(rig.drive.currentPages[0x30], (Bytes{0x30, 2, 1, static_cast<uint8_t>(c.enable)}));
  }
  EXPECT_EQ(log.Count(std::string("SetBUP(): EXITing with success, enabled: ") +
                      (c.bufe || (c.page30 && c.enable) ? "Yes" : "No")),
            1u);
  // Recording takes the flag into page 05h, with the same exceptions.
  g.SetWriteParameters(1, 8, 4, false, false, 0, 0, 0, 0, 0, false);
  EXPECT_EQ(rig.drive.currentPages[0x05][2] & 0x40, c.bufe ? 0x40 : 0);
}

INSTANTIATE_TEST_SUITE_P(Drives, SetBup,
                         ::testing::Values(SetBupCase{"PLEXTOR", "PX-W4824A", false, true, 1},
                                           SetBupCase{"PLEXTOR", "PX-W4824A", true, true, 1},
                                           SetBupCase{"PLEXTOR", "PX-W4824A", true, false, 0},
                                           SetBupCase{"SAMSUNG", "CDRW/DVD SM-308B", false, true, 0},
                                           SetBupCase{"GENERIC", "DVD RW 4XMax", true, true, 0}));

TEST_F(Control, OpcSendsDoOpcWithoutData) {
  rig.drive.Returns(0x54, Reply::Good());
  auto& g = rig.Create();
  g.SendOPC();
  EXPECT_EQ(rig.drive.Cdb(0x54), (Bytes{0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
  rig.drive.Returns(0x54, Reply::Sense(3, 0x73, 0x03));  // power calibration area error
  Fails(8, [&] { g.SendOPC(); });
}

struct TrayCase {
  Reply reply;
  uint8_t present, open;
  uint32_t number;  // 0: success
};

using Tray = DeviceCases<TrayCase>;

TEST_P(Tray, ComesFromTheMediaEvent) {
  rig.drive.Returns(0x4A, GetParam().reply);
  uint8_t present = 9, open = 9;
  auto& g = rig.Create();
  auto e = Catch([&] { g.GetMediaTrayStatus(&present, &open); });
  EXPECT_EQ(rig.drive.Cdb(0x4A), (Bytes{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}));
  EXPECT_EQ(e ? e->Number() : 0u, GetParam().number);
  if (GetParam().number == 0) {
    EXPECT_EQ(present, GetParam().present);
    EXPECT_EQ(open, GetParam().open);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Events, Tray,
    ::testing::Values(TrayCase{Reply::Good(Bytes{0, 6, 0x04, 0x10, 0, 0x01, 0, 0}), 0, 1, 0},   // open, empty
                      TrayCase{Reply::Good(Bytes{0, 6, 0x04, 0x10, 2, 0x02, 0, 0}), 1, 0, 0},   // closed, disc
                      TrayCase{Reply::Good(Bytes{0, 6, 0x04, 0x10, 0, 0x00, 0, 0}), 0, 0, 0},   // closed, empty
                      TrayCase{Reply::Good(Bytes{0, 2, 0x84, 0x10}), 0, 0, 10},                 // no event
                      TrayCase{Reply::Good(Bytes{0, 6, 0x02, 0x10, 0, 0x02, 0, 0}), 0, 0, 10},  // power class
                      TrayCase{Reply::Good(Bytes{0, 6, 0x04}), 0, 0, 10},                       // cut short
                      TrayCase{Reply::Invalid(), 0, 0, 8}));

TEST_F(Control, DvdProtectionSystemRegionMaskAndRpcState) {
  rig.drive.On(0xAD, [](const Bytes& cdb, const Bytes&) {
    if (cdb[7] != 0x01) return Reply::InvalidField();
    return Reply::Good(Bytes{0, 6, 0, 0, 0x01, 0xFE, 0, 0});
  });
  rig.drive.Returns(0xA4, Reply::Good(Bytes{0, 6, 0, 0, 0x63, 0xFD, 0x01, 0}));
  auto& g = rig.Create();
  uint8_t type = 0, mask = 0;
  g.GetDVDProtectionSystem(&type);
  g.GetDVDRegionMask(&mask);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(mask, 0xFE);
  EXPECT_EQ(rig.drive.Cdb(0xAD), (Bytes{0xAD, 0, 0, 0, 0, 0, 0, 0x01, 0x10, 0x00, 0, 0}));
  uint8_t code = 0, vendorResets = 0, userChanges = 0, rpcMask = 0, scheme = 0;
  g.GetRPC(&code, &vendorResets, &userChanges, &rpcMask, &scheme);
  EXPECT_EQ((Bytes{code, vendorResets, userChanges, rpcMask, scheme}), (Bytes{1, 4, 3, 0xFD, 1}));
  EXPECT_EQ(rig.drive.Cdb(0xA4), (Bytes{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0x08, 0}));

  // Answers that stop before their fields.
  rig.drive.Returns(0xAD, Reply::Good(Bytes{0, 2, 0, 0, 0x01, 0xFE}));
  rig.drive.Returns(0xA4, Reply::Cut(Bytes{0, 6, 0, 0, 0x63, 0xFD, 0x01, 0}, 5));
  for (const auto& call : std::vector<std::function<void()>>{[&] { g.GetDVDProtectionSystem(&type); },
                                                            [&] { g.GetDVDRegionMask(&mask); },
                                                            [&] { g.GetRPC(&code, &vendorResets, &userChanges, &rpcMask, &scheme); }})
    Fails(10, call);
}

}  // namespace
}  // namespace devtest
