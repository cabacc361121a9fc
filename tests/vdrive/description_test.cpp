// Disc descriptions: every prepared one loads, sources land where their
// tracks are, zero runs cost no disk space, and a bad description says
// what is wrong and changes nothing.
#include <sys/stat.h>

#include <filesystem>

#include "door_client.h"

namespace qvtest {
namespace {

class Descriptions : public ::testing::Test {
 protected:
  VirtualDriveHome home;
  TempDir work;

  // Bytes the drive's disc data file really occupies.
  uint64_t Allocated(const std::string& drive) {
    struct stat st {};
    if (stat((home.path() / drive / "disc.img").c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_blocks) * 512;
  }
};

TEST_F(Descriptions, EveryPreparedDiscLoadsAndCostsNothing) {
  MakeDrive("d", nullptr);
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUORVANE_DISCS_DIR)) {
    SCOPED_TRACE(entry.path().filename().string());
    InsertPrepared("d", entry.path().filename().string());
    EXPECT_LT(Allocated("d"), 64u * 1024) << "generated and empty data take no space";
    DoorClient d("d");
    EXPECT_EQ(d.UntilReady().back(), "GOOD");
    ++n;
  }
  EXPECT_GE(n, 12);
}

// An audio track from a raw PCM file and a Mode 1 track after it from a
// file of blocks (a CD-Extra-like layout in one session): READ CD gives
// back the PCM, READ(10) the blocks.
TEST_F(Descriptions, SourceFilesLandInTheirTracks) {
  std::string pcm(2352 * 400, '\0'), iso(2048 * 40, '\0');
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<char>(i * 7 + i / 2352);
  for (size_t i = 0; i < iso.size(); ++i) iso[i] = static_cast<char>(i * 3 + i / 2048);
  work.Write("audio.raw", pcm);
  work.Write("data.iso", iso);
  MakeDrive("d", nullptr);
  InsertDescription("d", work.path(), R"({"media": "cd-r", "sessions": [{"tracks": [
      {"mode": "audio", "source": {"file": "audio.raw"}},
      {"mode": "mode1", "pregap": 150, "source": {"file": "data.iso"}, "blocks": 1000}]}]})");
  DoorClient d("d");
  d.UntilReady();
  const Reply toc = d.In(ReadToc(0, false), 4096);
  ASSERT_TRUE(toc.Good());
  // The audio file's 400 sectors make track 1 (from LBA 0); the data
  // file's first blocks are track 2's pause, since the file starts there.
  EXPECT_EQ(toc.Be32At(16), 400u + 150);
  EXPECT_EQ(toc.Be32At(24), 400u + 150 + 1000);
  std::string audio;
  for (int32_t lba = 0; lba < 400; lba += 25) {
    const Reply r = d.In(ReadCd(lba, 25, 0x10), 25 * 2352);
    ASSERT_TRUE(r.Good()) << r.Outcome();
    audio.append(r.data.begin(), r.data.end());
  }
  EXPECT_TRUE(audio == pcm);
  const Reply block = d.In(Read10(400 + 16, 1), 2048);
  ASSERT_TRUE(block.Good()) << block.Outcome();
  EXPECT_EQ(std::string(block.data.begin(), block.data.end()), iso.substr(16 * 2048, 2048));
  // Blocks past the file's end read as zeros.
  const Reply tail = d.In(Read10(400 + 150 + 999, 1), 2048);
  EXPECT_TRUE(std::all_of(tail.data.begin(), tail.data.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(Descriptions, APaddingRunCostsNothing) {
  // A 4 GiB image of zeros with one marked block near its end.
  const auto big = work / "big.iso";
  {
    std::ofstream f(big, std::ios::binary);
    f.seekp(2000000LL * 2048 + 5);
    f.write("MARK", 4);
    f.seekp(2097152LL * 2048 - 1);
    f.put('\0');
  }
  MakeDrive("d", nullptr);
  InsertDescription("d", work.path(), R"({"media": "dvd+r", "sessions": [{"tracks": [{"source": {"file": "big.iso"}}]}]})");
  EXPECT_LT(Allocated("d"), 64u * 1024);
  DoorClient d("d");
  d.UntilReady();
  EXPECT_EQ(d.In(ReadCapacity(), 8).Be32At(0), 2097151u);
  const Reply r = d.In(Read10(2000000, 1), 2048);
  EXPECT_EQ(std::string(r.data.begin() + 5, r.data.begin() + 9), "MARK");
}

TEST_F(Descriptions, BadDescriptionsSayWhatIsWrong) {
  work.Write("small.bin", std::string(2048 * 10, 'x'));
  using namespace std::string_literals;
  const struct {
    std::string json;
    const char* says;
    uint32_t error;
  } cases[] = {
      {"{\"media\": \"cd-r\"}\0 and more"s, "NUL byte", 13},
      {R"({"media": "dvd+r", "capacity": 2147483647})", "\"capacity\" must be between 1 and 2298496", 13},
      {R"({"media": "floppy"})", "\"media\" must be one of", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": []}]})", "each session needs", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"mode": "mode3", "blocks": 5}]}]})", "\"mode\" must be", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"mode": "audio"}]}]})", "needs \"blocks\"", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"blocks": 2147480000}]}]})", "beyond the disc's capacity", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"blocks": 100, "start": 50, "pregap": 0}, {"blocks": 10, "start": 120}]}]})",
       "must begin after", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"blocks": 100, "indexes": [0]}]}]})", "\"indexes\" must rise", 13},
      {R"({"media": "cd-r", "sessions": [{"closed": false, "tracks": [{"blocks": 9}]}, {"tracks": [{"blocks": 9}]}]})",
       "only the last session may be open", 13},
      {R"({"media": "dvd+r", "sessions": [{"tracks": [{"blocks": 100, "recorded": 50}]}]})", "finished tracks", 13},
      {R"({"media": "dvd-r", "sessions": [{"tracks": [{"blocks": 100, "recorded": 500, "reserved": true}]}]})",
       "\"recorded\" exceeds", 13},
      {R"({"media": "dvd+r", "sessions": [{"tracks": [{"mode": "audio", "blocks": 9}]}]})", "a DVD track is Mode 1", 13},
      {R"({"media": "cd-rom", "status": "appendable", "sessions": [{"tracks": [{"blocks": 9}]}]})", "a pressed disc is complete", 13},
      {R"({"media": "cd-r", "leadIn": "12:00:00"})", "must lie in the lead-in", 13},
      {R"({"media": "cd-r", "leadIn": "97:61:00"})", "a time MM:SS:FF", 13},
      {R"({"media": "dvd+r", "layerBreak": 1000})", "\"layerBreak\" belongs to a DVD+R DL", 13},
      {R"({"media": "dvd+r-dl", "layerBreak": 1001})", "multiple of 16", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"mode": "mode1", "source": "tone", "blocks": 9}]}]})",
       "\"source\" must be", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"source": {"file": "missing.bin"}}]}]})", "missing.bin", 2},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"blocks": 5, "source": {"file": "small.bin"}}]}]})",
       "holds more sectors than the track", 13},
      {R"({"media": "cd-r", "sessions": [{"tracks": [{"blocks": 50, "source": {"file": "small.bin", "sectorBytes": 1000}}]}]})",
       "\"sectorBytes\"", 13},
      {R"({"media": "cd-r", "restrictedOverwrite": true})", "\"restrictedOverwrite\" is for DVD-RW", 13},
  };
  MakeDrive("d", nullptr);
  InsertPrepared("d", "data-cd.json");
  char before[16384];
  uint32_t needed = 0;
  ASSERT_EQ(QvDrive_Describe("d", before, sizeof before, &needed), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    work.Write("bad.json", c.json);
    EXPECT_EQ(QvDrive_InsertDisc("d", (work / "bad.json").c_str()), c.error);
    EXPECT_NE(VdriveErrorText().find(c.says), std::string::npos) << VdriveErrorText();
    EXPECT_NE(VdriveErrorText().find("bad.json"), std::string::npos) << "names the file";
    char after[16384];
    ASSERT_EQ(QvDrive_Describe("d", after, sizeof after, &needed), 0u);
    EXPECT_STREQ(after, before) << "the old disc stays";
  }
  EXPECT_EQ(QvDrive_InsertDisc("d", (work / "none.json").c_str()), 2u);
  EXPECT_EQ(QvDrive_InsertDisc("nodrive", (work / "bad.json").c_str()), 2u);
  EXPECT_EQ(QvDrive_InsertDisc("d", ""), 87u);
  const auto leftovers = std::distance(std::filesystem::directory_iterator(home.path() / "d"), {});
  EXPECT_EQ(leftovers, 5) << "no temporary files left behind";
}

}  // namespace
}  // namespace qvtest
