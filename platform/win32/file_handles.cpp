// Handles of the caller's files, as the file sources take them over.
#include <windows.h>

#include "platform/file.h"

namespace qv::plat {

File File::Duplicate(intptr_t nativeHandle, uint32_t* error) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(nativeHandle), GetCurrentProcess(), &copy, 0,
                       FALSE, DUPLICATE_SAME_ACCESS)) {
    if (error) *error = GetLastError();
    return File();
  }
  if (error) *error = 0;
  return File(reinterpret_cast<intptr_t>(copy));
}

bool File::IsSeekable() const {
  return fd_ != -1 && GetFileType(reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd_))) == FILE_TYPE_DISK;
}

}  // namespace qv::plat
