// Loading libraries by their module names.
#include "platform/dynlib.h"
#include "support/test_support.h"

namespace {

// Built-in libraries by name and ordinal are the transports' tests' (Sptd,
// Dralik): each loads its stand-in that way.
TEST(DynLib, LoadsSystemLibrariesBySoname) {
  uint32_t err = 0;
  auto* lib = qv::plat::LoadLibraryByName("libm.so.6", &err);
  ASSERT_NE(lib, nullptr) << err;
  EXPECT_NE(qv::plat::GetLibrarySymbol(lib, "cos", &err), nullptr);
  qv::plat::FreeLibraryHandle(lib);
  EXPECT_EQ(qv::plat::LoadLibraryByName("no-such-library.dll", &err), nullptr);
  EXPECT_EQ(err, 126u);
  EXPECT_EQ(qv::plat::LoadLibraryByName("", &err), nullptr);
  EXPECT_EQ(err, 87u);
}

TEST(DynLib, KnowsWhereTheEngineLives) {
  EXPECT_FALSE(qv::plat::LoadedModulePath("Quorvane.dll").empty());
  EXPECT_TRUE(qv::plat::LoadedModulePath("Other.dll").empty());
}

}  // namespace
