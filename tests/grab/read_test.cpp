// The sector readers and the grab loop on a virtual drive, in virtual
// time: every read form gives the same sector as the drive's own raw P-W
// reading, failures come back named by the drive's sense, and a slow drive
// is reported on as it goes.
#include <cstring>
#include <vector>

#include "device/engine_drive.h"

namespace {

using qvtest::EngineDrive;

class GrabRead : public EngineDrive {
 protected:
  void SetUp() override {
    EngineDrive::SetUp();
    Make("cd-rom");
    ASSERT_EQ(QvDrive_InsertDisc("CdRom0", QUORVANE_DISCS_DIR "/mixed-mode-cd.json"), 0u);
    home.clock().Advance(5000);  // spun up
    ASSERT_EQ(Open(1, &OnCallback, this), 0u) << s.text;
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GetTOCInformation(handle, QV_STATUS(s), &toc), 0u) << s.text;
  }
  static void QUORVANE_CALL OnCallback(QV_ULONG reason, void* context, void* p1, void* p2) {
    if (reason == CN_GRAB_PROGRESS)
      static_cast<GrabRead*>(context)->progress.push_back({reinterpret_cast<uintptr_t>(p1), reinterpret_cast<uintptr_t>(p2)});
  }
  const QUORVANE_TOC_TRACK& Track(int n) const { return toc.m__TRACK__Tracks[n - 1]; }
  QUORVANE_TOC_INFORMATION toc{};
  std::vector<std::pair<uint64_t, uint64_t>> progress;
};

// Cooked data made whole, raw sectors with a made subchannel, and the Q
// subchannel spread: each is what the drive reads with raw P-W.
TEST_F(GrabRead, EveryReadFormGivesTheDrivesRawSector) {
  struct Case {
    int track;
    QV_ULONG type;
  } cases[] = {{1, QVX_READ_TRACK_MODE1}, {2, QVX_READ_TRACK_AUDIO}};
  for (const Case& c : cases) {
    const QV_LONG start = Track(c.track).m__LONG__StartAddress, lba = start + 37;
    std::vector<uint8_t> want(4 * 2448), got(4 * 2448);
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_ReadCD(handle, QV_STATUS(s), lba, 4, want.data(), QVX_READ_RAW_PW, start,
                                                static_cast<QV_UCHAR>(c.track), c.type), 0u) << s.text;
    if (c.type != QVX_READ_TRACK_AUDIO) {
      QV_ULONG fault = 9, repair = 9;
      EXPECT_EQ(Quorvane_CheckRawSector(want.data(), 1, lba, 0, &fault, &repair), 0u);
      EXPECT_EQ(fault, QV_ULONG{QVX_SECTOR_GOOD});
    }
    for (QV_ULONG flags : {QVX_READ_COOKED, QVX_READ_RAW, QVX_READ_RAW_PQ}) {
      SCOPED_TRACE(std::to_string(c.track) + " flags " + std::to_string(flags));
      std::fill(got.begin(), got.end(), 0xEE);
      ASSERT_EQ(Quorvane_CdvdBurnerGrabber_ReadCD(handle, QV_STATUS(s), lba, 4, got.data(), flags, start,
                                                  static_cast<QV_UCHAR>(c.track), c.type), 0u) << s.text;
      EXPECT_TRUE(got == want);
    }
  }
  std::vector<uint8_t> big(27 * 2448);
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_ReadCD(handle, QV_STATUS(s), 0, 27, big.data(), QVX_READ_RAW_PW, 0, 1,
                                              QVX_READ_TRACK_MODE1), QV_ULONG{EN_READ_REQUEST_TOO_LARGE});
}

// A damaged block, a block of the wrong kind: the readers say which, keep
// the sense, and a range read block by block still delivers the good ones.
TEST_F(GrabRead, ReadFailuresAreNamedBySense) {
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "sense", "lba": [102, 102], "times": 0}]})"), 0u);
  std::vector<uint8_t> clean(4 * 2048), range(4 * 2048);
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_Read10(handle, QV_STATUS(s), clean.data(), 98, 4, 0), 0u) << s.text;
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Read10(handle, QV_STATUS(s), range.data(), 102, 1, 0),
            QV_ULONG{EN_UNRECOVERED_READ_ERROR});
  EXPECT_EQ(s.failure.m__UCHAR__Sense[2] & 0x0F, 0x03) << "the drive's sense is kept";
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Read10(handle, QV_STATUS(s), range.data(), Track(2).m__LONG__StartAddress, 1, 0),
            QV_ULONG{EN_ILLEGAL_OPERATION_FOR_TRACK});
  for (QV_ULONG stop : {0u, QV_ULONG{QVX_READ_STOP_AT_FIRST_FAILURE}}) {
    std::fill(range.begin(), range.end(), 0);
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_Read(handle, QV_STATUS(s), range.data(), 99, 4, 0, 1, QVX_READ_TRACK_MODE1,
                                              QVX_READ_COOKED | stop, 0, 0), QV_ULONG{EN_UNRECOVERED_READ_ERROR});
    if (stop == 0) {
      EXPECT_EQ(std::memcmp(range.data(), clean.data() + 2048, 3 * 2048), 0) << "the good blocks, read alone";
    }
  }
}

// A slow drive: the grab goes on, reporting its progress each second of
// (virtual) time. (The wave file: GrabCli.AudioTrackBecomesTheSameSamples.)
TEST_F(GrabRead, SlowDriveReportsProgressAndAudioBecomesWave) {
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "slow", "ms": 700, "times": 0}]})"), 0u);
  const auto file = home.path() / "t2.wav";
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_GrabTrack(handle, QV_STATUS(s), 2, file.c_str(), 0, 0, 0, 1), 0u) << s.text;
  const uint64_t blocks = uint64_t(Track(2).m__LONG__EndAddress - Track(2).m__LONG__StartAddress + 1);
  ASSERT_GT(progress.size(), 3u);
  for (size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i].first, blocks);
    EXPECT_LE(progress[i].second, blocks);
    if (i > 0) {
      EXPECT_GE(progress[i].second, progress[i - 1].second);
    }
  }
  EXPECT_EQ(progress.back().second, blocks) << "the last report says all is done";
  // Ranges name blocks of one track.
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GrabRange(handle, QV_STATUS(s), Track(1).m__LONG__EndAddress - 5,
                                                 Track(1).m__LONG__EndAddress + 5, file.c_str(), 0, 0, 0, 0),
            QV_ULONG{EN_INVALID_RANGE});
  EXPECT_EQ(Quorvane_CdvdBurnerGrabber_GrabRange(handle, QV_STATUS(s), 900000, 900001, file.c_str(), 0, 0, 0, 0),
            QV_ULONG{EN_NOT_FOUND});
}

}  // namespace
