#include <fcntl.h>
#include <poll.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/errors.h"
#include "platform/file.h"

namespace qv::plat {

namespace {

// Moves size bytes through step (one read or write system call at a given
// distance into the request), retrying interrupted and short calls. Reads
// stop at end of file. Returns the bytes moved, or -1 with *error set.
template <typename Step>
int64_t Transfer(size_t size, bool stopAtZero, uint32_t* error, Step step) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = SystemErrorFromErrno(errno);
      return -1;
    }
    if (n == 0 && stopAtZero) break;
    done += static_cast<size_t>(n);
  }
  if (error) *error = 0;
  return static_cast<int64_t>(done);
}

// Waits until fd has something to read (or its end, or an error), looking
// at the thread's stop test between short polls. False when told to stop.
bool ReadableOrStopped(int fd) {
  constexpr int kPollMs = 50;
  if (!ReadStopInstalled()) return true;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, kPollMs);
    if (n > 0 || (n < 0 && errno != EINTR)) return true;  // a failure is the read's to report
    if (ReadStopRequested()) return false;
  }
}

// One system call that answers 0 or -1, retried while interrupted.
template <typename Call>
bool Retried(uint32_t* error, Call call) {
  int rc;
  do {
    rc = call();
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (error) *error = SystemErrorFromErrno(errno);
    return false;
  }
  if (error) *error = 0;
  return true;
}

// open(2), retried while interrupted; -1 with *error set on failure.
int OpenFd(const std::string& path, int flags, uint32_t* error) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (error) *error = fd < 0 ? SystemErrorFromErrno(errno) : 0;
  return fd;
}

// Opens path for reading and stats it. A folder opens for reading on
// Linux; it is refused here as Windows refuses it.
int OpenForReading(const std::string& path, struct stat* st, uint32_t* error) {
  const int fd = OpenFd(path, O_RDONLY, error);
  if (fd < 0) return -1;
  uint32_t failure = 0;
  if (fstat(fd, st) != 0) failure = SystemErrorFromErrno(errno);
  else if (S_ISDIR(st->st_mode)) failure = kErrAccessDenied;
  if (failure == 0) return fd;
  ::close(fd);
  if (error) *error = failure;
  return -1;
}

}  // namespace

File File::Open(const std::string& path, FileMode mode, uint32_t* error) {
  int fd;
  if (mode == FileMode::Read) {
    struct stat st {};
    fd = OpenForReading(path, &st, error);
  } else if (mode == FileMode::WriteInPlace) {
    fd = OpenFd(path, O_WRONLY, error);
  } else {
    int flags = O_RDWR;
    if (mode == FileMode::CreateAlways) flags |= O_CREAT | O_TRUNC;
    if (mode == FileMode::CreateNew) flags |= O_CREAT | O_EXCL;
    fd = OpenFd(path, flags, error);
  }
  return fd < 0 ? File() : File(fd);
}

File File::OpenSized(const std::string& path, int64_t* size, uint32_t* error) {
  *size = -1;
  struct stat st {};
  const int fd = OpenForReading(path, &st, error);
  if (fd < 0) return File();
  File file(fd);
  // A block device's length needs its own question.
  *size = S_ISBLK(st.st_mode) ? file.Size(error) : static_cast<int64_t>(st.st_size);
  return *size < 0 ? File() : std::move(file);
}

File File::OpenToRead(const std::string& path, uint32_t* error) {
  const int fd = OpenFd(path, O_RDONLY, error);
  return fd < 0 ? File() : File(fd);
}

bool File::CanRead(const std::string& path, uint32_t* error) {
  return Retried(error, [&] { return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS); });
}

File File::Duplicate(intptr_t nativeHandle, uint32_t* error) {
  const int fd = ::fcntl(static_cast<int>(nativeHandle), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = SystemErrorFromErrno(errno);
    return File();
  }
  if (error) *error = 0;
  return File(fd);
}


int64_t File::Read(void* buffer, size_t size, uint32_t* error) {
  return Transfer(size, true, error, [&](size_t done) -> ssize_t {
    if (!ReadableOrStopped(static_cast<int>(fd_))) {
      errno = ECANCELED;
      return -1;
    }
    return ::read(fd_, static_cast<char*>(buffer) + done, size - done);
  });
}

int64_t File::ReadAt(uint64_t offset, void* buffer, size_t size, uint32_t* error) {
  return Transfer(size, true, error, [&](size_t done) {
    return ::pread(fd_, static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(offset + done));
  });
}

int64_t File::ReadAtOnce(uint64_t offset, void* buffer, size_t size, uint32_t* error) {
  ssize_t n;
  do {
    n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (error) *error = n < 0 ? SystemErrorFromErrno(errno) : 0;
  return n;
}

bool File::Write(const void* buffer, size_t size, uint32_t* error) {
  return Transfer(size, false, error, [&](size_t done) {
           return ::write(fd_, static_cast<const char*>(buffer) + done, size - done);
         }) >= 0;
}

bool File::WriteAt(uint64_t offset, const void* buffer, size_t size, uint32_t* error) {
  return Transfer(size, false, error, [&](size_t done) {
           return ::pwrite(fd_, static_cast<const char*>(buffer) + done, size - done,
                           static_cast<off_t>(offset + done));
         }) >= 0;
}

bool File::SetSize(uint64_t size, uint32_t* error) {
  return Retried(error, [&] { return ::ftruncate(fd_, static_cast<off_t>(size)); });
}

bool File::Seek(uint64_t offset, uint32_t* error) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    if (error) *error = SystemErrorFromErrno(errno);
    return false;
  }
  if (error) *error = 0;
  return true;
}

int64_t File::Size(uint32_t* error) const {
  struct stat st {};
  if (fstat(fd_, &st) != 0) {
    if (error) *error = SystemErrorFromErrno(errno);
    return -1;
  }
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (ioctl(fd_, BLKGETSIZE64, &bytes) != 0) {
      if (error) *error = SystemErrorFromErrno(errno);
      return -1;
    }
    if (error) *error = 0;
    return static_cast<int64_t>(bytes);
  }
  if (error) *error = 0;
  return static_cast<int64_t>(st.st_size);
}

bool File::Flush(uint32_t* error) {
  if (::fsync(fd_) != 0 && errno != EINVAL) {
    if (error) *error = SystemErrorFromErrno(errno);
    return false;
  }
  if (error) *error = 0;
  return true;
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool File::IsSeekable() const {
  struct stat st {};
  return fd_ >= 0 && fstat(fd_, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

uint64_t File::DataFrom(uint64_t offset, uint64_t end) const {
  if (fd_ < 0 || offset >= end) return offset;
  const off_t at = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
  if (at >= 0) return std::min(static_cast<uint64_t>(at), end);
  return errno == ENXIO ? end : offset;
}

void File::AdviseSequential() {
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool File::Lock(bool exclusive, bool wait, uint32_t* error) {
  const int op = (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
  int rc;
  do {
    rc = ::flock(fd_, op);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (error) *error = errno == EWOULDBLOCK ? kErrSharingViolation : SystemErrorFromErrno(errno);
    return false;
  }
  if (error) *error = 0;
  return true;
}

void File::Unlock() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

}  // namespace qv::plat
