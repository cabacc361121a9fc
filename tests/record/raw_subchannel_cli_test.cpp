// The program area's Q as a host reads it back from a raw disc-at-once
// recording: grab --disc --raw of the disc that burn --audio --raw wrote
// with a catalogue number and an ISRC, judged by the Red Book's rules for
// mode 1, 2 and 3 Q rather than by the engine's reader.
#include <gtest/gtest.h>

#include "support/cli_fixture.h"
#include "support/q_crc.h"

namespace {

using RawSubchannelCli = qvtest::CliTest;

std::string Nibbles(const uint8_t* at, int count) {
  std::string digits;
  for (int i = 0; i < count; ++i) digits += static_cast<char>('0' + (at[i / 2] >> (i % 2 ? 0 : 4) & 0x0F));
  return digits;
}

TEST_F(RawSubchannelCli, CatalogueAndIsrcComeBackAsWritten) {
  QVTEST_REQUIRE_PROGRAM("sox");
  for (const char* t : {"a", "b"})
    ASSERT_EQ(qvtest::RunCommand("sox -n -r 44100 -c 2 -b 16 " + At(std::string(t) + ".wav") + " synth 4 sine 440", &out), 0);
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive cd --audio --raw --catalog 4006381333931 --isrc 2=USABC9900002 " + At("a.wav") + " " +
                At("b.wav")), 0) << out;
  ASSERT_EQ(Run("grab --drive cd --disc --raw --out " + At("G")), 0) << out;
  const std::string image = qvtest::ReadFile(home.path() / "G.xmf");
  const size_t sectors = image.size() / 2448;
  ASSERT_EQ(sectors, 600u);  // the two tracks from index 1, without the pause between
  size_t lastCatalogue = 0, isrcs = 0;
  for (size_t n = 0; n < sectors; ++n) {
    SCOPED_TRACE(n);
    uint8_t q[12] = {};
    for (int i = 0; i < 96; ++i)
      if (image[n * 2448 + 2352 + i] & 0x40) q[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    ASSERT_EQ(q[10] << 8 | q[11], qvtest::QCrc(q));
    switch (q[0] & 0x0F) {
      case 1: break;
      case 2:
        EXPECT_EQ(Nibbles(q + 1, 13), "4006381333931");
        lastCatalogue = n;
        break;
      case 3: {
        // Five 6-bit characters (A = 11h), then seven BCD digits; only track 2 has one.
        const uint32_t bits = uint32_t{q[1]} << 24 | q[2] << 16 | q[3] << 8 | q[4];
        std::string isrc;
        for (int i = 0; i < 5; ++i) {
          const uint32_t c = bits >> (26 - 6 * i) & 0x3F;
          isrc += static_cast<char>(c < 10 ? '0' + c : 'A' + c - 0x11);
        }
        EXPECT_EQ(isrc + Nibbles(q + 5, 7), "USABC9900002");
        EXPECT_GE(n, 300u);
        ++isrcs;
        break;
      }
      default: ADD_FAILURE() << "ADR " << (q[0] & 0x0F);
    }
    // The catalogue number in at least one of every hundred successive
    // frames, counted in each track (the grab leaves out the pause).
    if (n == 300) lastCatalogue = n;
    EXPECT_LE(n - lastCatalogue, 100u);
  }
  EXPECT_GT(isrcs, 0u);
}

}  // namespace
