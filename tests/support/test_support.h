// Shared test helpers.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace qvtest {

// Collects every line the engine writes to the debugger output.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::string Text() const;
  // How many times text occurs in the captured output.
  size_t Count(const std::string& text) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes a file (creating folders) and returns its path.
  std::filesystem::path Write(const std::string& relative, const std::string& contents) const;

 private:
  std::filesystem::path path_;
};

// Installs a virtual clock for a test's lifetime.
class VirtualTime {
 public:
  VirtualTime() : scope_(&clock_) {}
  qv::plat::VirtualClock& clock() { return clock_; }

 private:
  qv::plat::VirtualClock clock_;
  qv::plat::ScopedClock scope_;
};

std::string ReadFile(const std::filesystem::path& path);
// The bytes a C text stream writes for text: "\n" becomes "\r\n" on Windows.
std::string TextModeBytes(const std::string& text);

// Sets an environment variable, or removes it when value is nullptr.
void SetEnvironment(const std::string& name, const char* value);

// Sets an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};

// Runs a shell command; returns its exit status, output in *output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// The source and build trees, kept out of every test's compile line so
// that worktrees share the compiler cache.
std::string SourceDir();
std::string BinaryDir();
// True when a program is on PATH.
bool HaveProgram(const std::string& name);

// True when QUORVANE_REQUIRE_PROGRAMS is set (make test installs every
// outside program, so a missing one is a fault there, not a reason to skip).
bool ProgramsRequired();

}  // namespace qvtest

// Skips the test when a program is missing, or fails it where the outside
// programs are required.
#define QVTEST_REQUIRE_PROGRAM(name)                                            \
  do {                                                                          \
    if (!qvtest::HaveProgram(name)) {                                           \
      if (qvtest::ProgramsRequired()) FAIL() << (name) << " is not installed";  \
      GTEST_SKIP() << (name) << " is not installed";                            \
    }                                                                           \
  } while (0)
