// The status record of the C entry points: no C++ exception ever crosses
// the C boundary; every failure becomes an exception number, a text, a
// system error and a failure record.
#pragma once
#include <cstdint>
#include <new>

#include "core/exception.h"
#include "core/log.h"
#include "quorvane.h"

// Fills the caller's status fields from a caught exception (deleting it)
// and returns its number; a null exception gives 12.
uint32_t QuorvaneI_ReportException(CQuorvane_Exception* e, char* text, uint32_t textSize, uint32_t* systemError,
                                   CDB_FAILURE_INFORMATION* failure);
// The same for a failure that did not come as an engine exception.
uint32_t QuorvaneI_ReportNumber(uint32_t number, const char* detail, char* text, uint32_t textSize);

// True once the library has been started up.
bool QuorvaneI_IsStarted();

// Runs body under the status record. entryPoint is the C function's name,
// used in the "Quorvane:<name>()" log lines.
template <class Body>
uint32_t QuorvaneI_Call(const char* entryPoint, char* text, uint32_t textSize, uint32_t* systemError,
                        CDB_FAILURE_INFORMATION* failure, Body&& body) noexcept {
  if (failure != nullptr) *failure = CDB_FAILURE_INFORMATION{};
  try {
    QuorvaneI_Log("\nQuorvane:%s(): ENTERed\n", entryPoint);
    body();
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with success\n", entryPoint);
    return EN_SUCCESS;
  } catch (CQuorvane_Exception* e) {
    const uint32_t number = QuorvaneI_ReportException(e, text, textSize, systemError, failure);
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, status %ld\n", entryPoint, static_cast<long>(number));
    return number;
  } catch (const std::bad_alloc&) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, out of memory\n", entryPoint);
    return QuorvaneI_ReportNumber(EN_MEMORY_ALLOCATION_FAILED, nullptr, text, textSize);
  } catch (const std::exception& x) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, unexpected '%s'\n", entryPoint, x.what());
    return QuorvaneI_ReportNumber(EN_GENERIC_ERROR, x.what(), text, textSize);
  } catch (...) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, unknown exception\n", entryPoint);
    return QuorvaneI_ReportNumber(EN_GENERIC_ERROR, nullptr, text, textSize);
  }
}

// The creation entry points: fail with 21 before start-up, else as above.
template <class Body>
uint32_t QuorvaneI_CallCreate(const char* entryPoint, char* text, uint32_t textSize, uint32_t* systemError,
                              CDB_FAILURE_INFORMATION* failure, Body&& body) noexcept {
  if (!QuorvaneI_IsStarted()) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, was not initialized\n", entryPoint);
    return EN_NOT_INITIALIZED;
  }
  return QuorvaneI_Call(entryPoint, text, textSize, systemError, failure, static_cast<Body&&>(body));
}
