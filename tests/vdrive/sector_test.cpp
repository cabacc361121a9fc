// CD sectors as READ CD returns them: EDC/ECC against vcdimager's own
// sectors, the field selections of the MMC table and the pause flag.
#include <array>
#include <cstring>
#include <sstream>

#include "door_client.h"
#include "support/q_crc.h"
#include "support/tiny_mpeg.h"

namespace qvtest {
namespace {

class Sectors : public VdriveTest {
 protected:
  TempDir work;
};

// vcdimager writes Mode 2 Form 1 (the ISO track) and Form 2 (the MPEG
// track) sectors with its own EDC/ECC. Loaded without their sync, header
// and EDC/ECC, the drive must give back every sector byte for byte, and a
// TOC that cd-info reads from vcdimager's cue sheet.
TEST_F(Sectors, RawSectorsMatchVcdimager) {
  QVTEST_REQUIRE_PROGRAM("vcdimager");
  QVTEST_REQUIRE_PROGRAM("cd-info");
  work.Write("in.mpg", TinyMpeg());
  std::string out;
  ASSERT_EQ(RunCommand("cd " + work.path().string() + " && vcdimager -t vcd2 -c x.cue -b x.bin in.mpg", &out), 0) << out;
  const std::string bin = ReadFile(work / "x.bin");
  ASSERT_EQ(bin.size() % 2352, 0u);
  const uint32_t sectors = static_cast<uint32_t>(bin.size() / 2352);
  // vcdimager's layout: the ISO track, then a 150-block pause and the MPEG
  // track; both in the one bin.
  ASSERT_EQ(sectors, 875u) << "vcdimager laid the disc out differently";
  // A source file holds no more than its track: the ISO track gets its own.
  work.Write("iso.bin", bin.substr(0, 300 * 2352));
  MakeDrive("d", nullptr);
  InsertDescription("d", work.path(), R"({"media": "cd-r", "sessions": [{"tracks": [
      {"mode": "mode2", "blocks": 300, "source": {"file": "iso.bin", "sectorBytes": 2352}},
      {"mode": "mode2", "pregap": 150, "blocks": 425,
       "source": {"file": "x.bin", "sectorBytes": 2352, "offset": 705600}}]}]})");
  DoorClient d("d");
  ASSERT_EQ(d.UntilReady().back(), "GOOD");
  std::string raw;
  for (uint32_t lba = 0; lba < sectors; lba += 20) {
    const uint32_t n = std::min(20u, sectors - lba);
    const Reply r = d.In(ReadCd(static_cast<int32_t>(lba), n, 0xF8), n * 2352);
    ASSERT_TRUE(r.Good()) << lba << ": " << r.Outcome();
    raw.append(r.data.begin(), r.data.end());
  }
  ASSERT_EQ(raw.size(), bin.size());
  size_t forms[2] = {0, 0};
  for (uint32_t i = 0; i < sectors; ++i) {
    ++forms[(bin[i * 2352 + 18] & 0x20) ? 1 : 0];
    ASSERT_EQ(raw.compare(i * 2352, 2352, bin, i * 2352, 2352), 0) << "sector " << i;
  }
  EXPECT_GT(forms[0], 100u) << "Form 1 sectors";
  EXPECT_GT(forms[1], 100u) << "Form 2 sectors";

  // User data through READ(10): Form 1 only.
  const Reply pvd = d.In(Read10(16, 1), 2048);
  ASSERT_TRUE(pvd.Good());
  EXPECT_EQ(std::string(pvd.data.begin(), pvd.data.end()), bin.substr(16 * 2352 + 24, 2048));
  EXPECT_EQ(d.In(Read10(500, 1), 2048).Outcome(), "05/64/00") << "a Form 2 sector";

  // The track list cd-info makes of the cue sheet, against READ TOC.
  ASSERT_EQ(RunCommand("cd-info --no-header --no-device-info --cue-file " + (work / "x.cue").string(), &out), 0) << out;
  const Reply msf = d.In(ReadToc(0, true), 4096);
  const Reply lba = d.In(ReadToc(0, false), 4096);
  ASSERT_TRUE(msf.Good() && lba.Good());
  std::istringstream lines(out);
  int checked = 0;
  for (std::string line; std::getline(lines, line);) {
    unsigned number, m, s, f, lsn;
    if (std::sscanf(line.c_str(), " %u: %u:%u:%u %u", &number, &m, &s, &f, &lsn) != 5) continue;
    const size_t at = 4 + 8 * static_cast<size_t>(checked);
    ASSERT_LT(at + 8, msf.data.size() + 1) << line;
    EXPECT_EQ(msf.data[at + 2], number == 170 ? 0xAA : number) << line;
    EXPECT_EQ((std::array<unsigned, 3>{msf.data[at + 5], msf.data[at + 6], msf.data[at + 7]}),
              (std::array<unsigned, 3>{m, s, f}))
        << line;
    EXPECT_EQ(lba.Be32At(at + 4), lsn) << line;
    ++checked;
  }
  EXPECT_EQ(checked, 3) << out;
}

// The prepared mixed-mode disc: a Mode 1 track, then audio tracks with
// pauses. Every main channel selection of the MMC table, by sector kind.
TEST_F(Sectors, FieldSelections) {
  DoorClient& d = Ready(nullptr, "mixed-mode-cd.json");
  const int32_t data = 100, audio = 6200;
  const Reply rawData = d.In(ReadCd(data, 1, 0xF8), 2352);
  ASSERT_TRUE(rawData.Good()) << rawData.Outcome();
  EXPECT_EQ(rawData.data[15], 1) << "Mode 1";
  EXPECT_EQ(rawData.data[12], 0x00);
  EXPECT_EQ(rawData.data[13], 0x03);
  EXPECT_EQ(rawData.data[14], 0x25) << "100 + 150 frames = 00:03:25";
  EXPECT_EQ(rawData.Be32At(16), 100u) << "the counter pattern";
  struct Case {
    uint8_t byte9;
    uint32_t mode1, audioBytes;  // 0 with a CHECK CONDITION expected when bad
    bool bad;
  } cases[] = {
      {0x00, 0, 0, false},    {0x10, 2048, 2352, false}, {0x18, 2336, 2352, false}, {0x20, 4, 0, false},
      {0x08, 288, 0, false},  {0x80, 12, 0, false},      {0xB0, 2064, 2352, false}, {0xE0, 16, 0, false},
      {0xF8, 2352, 2352, false}, {0x90, 0, 0, true},     {0xC0, 0, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "byte 9 = " << std::hex << int(c.byte9));
    const Reply m1 = d.In(ReadCd(data, 2, c.byte9), 8192);
    const Reply au = d.In(ReadCd(audio, 2, c.byte9), 8192);
    if (c.bad) {
      EXPECT_EQ(m1.Outcome(), "05/24/00");
      EXPECT_EQ(au.Outcome(), "05/24/00");
      continue;
    }
    ASSERT_TRUE(m1.Good() && au.Good()) << m1.Outcome() << " " << au.Outcome();
    EXPECT_EQ(m1.data.size(), 2 * c.mode1);
    EXPECT_EQ(au.data.size(), 2 * c.audioBytes);
    // Whatever the selection, the bytes are the raw sector's own run.
    if (c.mode1 > 0 && !(c.byte9 & 0x80) && (c.byte9 & 0x60) != 0x40 && (c.byte9 & 0x10)) {
      const size_t from = (c.byte9 & 0x20) ? 12 : 16;
      EXPECT_TRUE(std::equal(m1.data.begin(), m1.data.begin() + c.mode1, rawData.data.begin() + from));
    }
  }
  // C2 pointers and sub-channels add their bytes after the main channel.
  EXPECT_EQ(d.In(ReadCd(data, 1, 0x10 | 0x02), 4096).data.size(), 2048u + 294);
  EXPECT_EQ(d.In(ReadCd(data, 1, 0x10 | 0x04), 4096).data.size(), 2048u + 296);
  EXPECT_EQ(d.In(ReadCd(data, 1, 0x10 | 0x06), 4096).Outcome(), "05/24/00");
  for (const auto& [sub, bytes] : {std::pair<uint8_t, uint32_t>{1, 96}, {2, 16}, {4, 96}})
    EXPECT_EQ(d.In(ReadCd(audio, 1, 0xF8, sub), 4096).data.size(), 2352u + bytes) << int(sub);
  EXPECT_EQ(d.In(ReadCd(audio, 1, 0xF8, 3), 4096).Outcome(), "05/24/00");
  // Expected sector types: any (0), CD-DA (1), Mode 1 (2), Form 1 (4).
  EXPECT_TRUE(d.In(ReadCd(data, 1, 0x10, 0, 2), 4096).Good());
  EXPECT_EQ(d.In(ReadCd(data, 1, 0x10, 0, 1), 4096).Outcome(), "05/64/00");
  EXPECT_TRUE(d.In(ReadCd(audio, 1, 0x10, 0, 1), 4096).Good());
  EXPECT_EQ(d.In(ReadCd(audio, 1, 0x10, 0, 6), 4096).Outcome(), "05/24/00");
  // Audio through READ(10); addresses outside the disc.
  EXPECT_EQ(d.In(Read10(audio, 1), 2048).Outcome(), "05/64/00");
  EXPECT_EQ(d.In(ReadCd(8700, 1, 0x10), 4096).Outcome(), "05/21/00");
  // A buffer too small for the second sector gets the first only.
  EXPECT_EQ(d.In(ReadCd(data, 2, 0xF8), 3000).data.size(), 2352u);
}

// The prepared audio CD: track 2's pause of 150 blocks before 1650, track
// 3's of 225 before 3000 with indexes 2 and 3 at +750 and +1500. Q (built
// here, CRC apart from the drive) counts a pause down to zero on its last
// frame, and P flags it. The generated audio is sample numbers; READ CD
// MSF reads the blocks READ CD does.
TEST_F(Sectors, QAndPThroughPausesIndexesAndMsfAddresses) {
  DoorClient& d = Ready(nullptr, "audio-cd.json");
  const auto bcd = [](uint32_t v) { return static_cast<uint8_t>(v / 10 << 4 | v % 10); };
  struct Case {
    int32_t lba;
    uint8_t control, track, index;
    uint32_t relative;
  } cases[] = {
      {1499, 0x0, 1, 1, 1499}, {1500, 0x2, 2, 0, 149}, {1649, 0x2, 2, 0, 0},    {1650, 0x2, 2, 1, 0},
      {2775, 0x1, 3, 0, 224},  {3000, 0x1, 3, 1, 0},   {3750, 0x1, 3, 2, 750}, {4500, 0x1, 3, 3, 1500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lba);
    const uint32_t abs = static_cast<uint32_t>(c.lba + 150);
    uint8_t q[12] = {static_cast<uint8_t>(c.control << 4 | 1), bcd(c.track), bcd(c.index),
                     bcd(c.relative / 4500), bcd(c.relative / 75 % 60), bcd(c.relative % 75), 0,
                     bcd(abs / 4500), bcd(abs / 75 % 60), bcd(abs % 75)};
    const uint16_t crc = QCrc(q);
    q[10] = static_cast<uint8_t>(crc >> 8), q[11] = static_cast<uint8_t>(crc);
    const Reply r = d.In(ReadCd(c.lba, 1, 0x00, 2), 16);
    ASSERT_EQ(r.data.size(), 16u) << r.Outcome();
    EXPECT_TRUE(std::equal(q, q + 12, r.data.begin()));
    EXPECT_EQ(d.In(ReadCd(c.lba, 1, 0x00, 1), 96).data.at(0) & 0x80, c.index == 0 ? 0x80 : 0);
  }
  const Reply s = d.In(ReadCd(1650, 1, 0x10), 2352);
  const uint32_t n = 1650 * 588;
  EXPECT_EQ(s.data[0] | s.data[1] << 8, n & 0xFFFF);
  EXPECT_EQ(s.data[2] | s.data[3] << 8, ~n & 0xFFFF);
  const std::vector<uint8_t> msf = {0xB9, 0, 0, 0, 24, 0, 0, 24, 2, 0x10, 0, 0};  // 00:24:00 to 00:24:02
  const Reply viaMsf = d.In(msf, 8192);
  ASSERT_TRUE(viaMsf.Good()) << viaMsf.Outcome();
  EXPECT_EQ(viaMsf.data, d.In(ReadCd(24 * 75 - 150, 2, 0x10), 8192).data);
}

}  // namespace
}  // namespace qvtest
