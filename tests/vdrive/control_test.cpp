// Speeds (SET CD SPEED, SET STREAMING and GET PERFORMANCE), the vendor page
// 30h, and the catalog's drive models with the quirks the engine's
// workarounds were written for. (MECHANISM STATUS is left out: the engine
// never sends it.)
#include "door_client.h"
#include "vdrive/bytes.h"

namespace qvtest {
namespace {

using Bytes = std::vector<uint8_t>;
using qv::vdrive::PutBe32;

uint8_t B(uint32_t v, int shift) { return static_cast<uint8_t>(v >> shift); }
Bytes GetPerformance(uint8_t type, uint8_t dataType) { return {0xAC, dataType, 0, 0, 0, 0, 0, 0, 0, 50, type, 0}; }
Bytes SetCdSpeed(uint16_t read, uint16_t write) { return {0xBB, 0, B(read, 8), B(read, 0), B(write, 8), B(write, 0), 0, 0, 0, 0, 0, 0}; }
Bytes SetStreaming(uint16_t length) { return {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, B(length, 8), B(length, 0), 0}; }

class Control : public VdriveTest {
 protected:
  // Page 2Ah: current read (14-15), maximum write (18-19), current write
  // (28-29) of the page that starts after the 8-byte header.
  static std::array<uint32_t, 3> Speeds(DoorClient& d) {
    const Reply r = d.In(ModeSense10(0x2A), 4096);
    EXPECT_TRUE(r.Good()) << r.Outcome();
    return {r.Be16At(8 + 14), r.Be16At(8 + 18), r.Be16At(8 + 28)};
  }
};

TEST_F(Control, CdSpeedsSnapToWhatTheDriveSupports) {
  DoorClient& d = Ready("cd-r");
  // The default model writes CDs at 48x ... 4x (8467 ... 705 kB/s) and reads at 8467.
  struct Case {
    uint16_t read, write;
    std::array<uint32_t, 3> then;
  } cases[] = {
      {3000, 5000, {3000, 8467, 4233}},  // write: the fastest at or below 5000 (24x)
      {0, 100, {3000, 8467, 705}},       // below every speed: the slowest; read 0 keeps the choice
      {9999, 1411, {8467, 8467, 1411}},  // read: no faster than the drive
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(d.In(SetCdSpeed(c.read, c.write)).Good());
    EXPECT_EQ(Speeds(d), c.then) << c.read << "/" << c.write;
  }
  // The choice lasts until the disc changes (MMC-5 6.37).
  ASSERT_EQ(QvDrive_InsertMedia(d.name().c_str(), "cd-r"), 0u);
  d.UntilReady();
  EXPECT_EQ(Speeds(d)[2], 8467u);
  // Reading follows the chosen speed in virtual time.
  ASSERT_EQ(QvDrive_InsertMedia(d.name().c_str(), "cd-rom"), 0u);
  d.UntilReady();
  ASSERT_TRUE(d.In(SetCdSpeed(1764, 0)).Good());
  EXPECT_EQ(d.In(Read10(0, 16), 32768, QVDRIVE_FLAG_TIMING).timing2, 250 + 32768u * 1000 / 1764);
}

// Nominal performance follows SET STREAMING, and unlike SET CD SPEED the
// choice outlasts the disc: the host must restore it.
TEST_F(Control, DvdStreamingOutlastsTheDisc) {
  DoorClient& d = Ready("dvd+r");
  auto nominalWrite = [&] { return d.In(GetPerformance(0, 0x14), 4096).Be32At(8 + 12); };
  EXPECT_EQ(nominalWrite(), 22160u);
  Bytes p(28, 0);
  PutBe32(&p[8], 2295103);
  PutBe32(&p[12], 11080);
  PutBe32(&p[16], 1000);
  PutBe32(&p[20], 5540);
  PutBe32(&p[24], 1000);
  ASSERT_TRUE(d.Out(SetStreaming(28), p).Good());
  EXPECT_EQ(Speeds(d), (std::array<uint32_t, 3>{11080, 22160, 5540}));
  ASSERT_EQ(QvDrive_InsertMedia(d.name().c_str(), "dvd+r"), 0u);
  d.UntilReady();
  EXPECT_EQ(nominalWrite(), 5540u);
  Bytes restore(28, 0);
  restore[0] = 0x04;  // RDD
  ASSERT_TRUE(d.Out(SetStreaming(28), restore).Good());
  EXPECT_EQ(nominalWrite(), 22160u);
}

TEST_F(Control, VendorPage30) {
  MakeDrive("plain", "cd-r");
  MakeDrive("link", "cd-r", "MITSUMI:CR-4802TE");
  DoorClient plain("plain"), link("link");
  EXPECT_EQ(plain.In(ModeSense10(0x30), 4096).Outcome(), "05/24/00") << "a drive without the page";
  // Switch linking on as a host does: the default page back with byte 3 bit 0.
  Bytes list = ModeList(link, 0x30, 2);
  EXPECT_EQ(Bytes(list.begin() + 8, list.end()), (Bytes{0x30, 6, 0x01, 0, 0, 0, 0, 0}));
  list[8 + 3] = 0x01;
  ASSERT_TRUE(Select(link, list).Good());
  EXPECT_EQ(link.In(ModeSense10(0x30), 4096).data[8 + 3], 0x01);
  list[8 + 2] = 0x00;  // the supported bit is not the host's to change
  EXPECT_EQ(Select(link, list).Outcome(), "05/26/00");
}

// The quirks behind the engine's workarounds that the engine's own tests
// cannot see (it never sends what the drive would refuse), each against
// the standard behaviour of the default model.
TEST_F(Control, Quirks) {
  DoorClient &std_ = Ready("cd-r"), &philips = Ready("cd-r", nullptr, "PHILIPS:CDD5301"),
             &samsung = Ready("cd-r", nullptr, "SAMSUNG:CDRW/DVD SM-308B"),
             &mitsumi = Ready("cd-r", nullptr, "MITSUMI:CR-4802TE");

  // GET CONFIGURATION missing altogether.
  EXPECT_TRUE(std_.In(GetConfiguration(2), 4096).Good());
  EXPECT_EQ(philips.In(GetConfiguration(2), 4096).Outcome(), "05/20/00");

  // BUFE refused in page 05h, while the drive claims BUF.
  auto selectBufe = [](DoorClient& d) {
    Bytes list = ModeList(d, 0x05, 2);
    list[8 + 2] |= 0x40;
    return Select(d, list).Outcome();
  };
  EXPECT_EQ(selectBufe(std_), "GOOD");
  EXPECT_EQ(selectBufe(samsung), "05/26/00");
  EXPECT_EQ(samsung.In(ModeSense10(0x2A), 4096).data[8 + 4] & 0x80, 0x80);

  // Eject: only with IMMED, and only with track-at-once parameters.
  std::vector<uint8_t> ejectImmed = StartStop(true, false);
  ejectImmed[1] = 0x01;
  EXPECT_EQ(mitsumi.In(StartStop(true, false)).Outcome(), "04/44/00");
  Bytes page = ModeList(mitsumi, 0x05);
  page[8 + 2] = static_cast<uint8_t>((page[8 + 2] & 0xF0) | 0x02);  // session-at-once
  ASSERT_TRUE(Select(mitsumi, page).Good());
  EXPECT_EQ(mitsumi.In(ejectImmed).Outcome(), "04/44/00");
  page[8 + 2] = static_cast<uint8_t>((page[8 + 2] & 0xF0) | 0x01);  // track-at-once
  ASSERT_TRUE(Select(mitsumi, page).Good());
  EXPECT_TRUE(mitsumi.In(ejectImmed).Good());
  EXPECT_EQ(mitsumi.In(TestUnitReady()).Outcome(), "02/3A/02") << "the tray is out";
  EXPECT_TRUE(std_.In(StartStop(true, false)).Good());
}

}  // namespace
}  // namespace qvtest
