// The cue sheet of raw 2352-byte data tracks, stored pre-gaps and FLAGS,
// entry by entry as MMC's SEND CUE SHEET takes them.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "record/cue_sheet.h"

namespace {

using Entry = std::array<uint8_t, 8>;

std::vector<Entry> Build(const std::vector<QuorvaneI_CueTrack>& tracks) {
  const std::vector<uint8_t> sheet = QuorvaneI_BuildCueSheet(tracks.data(), static_cast<int32_t>(tracks.size()), false,
                                                             false, nullptr);
  std::vector<Entry> entries(sheet.size() / 8);
  for (size_t i = 0; i < entries.size(); ++i) std::copy(sheet.begin() + 8 * i, sheet.begin() + 8 * i + 8, entries[i].begin());
  return entries;
}

QuorvaneI_CueTrack Raw(bool mode2, int32_t size) {
  QuorvaneI_CueTrack t;
  t.rawData = true;
  t.mode2 = mode2;
  t.sizeInBlocks = size;
  return t;
}

TEST(CueRawForms, EntriesOfRawDataStoredPregapsAndFlags) {
  QuorvaneI_CueTrack audio;
  audio.audio = true;
  audio.sizeInBlocks = 1000;  // 75 of them the stored pause before index 1
  audio.pregapBlocks = 0;
  audio.pregapInSourceBlocks = 75;
  audio.copyPermitted = audio.preEmphasis = true;
  audio.indexes = {150};
  const struct {
    const char* name;
    std::vector<QuorvaneI_CueTrack> tracks;
    std::vector<Entry> expected;
  } cases[] = {
      {"raw Mode 1: form 11h, generated 14h around it",
       {Raw(false, 300)},
       {Entry{0x41, 0, 0, 0x14, 0, 0, 0, 0}, Entry{0x41, 1, 0, 0x11, 0, 0, 0, 0}, Entry{0x41, 1, 1, 0x11, 0, 0, 2, 0},
        Entry{0x41, 0xAA, 1, 0x14, 0, 0, 6, 0}}},
      {"raw Mode 2: form 31h, generated 34h",
       {Raw(true, 300)},
       {Entry{0x41, 0, 0, 0x34, 0, 0, 0, 0}, Entry{0x41, 1, 0, 0x31, 0, 0, 0, 0}, Entry{0x41, 1, 1, 0x31, 0, 0, 2, 0},
        Entry{0x41, 0xAA, 1, 0x34, 0, 0, 6, 0}}},
      {"audio after data, its pause from the source, copy and pre-emphasis",
       {Raw(false, 300), audio},
       {Entry{0x41, 0, 0, 0x14, 0, 0, 0, 0}, Entry{0x41, 1, 0, 0x11, 0, 0, 0, 0}, Entry{0x41, 1, 1, 0x11, 0, 0, 2, 0},
        Entry{0x31, 2, 0, 0x00, 0, 0, 6, 0}, Entry{0x31, 2, 1, 0x00, 0, 0, 7, 0}, Entry{0x31, 2, 2, 0x00, 0, 0, 9, 0},
        // 150 + 300 + 1000 = 1450 frames: 00:19:25.
        Entry{0x31, 0xAA, 1, 0x01, 0, 0, 19, 25}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Build(c.tracks), c.expected);
  }
}

}  // namespace
