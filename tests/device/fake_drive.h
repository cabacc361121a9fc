// A scripted drive for the burner-grabber tests: every answer is written
// out by the test (from the MMC tables, not from the engine's parsers), one
// handler per operation code. It records every command and, unlike a
// plain scripted transport, reports exactly how many bytes each answer
// moved, so short and truncated answers can be played.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/exception.h"
#include "record/burner_grabber.h"
#include "scsi/scsi_fixtures.h"
#include "scsi/transport.h"
#include "support/test_support.h"

namespace devtest {

using Bytes = std::vector<uint8_t>;

// What the drive does with one command.
struct Reply {
  Bytes data;                  // IN data; the bytes moved are min(size, buffer)
  uint8_t status = 0;          // 2: CHECK CONDITION
  uint8_t key = 0, asc = 0, ascq = 0;
  int64_t transferred = -1;    // >= 0: claim this many bytes moved instead

  static Reply Good(Bytes d = {}) { return Reply{std::move(d)}; }
  static Reply Sense(uint8_t key, uint8_t asc, uint8_t ascq) { return Reply{{}, 2, key, asc, ascq}; }
  static Reply Invalid() { return Sense(5, 0x20, 0x00); }  // invalid command operation code
  static Reply InvalidField() { return Sense(5, 0x24, 0x00); }
  static Reply NoMedium() { return Sense(2, 0x3A, 0x00); }
  // An answer of which the transport says only `moved` bytes came.
  static Reply Cut(Bytes d, int64_t moved) { return Reply{std::move(d), 0, 0, 0, 0, moved}; }
};

struct Sent {
  Bytes cdb;
  Bytes out;  // data sent to the drive
  uint32_t size;
};

class FakeDrive {
 public:
  using Handler = std::function<Reply(const Bytes& cdb, const Bytes& out)>;

  FakeDrive();
  // The handler of one operation code; commands without one are refused
  // as a real drive refuses an unknown code.
  void On(uint8_t opcode, Handler handler) { handlers_[opcode] = std::move(handler); }
  void Off(uint8_t opcode) { handlers_.erase(opcode); }
  // The same answer to every command with this operation code.
  void Returns(uint8_t opcode, Reply reply) {
    On(opcode, [reply](const Bytes&, const Bytes&) { return reply; });
  }
  Reply Answer(const Bytes& cdb, const Bytes& out);

  std::vector<Sent> sent;
  uint8_t deviceType = 5;
  // Called before each command runs (threads tests block here).
  std::function<void(uint8_t opcode)> beforeCommand;

  size_t Count(uint8_t opcode) const;
  // The CDB of the n-th command with this operation code.
  Bytes Cdb(uint8_t opcode, size_t n = 0) const;
  Bytes Out(uint8_t opcode, size_t n = 0) const;
  std::vector<uint8_t> Opcodes() const;

  // ---- A drive model built from plain fields ----
  std::string vendor = "QVTEST", product = "Fake Recorder", revision = "1.00";
  // Mode pages by code: the page bytes from the page code on.
  std::map<uint8_t, Bytes> currentPages, defaultPages;
  // Refuses a MODE SELECT of page 05h whose page bytes it dislikes.
  std::function<bool(const Bytes& page)> rejectWriteParameters;
  // GET CONFIGURATION: current profile (0xFFFF: refuse the command) and
  // the feature descriptors it lists after feature 0000h.
  uint16_t profile = 0x0008;
  std::map<uint16_t, Bytes> features;

 private:
  Reply ModeSense(const Bytes& cdb);
  Reply ModeSelect(const Bytes& out);
  Reply Inquiry() const;
  Reply GetConfiguration(const Bytes& cdb) const;
  std::map<uint8_t, Handler> handlers_;
};

// The transport the grabber owns; it forwards to a FakeDrive that the test
// keeps.
class FakeTransport : public CQuorvane_ScsiTransport {
 public:
  explicit FakeTransport(FakeDrive* drive, bool* destroyed = nullptr);
  ~FakeTransport() override;

 protected:
  void Deliver(Attempt& a) override;

 private:
  FakeDrive* drive_;
  bool* destroyed_;
};

// Big-endian and little-endian writers for answers.
void Put16(Bytes& b, size_t at, uint32_t v);
void Put32(Bytes& b, size_t at, uint32_t v);
void PutLe32(Bytes& b, size_t at, uint32_t v);
Bytes Be32(uint32_t v);

// A capabilities page (2Ah) of the MMC-3 layout (page length 0x1C):
// read bits (byte 2), write bits (byte 3), byte 4, buffer in KB and the
// speeds in KB/s.
Bytes CapabilitiesPage(uint8_t readBits, uint8_t writeBits, uint16_t bufferKB, uint16_t maxRead = 7056,
                       uint16_t currentRead = 7056, uint16_t maxWrite = 7056, uint16_t currentWrite = 7056,
                       uint8_t byte4 = 0);
// A write parameters page (05h) of length 0x32 as a drive returns it.
Bytes WriteParametersPage();

// A full TOC entry (11 bytes).
Bytes TocEntry(uint8_t session, uint8_t adrControl, uint8_t point, uint8_t pm, uint8_t ps, uint8_t pf,
               uint8_t m = 0, uint8_t s = 0, uint8_t f = 0);
// A READ TOC format 2 answer: header (length, first and last session) and entries.
Bytes FullToc(uint8_t firstSession, uint8_t lastSession, const std::vector<Bytes>& entries);
// A READ DISC INFORMATION answer of 34 bytes.
Bytes DiscInformation(uint8_t statusByte, uint8_t firstTrack, uint8_t sessions, uint8_t firstInLast,
                      uint8_t lastInLast);
// A READ TRACK INFORMATION answer of 36 bytes.
struct TrackInfo {
  uint8_t track = 1, session = 1, trackMode = 4, dataMode = 1;
  bool blank = false, packet = false, fixedPacket = false, nwaValid = false, reserved = false, copy = false,
       damage = false;
  uint32_t start = 0, nwa = 0, free = 0, packetSize = 0, size = 0;
};
Bytes TrackInformation(const TrackInfo& t);
// A 2048-byte block holding a volume descriptor of an ISO9660 volume.
Bytes IsoPrimaryVolumeDescriptor(uint32_t volumeSpaceSize);

// The grabber on a fake drive: creation and the drive in one place.
class Rig {
 public:
  explicit Rig(uint32_t cacheSizeInMB = 1);
  // Creates the grabber now (the drive's fields are read at creation).
  CQuorvane_CdvdBurnerGrabber& Create();
  CQuorvane_CdvdBurnerGrabber& g() { return *grabber_; }
  void Destroy() { grabber_.reset(); }
  bool transportDestroyed = false;
  FakeDrive drive;

 private:
  uint32_t cacheSizeInMB_;
  std::unique_ptr<CQuorvane_CdvdBurnerGrabber> grabber_;
};

using scsitest::Catch;
using scsitest::Fails;

// What the grabber tests share: virtual time, the log and a rig.
class DeviceTest : public ::testing::Test {
 protected:
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  Rig rig;
};
template <class Case>
class DeviceCases : public DeviceTest, public ::testing::WithParamInterface<Case> {};

}  // namespace devtest
