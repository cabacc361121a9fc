// A command descriptor block being filled: zeroed, multi-byte fields
// big-endian.
#pragma once
#include <cstdint>

#include "scsi/transport.h"

struct QuorvaneI_Cdb {
  explicit QuorvaneI_Cdb(uint8_t opcode, uint8_t length) : len(length) { b[0] = opcode; }
  void Put16(int offset, uint32_t v) {
    b[offset] = static_cast<uint8_t>(v >> 8);
    b[offset + 1] = static_cast<uint8_t>(v);
  }
  void Put24(int offset, uint32_t v) {
    b[offset] = static_cast<uint8_t>(v >> 16);
    Put16(offset + 1, v);
  }
  void Put32(int offset, uint32_t v) {
    b[offset] = static_cast<uint8_t>(v >> 24);
    Put24(offset + 1, v);
  }

  uint8_t b[16] = {};
  uint8_t len;
};

// Runs a filled CDB on a transport; a command without data passes no buffer.
inline void QuorvaneI_Send(CQuorvane_ScsiTransport* transport, const QuorvaneI_Cdb& c, void* buffer = nullptr,
                           uint32_t size = 0, uint8_t direction = QV_SCSI_DIRECTION_IN) {
  transport->ExecuteCDB(c.b, c.len, buffer, size, direction);
}
