// A fake SCSI bus for the Linux device paths: a sysfs tree in a temporary
// folder, and a system-call seam that answers SG_IO on the fake /dev/sgN
// nodes. Commands other than INQUIRY go to a handler the test supplies.
#pragma once
#include <scsi/sg.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/os.h"
#include "support/test_support.h"

namespace qvtest {

struct FakeScsiDevice {
  unsigned host = 0, channel = 0, id = 0, lun = 0;
  int type = 5;
  std::string vendor = "QVTEST", model = "Fake Drive", revision = "1.00";
  bool hasBlock = true;  // an sr node
};

class FakeScsiBus : public qv::plat::lnx::Os {
 public:
  // Answers a command other than INQUIRY; fills hdr (status, sense, resid).
  // Return -1 with errno set to fail the ioctl itself.
  using Handler = std::function<int(const FakeScsiDevice&, sg_io_hdr_t&)>;

  FakeScsiBus();
  ~FakeScsiBus() override;

  // Adds a device; returns its sg index.
  unsigned Add(const FakeScsiDevice& device);
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  // Paths whose read-write open fails with EACCES.
  void DenyReadWrite(const std::string& path) { denyReadWrite_.push_back(path); }
  // As the kernel does on a read-only open: SG_IO fails with EPERM for the
  // opcodes the filter refuses.
  void SetReadOnlyFilter(std::function<bool(uint8_t opcode)> allowed) { readOnlyAllowed_ = std::move(allowed); }
  // Hands INQUIRY to the handler too, instead of answering it here.
  void PassInquiryToHandler(bool pass) { passInquiry_ = pass; }

  std::string DevPath(unsigned sgIndex) const;
  const TempDir& dir() const { return dir_; }
  int OpenCount() const { return opens_; }
  // Descriptors open now.
  size_t OpenFiles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fds_.size();
  }

  int Open(const char* path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;

 private:
  TempDir dir_;
  std::vector<FakeScsiDevice> devices_;
  struct OpenFile {
    size_t index;
    bool readOnly;
  };
  std::map<int, OpenFile> fds_;
  std::function<bool(uint8_t)> readOnlyAllowed_;
  bool passInquiry_ = false;
  std::vector<std::string> denyReadWrite_;
  Handler handler_;
  int nextFd_ = 1000;
  int opens_ = 0;
  mutable std::mutex mutex_;
  qv::plat::lnx::Os* previous_;
};

// Fills hdr with CHECK CONDITION and fixed-format sense key/ASC/ASCQ.
void SetCheckCondition(sg_io_hdr_t& hdr, uint8_t key, uint8_t asc, uint8_t ascq);

}  // namespace qvtest
