// Mode page 05h as SetWriteParameters builds it for each recording case,
// and as RestoreWriteParameters and ReSetWriteParameters send it back.
#include "fake_drive.h"

namespace devtest {
namespace {

struct PageCase {
  const char* name;
  uint8_t writeType, dataBlockType, trackMode;
  bool testWrite, multiSession;
  uint8_t sessionFormat;
  bool linkSizeValid;
  // Expected bytes 2, 3, 4, 5 and 8 of the page sent.
  uint8_t b2, b3, b4, b5, b8;
};

using WriteParameters = DeviceCases<PageCase>;

TEST_P(WriteParameters, BuildPage05h) {
  const PageCase& c = GetParam();
  // Bits the call must keep: copy and FP in byte 3, byte 4's upper nibble
  // and everything it does not set.
  Bytes page = WriteParametersPage();
  page[3] |= 0x30;
  page[4] |= 0xA0;
  page[2] |= 0x80;
  rig.drive.currentPages[0x05] = page;
  auto& g = rig.Create();
  g.SetWriteParameters(c.writeType, c.dataBlockType, c.trackMode, c.testWrite, c.multiSession, c.sessionFormat, 0x11,
                       0x22, 0x33, 0x44, c.linkSizeValid);
  const Bytes sent = rig.drive.Out(0x55);
  ASSERT_EQ(sent.size(), 8u + 52u);
  EXPECT_EQ(rig.drive.Cdb(0x55), (Bytes{0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}));
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 8), Bytes(8, 0));  // empty header
  const Bytes p(sent.begin() + 8, sent.end());
  EXPECT_EQ(p[0], 0x05);  // PS cleared
  EXPECT_EQ(p[1], 0x32);
  EXPECT_EQ(p[2], c.b2);
  EXPECT_EQ(p[3], c.b3);
  EXPECT_EQ(p[4], c.b4);
  EXPECT_EQ(p[5], c.b5);
  EXPECT_EQ(p[8], c.b8);
  EXPECT_EQ((Bytes{p[48], p[49], p[50], p[51]}), (Bytes{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(p[15], 150);  // untouched
  // The page is read back for the log.
  EXPECT_EQ(rig.drive.Count(0x5A), 1u + 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteParameters,
    ::testing::Values(PageCase{"CdMode1", 1, 8, 4, false, false, 0x00, false, 0x81, 0x34, 0xA8, 0, 0x00},
                      PageCase{"CdMode2Form1Test", 1, 10, 4, true, true, 0x20, false, 0x91, 0xF4, 0xAA, 0, 0x20},
                      PageCase{"CdMode2Form2", 1, 13, 4, false, false, 0x20, false, 0x81, 0x34, 0xAD, 0, 0x20},
                      PageCase{"CdAudio", 1, 0, 0, false, true, 0x00, false, 0x81, 0xF0, 0xA0, 0, 0x00},
                      PageCase{"DvdSingleSession", 2, 8, 5, true, false, 0x00, true, 0xB2, 0x35, 0xA8, 16, 0x00},
                      PageCase{"DvdRMultisession", 0, 8, 5, false, true, 0x00, true, 0xA0, 0xF5, 0xA8, 16, 0x00},
                      PageCase{"DaoRawPW", 3, 3, 4, false, false, 0x00, false, 0x83, 0x34, 0xA3, 0, 0x00}),
    [](const auto& info) { return std::string(info.param.name); });

using WriteParameterAnswers = DeviceTest;

TEST_F(WriteParameterAnswers, APageTooShortForTheSubHeaderIsRefusedWithTen) {
  Bytes page = WriteParametersPage();
  page.resize(36);
  page[1] = 34;
  rig.drive.currentPages[0x05] = page;
  auto& g = rig.Create();
  Fails(10, [&] { g.SetWriteParameters(1, 8, 4, false, false, 0, 0, 0, 0, 0, false); });
  EXPECT_EQ(rig.drive.Count(0x55), 0u);
}

TEST_F(WriteParameterAnswers, ARefusedSelectIsTheFailure) {
  rig.drive.rejectWriteParameters = [](const Bytes&) { return true; };
  auto& g = rig.Create();
  auto e = Fails(8, [&] { g.SetWriteParameters(1, 8, 4, false, false, 0, 0, 0, 0, 0, false); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x26);
  EXPECT_EQ(log.Count("CQuorvane_CdvdBurnerGrabber::SetWriteParameters(): EXITing with failure"), 1u);
}

// RestoreWriteParameters: the drive's page back, with write type 1 on CD
// media for the drives that lose it.
struct RestoreCase {
  const char* vendor;
  const char* product;
  uint8_t writeType;
  uint32_t discType;
  uint8_t expectedWriteType;
};

using Restore = DeviceCases<RestoreCase>;

TEST_P(Restore, CorrectsOnlyTheListedDrivesOnCdMedia) {
  const RestoreCase& c = GetParam();
  rig.drive.vendor = c.vendor;
  rig.drive.product = c.product;
  Bytes page = WriteParametersPage();
  page[2] = static_cast<uint8_t>(0x50 | c.writeType);
  rig.drive.currentPages[0x05] = page;
  auto& g = rig.Create();
  g.RestoreWriteParameters(c.discType);
  const Bytes sent = rig.drive.Out(0x55);
  ASSERT_EQ(sent.size(), 60u);
  EXPECT_EQ(sent[8], 0x05);
  EXPECT_EQ(sent[8 + 2], 0x50 | c.expectedWriteType);
  EXPECT_EQ(Bytes(sent.begin() + 8 + 3, sent.end()), Bytes(page.begin() + 3, page.end()));
  EXPECT_EQ(log.Count("RestoreWriteParameters(): *** Broken Lite-On workaround (enabled for CD-R/CD-RW media)"),
            c.writeType != c.expectedWriteType ? 1u : 0u);

  // ReSetWriteParameters sends the page as it stands, for every drive.
  rig.drive.currentPages[0x05] = page;
  g.ReSetWriteParameters();
  const Bytes again = rig.drive.Out(0x55, 1);
  ASSERT_EQ(again.size(), 60u);
  EXPECT_EQ(again[8 + 2], page[2]);
}

INSTANTIATE_TEST_SUITE_P(Drives, Restore,
                         ::testing::Values(RestoreCase{"LITE-ON", "DVDRW LDW-411S", 0, 2, 1},
                                           RestoreCase{"TEAC", "DV-W58G", 0, 3, 1},
                                           RestoreCase{"SONY", "DVD RW DW-U18A", 0, 1, 1},
                                           RestoreCase{"LITE-ON", "SOHW-812S", 0, 0, 1},
                                           RestoreCase{"LITE-ON", "DVDRW LDW-811S", 0, 2, 1},
                                           // DVD media, another write type, another drive: unchanged.
                                           RestoreCase{"LITE-ON", "SOHW-812S", 0, 5, 0},
                                           RestoreCase{"LITE-ON", "SOHW-812S", 2, 2, 2},
                                           RestoreCase{"LITE-ON", "SOHW-1213S", 0, 2, 0}));

}  // namespace
}  // namespace devtest
