// MODE SELECT(10): the write parameters page checked against the medium
// and the model, unchangeable fields, the parameter list's framing, and
// pages that stay set for other handles.
#include <functional>
#include <nlohmann/json.hpp>

#include "door_client.h"

namespace qvtest {
namespace {

using ModeSelect = VdriveTest;

std::vector<uint8_t> CurrentPage05(DoorClient& d) { return ModeList(d, 0x05); }

// Byte offsets of page 05 within the parameter list.
constexpr size_t kWt = 8 + 2, kTm = 8 + 3, kDbt = 8 + 4, kLink = 8 + 5, kSf = 8 + 8;

struct Setting {
  uint8_t writeType, blockType, trackMode;
  uint8_t extra2 = 0, extra3 = 0;  // more bits of bytes 2 and 3
  int linkSize = -1, sessionFormat = -1;
};

void Apply(std::vector<uint8_t>& list, const Setting& s) {
  list[kWt] = static_cast<uint8_t>((list[kWt] & 0x40) | s.writeType | s.extra2);
  list[kTm] = static_cast<uint8_t>(s.trackMode | s.extra3);
  list[kDbt] = s.blockType;
  if (s.linkSize >= 0) list[kLink] = static_cast<uint8_t>(s.linkSize);
  if (s.sessionFormat >= 0) list[kSf] = static_cast<uint8_t>(s.sessionFormat);
}

TEST_F(ModeSelect, WriteParametersByMedium) {
  struct Case {
    const char* media;  // nullptr: no disc
    const char* what;
    Setting setting;
    bool accepted;
  } cases[] = {
      // The engine's probes of write modes, on CD-R.
      {"cd-r", "TAO", {1, 8, 4}, true},
      {"cd-r", "SAO", {2, 8, 4}, true},
      {"cd-r", "raw + PQ", {3, 1, 4}, true},
      {"cd-r", "raw + raw P-W", {3, 3, 4}, true},
      {"cd-r", "TAO audio", {1, 0, 0}, true},
      {"cd-r", "TAO Mode 2 Form 1, XA", {1, 10, 4, 0, 0, -1, 0x20}, true},
      {"cd-r", "SAO, raw P-W first track", {2, 0, 4}, true},
      {"cd-r", "raw needs subchannel", {3, 8, 4}, false},
      {"cd-r", "write type 5 is reserved", {5, 8, 4}, false},
      {"cd-r", "block type 5 is reserved", {1, 5, 4}, false},
      {"cd-r", "block type 14 is reserved", {1, 14, 4}, false},
      {"cd-r", "data track with audio blocks", {1, 0, 4}, false},
      {"cd-r", "audio track with data blocks", {1, 8, 0}, false},
      {"cd-r", "multi-session 10b", {1, 8, 4, 0, 0x80}, false},
      {"cd-r", "multi-session 11b", {1, 8, 4, 0, 0xC0}, true},
      {"cd-r", "session format 30h", {1, 8, 4, 0, 0, -1, 0x30}, false},
      {"cd-r", "link size 7", {1, 8, 4, 0x20, 0, 7}, true},
      {"cd-r", "link size 16 on CD", {1, 8, 4, 0x20, 0, 16}, false},
      {"cd-r", "four-channel audio", {1, 0, 8}, false},
      {nullptr, "no disc: CD rules", {3, 3, 4}, true},
      // DVD-R: no raw; the engine's settings pass (its TAO as on DVD-RAM below).
      {"dvd-r", "raw", {3, 1, 4}, false},
      {"dvd-r", "incremental, link 16", {0, 8, 5, 0x20, 0xC0, 16}, true},
      {"dvd-r", "DAO", {2, 8, 5, 0x20, 0, 16}, true},
      {"dvd-r", "link size 7", {0, 8, 5, 0x20, 0, 7}, false},
      {"dvd-r", "test write", {2, 8, 5, 0x10}, true},
      {"dvd+r", "test write", {2, 8, 4, 0x10}, false},
      {"dvd+rw", "the engine's DVD+RW setting", {2, 8, 4}, true},
      {"dvd-ram", "the engine's DVD-RAM setting", {1, 8, 4, 0, 0xC0}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.media ? c.media : "none") + ": " + c.what);
    DoorClient d(NewDrive(c.media));
    std::vector<uint8_t> list = CurrentPage05(d);
    const std::vector<uint8_t> before = list;
    Apply(list, c.setting);
    const Reply r = Select(d, list);
    EXPECT_EQ(r.Outcome(), c.accepted ? "GOOD" : "05/26/00");
    if (!c.accepted) {
      ASSERT_EQ(r.sense.size(), 18u);
      EXPECT_EQ(r.sense[15] & 0xC0, 0x80) << "a field pointer into the parameter list";
    }
    EXPECT_EQ(CurrentPage05(d), c.accepted ? list : before);
  }
}

TEST_F(ModeSelect, WhatTheModelCannotDo) {
  MakeDrive("d", "cd-r");
  EditModel(home, "d", {{"rawPq", false}, {"rawPw", false}, {"sessionAtOnce", false}, {"bufferUnderrunFree", false},
                        {"testWrite", false}});
  DoorClient d("d");
  // A drive that refuses raw modes leaves the engine track-at-once only.
  for (const Setting& s : {Setting{2, 8, 4}, Setting{3, 1, 4}, Setting{3, 3, 4}, Setting{1, 8, 4, 0x40},
                           Setting{1, 8, 4, 0x10}}) {
    auto list = CurrentPage05(d);
    Apply(list, s);
    EXPECT_EQ(Select(d, list).Outcome(), "05/26/00") << int(s.writeType) << "/" << int(s.blockType) << "/" << int(s.extra2);
  }
  auto list = CurrentPage05(d);
  Apply(list, {1, 8, 4});
  EXPECT_TRUE(Select(d, list).Good());
}

TEST_F(ModeSelect, ParameterListFraming) {
  MakeDrive("d", "cd-r");
  DoorClient d("d");
  const std::vector<uint8_t> page05 = CurrentPage05(d);
  auto caps = d.In(ModeSense10(0x2A), 4096).data;
  std::fill(caps.begin(), caps.begin() + 8, 0);
  auto changed = [](std::vector<uint8_t> v, size_t at, uint8_t value) {
    v.at(at) = value;
    return v;
  };
  auto both = page05;
  both.insert(both.end(), caps.begin() + 8, caps.end());
  auto badSecond = both;
  badSecond[kWt] = 0x02;                 // a good change to page 05 ...
  badSecond[page05.size() + 12] ^= 0x01;  // ... with a change to the fixed 2Ah
  struct Case {
    const char* what;
    std::vector<uint8_t> cdb;
    std::vector<uint8_t> list;
    std::string outcome;
  } cases[] = {
      {"2Ah unchanged", ModeSelect10(caps.size()), caps, "GOOD"},
      {"2Ah changed", ModeSelect10(caps.size()), changed(caps, 8 + 12, caps[8 + 12] ^ 1), "05/26/00"},
      {"no PF", ModeSelect10(page05.size(), 0x00), page05, "05/24/00"},
      {"save pages", ModeSelect10(page05.size(), 0x11), page05, "05/24/00"},
      {"longer than the data", ModeSelect10(page05.size() + 10), page05, "05/1A/00"},
      {"header only", ModeSelect10(8), std::vector<uint8_t>(8, 0), "GOOD"},
      {"nothing", ModeSelect10(0), {}, "GOOD"},
      {"short header", ModeSelect10(5), std::vector<uint8_t>(5, 0), "05/1A/00"},
      {"block descriptors", ModeSelect10(page05.size()), changed(page05, 7, 8), "05/26/00"},
      {"page cut short", ModeSelect10(page05.size() - 4), page05, "05/1A/00"},
      {"wrong page length", ModeSelect10(page05.size()), changed(page05, 9, 0x30), "05/26/00"},
      {"unknown page", ModeSelect10(page05.size()), changed(page05, 8, 0x0E), "05/26/00"},
      {"sub-page format", ModeSelect10(page05.size()), changed(page05, 8, 0x45), "05/26/00"},
      {"two pages, one bad", ModeSelect10(badSecond.size()), badSecond, "05/26/00"},
  };
  for (const auto& c : cases) {
    const Reply r = d.Out(c.cdb, c.list);
    EXPECT_EQ(r.Outcome(), c.outcome) << c.what;
  }
  EXPECT_EQ(CurrentPage05(d), page05) << "no rejected list changed anything";
  // The field pointer of a fixed field: byte 8 + 12 of the list.
  const Reply fixed = d.Out(ModeSelect10(caps.size()), changed(caps, 8 + 12, caps[8 + 12] ^ 1));
  EXPECT_EQ(fixed.sense.at(16) << 8 | fixed.sense.at(17), 20);
}

TEST_F(ModeSelect, PagesStaySetForOtherHandles) {
  MakeDrive("d", "cd-rw");
  std::vector<uint8_t> list;
  {
    DoorClient d("d");
    list = CurrentPage05(d);
    Apply(list, {2, 8, 4, 0x10, 0xC0});
    ASSERT_TRUE(Select(d, list).Good());
    auto recovery = d.In(ModeSense10(0x01), 4096).data;
    std::fill(recovery.begin(), recovery.begin() + 8, 0);
    recovery[8 + 2] = 0x01;  // DCR: no error correction
    recovery[8 + 3] = 0;
    ASSERT_TRUE(Select(d, recovery).Good());
  }
  DoorClient other("d");
  EXPECT_EQ(CurrentPage05(other), list);
  const Reply recovery = other.In(ModeSense10(0x01), 4096);
  EXPECT_EQ(recovery.data.at(8 + 2), 0x01);
  EXPECT_EQ(recovery.data.at(8 + 3), 0);
  EXPECT_EQ(other.In(ModeSense10(0x01, 2), 4096).data.at(8 + 3), 0x20) << "defaults stay";
}

}  // namespace
}  // namespace qvtest
