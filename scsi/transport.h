// A transport delivers one CDB with its data buffer to one drive and waits
// for it. The base class holds the one command-execution algorithm: the
// command lock, the retry list and attempt budget, the long-write rule, the
// failure dump and the failure record. Each transport supplies only how it
// opens its device and how it delivers one request.
#pragma once
#include <cstdint>
#include <atomic>
#include <mutex>

#include "quorvane.h"

// Data direction of a command: 1 sends data to the drive, anything else
// reads from it. A command without data passes a null buffer and size 0.
enum : uint8_t { QV_SCSI_DIRECTION_IN = 0, QV_SCSI_DIRECTION_OUT = 1 };

// The time-out every pass-through and library request carries, in seconds.
inline constexpr uint32_t kQuorvaneScsiTimeOutSeconds = 108000;
// Bytes one command moves at most, once a transport is open.
inline constexpr uint32_t kQuorvaneScsiMaximumTransferLength = 61440;
// A long read asks for as much per command as the system passes to the
// drive (hostLimit bytes, 0 when it cannot tell: then the classic
// maximum), up to kQuorvaneLongReadMaxTransfer, in whole blocks and at
// least one; each command costs a round trip through the kernel and the
// drive, so fewer and larger ones read faster.
inline constexpr uint32_t kQuorvaneLongReadMaxTransfer = 1048576;
uint32_t QuorvaneI_ChunkBlocks(uint32_t hostLimit, uint32_t blockSize);

class CQuorvane_ScsiTransport {
 public:
  virtual ~CQuorvane_ScsiTransport();
  CQuorvane_ScsiTransport(const CQuorvane_ScsiTransport&) = delete;
  CQuorvane_ScsiTransport& operator=(const CQuorvane_ScsiTransport&) = delete;

  // Both run the command and return on GOOD status; they throw exception 5
  // (system call), 7 (retry budget spent) or 8 (command failed, with its
  // CDB_FAILURE_INFORMATION). The timing pointers receive the drive's own
  // timing where the transport can report it (SPTD), else they are ignored.
  virtual void ExecuteCDBEx(const uint8_t* cdb, uint8_t cdbLength, void* buffer, uint32_t bufferSize,
                            uint8_t direction, uint64_t* timing1, uint64_t* timing2);
  virtual void ExecuteCDB(const uint8_t* cdb, uint8_t cdbLength, void* buffer, uint32_t bufferSize,
                          uint8_t direction);

  uint8_t GetPortId() const { return m__UCHAR__PortId; }
  uint8_t GetPathId() const { return m__UCHAR__PathId; }
  uint8_t GetTargetId() const { return m__UCHAR__TargetId; }
  uint8_t GetLUN() const { return m__UCHAR__LUN; }
  uint8_t GetDeviceType() const { return m__UCHAR__DeviceType; }
  uint32_t GetMaximumTransferLength() const { return m__ULONG__MaximumTransferLength; }
  // The recording modes set it per medium before writing.
  void SetMaximumTransferLength(uint32_t bytes) { m__ULONG__MaximumTransferLength = bytes; }
  // The most bytes one command may move as the system reports it for this
  // device (sysfs max_sectors_kb through SG_GET_RESERVED_SIZE on Linux, the
  // adapter's capabilities on Windows); 0 when it cannot tell.
  uint32_t GetHostTransferLimit() const { return m__ULONG__HostTransferLimit; }
  // Bytes the last successful command moved, as the transport learnt it
  // (the whole buffer where it cannot tell). Parsers of drive answers read
  // no further than this.
  uint32_t GetLastTransferredLength() const { return m__ULONG__LastTransferredLength; }
  // The transport's class name, as its log lines and messages give it.
  const char* ClassName() const { return m__PCHAR__ClassName; }
  // Grows whenever the disc may have changed since: a command that writes,
  // erases, closes or moves it was sent, or a failure said the medium
  // changed or is gone. What was read of the disc holds while it stays.
  uint64_t MediumGeneration() const { return m__ULONGLONG__MediumGeneration.load(); }

  // One delivery of the request and what came back.
  struct Attempt {
    const uint8_t* cdb;
    uint8_t cdbLength;
    void* buffer;      // null when the command moves no data
    uint32_t bufferSize;
    bool dataOut;      // host to drive
    uint64_t* timing1;
    uint64_t* timing2;

    // Filled by Deliver.
    bool semaphoreTimeout = false;  // the OS gave up waiting: counted and delivered again
    bool good = false;              // the command completed with GOOD status
    uint8_t transportStatus = 0;    // ASPI request status, else 0
    uint8_t targetStatus = 0;       // SCSI status byte
    uint8_t hostAdapterStatus = 0;  // ASPI host adapter status, else 0
    uint8_t sense[32] = {};         // fixed format
    uint32_t transferred = 0;       // bytes moved; preset to bufferSize for transports that cannot tell
  };

 protected:
  CQuorvane_ScsiTransport(const char* className, const char* executeMethod);

  // Delivers the request once and fills the outcome. Throws exception 5
  // when the request could not be delivered.
  virtual void Deliver(Attempt& attempt) = 0;
  // Whether the retry list applies to this failure at all.
  virtual bool RetryPermitted(const Attempt&) const { return true; }
  // The sense bytes that the failure record keeps.
  virtual uint8_t RecordedSenseLength() const { return 32; }
  // Extra lines of the failure dump.
  virtual void DumpRequest(const Attempt&) const {}
  // "<class>::ExecuteCDB" or "<class>::ExecuteCDBEx", for log lines.
  const char* ExecuteMethod() const { return m__PCHAR__ExecuteMethod; }

 public:
  uint8_t m__UCHAR__PortId = 255;
  uint8_t m__UCHAR__PathId = 255;
  uint8_t m__UCHAR__TargetId = 255;
  uint8_t m__UCHAR__LUN = 0;
  uint8_t m__UCHAR__DeviceType = 127;
  uint32_t m__ULONG__MaximumTransferLength = 0;
  uint32_t m__ULONG__LastTransferredLength = 0;
  uint32_t m__ULONG__HostTransferLimit = 0;

 private:
  void Run(const uint8_t* cdb, uint8_t cdbLength, void* buffer, uint32_t bufferSize, uint8_t direction,
           uint64_t* timing1, uint64_t* timing2);
  [[noreturn]] void ThrowCommandFailed(const Attempt& attempt);
  void DumpFailure(const Attempt& attempt) const;

  const char* m__PCHAR__ClassName;
  const char* m__PCHAR__ExecuteMethod;
  std::mutex m__CRITICAL_SECTION__CommandLock;
  std::atomic<uint64_t> m__ULONGLONG__MediumGeneration{0};
};

// The retry list: CHECK CONDITION sense that means "try again shortly".
bool QuorvaneI_IsRetryableSense(const uint8_t* sense);
