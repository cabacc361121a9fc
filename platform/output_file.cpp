#include "platform/output_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "platform/errors.h"
#include "platform/filesystem.h"

namespace qv::plat {

namespace {

uint32_t ErrorOf(const std::error_code& ec) {
  // The standard library reports errno values on Linux, and Windows codes
  // through the system category on Windows.
#ifdef _WIN32
  if (ec.category() == std::system_category()) return static_cast<uint32_t>(ec.value());
#endif
  return SystemErrorFromErrno(ec.value());
}

}  // namespace

bool OutputFile::Open(const std::string& path, uint32_t* error) {
  Abandon();
  path_ = path;
  end_ = 0;
  FileInfo info;
  uint32_t statError = 0;
  const bool exists = GetFileSystem().Stat(path, &info, &statError);
  if (exists && info.kind == FileKind::Directory) {
    *error = kErrAccessDenied;
    return false;
  }
  inPlace_ = exists && info.kind == FileKind::Other;
  if (inPlace_) {
    file_ = File::Open(path, FileMode::WriteInPlace, error);
    return file_.IsOpen();
  }
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".part%08x", static_cast<unsigned>(random()));
    writing_ = path + suffix;
    file_ = File::Open(writing_, FileMode::CreateNew, error);
    if (file_.IsOpen()) return true;
    if (*error != kErrFileExists) break;
  }
  writing_.clear();
  return false;
}

bool OutputFile::Fill(uint64_t offset, uint32_t* error) {
  if (offset <= end_) return true;
  if (!inPlace_) {
    end_ = offset;  // a hole
    return true;
  }
  static const std::vector<uint8_t> zeros(1 << 16);
  while (end_ < offset) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), offset - end_));
    if (!file_.Write(zeros.data(), n, error)) return false;
    end_ += n;
  }
  return true;
}

bool OutputFile::WriteAt(uint64_t offset, const void* data, size_t size, uint32_t* error) {
  if (!file_.IsOpen() || offset < end_) {
    *error = kErrInvalidParameter;
    return false;
  }
  if (!Fill(offset, error)) return false;
  const bool written = inPlace_ ? file_.Write(data, size, error) : file_.WriteAt(offset, data, size, error);
  if (written) end_ = offset + size;
  return written;
}

bool OutputFile::Write(const void* data, size_t size, uint32_t* error) { return WriteAt(end_, data, size, error); }

bool OutputFile::Commit(uint64_t size, uint32_t* error) {
  if (!file_.IsOpen()) {
    *error = kErrInvalidHandle;
    return false;
  }
  // A hole at the end has no bytes of its own: the length makes it.
  bool done = inPlace_ ? Fill(size, error) : file_.SetSize(std::max(size, end_), error);
  file_.Close();
  if (done && !inPlace_) {
    std::error_code ec;
    std::filesystem::rename(writing_, path_, ec);
    if (ec) {
      *error = ErrorOf(ec);
      done = false;
    }
  }
  if (!done) {
    Abandon();
    return false;
  }
  writing_.clear();
  return true;
}

void OutputFile::Abandon() {
  file_.Close();
  if (writing_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(writing_, ec);
  writing_.clear();
}

}  // namespace qv::plat
