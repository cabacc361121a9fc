// The burner-grabber's C entry points against the virtual drive, reached
// through the pass-through transport's auxiliary-driver door. Disc and
// track information and the table of contents, one table per medium: each
// disc is described to the drive, and what the engine reports must be that
// disc. Then write and read modes by drive model, the tray, and commands
// that fail on the way.
#include <cstring>

#include "drive_rig.h"

namespace devtest {
namespace {

using qvtest::CallStatus;

class Media : public DeviceTest {
 protected:
  // A drive holding the described disc, opened through the engine while
  // the disc still spins up, as a host opens a drive a person just loaded.
  void Load(const json& description, const char* model = nullptr) {
    Insert(description, model);
    ASSERT_EQ(Open(), 0u) << s.text;
  }
  QUORVANE_DISC_INFORMATION Disc() {
    QUORVANE_DISC_INFORMATION d{};
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetDiscInformation(handle, QV_STATUS(s), &d), 0u) << s.text;
    return d;
  }
  std::unique_ptr<QUORVANE_TOC_INFORMATION> Toc() {
    auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetTOCInformation(handle, QV_STATUS(s), toc.get()), 0u) << s.text;
    return toc;
  }
  QV_BOOLEAN TrayOpen(QV_BOOLEAN expectPresent) {
    QV_BOOLEAN present = 9, open = 9;
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(handle, QV_STATUS(s), &present, &open), 0u) << s.text;
    EXPECT_EQ(present, expectPresent);
    return open;
  }
};

// What the engine must report for one disc.
struct Expected {
  QV_ULONG type;
  uint8_t status, sessions, lastTrackInLastSession;
  bool erasable;
  std::vector<std::array<int32_t, 4>> tracks;  // start, end, area start, block size
  QV_UCHAR lastTrack;
  // Track information of the invisible track (FFh): number, blank, NWA, free.
  bool trackValid;
  uint8_t nextTrack;
  bool blank;
  int32_t nwa;
  uint32_t free;
};

struct MediumCase {
  const char* name;
  json disc;
  Expected e;
};

class Described : public Media, public ::testing::WithParamInterface<MediumCase> {};

TEST_P(Described, ReportsTheDiscItHolds) {
  const MediumCase& c = GetParam();
  Load(c.disc);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), c.e.type);
  const QUORVANE_DISC_INFORMATION d = Disc();
  EXPECT_EQ((std::array<int, 4>{d.m__UCHAR__DiscStatus, d.m__UCHAR__NumberOfSessions, d.m__UCHAR__LastTrackInLastSession,
                                d.m__UCHAR__IsErasable}),
            (std::array<int, 4>{c.e.status, c.e.sessions, c.e.lastTrackInLastSession, c.e.erasable}));

  if (!c.e.tracks.empty()) {
    auto toc = Toc();
    ASSERT_EQ(toc->m__UCHAR__NumberOfTracks, c.e.tracks.size());
    EXPECT_EQ(toc->m__UCHAR__IsDVD, c.e.type >= 4);
    for (size_t i = 0; i < c.e.tracks.size(); ++i) {
      const QUORVANE_TOC_TRACK& t = toc->m__TRACK__Tracks[i];
      EXPECT_EQ(t.m__UCHAR__TrackNumber, i + 1);
      EXPECT_EQ((std::array<int32_t, 4>{t.m__LONG__StartAddress, t.m__LONG__EndAddress, t.m__LONG__AreaStartAddress,
                                        static_cast<int32_t>(t.m__ULONG__BlockSize)}),
                c.e.tracks[i]);
    }
  }
  QUORVANE_TRACK_INFORMATION t{};
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetTrackInformation(handle, QV_STATUS(s), 0xFF, &t), 0u) << s.text;
  EXPECT_EQ(t.m__UCHAR__IsValid, c.e.trackValid);
  if (c.e.trackValid) {
    EXPECT_EQ((std::array<int64_t, 4>{t.m__UCHAR__TrackNumber, t.m__UCHAR__IsBlank, t.m__LONG__NextWritableAddress,
                                      t.m__ULONG__FreeBlocks}),
              (std::array<int64_t, 4>{c.e.nextTrack, c.e.blank, c.e.nwa, c.e.free}));
  }
  QV_UCHAR last = 99;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetLastTrack(handle, QV_STATUS(s), &last), 0u) << s.text;
  EXPECT_EQ(last, c.e.lastTrack);
}

// The virtual drive's prepared discs, as the engine must report them.
json Prepared(const char* file) {
  return json::parse(qvtest::ReadFile(std::string(qvtest::SourceDir()) + "/vdrive/discs/" + file));
}

// CD addresses: a first session's lead-out takes 6750 blocks, a later
// one's 2250, each lead-in 4500, and a track's pause 150.
constexpr int32_t kCdrCapacity = 359849, kDvdR = 2298496, kDvdPlusR = 2295104;

INSTANTIATE_TEST_SUITE_P(
    Discs, Described,
    ::testing::Values(
        MediumCase{"BlankCdr", {{"media", "cd-r"}}, {2, 0, 1, 1, false, {}, 0, true, 1, true, 0, kCdrCapacity}},
        MediumCase{"Mode2Form2Cd",
                   json::parse(R"({"media": "cd-rom", "sessions": [{"closed": true, "tracks": [
                                 {"mode": "mode2-form2", "blocks": 500}]}]})"),
                   {1, 2, 1, 1, false, {{0, 499, -150, 2324}}, 1, false, 0, false, 0, 0}},
        // Track 2's end is searched for from 150 blocks before track 3, so
        // with a 225-block pause it ends 75 blocks into that pause.
        MediumCase{"AudioCd", Prepared("audio-cd.json"),
                   {1, 2, 1, 3, false, {{0, 1499, -150, 2352}, {1650, 2849, 1500, 2352}, {3000, 5249, 2850, 2352}}, 3,
                    false, 0, false, 0, 0}},
        // Session 2 begins after 6750 + 4500 blocks, its area at B0h.
        MediumCase{"MultisessionCd", Prepared("multisession-cd.json"),
                   {2, 1, 3, 3, false, {{0, 8999, -150, 2048}, {20400, 23399, 20250, 2048}}, 2, true, 3, true,
                    23400 + 2250 + 4500 + 150, kCdrCapacity - (23400 + 2250 + 4500 + 150)}},
        // An open second session: the last track is the one before the open one.
        MediumCase{"CdrWithAnOpenSession", Prepared("cd-r-open-session.json"),
                   {2, 1, 2, 3, false, {{0, 4999, -150, 2048}}, 2, true, 3, true, 18400 + 150,
                    kCdrCapacity - (18400 + 150)}},
        MediumCase{"FinishedCdrw", Prepared("cd-rw-complete.json"),
                   {3, 2, 1, 1, true, {{0, 19999, -150, 2048}}, 1, false, 0, false, 0, 0}},
        // An appendable DVD lists its empty session's track as the second.
        MediumCase{"OpenDvdPlusR", Prepared("dvd+r-open.json"),
                   {13, 1, 2, 2, false, {{0, 299999, 0, 2048}, {300000, kDvdPlusR - 1, 300000, 2048}}, 1, true, 2, true,
                    300000, kDvdPlusR - 300000}},
        // A reserved track partly recorded in the open session, then the
        // invisible track after its reservation.
        MediumCase{"OpenDvdRWithAReservedTrack", Prepared("dvd-r-open.json"),
                   {5, 1, 2, 3, false, {{0, 199999, 0, 2048}, {200000, 299999, 200000, 2048}}, 2, true, 3, true, 300000,
                    kDvdR - 300000}},
        // DVD-RW: the last track is the ISO volume the disc does not hold.
        MediumCase{"SequentialDvdRw", Prepared("dvd-rw-sequential.json"),
                   {8, 1, 2, 2, true, {{0, 49999, 0, 2048}, {50000, kDvdR - 1, 50000, 2048}}, 0, true, 2, true, 50000,
                    kDvdR - 50000}},
        // Restricted overwrite: the written data becomes the start of a
        // blank track.
        MediumCase{"RestrictedOverwriteDvdRw", Prepared("dvd-rw-restricted.json"),
                   {7, 2, 1, 1, true, {{0, 4999, 0, 2048}}, 0, true, 1, true, 5000, kDvdR - 5000}},
        // Random-access media: status 1 always; with no volume on them one
        // blank track over the whole capacity.
        MediumCase{"FormattedDvdPlusRw", Prepared("dvd+rw-formatted.json"),
                   {9, 1, 1, 1, true, {{0, kDvdPlusR - 1, 0, 2048}}, 0, true, 1, true, 0, kDvdPlusR}},
        MediumCase{"UnformattedDvdPlusRw", Prepared("dvd+rw-unformatted.json"),
                   {9, 1, 1, 1, true, {}, 0, true, 1, false, 0, kDvdPlusR}},
        MediumCase{"PressedDvdWithRegions", Prepared("dvd-rom-region2.json"),
                   {4, 2, 1, 1, false, {{0, 1999999, 0, 2048}}, 1, true, 1, false, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Media, AtipOfARecordableCd) {
  Load({{"media", "cd-rw"}, {"leadIn", "97:26:66"}, {"lastLeadOut", "79:59:74"}});
  uint8_t atip[256];
  std::memset(atip, 0xEE, sizeof atip);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_ReadATIP(handle, QV_STATUS(s), atip, sizeof atip), 0u) << s.text;
  EXPECT_EQ((std::vector<uint8_t>{atip[8], atip[9], atip[10], atip[12], atip[13], atip[14]}),
            (std::vector<uint8_t>{97, 26, 66, 79, 59, 74}));
  EXPECT_EQ(atip[6] & 0x40, 0x40);  // rewritable
  // Handed back unparsed; the rest of the buffer is cleared, not left as it was.
  const size_t length = size_t{atip[0]} << 8 | atip[1];
  ASSERT_LT(length + 2, sizeof atip);
  EXPECT_EQ(std::vector<uint8_t>(atip + length + 2, atip + sizeof atip), std::vector<uint8_t>(sizeof atip - length - 2, 0));
}

// Write and read modes by drive model and medium: page 05h takes what the
// drive can record on the disc, READ CD what it can read from it.
TEST_F(Media, WriteAndReadModesByModel) {
  const struct {
    const char *model, *disc;
    std::vector<int> modes;  // TAO, SAO, DAO raw + PQ, DAO raw + raw P-W; cooked, raw, raw + PQ,
                             // raw + raw P-W, PQ, raw P-W
  } cases[] = {// No raw recording and no READ CD on a DVD.
               {nullptr, "dvd-r-closed.json", {1, 1, 0, 0, 1, 0, 0, 0, 0, 0}},
               // A reader refuses every write type.
               {"TOSHIBA:DVD-ROM SD-M1912", "mixed-mode-cd.json", {0, 0, 0, 0, 1, 1, 1, 1, 1, 1}}};
  for (const auto& c : cases) {
    Load(Prepared(c.disc), c.model);
    QV_BOOLEAN m[10];
    std::fill(m, m + 10, 9);
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_ProbeSupportedWriteModes(handle, QV_STATUS(s), m, m + 1, m + 2, m + 3), 0u)
        << s.text;
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_ProbeSupportedReadModes(handle, QV_STATUS(s), m + 4, m + 5, m + 6, m + 7,
                                                                 m + 8, m + 9),
              0u)
        << s.text;
    EXPECT_EQ(std::vector<int>(m, m + 10), c.modes) << c.disc;
  }
}

TEST_F(Media, ADriveThatVanishesFailsEveryQueryClearly) {
  Load(Prepared("dvd-r-closed.json"));
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "vanish"}]})"), 0u);
  QUORVANE_DISC_INFORMATION d{};
  EXPECT_NE(Quorvane_CdvdBurnerGrabber_GetDiscInformation(handle, QV_STATUS(s), &d), 0u);
  EXPECT_NE(std::string(s.text), "");
  EXPECT_EQ(d.m__UCHAR__IsValid, 0);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), 0u);
}

TEST_F(Media, AnEmptyTrayHasNoTypeAndNoLastTrack) {
  Make(nullptr);
  ASSERT_EQ(Open(), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), 0u);
  // The last track of no disc is the TEST UNIT READY failure.
  QV_UCHAR last = 99;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetLastTrack(handle, QV_STATUS(s), &last), 8u);
  EXPECT_EQ(last, 0);
  EXPECT_EQ((Bytes{s.failure.m__UCHAR__CDB[0], s.failure.m__UCHAR__Sense[12]}), (Bytes{0x00, 0x3A}));
}

TEST_F(Media, MissingHandlesRecordsAndDrivesAreParameterOrSystemErrors) {
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Load(nullptr, QV_STATUS(s)), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Cancel(nullptr), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(nullptr), 0u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Destroy(nullptr), 2u);
  // A name nobody serves goes to the OS device, which is not there.
  handle = reinterpret_cast<QV_HANDLE>(0x1);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_CreateEx(&handle, QV_STATUS(s), nullptr, nullptr, "/nonexistent/sr77", 1), 5u);
  EXPECT_EQ(handle, nullptr);
  EXPECT_NE(s.systemError, 0u);
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetTOCInformation(handle, QV_STATUS(s), nullptr), 2u);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetLastTrack(handle, QV_STATUS(s), nullptr), 2u);
  // A handle is destroyed once.
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Destroy(&handle), 0u);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Destroy(&handle), 2u);
}

// A drive without profiles: the disc information says what kind of CD it is.
TEST_F(Media, WithoutProfilesTheDiscIsTakenForACd) {
  const std::pair<json, QV_ULONG> cases[] = {{{{"media", "cd-r"}}, 2},
                                             {Prepared("audio-cd.json"), 1},
                                             {Prepared("cd-rw-complete.json"), 3},
                                             {nullptr, 0}};  // an empty tray
  for (const auto& [disc, type] : cases) {
    if (disc.is_null()) {
      Forget();
      Make(nullptr);
      ASSERT_EQ(Open(), 0u) << s.text;
    } else {
      Load(disc);
    }
    ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "sense", "opcode": 70, "times": 0,
                                               "sense": [5, 32, 0]}]})"),
              0u);
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle), type) << disc.dump();
  }
}

TEST_F(Media, CreateExExFindsTheDriveByItsWideNameThroughThePassThroughLibrary) {
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

// Right after a disc goes in the drive spins it up, telling nothing of it
// meanwhile (Load above: every case asks first what the disc is). A blank
// made first is answered for the disc too. (Read modes: device_cli's
// TheFirstCommandAfterAnInsertSeesTheDisc; a format: record's
// BurnCli.EraseAndFormatChangeTheDisc.)
TEST_F(Media, TheFirstBlankAfterAnInsertWaitsForTheSpinUp) {
  Make(nullptr);
  ASSERT_EQ(Open(), 0u) << s.text;
  for (const char* media : {"cd-rw", "dvd-rw"}) {
    ASSERT_EQ(QvDrive_InsertMedia("CdRom0", media), 0u);
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Blank(handle, QV_STATUS(s), 1), 0u) << media << ": " << s.text;
  }
}

// The tray stays locked while the engine records, so no one takes the
// disc out in the middle; the call gives it back unlocked.
TEST_F(Media, RecordingLocksTheTray) {
  static std::vector<uint32_t> ejects;
  ejects.clear();
  Make("dvd+rw");
  struct Tries {
    static void QUORVANE_CALL Eject(QV_ULONG, void*, void*, void*) { ejects.push_back(QvDrive_Eject("CdRom0")); }
  };
  ASSERT_EQ(Open(1, &Tries::Eject), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Format(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(ejects, (std::vector<uint32_t>{5, 5})) << "at the format's start and end";
  EXPECT_EQ(QvDrive_Eject("CdRom0"), 0u);
}

TEST_F(Media, EjectAndLoadMoveTheTrayUnlessItIsLocked) {
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Eject(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(TrayOpen(0), 1);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Load(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(TrayOpen(1), 0);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Lock(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Eject(handle, QV_STATUS(s)), 8u);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Release(handle, QV_STATUS(s)), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Eject(handle, QV_STATUS(s)), 0u) << s.text;
}

using NotStarted = EngineState;

TEST_F(NotStarted, CreationFailsWithTwentyOne) {
  CallStatus s;
  QV_HANDLE handle = reinterpret_cast<QV_HANDLE>(0x1);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_CreateEx(&handle, QV_STATUS(s), nullptr, nullptr, "CdRom0", 1), 21u);
  EXPECT_EQ(handle, nullptr);
  const QV_WCHAR name[] = {'Q', 0};
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_CreateExEx(&handle, QV_STATUS(s), nullptr, nullptr, name, 1, 0), 21u);
}

}  // namespace
}  // namespace devtest
