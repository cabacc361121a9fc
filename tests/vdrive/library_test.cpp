// libquorvane_vdrive.so as the engine loads it at run time: by its module
// names, with its entries found by ordinal or by name.
#include "door_client.h"

namespace qvtest {
namespace {

TEST(VdriveLibrary, TheSharedLibraryServesBothDoors) {
  VirtualDriveHome home;
  MakeDrive("d", "cd-rom");
  // The library file itself, instead of the copy built into this test.
  SetEnvironment("QUORVANE_LIB_DTPRO", QUORVANE_VDRIVE_LIBRARY);
  SetEnvironment("QUORVANE_LIB_DRALIK", QUORVANE_VDRIVE_LIBRARY);
  PassThrough sptd;
  uint32_t err = 0;
  auto* dralik = qv::plat::LoadLibraryByName("Dralik", &err);
  {
    DoorClient d("CdRom0");
    SetEnvironment("QUORVANE_LIB_DTPRO", nullptr);
    SetEnvironment("QUORVANE_LIB_DRALIK", nullptr);
    ASSERT_TRUE(sptd.open && sptd.send && sptd.close);
    EXPECT_NE(reinterpret_cast<void*>(sptd.open), reinterpret_cast<void*>(&QvSptd_Ordinal45)) << "not the built-in copy";
    const Reply r = d.In(Inquiry(), 96);
    ASSERT_TRUE(r.Good()) << r.Outcome();
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "QUORVANE");
  }
  ASSERT_NE(dralik, nullptr);
  EXPECT_NE(qv::plat::GetLibrarySymbol(dralik, "QvDralik_Attach", &err), nullptr);
  EXPECT_EQ(qv::plat::GetLibraryOrdinal(sptd.library, 49, &err), nullptr);
  qv::plat::FreeLibraryHandle(dralik);
}

}  // namespace
}  // namespace qvtest
