// Device control: speeds on CD and DVD media with the drive families that
// need CD-style values, buffer-underrun protection of both kinds, power
// calibration, the tray and the DVD region fields.
#include "fake_drive.h"

namespace {

using devtest::Bytes;
using devtest::Catch;
using devtest::Reply;
using devtest::Rig;

struct Performance {
  std::vector<uint32_t> readEnds, writeEnds;                 // nominal performance, end of each descriptor
  std::vector<std::pair<uint32_t, uint32_t>> writeSpeeds;    // (read, write) of each write speed descriptor
  uint32_t endLba = 2295103;
};

// GET PERFORMANCE as MMC lays it out: an 8-byte header, 16-byte descriptors.
void ServePerformance(devtest::FakeDrive& d, const Performance& p) {
  d.On(0xAC, [&p](const Bytes& cdb, const Bytes&) {
    const uint8_t dataType = cdb[1] & 0x1F, type = cdb[10];
    Bytes b(8, 0);
    auto add = [&](uint32_t a, uint32_t bb, uint32_t c, uint32_t dd) {
      for (uint32_t v : {a, bb, c, dd}) {
        const Bytes x = devtest::Be32(v);
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
    devtest::Put32(b, 0, static_cast<uint32_t>(b.size() - 4));
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

class Speeds : public ::testing::TestWithParam<SpeedCase> {
 protected:
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
};

TEST_P(Speeds, ComeFromThePageOrFromGetPerformance) {
  const SpeedCase& c = GetParam();
  Rig rig;
  rig.drive.vendor = c.vendor;
  rig.drive.profile = c.profile;
  rig.drive.currentPages[0x2A] = devtest::CapabilitiesPage(0x3B, 0x37, 2048, 7056, 5645, 7056, 1411);
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

TEST(SpeedAnswers, AnOldCapabilitiesPageHasNoCurrentWriteSpeed) {
  qvtest::VirtualTime time;
  Rig rig;
  Bytes page = devtest::CapabilitiesPage(0x3B, 0x37, 2048, 7056, 5645, 4234, 1411);
  page.resize(20);
  page[1] = 0x12;
  rig.drive.currentPages[0x2A] = page;
  uint32_t cr, mr, cw = 1, mw;
  rig.Create().GetCdvdSpeeds(&cr, &mr, &cw, &mw);
  EXPECT_EQ(mw, 4234u);
  EXPECT_EQ(cw, 0u);
}

TEST(SpeedAnswers, GetSpeedsFailsWithoutTheCapabilitiesPage) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  auto& g = rig.Create();
  rig.drive.currentPages.erase(0x2A);
  uint32_t s[4];
  auto e = Catch([&] { g.GetCdvdSpeeds(s, s + 1, s + 2, s + 3); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 8u);
}

TEST(SpeedAnswers, MalformedPerformanceAnswersLeaveTheDvdValuesZero) {
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
  rig.drive.profile = 0x0011;
  auto& g = rig.Create();
  // Too short for a descriptor; a length counting descriptors only; a
  // descriptor cut by the transfer.
  const std::vector<Reply> replies = {
      Reply::Good(Bytes{0, 0, 0, 4, 0, 0, 0, 0}),
      Reply::Good([] {
        Bytes b(8 + 16, 0x11);
        devtest::Put32(b, 0, 16);
        return b;
      }()),
      [] {
        Bytes b(8 + 16, 0x22);
        devtest::Put32(b, 0, 20);
        Reply r = Reply::Good(b);
        r.transferred = 20;
        return r;
      }()};
  for (const Reply& reply : replies) {
    rig.drive.On(0xAC, [&](const Bytes&, const Bytes&) { return reply; });
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
  std::function<void(devtest::FakeDrive&)> set;
  uint32_t read, write;
  Bytes setCdSpeed;  // empty: none sent
  Bytes streaming;   // the descriptor; empty: none sent
};

class SetSpeeds : public ::testing::TestWithParam<SetSpeedCase> {
 protected:
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
};

Bytes Streaming(uint32_t end, uint32_t read, uint32_t readTime, uint32_t write, uint32_t writeTime) {
  Bytes d(28, 0);
  devtest::Put32(d, 8, end);
  devtest::Put32(d, 12, read);
  devtest::Put32(d, 16, readTime);
  devtest::Put32(d, 20, write);
  devtest::Put32(d, 24, writeTime);
  return d;
}

TEST_P(SetSpeeds, UseSetCdSpeedOrSetStreaming) {
  const SetSpeedCase& c = GetParam();
  Rig rig;
  rig.drive.profile = c.profile;
  rig.drive.On(0xBB, [](const Bytes&, const Bytes&) { return Reply::Good(); });
  rig.drive.On(0xB6, [](const Bytes&, const Bytes&) { return Reply::Good(); });
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
        SetSpeedCase{"DvdEndFromDrive", 0x0011, [](devtest::FakeDrive& d) { ServePerformance(d, g_endLba); }, 11080,
                     5540, {}, Streaming(2295103, 11080, 1000, 5540, 1000)},
        // A drive that reports an end LBA of 0 streams up to 2298495.
        SetSpeedCase{"DvdZeroEnd", 0x001B, [](devtest::FakeDrive& d) { ServePerformance(d, g_zeroEnd); }, 11080,
                     5540, {}, Streaming(2298495, 11080, 1000, 5540, 1000)},
        SetSpeedCase{"DvdWithoutPerformance", 0x0011, nullptr, 2770, 2770, {}, Streaming(2298495, 2770, 1000, 2770, 1000)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetReadSpeed, CdSetsOnlyTheReadSpeedDvdStreamsAReadDescriptor) {
  qvtest::VirtualTime time;
  Rig rig;
  rig.drive.profile = 0x0008;
  rig.drive.On(0xBB, [](const Bytes&, const Bytes&) { return Reply::Good(); });
  rig.drive.On(0xB6, [](const Bytes&, const Bytes&) { return Reply::Good(); });
  auto& g = rig.Create();
  g.SetCdvdReadSpeed(1764);
  EXPECT_EQ(rig.drive.Cdb(0xBB), (Bytes{0xBB, 0, 0x06, 0xE4, 0, 0, 0, 0, 0, 0, 0, 0}));
  rig.drive.profile = 0x0010;
  g.SetCdvdReadSpeed(5540);
  EXPECT_EQ(rig.drive.Out(0xB6), Streaming(0, 5540, 1000, 0, 0));
  rig.drive.Off(0xB6);
  auto e = Catch([&] { g.SetCdvdReadSpeed(5540); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 8u);
}

// Buffer-underrun protection: page 30h (JustLink style) and page 05h's
// BUFE bit with page 2Ah's BUF bit (BURN-Proof style).
struct BupCase {
  const char* name;
  bool page30, supported30, enabled30;
  bool buf2A, bufe05;
  uint8_t supported, enabled;
};

class GetBup : public ::testing::TestWithParam<BupCase> {
 protected:
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
};

TEST_P(GetBup, EitherStyleCounts) {
  const BupCase& c = GetParam();
  Rig rig;
  if (c.page30) {
    rig.drive.defaultPages[0x30] = {0x30, 2, static_cast<uint8_t>(c.supported30), 0};
    rig.drive.currentPages[0x30] = {0x30, 2, static_cast<uint8_t>(c.supported30), static_cast<uint8_t>(c.enabled30)};
  }
  rig.drive.defaultPages[0x2A] = devtest::CapabilitiesPage(0x3B, 0x37, 2048, 1, 1, 1, 1, c.buf2A ? 0x80 : 0);
  if (c.bufe05) rig.drive.currentPages[0x05][2] |= 0x40;
  uint8_t enabled = 9, supported = 9;
  rig.Create().GetBUP(&enabled, &supported);
  EXPECT_EQ(supported, c.supported);
  EXPECT_EQ(enabled, c.enabled);
  // Defaults for the support bits, current values for the enable bits.
  for (const Bytes& cdb : {rig.drive.Cdb(0x5A, 1), rig.drive.Cdb(0x5A, 2), rig.drive.Cdb(0x5A, 3), rig.drive.Cdb(0x5A, 4)})
    ASSERT_EQ(cdb.size(), 10u);
  EXPECT_EQ(rig.drive.Cdb(0x5A, 1)[2], 0xB0);
  EXPECT_EQ(rig.drive.Cdb(0x5A, 2)[2], 0x30);
  EXPECT_EQ(rig.drive.Cdb(0x5A, 3)[2], 0xAA);
  EXPECT_EQ(rig.drive.Cdb(0x5A, 4)[2], 0x05);
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

class SetBup : public ::testing::TestWithParam<SetBupCase> {
 protected:
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
};

TEST_P(SetBup, SetsBothStylesAndRemembersTheRequest) {
  const SetBupCase& c = GetParam();
  Rig rig;
  rig.drive.vendor = c.vendor;
  rig.drive.product = c.product;
  if (c.page30) rig.drive.defaultPages[0x30] = rig.drive.currentPages[0x30] = {0xB0, 2, 0, 0};
  rig.drive.defaultPages[0x05] = devtest::WriteParametersPage();
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

TEST(Opc, SendsDoOpcWithoutData) {
  qvtest::VirtualTime time;
  Rig rig;
  rig.drive.On(0x54, [](const Bytes&, const Bytes&) { return Reply::Good(); });
  auto& g = rig.Create();
  g.SendOPC();
  EXPECT_EQ(rig.drive.Cdb(0x54), (Bytes{0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
  rig.drive.On(0x54, [](const Bytes&, const Bytes&) { return Reply::Sense(3, 0x73, 0x03); });  // power calibration area error
  auto e = Catch([&] { g.SendOPC(); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 8u);
}

struct TrayCase {
  Reply reply;
  uint8_t present, open;
  uint32_t number;  // 0: success
};

class Tray : public ::testing::TestWithParam<TrayCase> {
 protected:
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
};

TEST_P(Tray, ComesFromTheMediaEvent) {
  Rig rig;
  rig.drive.On(0x4A, [](const Bytes&, const Bytes&) { return GetParam().reply; });
  uint8_t present = 9, open = 9;
  auto& g = rig.Create();
  auto e = Catch([&] { g.GetMediaTrayStatus(&present, &open); });
  EXPECT_EQ(rig.drive.Cdb(0x4A), (Bytes{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}));
  if (GetParam().number != 0) {
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Number(), GetParam().number);
    return;
  }
  ASSERT_EQ(e, nullptr);
  EXPECT_EQ(present, GetParam().present);
  EXPECT_EQ(open, GetParam().open);
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

TEST(DvdRegion, ProtectionSystemRegionMaskAndRpcState) {
  qvtest::VirtualTime time;
  Rig rig;
  rig.drive.On(0xAD, [](const Bytes& cdb, const Bytes&) {
    if (cdb[7] != 0x01) return Reply::InvalidField();
    return Reply::Good(Bytes{0, 6, 0, 0, 0x01, 0xFE, 0, 0});
  });
  rig.drive.On(0xA4, [](const Bytes&, const Bytes&) { return Reply::Good(Bytes{0, 6, 0, 0, 0x63, 0xFD, 0x01, 0}); });
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
  rig.drive.On(0xAD, [](const Bytes&, const Bytes&) { return Reply::Good(Bytes{0, 2, 0, 0, 0x01, 0xFE}); });
  rig.drive.On(0xA4, [](const Bytes&, const Bytes&) {
    Reply r = Reply::Good(Bytes{0, 6, 0, 0, 0x63, 0xFD, 0x01, 0});
    r.transferred = 5;
    return r;
  });
  for (const auto& call : std::vector<std::function<void()>>{[&] { g.GetDVDProtectionSystem(&type); },
                                                            [&] { g.GetDVDRegionMask(&mask); },
                                                            [&] { g.GetRPC(&code, &vendorResets, &userChanges, &rpcMask, &scheme); }}) {
    auto e = Catch(call);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Number(), 10u);
  }
}

}  // namespace
