#include "platform/linux/os.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace qv::plat::lnx {

int Os::Open(const char* path, int flags) { return ::open(path, flags | O_CLOEXEC); }
int Os::Close(int fd) { return ::close(fd); }
int Os::Ioctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }

namespace {
Os g_real;
std::atomic<Os*> g_os{nullptr};
}  // namespace

Os& GetOs() {
  Os* os = g_os.load(std::memory_order_acquire);
  return os ? *os : g_real;
}

Os* SetOs(Os* os) { return g_os.exchange(os, std::memory_order_acq_rel); }

}  // namespace qv::plat::lnx
