// Files as the engine uses them: opened by name, read and written in whole
// requests, errors reported as system error numbers. Move-only; closes
// itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::plat {

// A read that can wait without end (a pipe that never delivers, a file
// that is still to be written) gives up with kErrCancelled once the
// calling thread's stop test holds. A thread sets its test for a scope;
// without one, reads wait as long as their source does.
class ReadStopScope {
 public:
  using Test = bool (*)(const void* context);
  ReadStopScope(Test test, const void* context);
  ~ReadStopScope();
  ReadStopScope(const ReadStopScope&) = delete;
  ReadStopScope& operator=(const ReadStopScope&) = delete;

 private:
  Test previousTest_;
  const void* previousContext_;
};
// Whether the calling thread's reads must give up now.
bool ReadStopRequested();
// Whether the calling thread has a stop test at all.
bool ReadStopInstalled();

enum class FileMode : uint8_t {
  Read,          // existing file, read-only, others may read
  ReadWrite,     // existing file, read and write
  CreateAlways,  // create or truncate, read and write
  CreateNew,     // create, fail when it exists (a link there counts: never followed)
  WriteInPlace,  // existing file or device, write only, nothing truncated
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens path; on failure the result is not open and *error is set.
  static File Open(const std::string& path, FileMode mode, uint32_t* error);
  // Opens path for reading and sizes it, with fewer system calls than Open
  // and Size; on failure the result is not open, *size is -1, *error set.
  static File OpenSized(const std::string& path, int64_t* size, uint32_t* error);
  // Opens path for reading with no question beyond the open itself, for a
  // caller that sized the file already (a folder opens on Linux; its reads
  // fail).
  static File OpenToRead(const std::string& path, uint32_t* error);
  // Whether path could be opened for reading now, without opening it where
  // the system can tell (Linux); *error says why not.
  static bool CanRead(const std::string& path, uint32_t* error);
  // A second handle to what the caller's native handle (a file descriptor,
  // or a HANDLE on Windows) has open; the caller keeps its own.
  static File Duplicate(intptr_t nativeHandle, uint32_t* error);

  bool IsOpen() const { return fd_ >= 0; }
  // Reads up to size bytes at the current position, looping over short
  // reads until size bytes or end of file. Returns the count, or -1. A
  // stream that has nothing to read looks at the thread's stop test while
  // it waits.
  int64_t Read(void* buffer, size_t size, uint32_t* error);
  // The same at an absolute offset; the current position does not move.
  int64_t ReadAt(uint64_t offset, void* buffer, size_t size, uint32_t* error);
  // One read at an absolute offset, for callers that want to learn where a
  // file ends without a second call: a file delivers all it holds up to
  // size (on Windows this is ReadAt).
  int64_t ReadAtOnce(uint64_t offset, void* buffer, size_t size, uint32_t* error);
  // Writes all of buffer; returns false with *error set otherwise.
  bool Write(const void* buffer, size_t size, uint32_t* error);
  // Writes all of buffer at an absolute offset; the position does not move.
  bool WriteAt(uint64_t offset, const void* buffer, size_t size, uint32_t* error);
  // Sets the file's length; growing leaves a hole where the OS allows.
  bool SetSize(uint64_t size, uint32_t* error);
  bool Seek(uint64_t offset, uint32_t* error);
  // Size in bytes; for block devices the device size. -1 on failure.
  int64_t Size(uint32_t* error) const;
  bool Flush(uint32_t* error);
  void Close();
  // Hints that the file is read front to back.
  void AdviseSequential();
  // True when ReadAt works: a file or a block device, not a pipe or socket.
  bool IsSeekable() const;
  // Where data may begin at or after offset: a hole before it reads as
  // zeros and need not be read. end when only a hole follows; offset
  // itself when the file system cannot tell.
  uint64_t DataFrom(uint64_t offset, uint64_t end) const;

  // An advisory lock on the whole file, shared with other processes and
  // with other File objects of this one. Without wait, a lock held
  // elsewhere fails at once with kErrSharingViolation.
  bool Lock(bool exclusive, bool wait, uint32_t* error);
  void Unlock();

 private:
  explicit File(intptr_t fd) : fd_(fd) {}
  intptr_t fd_ = -1;  // a descriptor, or a HANDLE on Windows
};

}  // namespace qv::plat
