#include "vdrive/store.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <system_error>

#include "platform/errors.h"
#include "vdrive/bytes.h"
#include "vdrive/json_util.h"

namespace qv::vdrive {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

thread_local std::string t_errorText;

uint32_t FromErrorCode(const std::error_code& ec) {
  return ec.category() == std::system_category() || ec.category() == std::generic_category()
             ? plat::SystemErrorFromErrno(ec.value())
             : plat::kErrGenFailure;
}

uint32_t ReadWhole(const fs::path& path, std::string* out) {
  uint32_t err = 0;
  plat::File f = plat::File::Open(path.string(), plat::FileMode::Read, &err);
  if (!f.IsOpen()) return err;
  const int64_t size = f.Size(&err);
  if (size < 0) return err;
  if (size > (1 << 20)) return plat::kErrFileTooLarge;  // these files are small
  out->resize(static_cast<size_t>(size));
  const int64_t n = f.Read(out->data(), out->size(), &err);
  if (n < 0) return err;
  out->resize(static_cast<size_t>(n));
  return 0;
}

json ParseFile(const fs::path& path) {
  std::string text;
  if (uint32_t err = ReadWhole(path, &text)) throw std::system_error(static_cast<int>(err), std::system_category());
  try {
    return ParseWhole(text);
  } catch (const json::parse_error& e) {
    throw BadJson(std::string("not valid JSON (") + e.what() + ")");
  }
}

}  // namespace

fs::path DriveHome() {
  if (const char* home = std::getenv("QUORVANE_VDRIVE_HOME"); home != nullptr && *home != '\0') return fs::path(home);
  fs::path state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    state = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    state = fs::path(home) / ".local" / "state";
  } else {
    std::error_code ec;
    state = fs::temp_directory_path(ec);
  }
  return state / "quorvane" / "vdrives";
}

bool ValidDriveName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

std::vector<std::string> DriveNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(DriveHome(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code ec2;
    if (ValidDriveName(name) && fs::exists(it->path() / "model.json", ec2)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void SetErrorText(std::string text) { t_errorText = std::move(text); }
const std::string& ErrorText() { return t_errorText; }
uint32_t Fail(uint32_t error, std::string text) {
  SetErrorText(std::move(text));
  return error;
}

uint32_t DiscData::Open(const fs::path& path) {
  path_ = path;
  uint32_t err = 0;
  file_ = plat::File::Open(path.string(), plat::FileMode::Read, &err);
  return file_.IsOpen() || err == plat::kErrFileNotFound ? 0 : err;
}

uint32_t DiscData::Read(uint64_t offset, uint8_t* out, size_t count) {
  size_t got = 0;
  if (file_.IsOpen()) {
    uint32_t err = 0;
    const int64_t n = file_.ReadAt(offset, out, count, &err);
    if (n < 0) return err;
    got = static_cast<size_t>(n);
  }
  std::fill(out + got, out + count, uint8_t{0});
  return 0;
}

uint64_t DiscData::StoredBytes() const {
  uint32_t err = 0;
  const int64_t size = file_.IsOpen() ? file_.Size(&err) : 0;
  return size > 0 ? static_cast<uint64_t>(size) : 0;
}

uint32_t DiscData::Write(uint64_t offset, const uint8_t* data, size_t count) {
  uint32_t err = 0;
  if (!writer_.IsOpen()) {
    writer_ = plat::File::Open(path_.string(), plat::FileMode::ReadWrite, &err);
    if (!writer_.IsOpen() && err == plat::kErrFileNotFound)
      writer_ = plat::File::Open(path_.string(), plat::FileMode::CreateNew, &err);
    if (!writer_.IsOpen()) return err;
  }
  const int64_t size = writer_.Size(&err);
  if (size < 0) return err;
  if (offset >= static_cast<uint64_t>(size) && std::all_of(data, data + count, [](uint8_t b) { return b == 0; }))
    return 0;
  if (!writer_.WriteAt(offset, data, count, &err)) return err;
  if (!file_.IsOpen()) file_ = plat::File::Open(path_.string(), plat::FileMode::Read, &err);
  return file_.IsOpen() ? 0 : err;
}

DriveStore::DriveStore(std::string name) : name_(std::move(name)), folder_(DriveHome() / name_) {}

std::shared_ptr<DriveStore> DriveStore::Get(const std::string& name) {
  static std::mutex registryMutex;
  static std::map<std::string, std::weak_ptr<DriveStore>> registry;
  const std::string key = (DriveHome() / name).string();
  std::lock_guard<std::mutex> lock(registryMutex);
  if (auto existing = registry[key].lock()) return existing;
  auto store = std::make_shared<DriveStore>(name);
  registry[key] = store;
  return store;
}

std::array<DriveStore::Stamp, 3> DriveStore::Stamps() const {
  std::array<Stamp, 3> stamps;
  const char* files[] = {"model.json", "state.json", "faults.json"};
  for (size_t i = 0; i < stamps.size(); ++i) {
    std::error_code ec;
    const auto time = fs::last_write_time(File(files[i]), ec);
    if (ec) continue;
    stamps[i].time = time.time_since_epoch().count();
    stamps[i].size = fs::file_size(File(files[i]), ec);
  }
  return stamps;
}

uint32_t DriveStore::Reload() {
  loaded_ = false;
  disc_.Close();
  const char* file = "model.json";
  try {
    DriveRecord record;
    record.model = ModelFromJson(ParseFile(File(file)));
    file = "state.json";
    record.state = StateFromJson(ParseFile(File(file)));
    file = "faults.json";
    std::error_code ec;
    if (fs::exists(File(file), ec)) record.faults = FaultsFromJson(ParseFile(File(file)));
    record_ = std::move(record);
  } catch (const BadJson& e) {
    return Fail(plat::kErrInvalidData, "virtual drive '" + name_ + "': " + file + ": " + e.what());
  } catch (const nlohmann::json::exception& e) {
    return Fail(plat::kErrInvalidData, "virtual drive '" + name_ + "': " + file + ": " + e.what());
  } catch (const std::system_error& e) {
    return Fail(static_cast<uint32_t>(e.code().value()),
                "virtual drive '" + name_ + "': cannot read " + file + " (system error " +
                    std::to_string(e.code().value()) + ")");
  }
  if (uint32_t err = disc_.Open(File("disc.img")))
    return Fail(err, "virtual drive '" + name_ + "': cannot open disc.img (system error " + std::to_string(err) + ")");
  loaded_ = true;
  return 0;
}

uint32_t DriveStore::Save(const Changes& changes) {
  uint32_t err = 0;
  if (changes.state) err = WriteFileAtomically(File("state.json"), StateToJson(record_.state).dump(1) + "\n");
  if (err == 0 && changes.faults) {
    std::error_code ec;
    if (record_.faults.rules.empty())
      fs::remove(File("faults.json"), ec);
    else
      err = WriteFileAtomically(File("faults.json"), FaultsToJson(record_.faults).dump(1) + "\n");
  }
  if (err == 0 && changes.disc) {
    disc_.Close();
    std::error_code ec;
    if (changes.discFrom.empty())
      fs::remove(File("disc.img"), ec);
    else
      fs::rename(changes.discFrom, File("disc.img"), ec);
    err = ec ? FromErrorCode(ec) : disc_.Open(File("disc.img"));
  }
  if (err != 0) {
    loaded_ = false;  // what is in memory was not saved; read the files again
    return Fail(err, "virtual drive '" + name_ + "': cannot save its state (system error " + std::to_string(err) + ")");
  }
  return 0;
}

uint32_t DriveStore::Transact(const Body& body) {
  std::lock_guard<std::mutex> guard(mutex_);
  uint32_t err = 0;
  plat::File lock = plat::File::Open(File("lock").string(), plat::FileMode::ReadWrite, &err);
  if (!lock.IsOpen()) {
    loaded_ = false;
    if (err == plat::kErrFileNotFound || err == plat::kErrPathNotFound)
      return Fail(plat::kErrFileNotFound, "no virtual drive named '" + name_ + "'");
    return Fail(err, "virtual drive '" + name_ + "': cannot open its lock file (system error " + std::to_string(err) + ")");
  }
  if (!lock.Lock(true, true, &err))
    return Fail(err, "virtual drive '" + name_ + "': cannot lock it (system error " + std::to_string(err) + ")");
  uint8_t counter[8] = {};
  const int64_t n = lock.ReadAt(0, counter, sizeof counter, &err);
  const uint64_t generation = n == 8 ? (uint64_t{Le32(counter + 4)} << 32 | Le32(counter)) : 0;
  const std::array<Stamp, 3> stamps = Stamps();
  if (!loaded_ || generation != generation_ || n != 8 || stamps != stamps_) {
    if ((err = Reload()) != 0) return err;
    generation_ = generation;
    stamps_ = stamps;
  }
  Changes changes;
  const uint32_t result = body(record_, disc_, changes);
  if (changes.state || changes.faults || changes.disc) {
    if ((err = Save(changes)) != 0) return err;
    ++generation_;
    stamps_ = Stamps();
    PutLe32(counter, static_cast<uint32_t>(generation_));
    PutLe32(counter + 4, static_cast<uint32_t>(generation_ >> 32));
    if (!lock.WriteAt(0, counter, sizeof counter, &err)) loaded_ = false;
  }
  return result;
}

uint32_t WriteFileAtomically(const fs::path& path, const std::string& contents) {
  // Appended piece by piece: "." + name trips g++ 12's false -Wrestrict at -O3.
  std::string name = ".";
  name += path.filename().string();
  name += ".tmp";
  const fs::path temp = path.parent_path() / name;
  uint32_t err = 0;
  {
    plat::File f = plat::File::Open(temp.string(), plat::FileMode::CreateAlways, &err);
    if (!f.IsOpen()) return err;
    if (!f.Write(contents.data(), contents.size(), &err)) {
      f.Close();
      std::error_code ec;
      fs::remove(temp, ec);
      return err;
    }
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    fs::remove(temp, ec);
    return FromErrorCode(ec);
  }
  return 0;
}

uint32_t CopySparse(const fs::path& from, const fs::path& to, uint64_t* bytes) {
  uint32_t err = 0;
  plat::File in = plat::File::Open(from.string(), plat::FileMode::Read, &err);
  if (!in.IsOpen()) return err;
  plat::File out = plat::File::Open(to.string(), plat::FileMode::CreateAlways, &err);
  if (!out.IsOpen()) return err;
  in.AdviseSequential();
  const int64_t size = in.Size(&err);
  if (size < 0) return err;
  std::vector<uint8_t> buffer(1 << 20);
  constexpr size_t kRun = 64 * 1024;
  uint64_t offset = 0;
  for (;;) {
    // The source's own holes are not even read.
    const uint64_t data = in.DataFrom(offset, static_cast<uint64_t>(size)) / kRun * kRun;
    if (data > offset) {
      offset = data;
      continue;
    }
    const int64_t n = in.ReadAt(offset, buffer.data(), buffer.size(), &err);
    if (n < 0) return err;
    if (n == 0) break;
    // Write each 64 KiB run that holds data; zero runs stay holes.
    for (size_t at = 0; at < static_cast<size_t>(n); at += kRun) {
      const size_t len = std::min(kRun, static_cast<size_t>(n) - at);
      const uint8_t* p = buffer.data() + at;
      if (std::all_of(p, p + len, [](uint8_t b) { return b == 0; })) continue;
      if (!out.WriteAt(offset + at, p, len, &err)) return err;
    }
    offset += static_cast<uint64_t>(n);
  }
  if (!out.SetSize(offset, &err)) return err;
  *bytes = offset;
  return 0;
}

uint32_t InitLockFile(const fs::path& path) {
  std::random_device rd;
  uint8_t counter[8];
  PutLe32(counter, rd());
  PutLe32(counter + 4, rd());
  uint32_t err = 0;
  plat::File f = plat::File::Open(path.string(), plat::FileMode::CreateAlways, &err);
  if (!f.IsOpen()) return err;
  return f.Write(counter, sizeof counter, &err) ? 0 : err;
}

}  // namespace qv::vdrive
