// What a command leaves behind: SCSI status and fixed-format sense data
// (SPC-3 4.5.3), with the sense keys and additional sense codes this drive
// reports.
#pragma once
#include <cstdint>

namespace qv::vdrive {

enum ScsiStatus : uint8_t { kGood = 0x00, kCheckCondition = 0x02, kBusy = 0x08 };

enum SenseKey : uint8_t {
  kNoSense = 0x0,
  kRecoveredError = 0x1,
  kNotReady = 0x2,
  kMediumError = 0x3,
  kHardwareError = 0x4,
  kIllegalRequest = 0x5,
  kUnitAttention = 0x6,
  kDataProtect = 0x7,
  kAbortedCommand = 0xB,
};

// One additional sense code with its qualifier.
struct Asc {
  uint8_t code;
  uint8_t qualifier;
};

namespace asc {
inline constexpr Asc kNone{0x00, 0x00};
inline constexpr Asc kBecomingReady{0x04, 0x01};
inline constexpr Asc kLongWriteInProgress{0x04, 0x08};
inline constexpr Asc kParameterListLengthError{0x1A, 0x00};
inline constexpr Asc kInvalidOpcode{0x20, 0x00};
inline constexpr Asc kLbaOutOfRange{0x21, 0x00};
inline constexpr Asc kInvalidFieldInCdb{0x24, 0x00};
inline constexpr Asc kInvalidFieldInParameterList{0x26, 0x00};
inline constexpr Asc kMediumMayHaveChanged{0x28, 0x00};
inline constexpr Asc kPowerOnReset{0x29, 0x00};
inline constexpr Asc kIncompatibleMedium{0x30, 0x00};
inline constexpr Asc kSavingNotSupported{0x39, 0x00};
inline constexpr Asc kNoMediumTrayClosed{0x3A, 0x01};
inline constexpr Asc kNoMediumTrayOpen{0x3A, 0x02};
inline constexpr Asc kMediumRemovalPrevented{0x53, 0x02};
inline constexpr Asc kUnrecoveredReadError{0x11, 0x00};
inline constexpr Asc kInternalTargetFailure{0x44, 0x00};
}  // namespace asc

// Fixed-format sense data, 18 bytes.
struct Sense {
  static constexpr uint8_t kLength = 18;
  uint8_t bytes[kLength] = {};

  Sense() = default;
  Sense(uint8_t key, Asc code);
  uint8_t key() const { return bytes[2] & 0x0F; }
  uint8_t code() const { return bytes[12]; }
  uint8_t qualifier() const { return bytes[13]; }
  bool empty() const { return key() == kNoSense && code() == 0 && qualifier() == 0; }

  // The INFORMATION field, for example the failing block address.
  Sense& Information(uint32_t value);
  // The field pointer of an ILLEGAL REQUEST: which byte (and bit, or -1
  // for the whole byte) of the CDB or of the parameter list was wrong.
  Sense& FieldPointer(bool inCdb, uint16_t byte, int bit = -1);
};

// The sense of an ILLEGAL REQUEST that points at a CDB byte.
Sense InvalidCdbField(uint16_t byte, int bit = -1);
// The same for a byte of the parameter list.
Sense InvalidParameterField(uint16_t byte, int bit = -1);

}  // namespace qv::vdrive
