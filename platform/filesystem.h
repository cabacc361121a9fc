// The file system as the file tree sees it: what a path names, and the
// entries of a folder. Symbolic links are followed; every entry carries the
// identity of what it names, so a walk can tell when a link leads back to a
// folder it is already inside.
//
// The calls go through a replaceable object so that tests can stand in a
// file system with faults that a real one will not produce on demand.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qv::plat {

// Windows file attributes, the form in which the engine keeps them.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrNormal = 0x80;

enum class FileKind : uint8_t {
  Regular,
  Directory,
  Other,  // FIFO, socket, character or block device: nothing to put on a disc
};

struct FileInfo {
  FileKind kind = FileKind::Regular;
  uint32_t attributes = 0;
  uint64_t size = 0;  // bytes; 0 for folders
  // Windows file times: 100 ns ticks since 1601-01-01 UTC; 0 when unknown.
  // A file system that keeps no creation time reports the write time.
  uint64_t creationTime = 0;
  uint64_t accessTime = 0;
  uint64_t writeTime = 0;
  // Identity of the object (device and file number), equal for two paths
  // that lead to the same folder.
  uint64_t device = 0;
  uint64_t inode = 0;
  // Anyone may read it, as its permission bits say (Linux): opening it
  // needs no trial.
  bool readableByAll = false;
};

struct DirEntry {
  std::string name;  // as stored on disk, which need not be valid UTF-8
  // 0 when info is valid; else the system error met when looking the entry
  // up (a dangling link, a link loop, a permission problem).
  uint32_t error = 0;
  FileInfo info;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Looks a path up, following links. false with *error on failure.
  virtual bool Stat(const std::string& path, FileInfo* info, uint32_t* error);
  // The entries of a folder without "." and "..", sorted by name byte by
  // byte. false with *error when the folder cannot be listed.
  virtual bool ReadDirectory(const std::string& path, std::vector<DirEntry>* entries, uint32_t* error);
};

FileSystem& GetFileSystem();
// Installs a replacement (nullptr restores the real one); returns the old one.
FileSystem* SetFileSystem(FileSystem* fileSystem);

// Converts seconds and nanoseconds since 1970-01-01 UTC to a Windows file
// time; times before 1601 give 0.
uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);

}  // namespace qv::plat
