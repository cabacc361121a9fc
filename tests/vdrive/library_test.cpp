// libquorvane_vdrive.so as the engine loads it at run time: by its module
// names, with its entries found by ordinal or by name.
#include "door_client.h"

namespace qvtest {
namespace {

TEST(VdriveLibrary, TheSharedLibraryServesBothDoors) {
  VirtualDriveHome home;
  MakeDrive("d", "cd-rom");
  // The library file itself, instead of the copy built into this test.
  setenv("QUORVANE_LIB_DTPRO", QUORVANE_VDRIVE_LIBRARY, 1);
  setenv("QUORVANE_LIB_DRALIK", QUORVANE_VDRIVE_LIBRARY, 1);
  uint32_t err = 0;
  auto* sptd = qv::plat::LoadLibraryByName("dtpro.dll", &err);
  auto* dralik = qv::plat::LoadLibraryByName("Dralik", &err);
  unsetenv("QUORVANE_LIB_DTPRO");
  unsetenv("QUORVANE_LIB_DRALIK");
  ASSERT_NE(sptd, nullptr);
  ASSERT_NE(dralik, nullptr);
  using Open = uint32_t (*)(const char16_t*, uint32_t, void**);
  using Send = uint32_t (*)(void*, QVDRIVE_REQUEST*);
  using Close = uint32_t (*)(void*);
  auto open = reinterpret_cast<Open>(qv::plat::GetLibraryOrdinal(sptd, 45, &err));
  auto send = reinterpret_cast<Send>(qv::plat::GetLibraryOrdinal(sptd, 47, &err));
  auto close = reinterpret_cast<Close>(qv::plat::GetLibraryOrdinal(sptd, 46, &err));
  ASSERT_TRUE(open && send && close);
  EXPECT_NE(reinterpret_cast<void*>(open), reinterpret_cast<void*>(&QvSptd_Ordinal45)) << "not the built-in copy";
  void* handle = nullptr;
  ASSERT_EQ(open(u"CdRom0", 0, &handle), 0u);
  uint8_t data[96] = {};
  QVDRIVE_REQUEST r{};
  r.cdb[0] = 0x12;
  r.cdb[4] = 96;
  r.cdbLength = 6;
  r.direction = QVDRIVE_DIR_IN;
  r.buffer = data;
  r.bufferSize = sizeof data;
  ASSERT_EQ(send(handle, &r), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 8), "QUORVANE");
  EXPECT_EQ(close(handle), 0u);
  EXPECT_NE(qv::plat::GetLibrarySymbol(dralik, "QvDralik_Attach", &err), nullptr);
  EXPECT_EQ(qv::plat::GetLibraryOrdinal(sptd, 49, &err), nullptr);
  qv::plat::FreeLibraryHandle(dralik);
  qv::plat::FreeLibraryHandle(sptd);
}

}  // namespace
}  // namespace qvtest
