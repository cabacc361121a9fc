// The Windows platform layer under Wine: the registry settings key,
// library loading, files, the clock, the version and the debugger output.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/filesystem.h"
#include "platform/settings.h"
#include "platform/sysinfo.h"
#include "support/test_support.h"

namespace {

using namespace qv::plat;

// A product key of its own under the settings root, removed afterwards.
class RegistrySettings : public ::testing::Test {
 protected:
  std::string product = "QuorvaneTest" + std::to_string(GetCurrentProcessId());
  std::string path = "SOFTWARE\\Tarnwell Software\\" + product;
  HKEY key = nullptr;
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
  }
  void SetDword(const char* name, DWORD v) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v), ERROR_SUCCESS);
  }
  void SetString(const char* name, const std::string& v, DWORD type = REG_SZ, bool terminated = true) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(v.c_str()),
                             static_cast<DWORD>(v.size() + (terminated ? 1 : 0))),
              ERROR_SUCCESS);
  }
};

TEST_F(RegistrySettings, ValuesOfTheProductKey) {
  EXPECT_TRUE(ReadSettingsKey(product).exists) << "an empty key exists";
  EXPECT_FALSE(ReadSettingsKey(product + "Missing").exists);
  SetDword("DebugFacility", 2);
  SetString("DebugFileName", "C:\\logs\\q.log");
  SetString("Unterminated", "abc", REG_SZ, false);
  SetDword("Big", 0xFFFFFFFF);
  const BYTE blob[3] = {1, 2, 3};
  ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);

  const SettingsKey k = ReadSettingsKey(product);
  ASSERT_TRUE(k.exists);
  EXPECT_EQ(SettingAsNumber(k, "DebugFacility"), 2u);
  EXPECT_EQ(k.values.at("DebugFileName"), "C:\\logs\\q.log");
  EXPECT_EQ(k.values.at("Unterminated"), "abc");
  EXPECT_EQ(SettingAsNumber(k, "Big"), 0xFFFFFFFFu);
  EXPECT_EQ(k.values.count("Blob"), 0u) << "binary values are not settings";
}

TEST(Win32Settings, DefaultLogFileIsAtTheRootOfC) {
  EXPECT_EQ(DefaultLogFilePath("Quorvane"), "C:\\Quorvane.log");
}

// Loading a library by override and its entries by ordinal are the
// virtual drive's DLL's (VirtualDrive.SptdTransportThroughTheLibraryLoaded-
// ByOrdinal); here, the failures.
TEST(Win32Libraries, SystemModulesAndTheirFailures) {
  uint32_t err = 0;
  LibraryHandle k32 = LoadLibraryByName("KERNEL32.DLL", &err);
  ASSERT_NE(k32, nullptr) << err;
  EXPECT_EQ(GetLibrarySymbol(k32, "GetTickCount", &err), reinterpret_cast<void*>(&GetTickCount));
  EXPECT_EQ(GetLibrarySymbol(k32, "NoSuchExport", &err), nullptr);
  EXPECT_EQ(err, 127u);
  EXPECT_EQ(GetLibraryOrdinal(k32, 0xFFFF, &err), nullptr);
  EXPECT_EQ(err, 127u);
  FreeLibraryHandle(k32);
  EXPECT_EQ(LoadLibraryByName("no-such-module.dll", &err), nullptr);
  EXPECT_EQ(err, 126u);
  EXPECT_EQ(LoadLibraryByName("", &err), nullptr);
  EXPECT_EQ(err, 87u);
}

TEST(Win32Libraries, TheEngineModuleIsTheOneHoldingIt) {
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
  EXPECT_EQ(LoadedModulePath("Quorvane.dll"), self) << "the engine is linked into this program";
  EXPECT_EQ(LoadedModulePath("Other.dll"), "");
  EXPECT_EQ(PathSeparator(), '\\');
}

class Win32Files : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
  std::string Path(const char* name) { return (dir / name).string(); }
};

// (Plain reading and writing are every image's under Wine.)
TEST_F(Win32Files, ReadAtLeavesThePositionAndCreateAlwaysTruncates) {
  uint32_t err = 99;
  File f = File::Open(Path("a.bin"), FileMode::CreateNew, &err);
  ASSERT_TRUE(f.IsOpen()) << err;
  ASSERT_TRUE(f.Write("0123456789", 10, &err));
  ASSERT_TRUE(f.Seek(2, &err));
  char at[16] = {};
  EXPECT_EQ(f.ReadAt(7, at, 10, &err), 3) << "short at the end";
  EXPECT_STREQ(at, "789");
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, 2, &err), 2);
  EXPECT_STREQ(buf, "23");
  f.Close();
  File again = File::Open(Path("a.bin"), FileMode::CreateAlways, &err);
  ASSERT_TRUE(again.IsOpen());
  EXPECT_EQ(again.Size(&err), 0);
}

TEST_F(Win32Files, FailuresCarryTheSystemError) {
  struct Case {
    std::string path;
    FileMode mode;
    uint32_t error;
  };
  dir.Write("exists.bin", "x");
  const Case cases[] = {
      {Path("missing.bin"), FileMode::Read, kErrFileNotFound},
      {Path("no\\such\\folder.bin"), FileMode::CreateAlways, kErrPathNotFound},
      {Path("exists.bin"), FileMode::CreateNew, kErrFileExists},
      {dir.path().string(), FileMode::Read, kErrAccessDenied},
  };
  for (const auto& c : cases) {
    uint32_t err = 0;
    File f = File::Open(c.path, c.mode, &err);
    EXPECT_FALSE(f.IsOpen()) << c.path;
    EXPECT_EQ(err, c.error) << c.path;
  }
}

TEST_F(Win32Files, OthersMayReadButNotWrite) {
  uint32_t err = 0;
  File writer = File::Open(Path("shared.bin"), FileMode::CreateAlways, &err);
  ASSERT_TRUE(writer.IsOpen());
  File second = File::Open(Path("shared.bin"), FileMode::ReadWrite, &err);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(err, kErrSharingViolation);
  File moved = std::move(writer);
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_FALSE(writer.IsOpen());
}

TEST_F(Win32Files, DuplicatedHandlesAreIndependent) {
  dir.Write("d.bin", "abcdef");
  HANDLE h = CreateFileA(Path("d.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t err = 0;
  File copy = File::Duplicate(reinterpret_cast<intptr_t>(h), &err);
  ASSERT_TRUE(copy.IsOpen()) << err;
  EXPECT_TRUE(copy.IsSeekable());
  copy.Close();
  char buf[8] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, buf, 6, &got, nullptr)) << "the caller's handle stays open";
  EXPECT_STREQ(buf, "abcdef");
  CloseHandle(h);
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  File pipe = File::Duplicate(reinterpret_cast<intptr_t>(readEnd), &err);
  ASSERT_TRUE(pipe.IsOpen());
  EXPECT_FALSE(pipe.IsSeekable());
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
  EXPECT_FALSE(File::Duplicate(0x7FFFFFF0, &err).IsOpen()) << "no such handle";
  EXPECT_EQ(err, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(Win32Clock, WallClockAndTimeZone) {
  Clock& clock = GetClock();
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(clock.UtcSeconds() - now), 2);
  // The test runs with TZ=Europe/Berlin: CET in winter, CEST in summer.
  EXPECT_EQ(clock.UtcOffsetMinutes(1136073600), 60) << "2006-01-01";
  EXPECT_EQ(clock.UtcOffsetMinutes(1151712000), 120) << "2006-07-01";
}

TEST(Win32System, VersionAndLastError) {
  const OsVersion v = GetOsVersion();
  EXPECT_GE(v.major, 5u);
  EXPECT_EQ(v.platformId, static_cast<uint32_t>(VER_PLATFORM_WIN32_NT));
  SetLastError(ERROR_CANCELLED);
  EXPECT_EQ(LastSystemError(), kErrCancelled);
}

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text before any
// debugger sees it; a vectored handler catches it on the way.
std::string* g_debugText = nullptr;
LONG CALLBACK CatchDebugPrint(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* r = info->ExceptionRecord;
  if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2 && g_debugText)
    g_debugText->append(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Win32DebugOutput, GoesToOutputDebugString) {
  std::string seen;
  g_debugText = &seen;
  void* handler = AddVectoredExceptionHandler(1, &CatchDebugPrint);
  ASSERT_NE(handler, nullptr);
  const std::string longText = "begin" + std::string(5000, 'x') + "end\n";
  DebuggerOutput("first line\n");
  DebuggerOutput(longText.c_str());
  RemoveVectoredExceptionHandler(handler);
  g_debugText = nullptr;
  EXPECT_EQ(seen, "first line\n" + longText);
}

}  // namespace
