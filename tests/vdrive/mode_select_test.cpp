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

// One reserved value stands for all (the CDB fuzzer tries the others).
TEST_F(ModeSelect, WriteParametersByMedium) {
  struct Case {
    const char* media;
    const char* what;
    Setting setting;
    bool accepted;
  } cases[] = {
      {"cd-r", "TAO Mode 2 Form 1, XA", {1, 10, 4, 0, 0, -1, 0x20}, true},
      {"cd-r", "raw needs subchannel", {3, 8, 4}, false},
      {"cd-r", "write type 5 is reserved", {5, 8, 4}, false},
      {"cd-r", "data track with audio blocks", {1, 0, 4}, false},
      {"cd-r", "link size 16 on CD", {1, 8, 4, 0x20, 0, 16}, false},
      {"dvd-r", "link size 7", {0, 8, 5, 0x20, 0, 7}, false},
      {"dvd-r", "test write", {2, 8, 5, 0x10}, true},
      {"dvd+r", "test write", {2, 8, 4, 0x10}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.media) + ": " + c.what);
    DoorClient d(NewDrive(c.media));
    std::vector<uint8_t> list = CurrentPage05(d);
    const std::vector<uint8_t> before = list;
    Apply(list, c.setting);
    const Reply r = Select(d, list);
    EXPECT_EQ(r.Outcome(), c.accepted ? "GOOD" : "05/26/00");
    EXPECT_EQ(CurrentPage05(d), c.accepted ? list : before);
  }
}

// A model without raw modes, session-at-once, BUFE or test writes leaves
// the engine track-at-once only.
TEST_F(ModeSelect, WhatTheModelCannotDo) {
  MakeDrive("d", "cd-r");
  EditModel(home, "d", {{"rawPq", false}, {"rawPw", false}, {"sessionAtOnce", false}, {"bufferUnderrunFree", false},
                        {"testWrite", false}});
  DoorClient d("d");
  for (const Setting& s : {Setting{2, 8, 4}, Setting{3, 1, 4}, Setting{3, 3, 4}, Setting{1, 8, 4, 0x40},
                           Setting{1, 8, 4, 0x10}, Setting{1, 8, 4}}) {
    auto list = CurrentPage05(d);
    Apply(list, s);
    EXPECT_EQ(Select(d, list).Good(), s.writeType == 1 && s.extra2 == 0) << int(s.writeType) << "/" << int(s.extra2);
  }
}

// The fixed capabilities page, a page the drive lacks, and a list whose
// second page is bad: refused whole, with the field pointer of a fixed field.
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
  auto badSecond = page05;
  badSecond.insert(badSecond.end(), caps.begin() + 8, caps.end());
  badSecond[kWt] = 0x02;
  badSecond[page05.size() + 12] ^= 0x01;
  const struct {
    std::vector<uint8_t> list;
    std::string outcome;
  } cases[] = {
      {caps, "GOOD"},
      {changed(caps, 8 + 12, caps[8 + 12] ^ 1), "05/26/00"},
      {badSecond, "05/26/00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Select(d, c.list).Outcome(), c.outcome) << c.list.size();
  EXPECT_EQ(d.Out(ModeSelect10(page05.size() + 10), page05).Outcome(), "05/1A/00") << "longer than the data";
  EXPECT_EQ(CurrentPage05(d), page05) << "no rejected list changed anything";
  const Reply fixed = Select(d, changed(caps, 8 + 12, caps[8 + 12] ^ 1));
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
  }
  DoorClient other("d");
  EXPECT_EQ(CurrentPage05(other), list);
  EXPECT_NE(ModeList(other, 0x05, 2), list) << "defaults stay";
}

}  // namespace
}  // namespace qvtest
