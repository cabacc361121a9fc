// The one engine exception. Engine code throws it by pointer
// (throw new CQuorvane_Exception(...), usually through QuorvaneI_Throw) and
// whoever catches it owns and deletes it. A null pointer stands for an
// exception that could not be allocated.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <memory>

#include "quorvane.h"

#define QUORVANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

class CQuorvane_Exception {
 public:
  // status: the system error for number 5; for number 8 a
  // CDB_FAILURE_INFORMATION* allocated with new, which the exception then
  // owns; otherwise 0.
  CQuorvane_Exception(uint32_t number, uintptr_t status, const char* format, ...) QUORVANE_PRINTF(4, 5);
  CQuorvane_Exception(uint32_t number, uintptr_t status, const char* format, va_list args) QUORVANE_PRINTF(4, 0);
  virtual ~CQuorvane_Exception();
  CQuorvane_Exception(const CQuorvane_Exception&) = delete;
  CQuorvane_Exception& operator=(const CQuorvane_Exception&) = delete;

  uint32_t Number() const { return m__ULONG__ExceptionNumber; }
  const char* Text() const { return m__CHAR__ExceptionText; }
  uint32_t SystemError() const {
    return m__ULONG__ExceptionNumber == EN_SYSTEM_CALL_FAILED ? static_cast<uint32_t>(m__ULONG_PTR__Status) : 0;
  }
  // The failure record of exception 8, or nullptr.
  const CDB_FAILURE_INFORMATION* FailureInformation() const;

  uint32_t m__ULONG__ExceptionNumber;
  char m__CHAR__ExceptionText[QUORVANE_EXCEPTION_TEXT_SIZE];
  uintptr_t m__ULONG_PTR__Status;
};

// Owner of a caught exception: catch (CQuorvane_Exception* e) { QuorvaneI_Caught c(e); ... }
using QuorvaneI_Caught = std::unique_ptr<CQuorvane_Exception>;

// Allocates an exception; nullptr when memory runs out.
CQuorvane_Exception* QuorvaneI_NewException(uint32_t number, uintptr_t status, const char* format, ...)
    QUORVANE_PRINTF(3, 4);

// The failure path of every throw site: logs "\n<text>\n", builds the
// exception with the text, logs "<method>(): EXITing with failure, status %ld,
// message '%s'\n" and throws it.
[[noreturn]] void QuorvaneI_Throw(const char* method, uint32_t number, uintptr_t status, const char* format, ...)
    QUORVANE_PRINTF(4, 5);

// Rethrows a caught exception after logging the method's failure exit line.
[[noreturn]] void QuorvaneI_Rethrow(const char* method, CQuorvane_Exception* e);

// Logs a caught exception that is only reported:
// "<method>(): WARNING! Exception number %ld, exception text '%s'\n" or
// "<method>(): WARNING! Exception pointer is NULL\n".
void QuorvaneI_LogCaught(const char* method, const CQuorvane_Exception* e);

// Allocates a zeroed failure record for an exception 8 (nullptr when out of memory).
CDB_FAILURE_INFORMATION* QuorvaneI_NewFailureInformation();
