// Creating the burner-grabber: identity, the device type gate, the
// capabilities page and what happens when it cannot be read, and the
// cache it sizes.
#include "drive_rig.h"

namespace devtest {
namespace {

using Creation = DeviceTest;

// Page 2Ah's read bits (byte 2) and write bits (byte 3), at offset 10 of
// the answer, against the ten flags, one bit at a time. (The identity and
// buffer: device_cli's InfoDescribesADriveInJson.)
TEST_F(Creation, EachCapabilityBitSetsExactlyItsFlag) {
  const struct {
    uint8_t readBits, writeBits;
    int flag;  // index into the ten flags, -1: none
  } cases[] = {{0x01, 0, 0}, {0x02, 0, 1}, {0x08, 0, 2}, {0x10, 0, 3}, {0x20, 0, 4}, {0, 0x04, 5}, {0, 0x01, 6},
               {0, 0x02, 7}, {0, 0x10, 8}, {0, 0x20, 9},
               // Reserved and unrelated bits (DVD-ROM read is bit 3, bit 2 is method 2).
               {0xC4, 0xC8, -1}};
  for (const auto& c : cases) {
    Bytes flags(10), expected(10);
    if (c.flag >= 0) expected[static_cast<size_t>(c.flag)] = 1;
    Create("cd-rw", nullptr, {Garble(0x5A, 10, {c.readBits, c.writeBits}, CurrentPage(0x2A))})
        .GetSupportedMediaFormats(flags.data());
    EXPECT_EQ(flags, expected) << int{c.readBits} << " " << int{c.writeBits};
  }
}

// A drive without a readable capabilities page is still created: no
// capabilities, no buffer.
TEST_F(Creation, AnUnreadableCapabilitiesPageGivesNone) {
  const json page = CurrentPage(0x2A);
  // Refused, and another page than the one asked for.
  for (const json& rule : {Refuse(0x5A, 5, 0x24, 0, page), Garble(0x5A, 8, {0x2B}, page)}) {
    auto& g = Create("cd-rw", nullptr, {rule});
    Bytes flags(10, 9);
    g.GetSupportedMediaFormats(flags.data());
    EXPECT_EQ(flags, Bytes(10, 0));
    uint32_t bufferSize = 1;
    g.GetDeviceInformation(nullptr, nullptr, nullptr, &bufferSize);
    EXPECT_EQ(bufferSize, 0u);
  }
}

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

TEST_F(Creation, ADeviceTypeOtherThanFiveIsRefusedWithNine) {
  Fails(9, [&] { Create("cd-rw", nullptr, {Garble(0x12, 0, {0x04})}); });
  // Nothing is asked of a drive of the wrong kind beyond its identity.
  EXPECT_EQ(Count(0x5A) + Count(0x46) + Count(0x00), 0u);
}

// A short or failing INQUIRY fails creation.
TEST_F(Creation, ABadInquiryFailsCreation) {
  Fails(10, [&] { Create("cd-rw", nullptr, {Cut(0x12, 20, {{"times", 0}})}); });
  auto e = Fails(8, [&] { Create("cd-rw", nullptr, {Refuse(0x12, 4, 0x44, 0, {{"times", 0}})}); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__CDB[0], 0x12);
}

// The host cache: megabytes asked for, at least twice the drive's buffer,
// in objects of 64 KiB, one per 61440-byte transfer.
TEST_F(Creation, TheCacheFollowsTheArgumentAndTheDriveBuffer) {
  const struct {
    uint32_t megabytes;
    uint16_t driveBufferKB;
    int32_t bytes;
  } cases[] = {{0, 2048, 160 * 1048576}, {4, 512, 4 * 1048576}, {1, 2048, 2 * 2048 * 1024}, {1, 0, 1048576}};
  for (const auto& c : cases) {
    const Bytes buffer{static_cast<uint8_t>(c.driveBufferKB >> 8), static_cast<uint8_t>(c.driveBufferKB)};
    auto& g = Create("cd-rw", nullptr, {Garble(0x5A, 8 + 12, buffer, CurrentPage(0x2A))}, c.megabytes);
    EXPECT_EQ(g.GetCacheSizeInBytes(), c.bytes);
    EXPECT_EQ(g.GetCacheManager()->GetCount(), c.bytes / 61440);  // one object per transfer
  }
}

}  // namespace
}  // namespace devtest
