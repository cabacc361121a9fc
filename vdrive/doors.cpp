// The two doors: the pass-through library (ordinals 44 to 48) and the
// auxiliary driver (QvDralik_*).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "platform/errors.h"
#include "vdrive/bytes.h"
#include "vdrive/open_drive.h"
#include "vdrive/store.h"

namespace qv::vdrive {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A drive's model, read through its store, when the drive is there and
// has not vanished.
bool PresentModel(const std::string& name, DriveModel* model) {
  auto store = DriveStore::Get(name);
  bool present = false;
  store->Transact([&](DriveRecord& record, DiscData&, Changes&) -> uint32_t {
    present = !record.state.vanished;
    *model = record.model;
    return 0;
  });
  return present;
}

std::string Utf16ToAscii(const char16_t* name, size_t max) {
  std::string s;
  for (size_t i = 0; i < max && name[i] != 0; ++i) s += name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
  return s;
}

}  // namespace

uint32_t OpenDriveByName(const std::string& given, bool exclusive, std::unique_ptr<OpenDrive>* out) {
  std::string name = given;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  if (name.empty()) return plat::kErrFileNotFound;
  for (const std::string& folder : DriveNames()) {
    DriveModel model;
    if (!PresentModel(folder, &model)) continue;
    if (!SameName(name, model.deviceName) && !SameName(name, folder)) continue;
    auto drive = std::make_unique<OpenDrive>();
    drive->store = DriveStore::Get(folder);
    uint32_t err = 0;
    drive->users = plat::File::Open(drive->store->File("users").string(), plat::FileMode::ReadWrite, &err);
    if (!drive->users.IsOpen()) return err;
    if (!drive->users.Lock(exclusive, false, &err))
      return err == plat::kErrSharingViolation ? plat::kErrAccessDenied : err;
    *out = std::move(drive);
    return 0;
  }
  return plat::kErrFileNotFound;
}

uint32_t SendRequest(OpenDrive& drive, QVDRIVE_REQUEST* r) {
  if (r == nullptr || (r->flags & ~QVDRIVE_FLAG_TIMING) != 0) return plat::kErrInvalidParameter;
  std::lock_guard<std::mutex> lock(drive.mutex);
  CommandIo io;
  io.cdb = r->cdb;
  io.cdbLength = r->cdbLength;
  io.direction = r->direction;
  io.buffer = static_cast<uint8_t*>(r->buffer);
  io.bufferSize = r->bufferSize;
  const CommandResult result = Execute(*drive.store, drive.initiator, io);
  r->transferred = result.transferred;
  r->scsiStatus = result.status;
  std::memset(r->sense, 0, sizeof r->sense);
  r->senseLength = 0;
  if (result.hasSense) {
    std::memcpy(r->sense, result.sense.bytes, Sense::kLength);
    r->senseLength = Sense::kLength;
  }
  r->timing1 = r->timing2 = 0;
  if (r->flags & QVDRIVE_FLAG_TIMING) {
    r->timing1 = result.startUs;
    r->timing2 = result.durationUs;
  }
  return result.doorError;
}

namespace {

// Live handles and blocks, so a stale or foreign pointer is refused, not used.
std::mutex g_doorMutex;
std::map<void*, std::shared_ptr<OpenDrive>> g_sptdHandles;
std::set<void*> g_lists;
std::map<uint32_t, std::shared_ptr<OpenDrive>> g_dralikHandles;
uint32_t g_nextDralikHandle = 0x1000;

struct DralikDriver {
  uint32_t magic = QVDRALIK_MAGIC;
};
std::set<DralikDriver*> g_drivers;

constexpr uint32_t kDralikVersion = 0x00010000;
constexpr uint32_t kExclusiveOpen = 0x10000000;

// Takes a handle's drive out of a table, under the door lock; a handle
// being closed stays alive until its last command returns.
template <class Table, class Key>
std::shared_ptr<OpenDrive> Lookup(Table& table, const Key& key, bool remove) {
  std::lock_guard<std::mutex> lock(g_doorMutex);
  auto it = table.find(key);
  if (it == table.end()) return nullptr;
  std::shared_ptr<OpenDrive> drive = it->second;
  if (remove) table.erase(it);
  return drive;
}

}  // namespace

}  // namespace qv::vdrive

using namespace qv::vdrive;
namespace plat = qv::plat;

extern "C" {

uint32_t QvSptd_Ordinal44(uint32_t /*kind*/, uint32_t /*reserved*/, uint32_t* count, void** list,
                          QVSPTD_PROGRESS progress) {
  if (count == nullptr || list == nullptr) return plat::kErrInvalidParameter;
  *count = 0;
  *list = nullptr;
  struct Entry {
    DriveModel model;
  };
  std::vector<Entry> entries;
  for (const std::string& folder : DriveNames()) {
    Entry e;
    if (PresentModel(folder, &e.model)) entries.push_back(e);
    if (progress != nullptr) progress();
  }
  if (entries.empty()) return 0;
  // Each entry: 68 fixed bytes, then its UTF-16 name, padded to 8 bytes.
  std::vector<size_t> sizes;
  size_t total = 0;
  for (const auto& e : entries) {
    const size_t size = (68 + 2 * (e.model.deviceName.size() + 1) + 7) / 8 * 8;
    sizes.push_back(size);
    total += size;
  }
  auto* block = static_cast<uint8_t*>(std::calloc(total, 1));
  if (block == nullptr) return plat::kErrNotEnoughMemory;
  size_t at = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const DriveModel& m = entries[i].model;
    uint8_t* e = block + at;
    PutLe32(e, i + 1 < entries.size() ? static_cast<uint32_t>(sizes[i]) : 0);
    std::memcpy(e + 4, m.address, 4);
    auto text = [](uint8_t* p, const std::string& s, size_t width) {
      for (size_t k = 0; k < width; ++k) p[k] = k < s.size() ? static_cast<uint8_t>(s[k]) : ' ';
    };
    text(e + 16, m.vendor, 8);
    text(e + 24, m.product, 16);
    text(e + 40, m.revision, 4);
    e[47] = m.address[3];
    PutLe32(e + 64, 68);
    for (size_t k = 0; k < m.deviceName.size(); ++k) {
      const char16_t c = static_cast<unsigned char>(m.deviceName[k]);
      std::memcpy(e + 68 + 2 * k, &c, 2);
    }
    at += sizes[i];
  }
  {
    std::lock_guard<std::mutex> lock(g_doorMutex);
    g_lists.insert(block);
  }
  *count = static_cast<uint32_t>(entries.size());
  *list = block;
  return 0;
}

uint32_t QvSptd_Ordinal45(const char16_t* name, uint32_t flags, void** handle) {
  if (name == nullptr || handle == nullptr || (flags & ~kExclusiveOpen) != 0) return plat::kErrInvalidParameter;
  *handle = nullptr;
  std::unique_ptr<OpenDrive> drive;
  if (uint32_t err = OpenDriveByName(Utf16ToAscii(name, 2048), (flags & kExclusiveOpen) != 0, &drive)) return err;
  std::shared_ptr<OpenDrive> shared(drive.release());
  std::lock_guard<std::mutex> lock(g_doorMutex);
  g_sptdHandles[shared.get()] = shared;
  *handle = shared.get();
  return 0;
}

uint32_t QvSptd_Ordinal46(void* handle) {
  return Lookup(g_sptdHandles, handle, true) ? 0 : plat::kErrInvalidHandle;
}

uint32_t QvSptd_Ordinal47(void* handle, QVDRIVE_REQUEST* request) {
  std::shared_ptr<OpenDrive> drive = Lookup(g_sptdHandles, handle, false);
  return drive ? SendRequest(*drive, request) : plat::kErrInvalidHandle;
}

uint32_t QvSptd_Ordinal48(void* list) {
  if (list == nullptr) return 0;
  {
    std::lock_guard<std::mutex> lock(g_doorMutex);
    if (g_lists.erase(list) == 0) return plat::kErrInvalidParameter;
  }
  std::free(list);
  return 0;
}

uint32_t QvDralik_Attach(void** driver) {
  if (driver == nullptr) return plat::kErrInvalidParameter;
  *driver = nullptr;
  if (DriveNames().empty()) return plat::kErrFileNotFound;
  auto* d = new DralikDriver;
  std::lock_guard<std::mutex> lock(g_doorMutex);
  g_drivers.insert(d);
  *driver = d;
  return 0;
}

uint32_t QvDralik_Detach(void* driver) {
  auto* d = static_cast<DralikDriver*>(driver);
  {
    std::lock_guard<std::mutex> lock(g_doorMutex);
    if (driver == nullptr || g_drivers.erase(d) == 0) return plat::kErrInvalidHandle;
  }
  delete d;
  return 0;
}

uint32_t QvDralik_Control(void* driver, uint32_t code, void* block, uint32_t blockSize) {
  {
    std::lock_guard<std::mutex> lock(g_doorMutex);
    if (driver == nullptr || g_drivers.count(static_cast<DralikDriver*>(driver)) == 0) return plat::kErrInvalidHandle;
  }
  if (block == nullptr) return plat::kErrInvalidParameter;
  switch (code) {
    case DRALIK_IOCTL_GET_VERSION: {
      if (blockSize < sizeof(DRALIK_VERSION_BLOCK)) return plat::kErrInsufficientBuffer;
      auto* v = static_cast<DRALIK_VERSION_BLOCK*>(block);
      if (v->magic != QVDRALIK_MAGIC) return plat::kErrInvalidParameter;
      v->version = kDralikVersion;
      return 0;
    }
    case DRALIK_IOCTL_OPEN: {
      if (blockSize < sizeof(DRALIK_OPEN_BLOCK)) return plat::kErrInsufficientBuffer;
      auto* o = static_cast<DRALIK_OPEN_BLOCK*>(block);
      if (o->magic != QVDRALIK_MAGIC || std::memchr(o->name, 0, sizeof o->name) == nullptr)
        return plat::kErrInvalidParameter;
      o->handle = 0;
      std::unique_ptr<OpenDrive> drive;
      if (uint32_t err = OpenDriveByName(o->name, false, &drive)) return err;
      std::lock_guard<std::mutex> lock(g_doorMutex);
      const uint32_t id = g_nextDralikHandle++;
      g_dralikHandles[id] = std::shared_ptr<OpenDrive>(drive.release());
      o->handle = id;
      return 0;
    }
    default: return plat::kErrInvalidFunction;
  }
}

uint32_t QvDralik_PassThrough(uint32_t deviceHandle, QVDRIVE_REQUEST* request) {
  std::shared_ptr<OpenDrive> drive = Lookup(g_dralikHandles, deviceHandle, false);
  return drive ? SendRequest(*drive, request) : plat::kErrInvalidHandle;
}

uint32_t QvDralik_CloseDevice(uint32_t deviceHandle) {
  return Lookup(g_dralikHandles, deviceHandle, true) ? 0 : plat::kErrInvalidHandle;
}

}  // extern "C"
