// The exception texts, indexed by exception number. Texts of the table's
// first 23 numbers are kept exactly as callers have always seen them.
#include <cstddef>

#include "quorvane.h"

namespace {

const char* const kTexts[] = {
    "Nothing really happened, operation completed successfuly",
    "Undefined error happened, something goes really wrong",
    "User input parameter is not valid",
    "The state of the object is not valid for current operation",
    "Memory allocation failed",
    "System call failed, check SystemError pointer to system error value",
    "SCSI transport internal error",
    "SCSI device is busy for a while",
    "SCSI CDB delivery failed, check CDB_FAILURE_INFORMATION for details",
    "SCSI device of this type is not supported",
    "Something really unsupposed returned",
    "Buffer underrun happened",
    "Exception was not allocated",
    "Reserved",
    "This is not a real exception just the result of user interaction",
    "File path is too long",
    "This feature is still under construction",
    "Operation could not be performed b/s either device or requested parameter not found",
    "File is too big for requested operation",
    "Feature is not implemented yet",
    "Passed range is not valid",
    "Library was not initialized, call Quorvane_UpStartEx() first",
    "Unsupported audio format used as eithe input or output",
};

struct ExtraText {
  QV_ULONG number;
  const char* text;
};

const ExtraText kExtraTexts[] = {
    {EN_EDC_ECC_MISMATCH, "Sector read failed its EDC/ECC check"},
    {EN_POSITIONING_ERROR, "Read failed on a positioning error"},
    {EN_UNRECOVERED_READ_ERROR, "Unrecovered read error"},
    {EN_ILLEGAL_OPERATION_FOR_TRACK, "Illegal operation for this track"},
    {EN_READ_MODE_UNSUPPORTED, "Requested read mode is not supported by the device"},
    {EN_READ_REQUEST_TOO_LARGE, "Read request is larger than 65536 bytes"},
    {EN_RESERVE_TRACK_REFUSED, "Device refused to reserve the track"},
    {EN_SHARING_VIOLATION, "Device is opened by another application"},
    {EN_OBSOLETE_CALL, "Call is obsolete"},
    {EN_UNSUPPORTED_OS_VERSION, "Operating system version is not supported"},
};

}  // namespace

QUORVANE_API const char* QUORVANE_CALL Quorvane_GetExceptionText(QV_ULONG exceptionNumber) {
  if (exceptionNumber < sizeof kTexts / sizeof kTexts[0]) return kTexts[exceptionNumber];
  for (const auto& e : kExtraTexts)
    if (e.number == exceptionNumber) return e.text;
  return nullptr;
}
