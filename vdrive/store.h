// The drive folders: where they live, what each holds, and the locked
// transaction through which every command and every management call reads
// and changes a drive, so that several processes see one disc.
//
//   <home>/<name>/model.json   the drive model
//   <home>/<name>/state.json   tray, disc, unit state, mode pages
//   <home>/<name>/faults.json  armed fault rules (optional)
//   <home>/<name>/disc.img     the disc's user data, sparse (optional)
//   <home>/<name>/lock         locked around every change; holds a change counter
//   <home>/<name>/users        locked shared by each open handle, exclusive by
//                              an exclusive one
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "vdrive/faults.h"
#include "vdrive/model.h"
#include "vdrive/unit_state.h"

namespace qv::vdrive {

// $QUORVANE_VDRIVE_HOME, else ${XDG_STATE_HOME:-$HOME/.local/state}/quorvane/vdrives.
std::filesystem::path DriveHome();
// Letters, digits, '.', '_' and '-', up to 64, not starting with '.'.
bool ValidDriveName(std::string_view name);
// Every drive folder's name, sorted.
std::vector<std::string> DriveNames();

// The text of the last failure of a vdrive call on this thread.
void SetErrorText(std::string text);
const std::string& ErrorText();
// Sets the text and passes the error through.
uint32_t Fail(uint32_t error, std::string text);

// The disc data file, read with holes as zeros.
class DiscData {
 public:
  // Opens the folder's disc.img, if there is one.
  uint32_t Open(const std::filesystem::path& path);
  void Close() { file_ = plat::File(); }
  // Reads count bytes at offset; what lies past the end of the file reads
  // as zeros. Returns 0 or a system error.
  uint32_t Read(uint64_t offset, uint8_t* out, size_t count);

 private:
  plat::File file_;
};

struct DriveRecord {
  DriveModel model;
  DriveState state;
  FaultSet faults;
};

// What a transaction changed and must save.
struct Changes {
  bool state = false;
  bool faults = false;
  // The disc data file changes: replaced by discFrom, or removed when that
  // is empty. Done after state.json is saved, so a drive that cannot save
  // its state keeps its old disc whole.
  bool disc = false;
  std::filesystem::path discFrom;
};

// One drive as this process sees it: a cache of its files, brought up to
// date at the start of every transaction. Shared by all handles on it.
class DriveStore {
 public:
  // The store of a drive by name (the folder need not exist yet).
  static std::shared_ptr<DriveStore> Get(const std::string& name);

  const std::string& name() const { return name_; }
  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path File(const char* leaf) const { return folder_ / leaf; }

  using Body = std::function<uint32_t(DriveRecord& record, DiscData& disc, Changes& changes)>;
  // Locks the drive (in this process and across processes), reloads what
  // another process changed, runs body and saves what it changed. Returns
  // body's result, or 2 when the drive does not exist, or the error that
  // kept the files from being read or written (ErrorText() tells more).
  uint32_t Transact(const Body& body);

  explicit DriveStore(std::string name);

 private:
  uint32_t Reload();
  uint32_t Save(const Changes& changes);
  // Size and modification time of each JSON file, so that a file edited
  // by hand is read again too.
  struct Stamp {
    int64_t time = 0;
    uintmax_t size = 0;
    bool operator==(const Stamp&) const = default;
  };
  std::array<Stamp, 3> Stamps() const;

  std::string name_;
  std::filesystem::path folder_;
  std::mutex mutex_;
  bool loaded_ = false;
  uint64_t generation_ = 0;
  std::array<Stamp, 3> stamps_{};
  DriveRecord record_;
  DiscData disc_;
};

// Writes a file whole, through a temporary name, so readers see the old or
// the new file and never a part.
uint32_t WriteFileAtomically(const std::filesystem::path& path, const std::string& contents);
// Copies an image file into the drive folder as a sparse file, leaving out
// runs of zero blocks. Returns 0 or a system error; *bytes gets the size.
uint32_t CopySparse(const std::filesystem::path& from, const std::filesystem::path& to, uint64_t* bytes);
// Starts a drive folder's change counter at a random value, so a drive
// made anew under an old name never looks unchanged to a cache.
uint32_t InitLockFile(const std::filesystem::path& path);

}  // namespace qv::vdrive
