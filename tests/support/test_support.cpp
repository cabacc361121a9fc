#include "support/test_support.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#define getpid _getpid
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/debug_output.h"

namespace qvtest {

std::string SourceDir() { return QUORVANE_SOURCE_DIR; }
std::string BinaryDir() { return QUORVANE_BINARY_DIR; }

LogCapture::LogCapture() {
  qv::plat::SetDebugSink([this](const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ += text;
  });
}

LogCapture::~LogCapture() { qv::plat::SetDebugSink({}); }

std::string LogCapture::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

size_t LogCapture::Count(const std::string& needle) const {
  const std::string text = Text();
  size_t count = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size()))
    ++count;
  return count;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  text_.clear();
}

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("quorvane-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(path_, ec)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::Write(const std::string& relative, const std::string& contents) const {
  const auto p = path_ / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << contents;
  return p;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TextModeBytes(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}

void SetEnvironment(const std::string& name, const char* value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value ? value : "");
#else
  if (value)
    setenv(name.c_str(), value, 1);
  else
    unsetenv(name.c_str());
#endif
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old, had_ = true;
  SetEnvironment(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnvironment(name_, had_ ? old_.c_str() : nullptr); }

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> buf{};
  std::string out;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  const int status = pclose(pipe);
  if (output) *output = out;
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool HaveProgram(const std::string& name) {
#ifdef _WIN32
  char found[MAX_PATH];
  return SearchPathA(nullptr, name.c_str(), ".exe", sizeof found, found, nullptr) != 0;
#else
  return RunCommand("command -v " + name + " >/dev/null") == 0;
#endif
}

bool ProgramsRequired() {
  const char* value = std::getenv("QUORVANE_REQUIRE_PROGRAMS");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

}  // namespace qvtest
