// Creating the burner-grabber: identity, the device type gate, the
// capabilities page and what happens when it cannot be read, the cache it
// sizes, and what a failed creation leaves behind.
#include <cstring>

#include "fake_drive.h"

namespace devtest {
namespace {

using Create = DeviceTest;

TEST_F(Create, ReadsTheIdentityWithTrailingBlanksAndLogsTheAddress) {
  rig.drive.vendor = "PLEXTOR";
  rig.drive.product = "DVDR   PX-716A";
  rig.drive.revision = "1.11";
  char vendor[9], product[17], revision[5];
  uint32_t bufferSize = 0;
  rig.Create().GetDeviceInformation(vendor, product, revision, &bufferSize);
  EXPECT_STREQ(vendor, "PLEXTOR ");
  EXPECT_STREQ(product, "DVDR   PX-716A  ");
  EXPECT_STREQ(revision, "1.11");
  EXPECT_EQ(bufferSize, 2048u * 1024u);
  EXPECT_EQ(log.Count("CQuorvane_ScsiDeviceGeneric::CQuorvane_ScsiDeviceGeneric_SharedConstructor(): 'PLEXTOR ' - "
                      "'DVDR   PX-716A  ' - '1.11' sits at 1:0:2:0"),
            1u);
  rig.Destroy();
  EXPECT_TRUE(rig.transportDestroyed);
}

// Bits of page 2Ah bytes 2 and 3 against the ten flags, one bit at a time.
struct CapabilityCase {
  uint8_t readBits, writeBits;
  int flag;  // index into the ten flags, -1: none
};

using Capabilities = DeviceCases<CapabilityCase>;

TEST_P(Capabilities, EachBitSetsExactlyItsFlag) {
  const CapabilityCase& c = GetParam();
  rig.drive.currentPages[0x2A] = CapabilitiesPage(c.readBits, c.writeBits, 512);
  uint8_t flags[10];
  rig.Create().GetSupportedMediaFormats(flags);
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
// capabilities, no buffer, and the warning says why.
struct UnreadablePage {
  const char* name;
  std::function<void(FakeDrive&)> spoil;
};

using UnreadableCapabilities = DeviceCases<UnreadablePage>;

TEST_P(UnreadableCapabilities, GiveZeroCapabilities) {
  GetParam().spoil(rig.drive);
  auto& g = rig.Create();
  uint8_t flags[10];
  g.GetSupportedMediaFormats(flags);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(flags[i], 0) << "flag " << i;
  uint32_t bufferSize = 1;
  g.GetDeviceInformation(nullptr, nullptr, nullptr, &bufferSize);
  EXPECT_EQ(bufferSize, 0u);
  EXPECT_EQ(log.Count("CQuorvane_ScsiDeviceCdvdRomReader::CQuorvane_ScsiDeviceCdvdRomReader_SharedConstructor(): "
                      "WARNING! ModeSense10() failed"),
            1u);
  EXPECT_EQ(log.Count("WARNING! Device does not support recording"), 1u);
}

Bytes SenseAnswer(size_t size, uint16_t blockDescriptors, uint8_t fill) {
  Bytes b(size, fill);
  Put16(b, 0, static_cast<uint32_t>(size - 2));
  Put16(b, 6, blockDescriptors);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Page2A, UnreadableCapabilities,
    ::testing::Values(
        UnreadablePage{"Refused", [](FakeDrive& d) { d.currentPages.erase(0x2A); }},
        // The page stops before the buffer size.
        UnreadablePage{"PageTooShort",
                       [](FakeDrive& d) {
                         d.currentPages[0x2A].resize(12);
                         d.currentPages[0x2A][1] = 10;
                       }},
        // Another page than the one asked for.
        UnreadablePage{"WrongPage", [](FakeDrive& d) { d.currentPages[0x2A][0] = 0x2B; }},
        // The answer is cut after the header.
        UnreadablePage{"Truncated", [](FakeDrive& d) { d.Returns(0x5A, Reply::Cut(SenseAnswer(40, 0, 0x2A), 9)); }},
        // Block descriptor length pointing past the answer.
        UnreadablePage{"AbsurdBlockDescriptorLength",
                       [](FakeDrive& d) {
                         Bytes b = SenseAnswer(38, 0xFFF0, 0);
                         b[8] = 0x2A;
                         b[9] = 0x1C;
                         d.Returns(0x5A, Reply::Good(b));
                       }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Create, BlockDescriptorsBeforeThePageAreSkipped) {
  Bytes b = SenseAnswer(16, 8, 0);  // one block descriptor
  const Bytes page = CapabilitiesPage(0x01, 0x01, 64);
  b.insert(b.end(), page.begin(), page.end());
  Put16(b, 0, static_cast<uint32_t>(b.size() - 2));
  rig.drive.Returns(0x5A, Reply::Good(b));
  auto& g = rig.Create();
  uint8_t flags[10];
  g.GetSupportedMediaFormats(flags);
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(flags[6], 1);
  uint32_t bufferSize = 0;
  g.GetDeviceInformation(nullptr, nullptr, nullptr, &bufferSize);
  EXPECT_EQ(bufferSize, 64u * 1024u);
}

using DeviceType = DeviceCases<uint8_t>;

TEST_P(DeviceType, OtherThanFiveIsRefusedWithNineAndTheTransportIsClosed) {
  rig.drive.deviceType = GetParam();
  auto e = Fails(9, [&] { rig.Create(); });
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "CQuorvane_ScsiDeviceCdvdRomReader::CQuorvane_ScsiDeviceCdvdRomReader_SharedConstructor(): Device "
                "type 0x%02X instead of 0x05",
                GetParam());
  EXPECT_STREQ(e->Text(), expected);
  EXPECT_TRUE(rig.transportDestroyed);
  // Nothing is asked of a drive of the wrong kind beyond its identity.
  EXPECT_EQ(rig.drive.Opcodes(), std::vector<uint8_t>{0x12});
}

INSTANTIATE_TEST_SUITE_P(Types, DeviceType, ::testing::Values(0x00, 0x04, 0x1F));

// A short or failing INQUIRY fails creation and closes the transport.
TEST_F(Create, ABadInquiryFailsCreation) {
  Bytes shortAnswer(20, 'A');
  shortAnswer[0] = 5;
  rig.drive.Returns(0x12, Reply::Good(shortAnswer));
  auto e = Fails(10, [&] { rig.Create(); });
  EXPECT_NE(std::string(e->Text()).find("INQUIRY answer: 20 byte(s) long"), std::string::npos) << e->Text();
  EXPECT_TRUE(rig.transportDestroyed);
  rig.transportDestroyed = false;
  rig.drive.Returns(0x12, Reply::Sense(4, 0x44, 0x00));
  e = Fails(8, [&] { rig.Create(); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__CDB[0], 0x12);
  EXPECT_TRUE(rig.transportDestroyed);
}

TEST_F(Create, AReaderWithoutRecordingIsCreatedWithAWarning) {
  rig.drive.currentPages[0x2A] = CapabilitiesPage(0x3B, 0x04, 128);  // test write alone
  rig.Create();
  EXPECT_EQ(log.Count("CQuorvane_ScsiDeviceCdvdRomWriter::CQuorvane_ScsiDeviceCdvdRomWriter_SharedConstructor(): "
                      "WARNING! Device does not support recording"),
            1u);
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
  Rig sized(c.megabytes);
  sized.drive.currentPages[0x2A] = CapabilitiesPage(0x3B, 0x37, c.driveBufferKB);
  auto& g = sized.Create();
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
