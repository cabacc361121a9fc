#include "vdrive/sense.h"

#include "vdrive/bytes.h"

namespace qv::vdrive {

Sense::Sense(uint8_t key, Asc code) {
  bytes[0] = 0x70;  // current error, fixed format
  bytes[2] = key & 0x0F;
  bytes[7] = kLength - 8;
  bytes[12] = code.code;
  bytes[13] = code.qualifier;
}

Sense& Sense::Information(uint32_t value) {
  bytes[0] |= 0x80;  // VALID
  PutBe32(bytes + 3, value);
  return *this;
}

Sense& Sense::FieldPointer(bool inCdb, uint16_t byte, int bit) {
  bytes[15] = 0x80 | (inCdb ? 0x40 : 0x00);  // SKSV, C/D
  if (bit >= 0) bytes[15] |= 0x08 | (bit & 0x07);  // BPV, bit pointer
  PutBe16(bytes + 16, byte);
  return *this;
}

Sense InvalidCdbField(uint16_t byte, int bit) {
  return Sense(kIllegalRequest, asc::kInvalidFieldInCdb).FieldPointer(true, byte, bit);
}

Sense InvalidParameterField(uint16_t byte, int bit) {
  return Sense(kIllegalRequest, asc::kInvalidFieldInParameterList).FieldPointer(false, byte, bit);
}

}  // namespace qv::vdrive
