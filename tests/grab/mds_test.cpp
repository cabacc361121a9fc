// Description files: the layout of a one-track CD's, read back as written,
// as many sessions and tracks as a CD holds, and every damaged or hostile
// one refused with its status; the image classifiers by name and first
// blocks. (A grabbed CD's description, read apart from the engine against
// the drive's table of contents, is the grab command's test.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "grab/mds.h"
#include "platform/output_file.h"
#include "support/test_support.h"

namespace {

// One session, one Mode 1 track of 1000 blocks.
QUORVANE_TOC_INFORMATION OneTrack() {
  QUORVANE_TOC_INFORMATION toc{};
  toc.m__UCHAR__LastSession = toc.m__UCHAR__NumberOfTracks = 1;
  toc.m__UCHAR__NumberOfEntries = 4;
  QUORVANE_TOC_TRACK& t = toc.m__TRACK__Tracks[0];
  t.m__UCHAR__IsValid = t.m__UCHAR__TrackNumber = t.m__UCHAR__SessionNumber = t.m__UCHAR__TrackMode = 1;
  t.m__LONG__EndAddress = 999;
  const uint8_t entries[4][4] = {{0xA0, 1, 0, 0}, {0xA1, 1, 0, 0}, {0xA2, 0, 15, 25}, {1, 0, 2, 0}};
  for (int i = 0; i < 4; ++i)
    toc.m__ENTRY__Entries[i] = {1, 0x14, 0, entries[i][0], 0, 0, 0, 0, entries[i][1], entries[i][2], entries[i][3]};
  return toc;
}

void Put32(std::string& b, size_t at, uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) b[at + i] = char(v >> (8 * i));
}
uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(b[at + i]);
  return v;
}

class Mds : public ::testing::Test {
 protected:
  std::string Written(const char* base) {
    qv::plat::OutputFile file;
    uint32_t error = 0;
    EXPECT_TRUE(file.Open((dir.path() / "d.mds").string(), &error));
    FormatFileMDSForCD(file, toc, base);
    EXPECT_TRUE(file.Commit(&error));
    return qvtest::ReadFile(dir.path() / "d.mds");
  }
  uint32_t Parse(const std::string& bytes) {
    dir.Write("p.mds", bytes);
    return QuorvaneI_ParseMDS((dir.path() / "p.mds").c_str(), &layout, &mode, &name, (dir.path().string() + "/").c_str());
  }
  qvtest::TempDir dir;
  QUORVANE_TOC_INFORMATION toc = OneTrack();
  QuorvaneI_MdsLayout layout;
  int mode = 0;
  std::string name;
};

// Header, session, four descriptors, index, file record, then the name at
// 88 + 4 x 80 + 24 x 2; read back, the track is as long as it was.
TEST_F(Mds, OneTrackCdLayoutAndBack) {
  const std::string mds = Written("/some/where/disc");
  ASSERT_EQ(mds.size(), 456u + sizeof "disc.xmf");
  EXPECT_EQ(mds.substr(456), std::string("disc.xmf", sizeof "disc.xmf"));
  // The fuzzer's seed was put together byte by byte from the format's tables.
  EXPECT_TRUE(Written("disc") == qvtest::ReadFile(QUORVANE_DISCS_DIR "/../../tests/grab/fuzz/seeds/one-track.mds"));

  ASSERT_EQ(Parse(mds), 0u);
  EXPECT_EQ(layout.rawTrackCount, 1);
  EXPECT_EQ(layout.rawTrackSizes[0], 1000);
  EXPECT_EQ(layout.isAudio[0], 0);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(name, "disc.xmf");
  // A length of 0: the image file's own size tells.
  std::string zero = mds;
  Put32(zero, Get32(mds, 112 + 3 * 80 + 52) + 8, 0);
  dir.Write("disc.xmf", std::string(777 * 2448, '\0'));
  ASSERT_EQ(Parse(zero), 0u);
  EXPECT_EQ(layout.rawTrackSizes[0], 777);
}

// One of each refusal: damage, a cut, a name that leads elsewhere. (fuzz_mds
// holds every accepted name to a plain one.)
TEST_F(Mds, DamagedAndHostileDescriptionsAreRefused) {
  const std::string good = Written("disc");
  auto withName = [&](const std::string& n) { return good.substr(0, 456) + n + std::string(1, '\0'); };
  auto patched = [&](size_t at, uint8_t v) {
    std::string b = good;
    b[at] = char(v);
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t status;
  } cases[] = {
      {"a DVD's", patched(18, 0x10), 11},
      {"cut in a descriptor", good.substr(0, 200), 996},
      {"parent folder", withName("../x"), 123},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Parse(c.bytes), c.status);
  }
  EXPECT_EQ(QuorvaneI_ParseMDS((dir.path() / "none.mds").c_str(), &layout, &mode, &name, ""), 2u);
}

TEST_F(Mds, ClassifiersLookAtNameAndFirstBlocks) {
  std::string raw(2352, '\0');
  std::memcpy(raw.data(), "\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0", 12);
  raw[15] = 2;
  std::string iso(17 * 2048, '\0');
  std::memcpy(&iso[16 * 2048], "\x01" "CD001", 6);
  struct Case {
    const char* name;
    std::string bytes;
    bool mdf, isoImage;
    int mode;
  } cases[] = {{"a.xmf", raw, true, false, 2},           {"A.MDF", raw, true, false, 2},
               {"a.bin", raw, false, false, -1},         {"a.xmf", raw.substr(0, 2000), false, false, 0},
               {"a.iso", iso, false, true, -1},          {"a.iso", iso.substr(0, 34000), false, false, -1},
               {"a.mdf", std::string(4000, 'x'), false, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + std::to_string(c.bytes.size()));
    const std::string path = dir.Write(c.name, c.bytes).string();
    int m = -1;
    EXPECT_EQ(QuorvaneI_IsMDF(path.c_str(), &m), c.mdf);
    EXPECT_EQ(m, c.mode);
    EXPECT_EQ(QuorvaneI_IsISO(path.c_str()), c.isoImage);
  }
}

// A description of `sessions` sessions of one track each, the last with
// `lastTracks`, every track 10 blocks long and 20 after the one before.
std::string Described(uint32_t sessions, uint32_t lastTracks) {
  const uint32_t tracks = sessions - 1 + lastTracks, trackAt = 88 + 24 * sessions, fileAt = trackAt + 80 * tracks,
                 nameAt = fileAt + 16 * tracks;
  std::string b(nameAt, '\0');
  b.replace(0, 16, "MEDIA DESCRIPTOR");
  b[16] = 1;
  b[22] = 2;
  Put32(b, 20, sessions, 2);
  Put32(b, 80, 88);
  for (uint32_t s = 0; s < sessions; ++s) {
    const size_t d = 88 + 24 * s;
    const uint32_t count = s + 1 == sessions ? lastTracks : 1;
    Put32(b, d, s == 0 ? uint32_t(-150) : 20 * s);
    Put32(b, d + 4, 20 * (s + count - 1) + 10);
    Put32(b, d + 8, s + 1, 2);
    b[d + 10] = char(count);
    Put32(b, d + 20, trackAt + 80 * s);
  }
  for (uint32_t k = 0; k < tracks; ++k) {
    const size_t d = trackAt + 80 * k;
    b[d] = char(0xEA);
    b[d + 1] = 0x08;
    b[d + 4] = char(k + 1);
    Put32(b, d + 36, 20 * k);
    Put32(b, d + 40, k * 10 * kMdsImageBlockSize);
    Put32(b, d + 48, 1);
    Put32(b, d + 52, fileAt + 16 * k);
    Put32(b, fileAt + 16 * k, nameAt);
    Put32(b, fileAt + 16 * k + 8, 10);
  }
  return b + std::string("i.xmf", 6);
}

// As many sessions and tracks as a CD holds are read; more are refused, as
// is a track that overlaps another in the image (fuzz_mds holds every
// accepted layout to sessions covering their tracks in order).
TEST_F(Mds, AsManySessionsAndTracksAsACdHoldsAndNoMore) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t status;
  } cases[] = {
      {"99 sessions of a track each", Described(99, 1), 0},
      {"100 tracks", Described(99, 2), 11},
      {"100 sessions", Described(100, 1), 11},
      {"a track elsewhere in the image", [] { std::string b = Described(2, 1); Put32(b, 88 + 48 + 80 + 40, 0); return b; }(), 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Parse(c.bytes), c.status);
    if (c.status == 0) {
      EXPECT_EQ(layout.sessions[layout.sessionCount - 1].lastTrack + 1, layout.trackCount);
      EXPECT_EQ(layout.sessions[1].firstTrack, 1);
      EXPECT_EQ(layout.trackStarts[layout.trackCount - 1], 20 * (layout.trackCount - 1));
    }
  }
}

}  // namespace
