// The transports and the command layer end to end against the virtual
// drive, through both of its doors: the auxiliary driver behind the
// pass-through transport, and the run-time library behind SPTD. The disc is
// an ISO from genisoimage (under Wine, where there is none, bytes of a
// known pattern); what the drive reads back must be its bytes.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "scsi/device_writer.h"
#include "scsi/transport_sptd.h"
#include "scsi/transport_spti.h"
#include "scsi_fixtures.h"
#include "vdrive/builtin.h"
#include "vdrive/qvdrive.h"

namespace {

using scsitest::Catch;
using scsitest::Fails;

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

class VirtualDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string iso = (dir / "disc.iso").string();
#ifdef _WIN32
    std::string bytes(300 * 2048, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i / 2048 * 7 + i) & 0xFF);
    dir.Write("disc.iso", bytes);
#else
    QVTEST_REQUIRE_PROGRAM("genisoimage");
    dir.Write("disc/DATA/NUMBERS.TXT", std::string(200000, 'x') + "end");
    std::string seq;
    for (int i = 0; i < 30000; ++i) seq += std::to_string(i) + "\n";
    dir.Write("disc/SEQ.TXT", seq);
    ASSERT_EQ(qvtest::RunCommand("genisoimage -quiet -J -r -o '" + iso + "' '" + (dir / "disc").string() + "'"), 0);
#endif
    std::ifstream in(iso, std::ios::binary);
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_EQ(image.size() % 2048, 0u);
    // The first drive serves the first free device name, CdRom0; naming its
    // folder the same lets both doors find it by one name.
    ASSERT_EQ(QvDrive_Create("CdRom0", nullptr, nullptr), 0u);
    ASSERT_EQ(QvDrive_InsertImage("CdRom0", iso.c_str(), "cd-rom"), 0u);
  }

  // What every door must show of the loaded disc.
  void CheckDisc(CQuorvane_ScsiDeviceCdvdRomWriter& d) {
    EXPECT_EQ(d.GetTransport()->GetDeviceType(), 5);
    char vendor[9] = {}, product[17] = {}, revision[5] = {};
    d.GetInquiryStrings(vendor, product, revision);
    EXPECT_NE(vendor[0], '\0');
    EXPECT_TRUE(d.WaitForReady(20, 100, true, false));
    ASSERT_EQ(Catch([&] { d.TestUnitReady(); }), nullptr);

    uint8_t capacity[8] = {};
    d.ReadCapacity(capacity, sizeof capacity);
    const uint32_t blocks = static_cast<uint32_t>(image.size() / 2048);
    EXPECT_EQ(Be32(capacity), blocks - 1);
    EXPECT_EQ(Be32(capacity + 4), 2048u);

    std::vector<uint8_t> data(16 * 2048);
    for (uint32_t lba = 0; lba < blocks; lba += 16) {
      const uint32_t n = std::min<uint32_t>(16, blocks - lba);
      d.Read10(data.data(), n * 2048, lba, n, 0);
      ASSERT_EQ(0, std::memcmp(data.data(), image.data() + size_t{lba} * 2048, n * 2048)) << "LBA " << lba;
    }

    // Past the end of the disc: exception 8 with ILLEGAL REQUEST.
    auto e = Fails(8, [&] { d.Read10(data.data(), 2048, blocks + 10, 1, 0); });
    EXPECT_EQ(e->FailureInformation()->m__UCHAR__Sense[2] & 0x0F, 5);
    EXPECT_EQ(e->FailureInformation()->m__UCHAR__CDB[0], 0x28);
  }

  qvtest::TempDir dir;
  scsitest::ScopedEnv home{"QUORVANE_VDRIVE_HOME", (dir / "drives").string().c_str()};
  qvtest::VirtualTime time;
  qv::vdrive::ScopedBuiltinDrive doors;
  std::vector<uint8_t> image;
};

TEST_F(VirtualDrive, PassThroughTransportThroughTheAuxiliaryDriver) {
  auto* t = new CQuorvane_ScsiTransportSPTI("CdRom0");
  CQuorvane_ScsiDeviceCdvdRomWriter device(t);
  EXPECT_TRUE(t->IsAuxiliaryDevice());
  CheckDisc(device);
}

TEST_F(VirtualDrive, SptdTransportThroughThePassThroughLibrary) {
  auto* t = new CQuorvane_ScsiTransportSPTD(u"cdrom0", 1);
  CQuorvane_ScsiDeviceCdvdRomWriter device(t);
  CheckDisc(device);
  // The drive's own timing comes back only when both values are asked for.
  uint64_t start = 11, duration = 22;
  uint8_t block[2048];
  const uint8_t read10[10] = {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0};
  t->ExecuteCDBEx(read10, 10, block, sizeof block, 0, &start, nullptr);
  EXPECT_EQ(start, 11u);
  t->ExecuteCDBEx(read10, 10, block, sizeof block, 0, &start, &duration);
  EXPECT_NE(duration, 22u);
  EXPECT_GT(duration, 0u);
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
  CQuorvane_ScsiDeviceCdvdRomWriter device(new CQuorvane_ScsiTransportSPTD(u"CdRom0", 1));
  EXPECT_NE(GetModuleHandleA("quorvane_vdrive.dll"), nullptr) << "the transport runs on the DLL, not the built-in copy";
  CheckDisc(device);
}
#endif

}  // namespace
