// What File does the same on every system: owning and handing over its
// handle.
#include "platform/file.h"

namespace qv::plat {

File::~File() { Close(); }
File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

}  // namespace qv::plat
