// The transports against the virtual drive, for what the device and
// command-line tests (which read and write it through both of its doors)
// do not see: the drive's own timing coming back through the library, and
// under Wine the cross-built library itself, loaded by ordinal.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>

#include "scsi/device_writer.h"
#include "scsi/transport_sptd.h"
#include "scsi_fixtures.h"
#include "vdrive/builtin.h"
#include "vdrive/qvdrive.h"

namespace {

class VirtualDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i / 2048 * 7 + i) & 0xFF);
    const std::string iso = dir.Write("disc.iso", image).string();
    ASSERT_EQ(QvDrive_Create("CdRom0", nullptr, nullptr), 0u);
    ASSERT_EQ(QvDrive_InsertImage("CdRom0", iso.c_str(), "cd-rom"), 0u);
  }
  qvtest::TempDir dir;
  scsitest::ScopedEnv home{"QUORVANE_VDRIVE_HOME", (dir / "drives").string().c_str()};
  qvtest::VirtualTime time;
  qv::vdrive::ScopedBuiltinDrive doors;
  std::string image = std::string(300 * 2048, '\0');
};

// The drive's timing comes back only when both values are asked for.
TEST_F(VirtualDrive, TimingComesBackWhenBothValuesAreAskedFor) {
  CQuorvane_ScsiDeviceCdvdRomWriter device(new CQuorvane_ScsiTransportSPTD(u"CdRom0", 1));
  ASSERT_TRUE(device.WaitForReady(20, 100, true, false));
  uint64_t start = 11, duration = 22;
  uint8_t block[2048];
  const uint8_t read10[10] = {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0};
  device.GetTransport()->ExecuteCDBEx(read10, 10, block, sizeof block, 0, &start, nullptr);
  EXPECT_EQ(start, 11u);
  device.GetTransport()->ExecuteCDBEx(read10, 10, block, sizeof block, 0, &start, &duration);
  EXPECT_NE(duration, 22u);
  EXPECT_GT(duration, 0u);
  EXPECT_EQ(0, std::memcmp(block, image.data() + 16 * 2048, 2048));
}

#ifdef _WIN32
// The cross-built library itself, named by its override and asked for its
// entries by ordinal, rather than the copy built into this program.
TEST_F(VirtualDrive, SptdTransportThroughTheLibraryLoadedByOrdinal) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::string library(path, n);
  library = library.substr(0, library.find_last_of('\\') + 1) + "quorvane_vdrive.dll";
  scsitest::ScopedEnv override{"QUORVANE_LIB_DTPRO", library.c_str()};
  CQuorvane_ScsiDeviceCdvdRomWriter d(new CQuorvane_ScsiTransportSPTD(u"CdRom0", 1));
  EXPECT_NE(GetModuleHandleA("quorvane_vdrive.dll"), nullptr) << "the transport runs on the DLL, not the built-in copy";
  ASSERT_TRUE(d.WaitForReady(20, 100, true, false));
  std::vector<uint8_t> data(image.size());
  for (uint32_t lba = 0; lba < 300; lba += 16) {
    const uint32_t n = std::min<uint32_t>(16, 300 - lba);
    d.Read10(data.data() + size_t{lba} * 2048, n * 2048, lba, n, 0);
  }
  EXPECT_EQ(0, std::memcmp(data.data(), image.data(), image.size()));
  auto e = scsitest::Fails(8, [&] { d.Read10(data.data(), 2048, 310, 1, 0); });
  EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[2] & 0x0F, 5);
}
#endif

}  // namespace
