#include "control/win32/engine_call.h"

#include <cstdio>
#include <new>

#include "control/trace.h"
#include "control/win32/classes.h"

namespace qv::control {
namespace {

std::wstring Wide(const char* text) {
  if (text == nullptr || *text == '\0') return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
  return out;
}

void SetErrorObject(const char* source, const char* description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetGUID(GUID_NULL);
  create->SetSource(const_cast<LPOLESTR>(Wide(source).c_str()));
  create->SetDescription(const_cast<LPOLESTR>(Wide(description).c_str()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

// "%02X " for each byte.
std::string Hex(const uint8_t* bytes, size_t count) {
  std::string out;
  char cell[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
    out += cell;
  }
  return out;
}

}  // namespace

HRESULT EngineErrorResult(uint32_t number, uint32_t systemStatus, REFCLSID clsid) {
  if (number == EN_SYSTEM_CALL_FAILED) {
    SetErrorInfo(0, nullptr);  // nothing stale for the caller to find
    return static_cast<HRESULT>(0x80070000u | systemStatus);
  }
  const ServerClass* c = FindServerClass(clsid);
  SetErrorObject(c ? c->progId : "", Quorvane_GetExceptionText(number));
  return static_cast<HRESULT>(0x800A0200u + number);
}

HRESULT FixedError(HRESULT hr, REFCLSID clsid, const char* description) {
  const ServerClass* c = FindServerClass(clsid);
  SetErrorObject(c ? c->progId : "", description);
  return hr;
}

HRESULT EngineCallFailure(const char* method, const void* object, const char* entryPoint, uint32_t number,
                          const EngineCall& call, REFCLSID clsid, std::string& errorMessage, uint8_t* lastSenseKey) {
  char message[kEngineMessageSize + 1] = {};
  std::snprintf(message, sizeof message, "%s", call.message);  // the engine's text may lack its terminator
  QVX("\n%s(%p): %s() failed, exception %ld, status %ld, text '%s'\n", method, object, entryPoint,
      static_cast<long>(number), static_cast<long>(static_cast<int32_t>(call.systemStatus)), message);
  if (lastSenseKey != nullptr) {
    const auto* r = reinterpret_cast<const uint8_t*>(&call.failure);
    QVX("\nValid = %s, CDB Size = %d, Sense Size = %d\n", r[0] ? "yes" : "no", r[1], r[18]);
    QVX("CDB: %s\n", Hex(r + 2, 16).c_str());
    QVX("Sense 00: %s\n", Hex(r + 19, 16).c_str());
    QVX("Sense 10: %s\n", Hex(r + 35, 16).c_str());
    QVX("Transport status = %d, Target Status = %d, HostAdapter Status = %d\n", r[51], r[52], r[53]);
    *lastSenseKey = r[21] & 0x0F;
  }
  try {
    errorMessage = message;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return EngineErrorResult(number, call.systemStatus, clsid);
}

}  // namespace qv::control
