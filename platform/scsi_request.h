// One SCSI command as the OS pass-through layers deliver it, and what came
// back. Shared by the Linux SG_IO path and the Windows pass-through path.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::plat {

enum class ScsiDirection : uint8_t { None, In, Out };

struct ScsiRequest {
  const uint8_t* cdb = nullptr;
  uint8_t cdbLength = 0;
  void* buffer = nullptr;
  uint32_t bufferSize = 0;
  ScsiDirection direction = ScsiDirection::None;
  uint32_t timeoutSeconds = 108000;
};

struct ScsiReply {
  // Non-zero when the command did not complete at the target: the OS call
  // failed, or the host or driver reported an error without sense data.
  uint32_t systemError = 0;
  uint8_t status = 0;        // SCSI status byte (2: CHECK CONDITION, 8: BUSY)
  uint8_t hostStatus = 0;    // OS-specific, for logs
  uint8_t driverStatus = 0;  // OS-specific, for logs
  uint8_t senseLength = 0;   // valid bytes in sense
  uint8_t sense[32] = {};    // fixed format
  uint32_t transferred = 0;
};

// Converts sense data of either format to fixed format (response code
// 70h/71h) in out; returns the number of valid bytes written (at most 32).
size_t SenseToFixed(const uint8_t* sense, size_t length, uint8_t out[32]);

}  // namespace qv::plat
