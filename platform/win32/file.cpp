// Win32 files. The handle lives in File's descriptor slot; an invalid
// handle is -1 there, as a closed descriptor is on Linux.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>

#include "platform/errors.h"
#include "platform/file.h"

namespace qv::plat {
namespace {

HANDLE H(intptr_t slot) { return reinterpret_cast<HANDLE>(slot); }

// ReadFile and WriteFile move at most 4 GiB - 1 per call; stay well below.
constexpr size_t kChunk = 1u << 30;

bool SetPosition(HANDLE h, uint64_t offset, uint32_t* error) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(h, to, nullptr, FILE_BEGIN)) {
    if (error) *error = GetLastError();
    return false;
  }
  return true;
}

// Waits until a pipe has bytes to read, or has ended, looking at the
// thread's stop test between short naps. False when told to stop. Other
// handles never wait without end and are read at once.
bool ReadableOrStopped(HANDLE h) {
  constexpr DWORD kNapMs = 20;
  if (!ReadStopInstalled() || GetFileType(h) != FILE_TYPE_PIPE) return true;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr) || available > 0) return true;
    if (ReadStopRequested()) return false;
    Sleep(kNapMs);
  }
}

}  // namespace

File File::Open(const std::string& path, FileMode mode, uint32_t* error) {
  DWORD access = GENERIC_READ | GENERIC_WRITE, disposition = OPEN_EXISTING;
  switch (mode) {
    case FileMode::Read: access = GENERIC_READ; break;
    case FileMode::ReadWrite: break;
    case FileMode::CreateAlways: disposition = CREATE_ALWAYS; break;
    case FileMode::CreateNew: disposition = CREATE_NEW; break;
    case FileMode::WriteInPlace: access = GENERIC_WRITE; break;
  }
  // As on Linux, a reader stops no one: others may write, rename or delete
  // what it reads (a drive's disc is replaced while a handle reads it).
  // Files updated in place are shared with other writers, who coordinate
  // through Lock. A file being created keeps writers out.
  DWORD share = FILE_SHARE_READ;
  if (mode == FileMode::Read) share |= FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (mode == FileMode::ReadWrite) share |= FILE_SHARE_WRITE;
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return File();
  }
  if (error) *error = 0;
  return File(reinterpret_cast<intptr_t>(h));
}

File File::OpenSized(const std::string& path, int64_t* size, uint32_t* error) {
  *size = -1;
  File file = Open(path, FileMode::Read, error);
  if (file.IsOpen()) *size = file.Size(error);
  if (*size < 0) return File();
  return file;
}

File File::OpenToRead(const std::string& path, uint32_t* error) { return Open(path, FileMode::Read, error); }

bool File::CanRead(const std::string& path, uint32_t* error) { return Open(path, FileMode::Read, error).IsOpen(); }

int64_t File::Read(void* buffer, size_t size, uint32_t* error) {
  size_t done = 0;
  while (done < size) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min(size - done, kChunk));
    if (!ReadableOrStopped(H(fd_))) {
      if (error) *error = ERROR_CANCELLED;
      return -1;
    }
    if (!ReadFile(H(fd_), static_cast<char*>(buffer) + done, want, &got, nullptr)) {
      const DWORD e = GetLastError();
      if (e == ERROR_HANDLE_EOF || e == ERROR_BROKEN_PIPE) break;
      if (error) *error = e;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  if (error) *error = 0;
  return static_cast<int64_t>(done);
}

int64_t File::ReadAt(uint64_t offset, void* buffer, size_t size, uint32_t* error) {
  // A synchronous handle has one position: remember it and put it back.
  LARGE_INTEGER zero{}, here{};
  if (!SetFilePointerEx(H(fd_), zero, &here, FILE_CURRENT)) {
    if (error) *error = GetLastError();
    return -1;
  }
  if (!SetPosition(H(fd_), offset, error)) return -1;
  const int64_t n = Read(buffer, size, error);
  uint32_t restoreError = 0;
  if (!SetPosition(H(fd_), static_cast<uint64_t>(here.QuadPart), &restoreError) && n >= 0) {
    if (error) *error = restoreError;
    return -1;
  }
  return n;
}

int64_t File::ReadAtOnce(uint64_t offset, void* buffer, size_t size, uint32_t* error) {
  return ReadAt(offset, buffer, size, error);
}

bool File::Write(const void* buffer, size_t size, uint32_t* error) {
  size_t done = 0;
  while (done < size) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min(size - done, kChunk));
    if (!WriteFile(H(fd_), static_cast<const char*>(buffer) + done, want, &put, nullptr)) {
      if (error) *error = GetLastError();
      return false;
    }
    if (put == 0) {
      if (error) *error = kErrWriteFault;
      return false;
    }
    done += put;
  }
  if (error) *error = 0;
  return true;
}

bool File::WriteAt(uint64_t offset, const void* buffer, size_t size, uint32_t* error) {
  LARGE_INTEGER zero{}, here{};
  if (!SetFilePointerEx(H(fd_), zero, &here, FILE_CURRENT)) {
    if (error) *error = GetLastError();
    return false;
  }
  if (!SetPosition(H(fd_), offset, error)) return false;
  bool ok = Write(buffer, size, error);
  uint32_t restoreError = 0;
  if (!SetPosition(H(fd_), static_cast<uint64_t>(here.QuadPart), &restoreError) && ok) {
    if (error) *error = restoreError;
    ok = false;
  }
  return ok;
}

bool File::SetSize(uint64_t size, uint32_t* error) {
  // NTFS leaves the grown part unallocated until written only for sparse
  // files; ask for that, and go on without it where it is refused.
  DWORD returned = 0;
  DeviceIoControl(H(fd_), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER zero{}, here{};
  if (!SetFilePointerEx(H(fd_), zero, &here, FILE_CURRENT)) {
    if (error) *error = GetLastError();
    return false;
  }
  if (!SetPosition(H(fd_), size, error)) return false;
  const bool ok = SetEndOfFile(H(fd_)) != 0;
  const DWORD setError = ok ? 0 : GetLastError();
  SetPosition(H(fd_), static_cast<uint64_t>(here.QuadPart), nullptr);
  if (error) *error = setError;
  return ok;
}

bool File::Seek(uint64_t offset, uint32_t* error) {
  if (!SetPosition(H(fd_), offset, error)) return false;
  if (error) *error = 0;
  return true;
}

int64_t File::Size(uint32_t* error) const {
  LARGE_INTEGER size{};
  if (GetFileSizeEx(H(fd_), &size)) {
    if (error) *error = 0;
    return size.QuadPart;
  }
  // Devices (\\.\CdRom0) have a length, not a file size.
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (DeviceIoControl(H(fd_), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr)) {
    if (error) *error = 0;
    return length.Length.QuadPart;
  }
  if (error) *error = GetLastError();
  return -1;
}

bool File::Flush(uint32_t* error) {
  if (!FlushFileBuffers(H(fd_))) {
    const DWORD e = GetLastError();
    // Some devices have no buffers to flush.
    if (e != ERROR_INVALID_FUNCTION) {
      if (error) *error = e;
      return false;
    }
  }
  if (error) *error = 0;
  return true;
}

void File::Close() {
  if (fd_ >= 0) {
    CloseHandle(H(fd_));
    fd_ = -1;
  }
}

// Only NTFS-like file systems report allocated ranges; elsewhere the
// answer is offset itself, as the contract allows.
uint64_t File::DataFrom(uint64_t offset, uint64_t end) const {
  if (fd_ < 0 || offset >= end) return offset;
  FILE_ALLOCATED_RANGE_BUFFER query{}, range{};
  query.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
  query.Length.QuadPart = static_cast<LONGLONG>(end - offset);
  DWORD returned = 0;
  if (!DeviceIoControl(H(fd_), FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, &range, sizeof range, &returned,
                       nullptr) &&
      GetLastError() != ERROR_MORE_DATA)
    return offset;
  if (returned < sizeof range) return end;  // no allocated range: a hole to the end
  const uint64_t at = static_cast<uint64_t>(range.FileOffset.QuadPart);
  return std::min(std::max(at, offset), end);
}

// Byte-range locks over the whole file stand in for flock: they too are
// held per handle, so two handles of one process exclude each other.
bool File::Lock(bool exclusive, bool wait, uint32_t* error) {
  OVERLAPPED at{};
  const DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (!LockFileEx(H(fd_), flags, 0, MAXDWORD, MAXDWORD, &at)) {
    const DWORD e = GetLastError();
    if (error) *error = e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING ? kErrSharingViolation : e;
    return false;
  }
  if (error) *error = 0;
  return true;
}

void File::Unlock() {
  if (fd_ < 0) return;
  OVERLAPPED at{};
  UnlockFileEx(H(fd_), 0, MAXDWORD, MAXDWORD, &at);
}

// Windows takes the sequential-scan hint only when a file is opened, and
// its cache manager notices sequential reads by itself; there is nothing
// to tell it later.
void File::AdviseSequential() {}

}  // namespace qv::plat
