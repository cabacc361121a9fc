// Speeds (SET CD SPEED, SET STREAMING, GET PERFORMANCE and the
// capabilities page), power calibration, the vendor page 30h, and the
// catalog's drive models with the quirks the engine's workarounds were
// written for. (MECHANISM STATUS is left out: the engine never sends it.)
#include "door_client.h"
#include "vdrive/bytes.h"

namespace qvtest {
namespace {

using Bytes = std::vector<uint8_t>;
using qv::vdrive::PutBe32;

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
  EXPECT_EQ(Speeds(d), (std::array<uint32_t, 3>{8467, 8467, 8467}));
  struct Case {
    uint16_t read, write;
    std::array<uint32_t, 3> then;
  } cases[] = {
      {3000, 5000, {3000, 8467, 4233}},  // write: the fastest at or below 5000 (24x)
      {0, 100, {3000, 8467, 705}},       // below every speed: the slowest; read 0 keeps the choice
      {0xFFFF, 0xFFFF, {8467, 8467, 8467}},
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

TEST_F(Control, DvdPerformanceAndStreaming) {
  DoorClient& d = Ready("dvd+r");
  // Write speed descriptors: 16x, 8x, 4x, 2.4x of 1385 kB/s, up to the
  // disc's last block.
  const Reply ws = d.In(GetPerformance(3, 0), 4096);
  ASSERT_TRUE(ws.Good()) << ws.Outcome();
  ASSERT_EQ(ws.Be32At(0), 4u + 4 * 16);
  const uint32_t speeds[] = {22160, 11080, 5540, 3324};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ws.Be32At(8 + 16 * i + 4), 2295103u);
    EXPECT_EQ(ws.Be32At(8 + 16 * i + 8), 22160u);
    EXPECT_EQ(ws.Be32At(8 + 16 * i + 12), speeds[i]);
  }
  // Nominal performance, read (10h) and write (14h): up to the current speed.
  auto nominal = [&](uint8_t dataType) {
    const Reply r = d.In(GetPerformance(0, dataType), 4096);
    EXPECT_TRUE(r.Good()) << r.Outcome();
    EXPECT_EQ(r.Be32At(0), 4u + 16);
    return r.Be32At(8 + 12);
  };
  EXPECT_EQ(nominal(0x10), 22160u);
  EXPECT_EQ(nominal(0x14), 22160u);
  // SET STREAMING: 5540 kB each second to write, 11080 to read.
  Bytes p(28, 0);
  PutBe32(&p[8], 2295103);
  PutBe32(&p[12], 11080);
  PutBe32(&p[16], 1000);
  PutBe32(&p[20], 5540);
  PutBe32(&p[24], 1000);
  ASSERT_TRUE(d.Out(SetStreaming(28), p).Good());
  EXPECT_EQ(nominal(0x10), 11080u);
  EXPECT_EQ(nominal(0x14), 5540u);
  EXPECT_EQ(Speeds(d), (std::array<uint32_t, 3>{11080, 22160, 5540}));
  // A streaming choice outlasts the disc: the host must restore it.
  ASSERT_EQ(QvDrive_InsertMedia(d.name().c_str(), "dvd+r"), 0u);
  d.UntilReady();
  EXPECT_EQ(nominal(0x14), 5540u);
  Bytes restore(28, 0);
  restore[0] = 0x04;  // RDD
  ASSERT_TRUE(d.Out(SetStreaming(28), restore).Good());
  EXPECT_EQ(nominal(0x14), 22160u);
}

TEST_F(Control, PowerCalibration) {
  DoorClient &d = Ready("cd-r"), &rom = Ready("cd-rom");
  EXPECT_EQ(d.In(ReadDiscInfo(), 4096).data[33], 0) << "no OPC table before";
  const Reply opc = d.In(SendOpc(true), 0, QVDRIVE_FLAG_TIMING);
  ASSERT_TRUE(opc.Good()) << opc.Outcome();
  EXPECT_GE(opc.timing2, 1000000u) << "a calibration takes its time";
  const Reply di = d.In(ReadDiscInfo(), 4096);
  ASSERT_EQ(di.data.size(), 42u);
  EXPECT_EQ(di.data[33], 1);
  EXPECT_EQ(di.Be16At(34), 8467u) << "the speed it calibrated at";
  EXPECT_EQ(rom.In(SendOpc(true)).Outcome(), "05/30/05") << "nothing to write on";
}

TEST_F(Control, VendorPage30) {
  MakeDrive("plain", "cd-r");
  MakeDrive("link", "cd-r", "MITSUMI:CR-4802TE");
  DoorClient plain("plain"), link("link");
  EXPECT_EQ(plain.In(ModeSense10(0x30), 4096).Outcome(), "05/24/00") << "a drive without the page";
  const Reply def = link.In(ModeSense10(0x30, 2), 4096);
  ASSERT_TRUE(def.Good()) << def.Outcome();
  ASSERT_EQ(def.data.size(), 16u);
  EXPECT_EQ(Bytes(def.data.begin() + 8, def.data.end()), (Bytes{0x30, 6, 0x01, 0, 0, 0, 0, 0}));
  // Switch linking on as a host does: the default page back with byte 3 bit 0.
  Bytes list = ModeList(link, 0x30, 2);
  list[8 + 3] = 0x01;
  ASSERT_TRUE(Select(link, list).Good());
  EXPECT_EQ(link.In(ModeSense10(0x30), 4096).data[8 + 3], 0x01);
  list[8 + 2] = 0x00;  // the supported bit is not the host's to change
  EXPECT_EQ(Select(link, list).Outcome(), "05/26/00");
}

// The quirks behind the engine's workarounds, each against the standard
// behaviour of the default model.
TEST_F(Control, Quirks) {
  DoorClient &std_ = Ready("cd-r"), &philips = Ready("cd-r", nullptr, "PHILIPS:CDD5301"),
             &samsung = Ready("cd-r", nullptr, "SAMSUNG:CDRW/DVD SM-308B"),
             &mitsumi = Ready("cd-r", nullptr, "MITSUMI:CR-4802TE"), &hp = Ready("dvd+r", nullptr, "HP:DVD Writer 640v");

  // GET CONFIGURATION missing altogether.
  EXPECT_TRUE(std_.In(GetConfiguration(2, 0), 4096).Good());
  EXPECT_EQ(philips.In(GetConfiguration(2, 0), 4096).Outcome(), "05/20/00");

  // BUFE refused in page 05h.
  auto selectBufe = [](DoorClient& d, bool bufe) {
    Bytes list = ModeList(d, 0x05, 2);
    list[8 + 2] = static_cast<uint8_t>((list[8 + 2] & ~0x40) | (bufe ? 0x40 : 0));
    return Select(d, list).Outcome();
  };
  EXPECT_EQ(selectBufe(std_, true), "GOOD");
  EXPECT_EQ(selectBufe(samsung, true), "05/26/00");
  EXPECT_EQ(selectBufe(samsung, false), "GOOD");
  EXPECT_EQ(samsung.In(ModeSense10(0x2A), 4096).data[8 + 4] & 0x80, 0x80) << "while it claims BUF";

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

  // Write speed descriptors that end at LBA 0.
  const Reply ws = hp.In(GetPerformance(3, 0, 1), 4096);
  ASSERT_TRUE(ws.Good());
  EXPECT_EQ(ws.Be32At(8 + 4), 0u);
}

// A catalog model's capabilities come with its names (a reader:
// Probe.ReaderWithADvdR); a revision given with them replaces the catalog's.
TEST_F(Control, ModelTextBringsTheCatalogModel) {
  MakeDrive("b", nullptr, "PIONEER:DVD-ROM DVD-105:9.99");
  char json[16384];
  uint32_t needed = 0;
  ASSERT_EQ(QvDrive_Describe("b", json, sizeof json, &needed), 0u);
  const auto j = nlohmann::json::parse(json);
  EXPECT_EQ(j["model"]["revision"], "9.99");
  EXPECT_TRUE(j["model"]["writes"].empty());
}

}  // namespace
}  // namespace qvtest
