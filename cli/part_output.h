// An output file written under a temporary name: a regular FILE is written
// as FILE.part and renamed over FILE when complete, so a failure or Ctrl-C
// keeps an earlier FILE; devices and FIFOs are written in place.
#pragma once
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace qvcli {

class PartOutput {
 public:
  ~PartOutput() { Abandon(); }
  bool Open(const std::string& path, std::string* why) {
    path_ = path;
    struct stat st {};
    direct_ = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    writing_ = direct_ ? path : path + ".part";
    file_ = std::fopen(writing_.c_str(), "wb");
    if (file_ == nullptr) *why = std::strerror(errno);
    return file_ != nullptr;
  }
  bool Write(const void* data, size_t size, std::string* why) {
    if (std::fwrite(data, 1, size, file_) == size) return true;
    *why = std::strerror(errno);
    return false;
  }
  bool Commit(std::string* why) {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) {
      *why = std::strerror(errno);
      Remove();
      return false;
    }
    if (!direct_ && std::rename(writing_.c_str(), path_.c_str()) != 0) {
      *why = std::strerror(errno);
      Remove();
      return false;
    }
    committed_ = true;
    return true;
  }
  void Abandon() {
    if (file_ != nullptr) {
      std::fclose(file_);
      file_ = nullptr;
    }
    if (!committed_) Remove();
  }

 private:
  void Remove() {
    if (!direct_ && !writing_.empty()) std::remove(writing_.c_str());
  }
  std::string path_, writing_;
  FILE* file_ = nullptr;
  bool direct_ = false, committed_ = false;
};

}  // namespace qvcli
