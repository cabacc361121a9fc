// The ASPI library as the engine loads it: "WnASPI32.dll" from the search
// path, else beside the engine's own module.
#pragma once
#include <cstdint>

#include "platform/aspi.h"
#include "platform/dynlib.h"

struct QuorvaneI_Aspi {
  qv::aspi::GetASPI32SupportInfoFn getSupportInfo = nullptr;
  qv::aspi::SendASPI32CommandFn sendCommand = nullptr;
  qv::plat::LibraryHandle module = nullptr;
};

// Loads the library and resolves its two entry points, and, when
// extraExport is given, that export too (into *extra). Returns 0 or the
// system error of the first failure; logs as function.
uint32_t QuorvaneI_LoadAspi(const char* function, QuorvaneI_Aspi& aspi, const char* extraExport = nullptr,
                            void** extra = nullptr);

// Owns a loaded library for a scope.
class QuorvaneI_AspiScope {
 public:
  QuorvaneI_AspiScope() = default;
  ~QuorvaneI_AspiScope() { qv::plat::FreeLibraryHandle(aspi.module); }
  QuorvaneI_AspiScope(const QuorvaneI_AspiScope&) = delete;
  QuorvaneI_AspiScope& operator=(const QuorvaneI_AspiScope&) = delete;
  QuorvaneI_Aspi aspi;
};

// Sends a request and, while it is pending, polls it every 100 ms at most
// maxPolls times (0: without limit). Returns the final SRB status.
uint8_t QuorvaneI_AspiSendAndWait(const QuorvaneI_Aspi& aspi, void* srb, uint32_t maxPolls);
