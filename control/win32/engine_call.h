// How an engine result becomes an automation result (EngineCallFailure):
// exception 5 becomes the Win32 error it carries, any other number n
// becomes 0x800A0200 + n with an error object describing it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "quorvane.h"

namespace qv::control {

inline constexpr size_t kEngineMessageSize = 1024;

// The status record of one engine call, zero-filled.
struct EngineCall {
  char message[kEngineMessageSize] = {};
  uint32_t systemStatus = 0;
  CDB_FAILURE_INFORMATION failure{};
};

// The HRESULT of an engine exception number, with the error object for
// numbers other than 5 (source: the ProgID of clsid; description: the
// exception's text, empty for a number without one).
HRESULT EngineErrorResult(uint32_t number, uint32_t systemStatus, REFCLSID clsid);

// A fixed automation error (0x800A0100 "Image is not built" and its
// kind): hr with an error object whose source is clsid's ProgID.
HRESULT FixedError(HRESULT hr, REFCLSID clsid, const char* description);

// Reports a failed engine call: traces it, takes the sense key into
// *lastSenseKey (objects that keep one), stores the message in
// errorMessage and returns EngineErrorResult.
HRESULT EngineCallFailure(const char* method, const void* object, const char* entryPoint, uint32_t number,
                          const EngineCall& call, REFCLSID clsid, std::string& errorMessage,
                          uint8_t* lastSenseKey = nullptr);

// Runs one engine entry point of the standard form: entry(message, size,
// &systemStatus, &failure) returning the exception number. The object's
// error message is cleared first.
template <class Entry>
HRESULT CallEngine(const char* method, const void* object, const char* entryPoint, REFCLSID clsid,
                   std::string& errorMessage, uint8_t* lastSenseKey, Entry&& entry) {
  try {
    errorMessage.clear();
    EngineCall call;
    const uint32_t number = entry(call.message, static_cast<uint32_t>(sizeof call.message), &call.systemStatus,
                                  &call.failure);
    if (number == EN_SUCCESS) return S_OK;
    return EngineCallFailure(method, object, entryPoint, number, call, clsid, errorMessage, lastSenseKey);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qv::control
