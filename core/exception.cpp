#include "core/exception.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/log.h"

CQuorvane_Exception::CQuorvane_Exception(uint32_t number, uintptr_t status, const char* format, ...)
    : m__ULONG__ExceptionNumber(number), m__CHAR__ExceptionText{}, m__ULONG_PTR__Status(status) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(m__CHAR__ExceptionText, sizeof m__CHAR__ExceptionText, format, args);
  va_end(args);
}

CQuorvane_Exception::CQuorvane_Exception(uint32_t number, uintptr_t status, const char* format, va_list args)
    : m__ULONG__ExceptionNumber(number), m__CHAR__ExceptionText{}, m__ULONG_PTR__Status(status) {
  std::vsnprintf(m__CHAR__ExceptionText, sizeof m__CHAR__ExceptionText, format, args);
}

CQuorvane_Exception::~CQuorvane_Exception() {
  if (m__ULONG__ExceptionNumber == EN_CDB_CALL_FAILED && m__ULONG_PTR__Status != 0)
    delete reinterpret_cast<CDB_FAILURE_INFORMATION*>(m__ULONG_PTR__Status);
}

const CDB_FAILURE_INFORMATION* CQuorvane_Exception::FailureInformation() const {
  if (m__ULONG__ExceptionNumber != EN_CDB_CALL_FAILED) return nullptr;
  return reinterpret_cast<const CDB_FAILURE_INFORMATION*>(m__ULONG_PTR__Status);
}

CQuorvane_Exception* QuorvaneI_NewException(uint32_t number, uintptr_t status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  auto* e = new (std::nothrow) CQuorvane_Exception(number, status, format, args);
  va_end(args);
  if (e == nullptr && number == EN_CDB_CALL_FAILED && status != 0)
    delete reinterpret_cast<CDB_FAILURE_INFORMATION*>(status);
  return e;
}

void QuorvaneI_Throw(const char* method, uint32_t number, uintptr_t status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  auto* e = new (std::nothrow) CQuorvane_Exception(number, status, format, args);
  va_end(args);
  if (e == nullptr) {
    if (number == EN_CDB_CALL_FAILED && status != 0) delete reinterpret_cast<CDB_FAILURE_INFORMATION*>(status);
    QuorvaneI_Log("\n%s(): EXITing with failure, exception was not allocated\n", method);
    throw static_cast<CQuorvane_Exception*>(nullptr);
  }
  QuorvaneI_Log("\n%s\n", e->m__CHAR__ExceptionText);
  QuorvaneI_Log("%s(): EXITing with failure, status %ld, message '%s'\n", method,
                static_cast<long>(e->m__ULONG__ExceptionNumber), e->m__CHAR__ExceptionText);
  throw e;
}

void QuorvaneI_Rethrow(const char* method, CQuorvane_Exception* e) {
  if (e == nullptr) {
    QuorvaneI_Log("%s(): EXITing with failure, Exception pointer is NULL\n", method);
  } else {
    QuorvaneI_Log("%s(): EXITing with failure, status %ld, message '%s'\n", method,
                  static_cast<long>(e->m__ULONG__ExceptionNumber), e->m__CHAR__ExceptionText);
  }
  throw e;
}

void QuorvaneI_LogCaught(const char* method, const CQuorvane_Exception* e) {
  if (e == nullptr) {
    QuorvaneI_Log("%s(): WARNING! Exception pointer is NULL\n", method);
    return;
  }
  QuorvaneI_Log("%s(): WARNING! Exception number %ld, exception text '%s'\n", method,
                static_cast<long>(e->m__ULONG__ExceptionNumber), e->m__CHAR__ExceptionText);
}

CDB_FAILURE_INFORMATION* QuorvaneI_NewFailureInformation() {
  auto* f = new (std::nothrow) CDB_FAILURE_INFORMATION;
  if (f) std::memset(f, 0, sizeof *f);
  return f;
}
