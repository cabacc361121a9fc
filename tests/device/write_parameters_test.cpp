// Mode page 05h as SetWriteParameters builds it for each recording case,
// and as RestoreWriteParameters and ReSetWriteParameters send it back.
#include "drive_rig.h"

namespace devtest {
namespace {

json Page05() { return {{"cdb", {2, 0x05, 0x3F}}, {"times", 0}}; }

struct PageCase {
  const char* name;
  const char* media;
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
  // The drive's page with PS set, and bits the call must keep: copy and FP
  // in byte 3, byte 4's upper nibble, byte 2's top bit.
  auto& g = Create(c.media, nullptr, {Garble(0x5A, 8, {0x85, 0x32, 0x81, 0x34, 0xA8}, Page05())});
  // Whether the drive takes the page for its disc is not the point here.
  Catch([&] {
    g.SetWriteParameters(c.writeType, c.dataBlockType, c.trackMode, c.testWrite, c.multiSession, c.sessionFormat,
                         0x11, 0x22, 0x33, 0x44, c.linkSizeValid);
  });
  const Bytes sent = Out(0x55);
  ASSERT_EQ(sent.size(), 8u + 52u);
  EXPECT_EQ(Cdb(0x55), (Bytes{0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}));
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 8), Bytes(8, 0));  // empty header
  const Bytes p(sent.begin() + 8, sent.end());
  EXPECT_EQ((Bytes{p[0], p[1], p[2], p[3], p[4], p[5], p[8]}), (Bytes{0x05, 0x32, c.b2, c.b3, c.b4, c.b5, c.b8}));
  EXPECT_EQ((Bytes{p[48], p[49], p[50], p[51]}), (Bytes{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(p[15], 150);  // untouched
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteParameters,
    ::testing::Values(PageCase{"CdMode1", "cd-r", 1, 8, 4, false, false, 0x00, false, 0x81, 0x34, 0xA8, 0, 0x00},
                      PageCase{"CdMode2Form1Test", "cd-r", 1, 10, 4, true, true, 0x20, false, 0x91, 0xF4, 0xAA, 0, 0x20},
                      PageCase{"CdMode2Form2", "cd-r", 1, 13, 4, false, false, 0x20, false, 0x81, 0x34, 0xAD, 0, 0x20},
                      PageCase{"CdAudio", "cd-r", 1, 0, 0, false, true, 0x00, false, 0x81, 0xF0, 0xA0, 0, 0x00},
                      PageCase{"DvdSingleSession", "dvd-r", 2, 8, 5, true, false, 0x00, true, 0xB2, 0x35, 0xA8, 16, 0x00},
                      PageCase{"DvdRMultisession", "dvd-r", 0, 8, 5, false, true, 0x00, true, 0xA0, 0xF5, 0xA8, 16, 0x00},
                      PageCase{"DaoRawPW", "cd-r", 3, 3, 4, false, false, 0x00, false, 0x83, 0x34, 0xA3, 0, 0x00}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceTest, APageTooShortForTheSubHeaderIsRefusedWithTen) {
  // A page of 36 bytes (length 34) in an answer that says so.
  auto& g = Create("cd-r", nullptr, {Garble(0x5A, 0, {0, 6 + 36}, Page05()), Garble(0x5A, 9, {34}, Page05()),
                                     Cut(0x5A, 8 + 36, Page05())});
  Fails(10, [&] { g.SetWriteParameters(1, 8, 4, false, false, 0, 0, 0, 0, 0, false); });
  EXPECT_EQ(Count(0x55), 0u);
}

TEST_F(DeviceTest, ARefusedSelectIsTheFailure) {
  auto& g = Create("cd-r", nullptr, {Refuse(0x55, 5, 0x26, 0, {{"times", 0}})});
  auto e = Fails(8, [&] { g.SetWriteParameters(1, 8, 4, false, false, 0, 0, 0, 0, 0, false); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[12], 0x26);
}

// RestoreWriteParameters: the drive's page back, with write type 1 on CD
// media for the drives that lose it.
struct RestoreCase {
  const char* model;
  uint8_t writeType;
  uint32_t discType;
  uint8_t expectedWriteType;
};

using Restore = DeviceCases<RestoreCase>;

TEST_P(Restore, CorrectsOnlyTheListedDrivesOnCdMedia) {
  const RestoreCase& c = GetParam();
  auto& g = Create("cd-r", c.model, {Garble(0x5A, 8 + 2, {static_cast<uint8_t>(0x50 | c.writeType)}, Page05())});
  uint8_t page[8 + 52] = {};
  const uint8_t sense[10] = {0x5A, 0, 0x05, 0, 0, 0, 0, 0, sizeof page, 0};
  g.ExecuteCDB(sense, 10, page, sizeof page, 0);
  Catch([&] { g.RestoreWriteParameters(c.discType); });
  const Bytes sent = Out(0x55);
  ASSERT_EQ(sent.size(), 60u);
  EXPECT_EQ(sent[8], 0x05);
  EXPECT_EQ(sent[8 + 2], 0x50 | c.expectedWriteType);
  EXPECT_EQ(Bytes(sent.begin() + 8 + 3, sent.end()), Bytes(page + 8 + 3, page + sizeof page));

  // ReSetWriteParameters sends the page as it stands, for every drive.
  Catch([&] { g.ReSetWriteParameters(); });
  const Bytes again = Out(0x55, 1);
  ASSERT_EQ(again.size(), 60u);
  EXPECT_EQ(again[8 + 2], 0x50 | c.writeType);
}

INSTANTIATE_TEST_SUITE_P(Drives, Restore,
                         ::testing::Values(RestoreCase{"LITE-ON:DVDRW LDW-411S", 0, 2, 1},
                                           RestoreCase{"TEAC:DV-W58G", 0, 3, 1},
                                           RestoreCase{"SONY:DVD RW DW-U18A", 0, 1, 1},
                                           RestoreCase{"LITE-ON:SOHW-812S", 0, 0, 1},
                                           RestoreCase{"LITE-ON:DVDRW LDW-811S", 0, 2, 1},
                                           // DVD media, another write type, another drive: unchanged.
                                           RestoreCase{"LITE-ON:SOHW-812S", 0, 5, 0},
                                           RestoreCase{"LITE-ON:SOHW-812S", 2, 2, 2},
                                           RestoreCase{"LITE-ON:SOHW-1213S", 0, 2, 0}));

}  // namespace
}  // namespace devtest
