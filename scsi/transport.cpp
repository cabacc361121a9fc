#include "scsi/transport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/exception.h"
#include "core/log.h"
#include "platform/clock.h"
#include "platform/errors.h"

namespace {

constexpr uint32_t kAttemptLimit = 5000;
constexpr uint32_t kPauseMs = 100;
// A WRITE(10) that meets "long write in progress" waits in short steps for
// as long as a drive may take to drain its buffer.
constexpr uint32_t kLongWriteAttemptLimit = 30000;
constexpr uint32_t kLongWritePauseMs = 20;

constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusBusy = 0x08;
constexpr uint8_t kOpWrite10 = 0x2A;

uint8_t SenseKey(const uint8_t* sense) { return sense[2] & 0x0F; }
uint8_t Asc(const uint8_t* sense) { return sense[12]; }
uint8_t Ascq(const uint8_t* sense) { return sense[13]; }

bool IsLongWriteInProgress(const uint8_t* sense) { return Asc(sense) == 0x04 && Ascq(sense) == 0x08; }

// Commands that only ask or read, and leave the disc as it is.
bool LeavesTheDisc(uint8_t op) {
  switch (op) {
    case 0x00: case 0x03: case 0x12: case 0x15: case 0x1A: case 0x1E: case 0x23: case 0x25: case 0x28:
    case 0x42: case 0x43: case 0x44: case 0x46: case 0x4A: case 0x51: case 0x52: case 0x55: case 0x5A:
    case 0x5C: case 0xA8: case 0xAC: case 0xAD: case 0xB6: case 0xB9: case 0xBB: case 0xBE:
      return true;
    default:
      return false;
  }
}

// A failure that says nothing of a changed disc: a bad block, a refused
// command, a write still going on.
bool LeavesTheDisc(const CQuorvane_ScsiTransport::Attempt& a) {
  const uint8_t key = SenseKey(a.sense);
  return a.targetStatus == kStatusCheckCondition && (key == 0x01 || key == 0x03 || key == 0x05 ||
                                                     (key == 0x02 && Asc(a.sense) == 0x04));
}

}  // namespace

bool QuorvaneI_IsRetryableSense(const uint8_t* sense) {
  const uint8_t key = SenseKey(sense), asc = Asc(sense), ascq = Ascq(sense);
  if (key == 0x02 && asc == 0x02) return true;
  if (key == 0x02 && asc == 0x04 && ascq == 0x08) return true;
  if (key == 0x06 && asc == 0x2E) return true;
  if (key == 0x06 && asc == 0x28 && ascq == 0x00) return true;
  return false;
}

CQuorvane_ScsiTransport::CQuorvane_ScsiTransport(const char* className, const char* executeMethod)
    : m__PCHAR__ClassName(className), m__PCHAR__ExecuteMethod(executeMethod) {}

CQuorvane_ScsiTransport::~CQuorvane_ScsiTransport() = default;

void CQuorvane_ScsiTransport::ExecuteCDBEx(const uint8_t* cdb, uint8_t cdbLength, void* buffer,
                                           uint32_t bufferSize, uint8_t direction, uint64_t* timing1,
                                           uint64_t* timing2) {
  Run(cdb, cdbLength, buffer, bufferSize, direction, timing1, timing2);
}

void CQuorvane_ScsiTransport::ExecuteCDB(const uint8_t* cdb, uint8_t cdbLength, void* buffer, uint32_t bufferSize,
                                         uint8_t direction) {
  Run(cdb, cdbLength, buffer, bufferSize, direction, nullptr, nullptr);
}

void CQuorvane_ScsiTransport::Run(const uint8_t* cdb, uint8_t cdbLength, void* buffer, uint32_t bufferSize,
                                  uint8_t direction, uint64_t* timing1, uint64_t* timing2) {
  const char* method = ExecuteMethod();
  if (cdb == nullptr || cdbLength == 0 || cdbLength > 16)
    QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): Invalid CDB length %d", method, cdbLength);
  if (buffer == nullptr && bufferSize != 0)
    QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): No buffer for %u byte(s)", method, bufferSize);

  std::lock_guard<std::mutex> lock(m__CRITICAL_SECTION__CommandLock);
  uint32_t attempts = 0;
  uint32_t limit = kAttemptLimit;
  uint32_t pauseMs = kPauseMs;
  for (;;) {
    Attempt a{};
    a.cdb = cdb;
    a.cdbLength = cdbLength;
    a.buffer = bufferSize == 0 ? nullptr : buffer;
    a.bufferSize = bufferSize;
    a.dataOut = direction == QV_SCSI_DIRECTION_OUT;
    a.timing1 = timing1;
    a.timing2 = timing2;
    a.transferred = a.buffer == nullptr ? 0 : bufferSize;
    if (!LeavesTheDisc(cdb[0])) ++m__ULONGLONG__MediumGeneration;
    Deliver(a);
    if (!a.good && !LeavesTheDisc(a)) ++m__ULONGLONG__MediumGeneration;

    if (a.semaphoreTimeout) {
      if (++attempts > limit)
        QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, qv::plat::kErrSemTimeout,
                        "%s(): Device not ready too long ( semaphore timeout ), %u vs. %d", method, attempts,
                        static_cast<int>(limit));
      QuorvaneI_Log("\n%s(): Semaphore timeout, re-executing the CDB, %u vs. %d\n", method, attempts,
                    static_cast<int>(limit));
      qv::plat::SleepMs(pauseMs);
      continue;
    }
    if (a.good) {
      m__ULONG__LastTransferredLength = a.transferred < a.bufferSize ? a.transferred : a.bufferSize;
      return;
    }

    if (cdb[0] == kOpWrite10 && IsLongWriteInProgress(a.sense)) {
      limit = kLongWriteAttemptLimit;
      pauseMs = kLongWritePauseMs;
    } else {
      DumpFailure(a);
    }

    if (RetryPermitted(a)) {
      const char* tag = nullptr;
      if (a.targetStatus == kStatusCheckCondition && QuorvaneI_IsRetryableSense(a.sense)) tag = "#1";
      else if (a.targetStatus == kStatusBusy) tag = "#2";
      if (tag != nullptr) {
        if (++attempts > limit)
          QuorvaneI_Throw(method, EN_DEVICE_BUSY, 0, "%s(): Device not ready too long %s", method, tag);
        qv::plat::SleepMs(pauseMs);
        continue;
      }
    }
    ThrowCommandFailed(a);
  }
}

void CQuorvane_ScsiTransport::DumpFailure(const Attempt& a) const {
  const char* method = ExecuteMethod();
  uint8_t cdb[16] = {};
  std::memcpy(cdb, a.cdb, a.cdbLength);
  QuorvaneI_Log("\n%s(): Command failed\n", method);
  QuorvaneI_Log("\nSCSI Status: 0x%02X, CDB Length: %d, CDB Dump: 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X "
                "0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X\n",
                a.targetStatus, a.cdbLength, cdb[0], cdb[1], cdb[2], cdb[3], cdb[4], cdb[5], cdb[6], cdb[7], cdb[8],
                cdb[9], cdb[10], cdb[11], cdb[12], cdb[13], cdb[14], cdb[15]);
  char hex[32 * 5 + 1] = {};
  const uint8_t n = RecordedSenseLength();
  for (uint8_t i = 0; i < n; ++i) std::snprintf(hex + i * 5, 6, "0x%02X ", a.sense[i]);
  QuorvaneI_Log("\nSense Key: 0x%02X, ASC: 0x%02X, ASCQ: 0x%02X, Sense Dump: %s\n", SenseKey(a.sense), Asc(a.sense),
                Ascq(a.sense), hex);
  DumpRequest(a);
}

void CQuorvane_ScsiTransport::ThrowCommandFailed(const Attempt& a) {
  const char* method = ExecuteMethod();
  CDB_FAILURE_INFORMATION* info = QuorvaneI_NewFailureInformation();
  if (info == nullptr) {
    QuorvaneI_Log("%s(): new CDB_FAILURE_INFORMATION failed\n", method);
    QuorvaneI_Throw(method, EN_CDB_CALL_FAILED, 0, "%s(): Command failed", method);
  }
  info->m__UCHAR__IsValid = 1;
  info->m__UCHAR__CDBLength = a.cdbLength;
  std::memcpy(info->m__UCHAR__CDB, a.cdb, a.cdbLength);
  info->m__UCHAR__SenseLength = RecordedSenseLength();
  std::memcpy(info->m__UCHAR__Sense, a.sense, info->m__UCHAR__SenseLength);
  info->m__UCHAR__TransportStatus = a.transportStatus;
  info->m__UCHAR__TargetStatus = a.targetStatus;
  info->m__UCHAR__HostAdapterStatus = a.hostAdapterStatus;
  QuorvaneI_Throw(method, EN_CDB_CALL_FAILED, reinterpret_cast<uintptr_t>(info), "%s(): Command failed", method);
}

uint32_t QuorvaneI_ChunkBlocks(uint32_t hostLimit, uint32_t blockSize) {
  if (blockSize == 0) return 1;
  const uint32_t bytes =
      hostLimit == 0 ? kQuorvaneScsiMaximumTransferLength : std::min(hostLimit, kQuorvaneLongReadMaxTransfer);
  return std::max<uint32_t>(1, bytes / blockSize);
}
