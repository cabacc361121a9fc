// How every flat function of the library runs: entry and exit lines, and
// every failure caught and returned as a status.
#pragma once
#include <exception>
#include <new>

#include "audio/sonvex.h"
#include "platform/errors.h"

template <class Body>
uint32_t SonvexI_Call(const char* function, Body&& body) noexcept {
  uint32_t status = 0;
  try {
    SonvexI_Log("\n%s(): >>> ENTERed\n", function);
    body();
    SonvexI_Log("\n%s(): <<< EXITing with success\n", function);
    return 0;
  } catch (const CSonvex_Failure& failure) {
    status = failure.status;
  } catch (const std::bad_alloc&) {
    status = qv::plat::kErrNotEnoughMemory;
  } catch (...) {
    status = qv::plat::kErrGenFailure;
  }
  SonvexI_Log("\n%s(): Exception caught, status %d ( 0x%x )\n", function, static_cast<int>(status), status);
  SonvexI_Log("\n%s(): <<< EXITing with failure, status %d ( 0x%x )\n", function, static_cast<int>(status), status);
  return status;
}
