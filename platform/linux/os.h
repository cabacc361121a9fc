// The Linux system calls behind device access, as a seam: tests replace
// them to stand in for /dev/sgN and /dev/srN devices that do not exist.
#pragma once

namespace qv::plat::lnx {

class Os {
 public:
  virtual ~Os() = default;
  virtual int Open(const char* path, int flags);  // -1 and errno on failure
  virtual int Close(int fd);
  virtual int Ioctl(int fd, unsigned long request, void* argument);
};

Os& GetOs();
// Installs a replacement (nullptr restores the real calls); returns the old one.
Os* SetOs(Os* os);

}  // namespace qv::plat::lnx
