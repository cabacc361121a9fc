// Saving a built image to a file: the one loop that JolietImage and both
// DVD-Video images share. The image is read in 64 KiB chunks from its
// current position and written as it comes, with progress in percent.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "control/win32/engine_call.h"
#include "control/win32/sinks.h"

namespace qv::control {

// Reads count bytes of the image into buffer: the engine's exception
// number, with the status record in call.
using ImageChunkReader = std::function<uint32_t(EngineCall& call, uint32_t count, void* buffer)>;

// Writes total bytes that read delivers into file (created anew), telling
// callback (may be empty) the percentage done and 100 at the end. who
// names the object in traces ("CJolietImage(0000...)"). A set cancel flag
// stops early with S_OK and a shorter file. Failures: 0x80070000 | error
// of the file, or the engine's result for a failed read (no error object).
HRESULT SaveImage(const std::string& who, const std::string& file, uint64_t total, const ImageChunkReader& read,
                  const ClientSink& callback, const std::atomic<bool>* cancel);

// The result of a failed engine read: 0x80070000 | status for exception 5,
// else 0x800A0200 + number.
inline HRESULT EngineReadResult(uint32_t number, const EngineCall& call) {
  return number == EN_SYSTEM_CALL_FAILED ? static_cast<HRESULT>(0x80070000u | call.systemStatus)
                                         : static_cast<HRESULT>(0x800A0200u + number);
}

}  // namespace qv::control
