#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/filesystem.h"

namespace qv::plat {
namespace {

uint64_t FromStatx(const struct statx_timestamp& t) { return FileTimeFromUnix(t.tv_sec, t.tv_nsec); }

// One lookup relative to a folder (or the current folder), following links.
bool StatAt(int dirFd, const char* name, FileInfo* info, uint32_t* error) {
  struct statx sx {};
  int rc;
  do {
    rc = ::statx(dirFd, name, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    *error = SystemErrorFromErrno(errno);
    return false;
  }
  const mode_t mode = sx.stx_mode;
  info->kind = S_ISREG(mode) ? FileKind::Regular : S_ISDIR(mode) ? FileKind::Directory : FileKind::Other;
  info->size = info->kind == FileKind::Regular ? sx.stx_size : 0;
  info->accessTime = FromStatx(sx.stx_atime);
  info->writeTime = FromStatx(sx.stx_mtime);
  info->creationTime = (sx.stx_mask & STATX_BTIME) ? FromStatx(sx.stx_btime) : info->writeTime;
  info->device = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  info->inode = sx.stx_ino;
  // Linux has no hidden flag; dot names are ordinary names on a disc.
  uint32_t attributes = 0;
  if (info->kind == FileKind::Directory) attributes |= kAttrDirectory;
  if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= kAttrReadOnly;
  info->attributes = attributes ? attributes : kAttrNormal;
  info->readableByAll = (mode & S_IROTH) != 0;
  *error = 0;
  return true;
}

}  // namespace

bool FileSystem::Stat(const std::string& path, FileInfo* info, uint32_t* error) {
  return StatAt(AT_FDCWD, path.c_str(), info, error);
}

bool FileSystem::ReadDirectory(const std::string& path, std::vector<DirEntry>* entries, uint32_t* error) {
  entries->clear();
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = SystemErrorFromErrno(errno);
    return false;
  }
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    *error = SystemErrorFromErrno(errno);
    ::close(fd);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir);
    if (d == nullptr) {
      if (errno != 0) {
        *error = SystemErrorFromErrno(errno);
        ::closedir(dir);
        return false;
      }
      break;
    }
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    DirEntry& e = entries->emplace_back();
    e.name = d->d_name;
    StatAt(fd, d->d_name, &e.info, &e.error);
  }
  ::closedir(dir);
  std::sort(entries->begin(), entries->end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  *error = 0;
  return true;
}

}  // namespace qv::plat
