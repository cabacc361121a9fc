// Sense data of either format (SPC) comes out in fixed format.
#include <vector>

#include "platform/scsi_request.h"
#include "support/test_support.h"

namespace {

TEST(SenseToFixed, ConvertsEachFormat) {
  const struct {
    const char* name;
    std::vector<uint8_t> in;
    size_t length;
    std::vector<std::pair<int, uint8_t>> expected;  // byte offset, value
  } cases[] = {
      {"fixed", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0}, 18, {{0, 0x70}, {2, 0x05}, {12, 0x24}, {13, 0}, {18, 0}}},
      {"descriptor header only", {0x72, 0x02, 0x04, 0x01, 0, 0, 0, 0}, 18, {{0, 0x70}, {2, 0x02}, {7, 10}, {12, 0x04}, {13, 0x01}}},
      {"deferred", {0x73, 0x03, 0x11, 0x00, 0, 0, 0, 0}, 18, {{0, 0x71}, {2, 3}, {12, 0x11}}},
      {"information", {0x72, 0x03, 0x11, 0x05, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x00, 0x01, 0x02, 0x03}, 18, {{0, 0xF0}, {3, 0x00}, {4, 0x01}, {5, 0x02}, {6, 0x03}, {12, 0x11}, {13, 0x05}}},
      {"sense key specific", {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 8, 0x02, 0x06, 0, 0, 0xC0, 0x00, 0x02, 0}, 18, {{15, 0xC0}, {16, 0x00}, {17, 0x02}}},
      {"truncated descriptor", {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 20, 0x00, 0x0A, 0x80, 0}, 18, {{0, 0x70}, {3, 0}, {12, 0x24}}},
      {"empty", {}, 0, {{0, 0}, {2, 0}}},
  };
  for (const auto& c : cases) {
    uint8_t out[32];
    std::fill(std::begin(out), std::end(out), 0xEE);
    EXPECT_EQ(qv::plat::SenseToFixed(c.in.data(), c.in.size(), out), c.length) << c.name;
    for (auto [offset, value] : c.expected) EXPECT_EQ(out[offset], value) << c.name << ", byte " << offset;
  }
}

}  // namespace
