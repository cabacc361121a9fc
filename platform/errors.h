// System error numbers as the engine reports them: the Windows codes, on
// every platform. OS error numbers are mapped to them here and nowhere else.
#pragma once
#include <cstdint>

namespace qv::plat {

inline constexpr uint32_t kErrSuccess = 0;
inline constexpr uint32_t kErrInvalidFunction = 1;
inline constexpr uint32_t kErrFileNotFound = 2;
inline constexpr uint32_t kErrPathNotFound = 3;
inline constexpr uint32_t kErrTooManyOpenFiles = 4;
inline constexpr uint32_t kErrAccessDenied = 5;
inline constexpr uint32_t kErrInvalidHandle = 6;
inline constexpr uint32_t kErrNotEnoughMemory = 8;
inline constexpr uint32_t kErrNotReady = 21;
inline constexpr uint32_t kErrCrc = 23;
inline constexpr uint32_t kErrInvalidData = 13;
inline constexpr uint32_t kErrNoMoreFiles = 18;
inline constexpr uint32_t kErrWriteProtect = 19;
inline constexpr uint32_t kErrSeek = 25;
inline constexpr uint32_t kErrWriteFault = 29;
inline constexpr uint32_t kErrReadFault = 30;
inline constexpr uint32_t kErrGenFailure = 31;
inline constexpr uint32_t kErrSharingViolation = 32;
inline constexpr uint32_t kErrHandleEof = 38;
inline constexpr uint32_t kErrNotSupported = 50;
inline constexpr uint32_t kErrFileExists = 80;
inline constexpr uint32_t kErrInvalidParameter = 87;
inline constexpr uint32_t kErrBrokenPipe = 109;
inline constexpr uint32_t kErrDiskFull = 112;
inline constexpr uint32_t kErrSemTimeout = 121;
inline constexpr uint32_t kErrInsufficientBuffer = 122;
inline constexpr uint32_t kErrInvalidName = 123;
inline constexpr uint32_t kErrModNotFound = 126;
inline constexpr uint32_t kErrProcNotFound = 127;
inline constexpr uint32_t kErrDirNotEmpty = 145;
inline constexpr uint32_t kErrBusy = 170;
inline constexpr uint32_t kErrAlreadyExists = 183;
inline constexpr uint32_t kErrFilenameExcedRange = 206;
inline constexpr uint32_t kErrFileTooLarge = 223;
inline constexpr uint32_t kErrMoreData = 234;
inline constexpr uint32_t kErrIoIncomplete = 996;
inline constexpr uint32_t kErrFileInvalid = 1006;
inline constexpr uint32_t kErrIoDevice = 1117;
inline constexpr uint32_t kErrNoMediaInDrive = 1112;
inline constexpr uint32_t kErrNoUnicodeTranslation = 1113;
inline constexpr uint32_t kErrDeviceNotConnected = 1167;
inline constexpr uint32_t kErrCancelled = 1223;
inline constexpr uint32_t kErrTimeout = 1460;
inline constexpr uint32_t kErrCantResolveFilename = 1921;

// Maps an errno value to the engine's system error number.
uint32_t SystemErrorFromErrno(int err);

// The calling thread's last OS error, mapped.
uint32_t LastSystemError();

}  // namespace qv::plat
