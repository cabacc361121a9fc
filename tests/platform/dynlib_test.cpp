// Loading libraries by their module names.
#include <cstring>

#include "platform/dynlib.h"
#include "support/test_support.h"

namespace {

int Answer() { return 42; }
void* Resolve(const char* symbol) {
  if (std::strcmp(symbol, "Answer") == 0) return reinterpret_cast<void*>(&Answer);
  if (std::strcmp(symbol, "Test_Ordinal44") == 0) return reinterpret_cast<void*>(&Answer);
  return nullptr;
}
const qv::plat::BuiltinLibrary kBuiltin{"dtpro.dll", &Resolve};

TEST(DynLib, BuiltinLibrariesResolveByNameAndOrdinal) {
  qv::plat::RegisterBuiltinLibrary(&kBuiltin);
  uint32_t err = 0;
  // Ordinals of a library without them are exports named by the caller's prefix.
  const qv::plat::ModuleFile known{nullptr, "Test_Ordinal"};
  auto* lib = qv::plat::LoadLibraryByName("DTPRO.DLL", &err, &known);
  ASSERT_NE(lib, nullptr);
  auto* fn = reinterpret_cast<int (*)()>(qv::plat::GetLibrarySymbol(lib, "Answer", &err));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 42);
  EXPECT_NE(qv::plat::GetLibraryOrdinal(lib, 44, &err), nullptr);
  EXPECT_EQ(qv::plat::GetLibraryOrdinal(lib, 45, &err), nullptr);
  EXPECT_EQ(err, 127u);
  EXPECT_EQ(qv::plat::GetLibrarySymbol(lib, "Missing", &err), nullptr);
  EXPECT_EQ(err, 127u);
  qv::plat::FreeLibraryHandle(lib);
  qv::plat::UnregisterBuiltinLibrary(&kBuiltin);
}

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
