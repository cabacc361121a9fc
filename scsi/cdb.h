// A command descriptor block being filled: zeroed, multi-byte fields
// big-endian.
#pragma once
#include <cstdint>

#include "core/bytes.h"
#include "scsi/transport.h"

struct QuorvaneI_Cdb {
  explicit QuorvaneI_Cdb(uint8_t opcode, uint8_t length) : len(length) { b[0] = opcode; }
  void Put16(int offset, uint32_t v) { QuorvaneI_PutBE16(b + offset, static_cast<uint16_t>(v)); }
  void Put24(int offset, uint32_t v) { QuorvaneI_PutBE24(b + offset, v); }
  void Put32(int offset, uint32_t v) { QuorvaneI_PutBE32(b + offset, v); }

  uint8_t b[16] = {};
  uint8_t len;
};

// Runs a filled CDB on a transport; a command without data passes no buffer.
inline void QuorvaneI_Send(CQuorvane_ScsiTransport* transport, const QuorvaneI_Cdb& c, void* buffer = nullptr,
                           uint32_t size = 0, uint8_t direction = QV_SCSI_DIRECTION_IN) {
  transport->ExecuteCDB(c.b, c.len, buffer, size, direction);
}
