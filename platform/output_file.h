// The file a command writes its result into. A regular file, or a name
// that is not there yet, is written under a fresh name beside it, created
// exclusively so that a link planted there is never followed, and takes the
// name only at Commit: a failure or a stop leaves an earlier file as it was.
// A device, a FIFO or anything else that is not a regular file is written
// in place and never replaced. Every failed write is reported.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace qv::plat {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // A folder is refused with kErrAccessDenied, as Windows refuses it.
  bool Open(const std::string& path, uint32_t* error);
  // Appends to what is written.
  bool Write(const void* data, size_t size, uint32_t* error);
  // Writes at an offset at or past the end of what is written; the gap is
  // a hole in a regular file and zeros in a stream.
  bool WriteAt(uint64_t offset, const void* data, size_t size, uint32_t* error);
  // Makes the output at least size bytes long the same way, then completes
  // it: the temporary file takes the name.
  bool Commit(uint64_t size, uint32_t* error);
  bool Commit(uint32_t* error) { return Commit(0, error); }
  // Removes the temporary file; what went in place stays where it went.
  void Abandon();

  bool InPlace() const { return inPlace_; }

 private:
  bool Fill(uint64_t offset, uint32_t* error);

  std::string path_, writing_;
  File file_;
  uint64_t end_ = 0;
  bool inPlace_ = false;
};

}  // namespace qv::plat
