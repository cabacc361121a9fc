#include "platform/scsi_request.h"

#include <algorithm>
#include <cstring>

namespace qv::plat {

size_t SenseToFixed(const uint8_t* sense, size_t length, uint8_t out[32]) {
  std::memset(out, 0, 32);
  if (sense == nullptr || length == 0) return 0;
  const uint8_t code = sense[0] & 0x7F;
  if (code != 0x72 && code != 0x73) {
    // Fixed format (or vendor-specific): pass through as it is.
    size_t n = std::min<size_t>(length, 32);
    std::memcpy(out, sense, n);
    return n;
  }
  // Descriptor format: header of 8 bytes, then descriptors.
  out[0] = code == 0x72 ? 0x70 : 0x71;
  if (length > 1) out[2] = sense[1] & 0x0F;
  if (length > 2) out[12] = sense[2];
  if (length > 3) out[13] = sense[3];
  out[7] = 10;  // additional sense length of an 18-byte fixed record
  size_t end = length;
  if (length > 7) end = std::min<size_t>(length, 8 + static_cast<size_t>(sense[7]));
  size_t pos = 8;
  while (pos + 2 <= end) {
    const uint8_t type = sense[pos];
    const size_t dlen = sense[pos + 1];
    const uint8_t* d = sense + pos;
    if (pos + 2 + dlen > end) break;  // truncated descriptor
    switch (type) {
      case 0x00:  // information
        if (dlen >= 10) {
          if (d[2] & 0x80) out[0] |= 0x80;
          std::memcpy(out + 3, d + 8, 4);  // low 32 bits of the 64-bit field
        }
        break;
      case 0x01:  // command-specific information
        if (dlen >= 10) std::memcpy(out + 8, d + 8, 4);
        break;
      case 0x02:  // sense-key specific
        if (dlen >= 6) std::memcpy(out + 15, d + 4, 3);
        break;
      case 0x04:  // stream commands: filemark, end of medium, ILI
        if (dlen >= 2) out[2] |= d[3] & 0xE0;
        break;
      default:
        break;
    }
    pos += 2 + dlen;
  }
  return 18;
}

}  // namespace qv::plat
