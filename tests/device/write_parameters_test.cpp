// Mode page 05h as SetWriteParameters builds it for each recording case,
// and as RestoreWriteParameters and ReSetWriteParameters send it back.
#include "drive_rig.h"

namespace devtest {
namespace {

json Page05() { return {{"cdb", {2, 0x05, 0x3F}}, {"times", 0}}; }

// The vdrive records by the page's write type, test write, block type and
// multi-session bits, so the burns judged from outside catch those; these
// rows keep what no burn shows: the drive's own bits kept, the link size,
// the sub-header, the session format.
TEST_F(DeviceTest, SetWriteParametersBuildsPage05h) {
  const struct {
    const char* media;
    uint8_t writeType, dataBlockType, trackMode;
    bool testWrite, multiSession;
    uint8_t sessionFormat;
    bool linkSizeValid;
    Bytes expected;  // bytes 2, 3, 4, 5 and 8 of the page sent
  } cases[] = {{"cd-r", 1, 8, 4, false, false, 0x00, false, {0x81, 0x34, 0xA8, 0, 0x00}},
               {"cd-r", 1, 10, 4, true, true, 0x20, false, {0x91, 0xF4, 0xAA, 0, 0x20}},
               {"dvd-r", 2, 8, 5, true, false, 0x00, true, {0xB2, 0x35, 0xA8, 16, 0x00}}};
  for (const auto& c : cases) {
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
    EXPECT_EQ((Bytes{p[0], p[1], p[2], p[3], p[4], p[5], p[8]}),
              (Bytes{0x05, 0x32, c.expected[0], c.expected[1], c.expected[2], c.expected[3], c.expected[4]}));
    EXPECT_EQ((Bytes{p[15], p[48], p[49], p[50], p[51]}), (Bytes{150, 0x11, 0x22, 0x33, 0x44}));
  }
}

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
TEST_F(DeviceTest, RestoreCorrectsOnlyTheListedDrivesOnCdMedia) {
  const struct {
    const char* model;
    uint8_t writeType;
    uint32_t discType;
    uint8_t expectedWriteType;
  } cases[] = {{"LITE-ON:SOHW-812S", 0, 2, 1},
               // DVD media, another write type, another drive: unchanged.
               {"LITE-ON:SOHW-812S", 0, 5, 0},
               {"LITE-ON:SOHW-812S", 2, 2, 2},
               {"LITE-ON:SOHW-1213S", 0, 2, 0}};
  for (const auto& c : cases) {
    auto& g = Create("cd-r", c.model, {Garble(0x5A, 8 + 2, {static_cast<uint8_t>(0x50 | c.writeType)}, Page05())});
    uint8_t page[8 + 52] = {};
    const uint8_t sense[10] = {0x5A, 0, 0x05, 0, 0, 0, 0, 0, sizeof page, 0};
    g.ExecuteCDB(sense, 10, page, sizeof page, 0);
    Catch([&] { g.RestoreWriteParameters(c.discType); });
    Bytes expected(page + 8, page + sizeof page);
    expected[2] = static_cast<uint8_t>(0x50 | c.expectedWriteType);
    const Bytes sent = Out(0x55);
    ASSERT_EQ(sent.size(), 60u);
    EXPECT_EQ(Bytes(sent.begin() + 8, sent.end()), expected) << c.model;
    // ReSetWriteParameters sends the page as it stands, for every drive.
    Catch([&] { g.ReSetWriteParameters(); });
    EXPECT_EQ(Out(0x55, 1).at(8 + 2), 0x50 | c.writeType);
  }
}

}  // namespace
}  // namespace devtest
