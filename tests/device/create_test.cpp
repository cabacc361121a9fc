// Creating the burner-grabber: identity, the device type gate, the
// capabilities page and what happens when it cannot be read, and the
// cache it sizes.
#include "drive_rig.h"

namespace devtest {
namespace {

using Creation = DeviceTest;

TEST_F(Creation, ReadsTheIdentityWithTrailingBlanks) {
  char vendor[9], product[17], revision[5];
  uint32_t bufferSize = 0;
  Create("cd-rw", "PLEXTOR:DVDR   PX-716A:1.11").GetDeviceInformation(vendor, product, revision, &bufferSize);
  EXPECT_STREQ(vendor, "PLEXTOR ");
  EXPECT_STREQ(product, "DVDR   PX-716A  ");
  EXPECT_STREQ(revision, "1.11");
  EXPECT_EQ(bufferSize, 2048u * 1024u);
}

// Page 2Ah's read bits (byte 2) and write bits (byte 3), at offset 10 of
// the answer, against the ten flags, one bit at a time.
struct CapabilityCase {
  uint8_t readBits, writeBits;
  int flag;  // index into the ten flags, -1: none
};

using Capabilities = DeviceCases<CapabilityCase>;

TEST_P(Capabilities, EachBitSetsExactlyItsFlag) {
  const CapabilityCase& c = GetParam();
  uint8_t flags[10];
  Create("cd-rw", nullptr, {Garble(0x5A, 10, {c.readBits, c.writeBits}, CurrentPage(0x2A))})
      .GetSupportedMediaFormats(flags);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(flags[i], i == c.flag ? 1 : 0) << "flag " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Page2A, Capabilities,
    ::testing::Values(CapabilityCase{0x01, 0, 0}, CapabilityCase{0x02, 0, 1}, CapabilityCase{0x08, 0, 2},
                      CapabilityCase{0x10, 0, 3}, CapabilityCase{0x20, 0, 4}, CapabilityCase{0, 0x04, 5},
                      CapabilityCase{0, 0x01, 6}, CapabilityCase{0, 0x02, 7}, CapabilityCase{0, 0x10, 8},
                      CapabilityCase{0, 0x20, 9},
                      // Reserved and unrelated bits (DVD-ROM read is bit 3, bit 2 is method 2).
                      CapabilityCase{0xC4, 0xC8, -1}));

// A drive without a readable capabilities page is still created: no
// capabilities, no buffer.
struct UnreadablePage {
  const char* name;
  std::vector<json> rules;
};

using UnreadableCapabilities = DeviceCases<UnreadablePage>;

TEST_P(UnreadableCapabilities, GiveZeroCapabilities) {
  auto& g = Create("cd-rw", nullptr, GetParam().rules);
  uint8_t flags[10];
  g.GetSupportedMediaFormats(flags);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(flags[i], 0) << "flag " << i;
  uint32_t bufferSize = 1;
  g.GetDeviceInformation(nullptr, nullptr, nullptr, &bufferSize);
  EXPECT_EQ(bufferSize, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Page2A, UnreadableCapabilities,
    ::testing::Values(
        UnreadablePage{"Refused", {Refuse(0x5A, 5, 0x24, 0, CurrentPage(0x2A))}},
        // The page stops before the buffer size: 12 bytes of it.
        UnreadablePage{"PageTooShort",
                       {Garble(0x5A, 0, {0, 18}, CurrentPage(0x2A)), Garble(0x5A, 9, {10}, CurrentPage(0x2A)),
                        Cut(0x5A, 20, CurrentPage(0x2A))}},
        // Another page than the one asked for.
        UnreadablePage{"WrongPage", {Garble(0x5A, 8, {0x2B}, CurrentPage(0x2A))}},
        // The answer is cut after the header.
        UnreadablePage{"Truncated", {Cut(0x5A, 9, CurrentPage(0x2A))}},
        // Block descriptor length pointing past the answer.
        UnreadablePage{"AbsurdBlockDescriptorLength", {Garble(0x5A, 6, {0xFF, 0xF0}, CurrentPage(0x2A))}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Creation, BlockDescriptorsBeforeThePageAreSkipped) {
  // A header declaring one block descriptor, the descriptor, then a page
  // reading CD-R and writing CD-R with a 64 KB buffer.
  Bytes answer{0, 44, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0x2A, 0x1C, 0x01, 0x01};
  answer.resize(16 + 30);
  answer[16 + 12] = 0;
  answer[16 + 13] = 64;
  auto& g = Create("cd-rw", nullptr, {Garble(0x5A, 0, answer, CurrentPage(0x2A)), Cut(0x5A, 46, CurrentPage(0x2A))});
  uint8_t flags[10];
  g.GetSupportedMediaFormats(flags);
  EXPECT_EQ(Bytes(flags, flags + 10), (Bytes{1, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
  uint32_t bufferSize = 0;
  g.GetDeviceInformation(nullptr, nullptr, nullptr, &bufferSize);
  EXPECT_EQ(bufferSize, 64u * 1024u);
}

using DeviceType = DeviceCases<uint8_t>;

TEST_P(DeviceType, OtherThanFiveIsRefusedWithNine) {
  Fails(9, [&] { Create("cd-rw", nullptr, {Garble(0x12, 0, {GetParam()})}); });
  // Nothing is asked of a drive of the wrong kind beyond its identity.
  EXPECT_EQ(Count(0x5A) + Count(0x46) + Count(0x00), 0u);
}

INSTANTIATE_TEST_SUITE_P(Types, DeviceType, ::testing::Values(0x00, 0x04, 0x1F));

// A short or failing INQUIRY fails creation.
TEST_F(Creation, ABadInquiryFailsCreation) {
  Fails(10, [&] { Create("cd-rw", nullptr, {Cut(0x12, 20, {{"times", 0}})}); });
  auto e = Fails(8, [&] { Create("cd-rw", nullptr, {Refuse(0x12, 4, 0x44, 0, {{"times", 0}})}); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__CDB[0], 0x12);
}

// The host cache: megabytes asked for, at least twice the drive's buffer,
// in objects of 64 KiB, one per 61440-byte transfer.
struct CacheCase {
  uint32_t megabytes;
  uint16_t driveBufferKB;
  int32_t bytes;
};

using CacheSize = DeviceCases<CacheCase>;

TEST_P(CacheSize, FollowsTheArgumentAndTheDriveBuffer) {
  const CacheCase& c = GetParam();
  const Bytes buffer{static_cast<uint8_t>(c.driveBufferKB >> 8), static_cast<uint8_t>(c.driveBufferKB)};
  auto& g = Create("cd-rw", nullptr, {Garble(0x5A, 8 + 12, buffer, CurrentPage(0x2A))}, c.megabytes);
  EXPECT_EQ(g.GetCacheSizeInBytes(), c.bytes);
  ASSERT_NE(g.GetCacheManager(), nullptr);
  EXPECT_EQ(g.GetCacheManager()->GetCount(), c.bytes / 61440);
  EXPECT_EQ(g.GetCacheManager()->GetCapacity(), 65536u);
  // The pool is made, not filled: the recording modes fill it.
  EXPECT_TRUE(g.GetCacheManager()->IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, CacheSize,
                         ::testing::Values(CacheCase{0, 2048, 160 * 1048576}, CacheCase{4, 512, 4 * 1048576},
                                           CacheCase{1, 2048, 2 * 2048 * 1024}, CacheCase{1, 0, 1048576}));

}  // namespace
}  // namespace devtest
