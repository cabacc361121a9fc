// The burner-grabber's C entry points against the virtual drive, reached
// through the pass-through transport's auxiliary-driver door: one table
// per medium, the drive models that need workarounds, an empty tray and a
// device of the wrong kind.
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/engine_fixture.h"
#include "support/vdrive_fixture.h"

namespace {

struct Status {
  char text[1024] = {};
  QV_ULONG systemError = 0;
  CDB_FAILURE_INFORMATION failure{};
};
#define QV_STATUS(s) (s).text, sizeof (s).text, &(s).systemError, &(s).failure

class VirtualDrive : public EngineState {
 protected:
  void SetUp() override {
    EngineState::SetUp();
    ASSERT_EQ(Quorvane_UpStartEx(), 0u);
  }
  void TearDown() override {
    if (handle) Quorvane_CdvdBurnerGrabber_Destroy(&handle);
    EngineState::TearDown();
  }
  // A drive named CdRom0 (the device name it serves) with a disc or none.
  void Make(const char* media, const char* model = nullptr) {
    ASSERT_EQ(QvDrive_Create("CdRom0", media, model), 0u);
  }
  void EditModel(const nlohmann::json& changes) {
    const auto path = home.path() / "CdRom0" / "model.json";
    std::ifstream in(path);
    nlohmann::json model = nlohmann::json::parse(in);
    model.merge_patch(changes);
    std::ofstream(path) << model.dump(2);
  }
  QV_ULONG Open() {
    return Quorvane_CdvdBurnerGrabber_CreateEx(&handle, QV_STATUS(s), nullptr, nullptr, "CdRom0", 1);
  }

  qvtest::VirtualDriveHome home;
  qvtest::LogCapture log;
  QV_HANDLE handle = nullptr;
  Status s;
};

struct MediumCase {
  const char* media;
  QV_ULONG type;
};

class Medium : public VirtualDrive, public ::testing::WithParamInterface<MediumCase> {};

TEST_P(Medium, TypeTrayAndCapabilities) {
  Make(GetParam().media);
  ASSERT_EQ(Open(), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), GetParam().type);
  QV_BOOLEAN present = 9, open = 9;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(handle, QV_STATUS(s), &present, &open), 0u) << s.text;
  EXPECT_EQ(present, 1);
  EXPECT_EQ(open, 0);
  // The default model reads and writes every medium, with test writes.
  QV_BOOLEAN f[10];
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats(handle, QV_STATUS(s), &f[0], &f[1], &f[2], &f[3], &f[4],
                                                                &f[5], &f[6], &f[7], &f[8], &f[9]),
            0u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(f[i], 1) << "flag " << i;
  QV_BOOLEAN plus[6];
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(handle, QV_STATUS(s), &plus[0], &plus[1], &plus[2],
                                                                    &plus[3], &plus[4], &plus[5]),
            0u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(plus[i], 1) << "DVD+ flag " << i;
  char vendor[9], product[17], revision[5];
  QV_ULONG buffer = 0;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetDeviceInformation(handle, QV_STATUS(s), vendor, product, revision, &buffer), 0u);
  EXPECT_STREQ(vendor, "QUORVANE");
  EXPECT_STREQ(product, "Virtual Recorder");
  EXPECT_EQ(buffer, 2048u * 1024u);
}

INSTANTIATE_TEST_SUITE_P(Media, Medium,
                         ::testing::Values(MediumCase{"cd-rom", 1}, MediumCase{"cd-r", 2}, MediumCase{"cd-rw", 3},
                                           MediumCase{"dvd-rom", 4}, MediumCase{"dvd-r", 5},
                                           MediumCase{"dvd-ram", 6}, MediumCase{"dvd-rw", 8},
                                           MediumCase{"dvd+rw", 9}, MediumCase{"dvd+r", 13},
                                           MediumCase{"dvd+r-dl", 15}),
                         [](const auto& info) {
                           std::string n = info.param.media;
                           for (char& c : n) c = c == '-' ? '_' : c == '+' ? 'P' : c;
                           return n;
                         });

TEST_F(VirtualDrive, AnEmptyTrayHasNoTypeAndFailsTestUnitReadyWithNoMedium) {
  Make(nullptr);
  ASSERT_EQ(Open(), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), 0u);
  QV_BOOLEAN present = 9, open = 9;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(handle, QV_STATUS(s), &present, &open), 0u) << s.text;
  EXPECT_EQ(present, 0);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_TestUnitReadyExEx(handle, QV_STATUS(s), 30, 1), 8u);
  EXPECT_EQ(s.failure.m__UCHAR__Sense[2] & 0x0F, 2);
  EXPECT_EQ(s.failure.m__UCHAR__Sense[12], 0x3A);
}

TEST_F(VirtualDrive, CreateExExFindsTheDriveByItsWideNameThroughThePassThroughLibrary) {
  Make("dvd-r");
  const std::u16string wide = u"cdrom0";
  std::vector<QV_WCHAR> name(wide.begin(), wide.end());
  name.push_back(0);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CreateExEx(&handle, QV_STATUS(s), nullptr, nullptr, name.data(), 1, 0), 0u)
      << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), 5u);
  const QV_WCHAR unknown[] = {'C', 'd', 'R', 'o', 'm', '9', 0};
  QV_HANDLE other = nullptr;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_CreateExEx(&other, QV_STATUS(s), nullptr, nullptr, unknown, 1, 0), 17u);
  EXPECT_EQ(other, nullptr);
}

TEST_F(VirtualDrive, EjectAndLoadMoveTheTray) {
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Eject(handle, QV_STATUS(s)), 0u) << s.text;
  QV_BOOLEAN present = 9, open = 9;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(handle, QV_STATUS(s), &present, &open), 0u) << s.text;
  EXPECT_EQ(open, 1);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Load(handle, QV_STATUS(s)), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(handle, QV_STATUS(s), &present, &open), 0u) << s.text;
  EXPECT_EQ(open, 0);
  EXPECT_EQ(present, 1);
  // A locked tray stays in.
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Lock(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Eject(handle, QV_STATUS(s)), 8u);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Release(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Eject(handle, QV_STATUS(s)), 0u) << s.text;
}

TEST_F(VirtualDrive, ADeviceOfAnotherTypeIsRefusedWithNine) {
  Make("cd-r");
  EditModel({{"deviceType", 4}});
  EXPECT_EQ(Open(), 9u);
  EXPECT_EQ(handle, nullptr);
  EXPECT_NE(std::string(s.text).find("Device type 0x04 instead of 0x05"), std::string::npos) << s.text;
}

TEST_F(VirtualDrive, AReaderHasNoRecordingCapabilities) {
  Make("cd-rom");
  EditModel({{"writes", nlohmann::json::array()}});
  ASSERT_EQ(Open(), 0u) << s.text;
  QV_BOOLEAN f[10];
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats(handle, QV_STATUS(s), &f[0], &f[1], &f[2], &f[3], &f[4],
                                                                &f[5], &f[6], &f[7], &f[8], &f[9]),
            0u);
  EXPECT_EQ(f[0] + f[1] + f[2], 3);
  EXPECT_EQ(f[6] + f[7] + f[8] + f[9], 0);
  EXPECT_EQ(log.Count("WARNING! Device does not support recording"), 1u);
}

// Drives with workarounds, as models of the virtual drive.
TEST_F(VirtualDrive, PhilipsCdd5301IsTakenForACdrWhateverItHolds) {
  Make("dvd+rw", "PHILIPS:CDD5301");
  ASSERT_EQ(Open(), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), 2u);
}

TEST_F(VirtualDrive, Mitsumi4802EjectsAfterSettingTrackAtOnce) {
  Make("cd-r", "MITSUMI:CR-4802TE");
  ASSERT_EQ(Open(), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Eject(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(log.Count("Eject(): Broken 'start stop unit'"), 1u);
  QV_BOOLEAN present = 9, open = 9;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(handle, QV_STATUS(s), &present, &open), 0u) << s.text;
  EXPECT_EQ(open, 1);
}

}  // namespace
