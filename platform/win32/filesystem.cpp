// The file system through the ANSI find and attribute calls, the names the
// engine passes everywhere else on Windows.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/filesystem.h"

namespace qv::plat {
namespace {

uint64_t Ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

void FromFindData(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& created, const FILETIME& accessed,
                  const FILETIME& written, FileInfo* info) {
  info->kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory
               : (attributes & FILE_ATTRIBUTE_DEVICE)  ? FileKind::Other
                                                       : FileKind::Regular;
  info->attributes = attributes;
  info->size = info->kind == FileKind::Regular ? (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow : 0;
  info->creationTime = Ticks(created);
  info->accessTime = Ticks(accessed);
  info->writeTime = Ticks(written);
}

// Volume and file index of a folder, so that a junction leading back up is
// recognised; files need no identity.
void Identify(const std::string& path, FileInfo* info) {
  if (info->kind != FileKind::Directory) return;
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION by{};
  if (GetFileInformationByHandle(h, &by)) {
    info->device = by.dwVolumeSerialNumber;
    info->inode = (static_cast<uint64_t>(by.nFileIndexHigh) << 32) | by.nFileIndexLow;
  }
  CloseHandle(h);
}

}  // namespace

bool FileSystem::Stat(const std::string& path, FileInfo* info, uint32_t* error) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    *error = GetLastError();
    return false;
  }
  FromFindData(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime,
               data.ftLastAccessTime, data.ftLastWriteTime, info);
  Identify(path, info);
  *error = 0;
  return true;
}

bool FileSystem::ReadDirectory(const std::string& path, std::vector<DirEntry>* entries, uint32_t* error) {
  entries->clear();
  std::string folder = path;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA((folder + "*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    DirEntry& e = entries->emplace_back();
    e.name = data.cFileName;
    FromFindData(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime,
                 data.ftLastAccessTime, data.ftLastWriteTime, &e.info);
    Identify(folder + e.name, &e.info);
  } while (FindNextFileA(find, &data));
  const DWORD last = GetLastError();
  FindClose(find);
  if (last != ERROR_NO_MORE_FILES) {
    *error = last;
    return false;
  }
  std::sort(entries->begin(), entries->end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  *error = 0;
  return true;
}

}  // namespace qv::plat
