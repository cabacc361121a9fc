#include "control/win32/image_saving.h"

#include <algorithm>
#include <memory>
#include <new>

#include "control/trace.h"

namespace qv::control {

HRESULT SaveImage(const std::string& who, const std::string& file, uint64_t total, const ImageChunkReader& read,
                  const ClientSink& callback, const std::atomic<bool>* cancel) {
  constexpr DWORD kChunk = 65536;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
  if (!buffer) {
    QVX("\n%s::SaveImageToFile() : Can't allocate the buffer.\n", who.c_str());
    return E_OUTOFMEMORY;
  }
  HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    QVX("\n%s::SaveImageToFile() : CreateFile(%s) failed, error = %d\n", who.c_str(), file.c_str(),
        static_cast<int>(error));
    return static_cast<HRESULT>(0x80070000u | error);
  }
  uint64_t remaining = total;
  long last = 0;
  HRESULT hr = S_OK;
  while (remaining > 0 && !(cancel != nullptr && cancel->load())) {
    const long percent = static_cast<long>((total - remaining) * 100 / total);
    if (last < percent && percent < 100) {
      callback.Progress(percent, 0);
      last = percent;
    }
    const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(remaining, kChunk));
    EngineCall c;
    const uint32_t n = read(c, chunk, buffer.get());
    if (n != EN_SUCCESS) {
      hr = EngineReadResult(n, c);
      break;
    }
    DWORD written = 0;
    if (!WriteFile(out, buffer.get(), chunk, &written, nullptr) || written != chunk) {
      const DWORD error = GetLastError();
      QVX("WriteFile( %lu ) failed, status %ld!!!", static_cast<unsigned long>(chunk), static_cast<long>(error));
      hr = static_cast<HRESULT>(0x80070000u | error);
      break;
    }
    remaining -= chunk;
  }
  CloseHandle(out);
  if (FAILED(hr)) return hr;
  callback.Progress(100, 0);
  QVX("100%%... Done!\n");
  return S_OK;
}

}  // namespace qv::control
