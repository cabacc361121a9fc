// The Q subchannel of a session-at-once disc as a host reads it back: READ
// SUB-CHANNEL's current position after READ CD has read a sector, with its
// catalogue number and ISRC, and READ CD's formatted Q of the same sector,
// against what the layout burnt means by the Red Book's rules.
#include <cstring>

#include "burn_support.h"
#include "support/q_crc.h"

namespace qvtest {
namespace {

uint8_t Bcd(int v) { return static_cast<uint8_t>(v / 10 << 4 | v % 10); }

struct Spot {
  int32_t lba;
  uint8_t control, track, index;
  int32_t relative;  // from index 1; negative in the pause
};

class SaoSubchannel : public BurnFixture {
 protected:
  void SetUp() override {
    BurnFixture::SetUp();
    Make("cd-r");
    ASSERT_EQ(Open(), 0u) << s.text;
    // A data track of 400 blocks, then four seconds of audio after a
    // two-second pause, with index 2 one second in.
    const auto data = Source("data.iso", 400 * 2048, 0x5A);
    const std::string audio = std::string(SourceDir()) + "/tests/audio/fixtures/tone-cd.wav";
    QUORVANE_SAO_TRACK t[2] = {};
    t[0].m__PCHAR__FileName = data.c_str();
    t[0].m__LONG__PregapBlocks = 150;
    t[1].m__PCHAR__FileName = audio.c_str();
    t[1].m__BOOLEAN__IsAudio = 1;
    t[1].m__LONG__PregapBlocks = 150;
    t[1].m__LONG__IndexCount = 1;
    t[1].m__LONG__Indexes[0] = 75;
    std::memcpy(t[1].m__CHAR__Isrc, "USABC9900002", 12);
    ASSERT_EQ(Quorvane_CdvdBurnerGrabber_SessionAtOnceEx(handle, QV_STATUS(s), t, 2, "4006381333931", 0, 0, 0, 1, 1),
              0u)
        << s.text;
  }
  std::vector<uint8_t> Command(std::vector<QV_UCHAR> cdb, uint32_t length) {
    std::vector<uint8_t> answer(length);
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_ExecuteCDB(handle, QV_STATUS(s), cdb.data(), static_cast<QV_ULONG>(cdb.size()),
                                                  answer.data(), length, 0),
              0u)
        << s.text;
    return answer;
  }
  // READ CD of one sector: any kind, user data, with the formatted Q.
  std::vector<uint8_t> ReadQ(int32_t lba, uint32_t mainBytes) {
    const auto a = static_cast<uint32_t>(lba);
    const auto sector = Command({0xBE, 0, QV_UCHAR(a >> 24), QV_UCHAR(a >> 16), QV_UCHAR(a >> 8), QV_UCHAR(a), 0, 0, 1,
                                 0x10, 0x02, 0},
                                mainBytes + 16);
    return {sector.begin() + mainBytes, sector.begin() + mainBytes + 12};
  }
  std::vector<uint8_t> SubChannel(uint8_t format, uint8_t track = 0) {
    return Command({0x42, 0, 0x40, format, 0, 0, track, 0, 48, 0}, 48);
  }
};

TEST_F(SaoSubchannel, PositionCatalogueAndIsrcFromTheLayout) {
  const Spot spots[] = {
      {0, 4, 1, 1, 0},       {399, 4, 1, 1, 399},  // the data track
      {400, 0, 2, 0, -150},  {549, 0, 2, 0, -1},   // the audio track's pause
      {550, 0, 2, 1, 0},     {624, 0, 2, 1, 74},   {625, 0, 2, 2, 75}, {849, 0, 2, 2, 299},
  };
  for (const Spot& at : spots) {
    SCOPED_TRACE(at.lba);
    const auto q = ReadQ(at.lba, at.control == 4 ? 2048 : 2352);
    const int32_t rel = std::abs(at.relative), abs = at.lba + 150;
    const std::vector<uint8_t> want = {uint8_t(at.control << 4 | 1), Bcd(at.track), Bcd(at.index),
                                       Bcd(rel / 4500), Bcd(rel / 75 % 60), Bcd(rel % 75), 0,
                                       Bcd(abs / 4500), Bcd(abs / 75 % 60), Bcd(abs % 75)};
    EXPECT_EQ(std::vector<uint8_t>(q.begin(), q.begin() + 10), want);
    EXPECT_EQ(q[10] << 8 | q[11], qvtest::QCrc(q.data()));
    // The pick-up rests on the sector READ CD read last.
    const auto p = SubChannel(1);
    EXPECT_EQ(p[4], 1);
    EXPECT_EQ(p[5], 1 << 4 | at.control);  // ADR above CONTROL here, unlike in Q
    EXPECT_EQ(p[6], at.track);
    EXPECT_EQ(p[7], at.index);
    EXPECT_EQ(static_cast<int32_t>(p[8] << 24 | p[9] << 16 | p[10] << 8 | p[11]), at.lba);
    EXPECT_EQ(static_cast<int32_t>(p[12] << 24 | p[13] << 16 | p[14] << 8 | p[15]), at.relative);
  }
  struct Code {
    uint8_t format, track;
    std::string text;  // empty: the valid bit is off
  };
  for (const Code& c : {Code{2, 0, "4006381333931"}, Code{3, 1, ""}, Code{3, 2, "USABC9900002"}}) {
    const auto p = SubChannel(c.format, c.track);
    EXPECT_EQ(p[4], c.format);
    EXPECT_EQ(p[8] & 0x80, c.text.empty() ? 0 : 0x80) << int(c.track);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[9]), c.text.size()), c.text);
  }
}

}  // namespace
}  // namespace qvtest
