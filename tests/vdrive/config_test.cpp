// GET CONFIGURATION for every media type and GET EVENT STATUS NOTIFICATION,
// against the MMC-5 feature and event layouts.
#include <map>
#include <nlohmann/json.hpp>

#include "door_client.h"
#include "platform/clock.h"

namespace qvtest {
namespace {

struct Descriptor {
  uint8_t version;
  bool persistent, current;
  std::vector<uint8_t> data;
};

// Walks a GET CONFIGURATION answer, checking its framing on the way.
std::map<uint16_t, Descriptor> Features(const Reply& r) {
  std::map<uint16_t, Descriptor> features;
  EXPECT_TRUE(r.Good()) << r.Outcome();
  if (r.data.size() < 8) {
    ADD_FAILURE() << "no feature header";
    return features;
  }
  EXPECT_EQ(r.Be32At(0), r.data.size() - 4) << "data length";
  int last = -1;
  for (size_t at = 8; at < r.data.size();) {
    EXPECT_LE(at + 4, r.data.size());
    const uint16_t code = static_cast<uint16_t>(r.Be16At(at));
    const uint8_t length = r.data[at + 3];
    EXPECT_EQ(length % 4, 0) << "feature " << code;
    EXPECT_GT(code, last) << "ascending";
    last = code;
    features[code] = {static_cast<uint8_t>(r.data[at + 2] >> 2), (r.data[at + 2] & 2) != 0, (r.data[at + 2] & 1) != 0,
                      std::vector<uint8_t>(r.data.begin() + at + 4, r.data.begin() + at + 4 + length)};
    at += 4 + length;
  }
  return features;
}

using Configuration = VdriveTest;

TEST_F(Configuration, CurrentProfileAndFeaturesForEveryMediaType) {
  struct Case {
    const char* media;  // nullptr: empty tray
    uint16_t profile;
    std::vector<uint16_t> current;     // among the medium-dependent features
    std::vector<uint16_t> notCurrent;
  } cases[] = {
      {nullptr, 0x0000, {}, {0x0010, 0x001E, 0x001F, 0x0021, 0x002A}},
      {"cd-rom", 0x0008, {0x0010, 0x001D, 0x001E}, {0x001F, 0x0021, 0x002D}},
      {"cd-r", 0x0009, {0x001D, 0x001E, 0x0021, 0x002D, 0x002E}, {0x0010, 0x0023, 0x001F}},
      {"cd-rw", 0x000A, {0x0021, 0x0023, 0x0027, 0x002D, 0x002E}, {0x0010, 0x002F}},
      {"dvd-rom", 0x0010, {0x0010, 0x001F}, {0x001E, 0x0021, 0x002F}},
      {"dvd-r", 0x0011, {0x001F, 0x0021, 0x002F}, {0x0023, 0x002B, 0x002D}},
      {"dvd-rw", 0x0014, {0x0021, 0x0023, 0x002F}, {0x0026, 0x002A}},
      {"dvd+r", 0x001B, {0x001F, 0x002B}, {0x0021, 0x002A, 0x003B}},
      {"dvd+r-dl", 0x002B, {0x001F, 0x003B}, {0x002B, 0x002F}},
      {"dvd+rw", 0x001A, {0x0023, 0x002A}, {0x0010, 0x0020, 0x002B}},
      {"dvd-ram", 0x0012, {0x0010, 0x0020, 0x0023, 0x0024}, {0x002A, 0x0021}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.media ? c.media : "empty");
    DoorClient d(NewDrive(c.media));
    const Reply all = d.In(GetConfiguration(0, 0, 65530), 65530);
    EXPECT_EQ(all.Be16At(6), c.profile);
    auto f = Features(all);
    // The profile list: every profile the drive reads, highest first, the
    // disc's marked current.
    ASSERT_EQ(f.count(0x0000), 1u);
    const auto& list = f[0x0000].data;
    ASSERT_EQ(list.size(), 11u * 4) << "ten media types, DVD-RW in both modes";
    for (size_t i = 0; i < list.size(); i += 4) {
      const uint16_t p = static_cast<uint16_t>(list[i] << 8 | list[i + 1]);
      if (i > 0) {
        EXPECT_LT(p, list[i - 4] << 8 | list[i - 3]);
      }
      EXPECT_EQ(list[i + 2] & 1, p == c.profile ? 1 : 0) << "profile " << p;
    }
    for (uint16_t code : {0x0000, 0x0001, 0x0002, 0x0003, 0x0100, 0x0105, 0x0107, 0x0108}) {
      EXPECT_TRUE(f[code].current && f[code].persistent) << "feature " << code;
    }
    for (uint16_t code : c.current) EXPECT_TRUE(f.count(code) && f[code].current) << "feature " << code;
    for (uint16_t code : c.notCurrent) EXPECT_TRUE(f.count(code) && !f[code].current) << "feature " << code;

    // Request type 1: exactly the current ones.
    auto current = Features(d.In(GetConfiguration(1, 0, 65530), 65530));
    for (const auto& [code, desc] : f) EXPECT_EQ(current.count(code), desc.current ? 1u : 0u) << code;
  }
}

TEST_F(Configuration, RequestTypesAndLengths) {
  MakeDrive("d", "dvd+rw");
  DoorClient d("d");
  // From a starting feature on.
  auto from = Features(d.In(GetConfiguration(0, 0x0020), 4096));
  ASSERT_FALSE(from.empty());
  EXPECT_EQ(from.begin()->first, 0x0020);
  // One feature: the DVD+ formats the engine asks for. 12 bytes of data
  // length say the drive reads the format; byte 12 bit 0 that it writes it.
  for (uint16_t code : {0x002A, 0x002B, 0x003B}) {
    const Reply r = d.In(GetConfiguration(2, code), 4096);
    ASSERT_EQ(r.data.size(), 16u) << code;
    EXPECT_EQ(r.Be32At(0), 12u);
    EXPECT_EQ(r.Be16At(8), code);
    EXPECT_EQ(r.data[12] & 1, 1);
  }
  // A feature the drive lacks: the header alone.
  const Reply none = d.In(GetConfiguration(2, 0x0040), 4096);
  EXPECT_EQ(none.data.size(), 8u);
  EXPECT_EQ(none.Be32At(0), 4u);
  EXPECT_EQ(none.Be16At(6), 0x001Au);
  // A short allocation cuts the answer, not the data length.
  const Reply cut = d.In(GetConfiguration(0, 0, 20), 4096);
  EXPECT_EQ(cut.data.size(), 20u);
  EXPECT_GT(cut.Be32At(0), 16u);
}

TEST_F(Configuration, ReaderOfPlusFormatsWithoutWriting) {
  MakeDrive("d", nullptr);
  EditModel(home, "d", {{"writes", {"cd-r", "cd-rw"}}});
  DoorClient d("d");
  for (uint16_t code : {0x002A, 0x002B, 0x003B}) {
    const Reply r = d.In(GetConfiguration(2, code), 4096);
    ASSERT_EQ(r.data.size(), 16u);
    EXPECT_EQ(r.data[12] & 1, 0) << "read, not written: " << code;
  }
  auto f = Features(d.In(GetConfiguration(0, 0), 4096));
  EXPECT_EQ(f.count(0x002F), 0u) << "no DVD-R writing";
  EXPECT_EQ(f.count(0x002D), 1u);
}

TEST_F(Configuration, MediaEvents) {
  MakeDrive("d", nullptr);
  EditModel(home, "d", {{"becomingReadyMs", 500}});
  DoorClient d("d");
  // event code, media status (bit 1 present, bit 0 tray open)
  auto poll = [&] {
    const Reply r = d.In(GetEventStatus(0x10), 8);
    EXPECT_EQ(r.data.size(), 8u);
    EXPECT_EQ(r.Be16At(0), 6u);
    EXPECT_EQ(r.data.at(2), 0x04) << "media class, an event available";
    EXPECT_EQ(r.data.at(3), 0x10) << "supported classes";
    return std::pair<int, int>(r.data.at(4) & 0x0F, r.data.at(5));
  };
  using P = std::pair<int, int>;
  EXPECT_EQ(poll(), P(0, 0));
  ASSERT_EQ(QvDrive_InsertMedia("d", "cd-r"), 0u);
  EXPECT_EQ(poll(), P(0, 2)) << "present, not yet recognised";
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "02/04/01");
  qv::plat::SleepMs(500);
  EXPECT_EQ(poll(), P(2, 2)) << "new media, once";
  EXPECT_EQ(poll(), P(0, 2));
  EXPECT_EQ(d.In(TestUnitReady()).Outcome(), "06/28/00");
  ASSERT_TRUE(d.In(Prevent(1)).Good());
  EXPECT_EQ(QvDrive_Eject("d"), 5u);
  EXPECT_EQ(poll(), P(1, 2)) << "the user asked for the disc";
  ASSERT_TRUE(d.In(Prevent(0)).Good());
  ASSERT_TRUE(d.In(StartStop(true, false)).Good());
  EXPECT_EQ(poll(), P(3, 1)) << "removal, tray open";
  // Classes the drive does not support: the header, no event available.
  const Reply other = d.In(GetEventStatus(0x42), 8);
  ASSERT_EQ(other.data.size(), 4u);
  EXPECT_EQ(other.Be16At(0), 2u);
  EXPECT_EQ(other.data[2], 0x80);
  EXPECT_EQ(other.data[3], 0x10);
}

}  // namespace
}  // namespace qvtest
