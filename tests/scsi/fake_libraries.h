// Stand-ins for the run-time pass-through library and the auxiliary
// driver, each registered under its module name by the tests that use it.
#pragma once
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "vdrive/qvdrive.h"

namespace scsitest {

struct FakeDevice {
  std::u16string name;
  uint8_t lun;
};

struct FakeSptd {
  std::vector<FakeDevice> devices;
  uint32_t enumerateResult = 0;
  uint32_t openResult = 0;
  uint32_t lastOpenFlags = 0;
  int frees = 0, closes = 0;
  std::function<uint32_t(QVDRIVE_REQUEST&)> send;
};
inline FakeSptd g_sptd;

inline int g_handle;  // its address is the device handle

// Builds the list as the library lays it out: fixed 96-byte entries (the
// identity at 16 to 43 is only logged, and left empty), the names after
// all entries.
inline uint32_t SptdEnumerate(uint32_t kind, uint32_t, uint32_t* count, void** list, QVSPTD_PROGRESS progress) {
  if (kind != 2 || progress == nullptr) return 87;
  if (g_sptd.enumerateResult != 0) return g_sptd.enumerateResult;
  progress();
  const size_t entrySize = 96, n = g_sptd.devices.size();
  size_t total = entrySize * n;
  for (const auto& d : g_sptd.devices) total += (d.name.size() + 1) * 2;
  auto* block = new uint8_t[total + 1]();
  size_t nameAt = entrySize * n;
  for (size_t i = 0; i < n; ++i) {
    uint8_t* e = block + i * entrySize;
    const uint32_t next = i + 1 < n ? entrySize : 0;
    std::memcpy(e, &next, 4);
    e[47] = g_sptd.devices[i].lun;
    const uint32_t nameOffset = static_cast<uint32_t>(nameAt - i * entrySize);
    std::memcpy(e + 64, &nameOffset, 4);
    std::memcpy(block + nameAt, g_sptd.devices[i].name.c_str(), (g_sptd.devices[i].name.size() + 1) * 2);
    nameAt += (g_sptd.devices[i].name.size() + 1) * 2;
  }
  *count = static_cast<uint32_t>(n);
  *list = block;
  return 0;
}
inline uint32_t SptdOpen(const char16_t*, uint32_t flags, void** handle) {
  g_sptd.lastOpenFlags = flags;
  if (g_sptd.openResult != 0) return g_sptd.openResult;
  *handle = &g_handle;
  return 0;
}
inline uint32_t SptdClose(void* handle) {
  if (handle == &g_handle) ++g_sptd.closes;
  return 0;
}
inline uint32_t SptdSend(void* handle, QVDRIVE_REQUEST* r) {
  if (handle != &g_handle) return 6;
  return g_sptd.send ? g_sptd.send(*r) : 0;
}
inline uint32_t SptdFreeList(void* list) {
  delete[] static_cast<uint8_t*>(list);
  ++g_sptd.frees;
  return 0;
}

inline bool g_without47 = false;
inline void* ResolveSptd(const char* symbol) {
  if (std::strcmp(symbol, "QvSptd_Ordinal44") == 0) return reinterpret_cast<void*>(&SptdEnumerate);
  if (std::strcmp(symbol, "QvSptd_Ordinal45") == 0) return reinterpret_cast<void*>(&SptdOpen);
  if (std::strcmp(symbol, "QvSptd_Ordinal46") == 0) return reinterpret_cast<void*>(&SptdClose);
  if (std::strcmp(symbol, "QvSptd_Ordinal47") == 0 && !g_without47) return reinterpret_cast<void*>(&SptdSend);
  if (std::strcmp(symbol, "QvSptd_Ordinal48") == 0) return reinterpret_cast<void*>(&SptdFreeList);
  return nullptr;
}
inline const qv::plat::BuiltinLibrary kFakeSptd{"dtpro.dll", &ResolveSptd};

struct FakeDralik {
  uint32_t attachResult = 0;
  uint32_t versionResult = 0;
  uint32_t openResult = 0;
  int attached = 0, detached = 0;
  std::function<uint32_t(QVDRIVE_REQUEST&)> drive;
};
inline FakeDralik g_dralik;

inline int g_driver;
constexpr uint32_t kDeviceHandle = 0x51;

inline uint32_t Attach(void** driver) {
  if (g_dralik.attachResult) return g_dralik.attachResult;
  ++g_dralik.attached;
  *driver = &g_driver;
  return 0;
}
inline uint32_t Detach(void* driver) {
  if (driver == &g_driver) ++g_dralik.detached;
  return 0;
}
inline uint32_t Control(void* driver, uint32_t code, void* block, uint32_t) {
  if (driver != &g_driver) return 6;
  if (code == DRALIK_IOCTL_GET_VERSION) {
    static_cast<DRALIK_VERSION_BLOCK*>(block)->version = 0x00010002;
    return g_dralik.versionResult;
  }
  if (code == DRALIK_IOCTL_OPEN) {
    auto* o = static_cast<DRALIK_OPEN_BLOCK*>(block);
    if (g_dralik.openResult) return g_dralik.openResult;
    // It serves CdRom3 only.
    const std::string name = o->name, served = "cdrom3";
    const auto same = [](char a, char b) { return std::tolower(uint8_t(a)) == b; };
    if (!std::equal(name.begin(), name.end(), served.begin(), served.end(), same)) return 2;
    o->handle = kDeviceHandle;
    return 0;
  }
  return 1;
}
inline uint32_t PassThrough(uint32_t handle, QVDRIVE_REQUEST* r) {
  if (handle != kDeviceHandle) return 6;
  if (r->cdb[0] == 0x12 && r->buffer) {
    static_cast<uint8_t*>(r->buffer)[0] = 0x05;
    return 0;
  }
  return g_dralik.drive ? g_dralik.drive(*r) : 0;
}
inline uint32_t CloseDevice(uint32_t) { return 0; }

inline void* ResolveDralik(const char* symbol) {
  if (std::strcmp(symbol, "QvDralik_Attach") == 0) return reinterpret_cast<void*>(&Attach);
  if (std::strcmp(symbol, "QvDralik_Detach") == 0) return reinterpret_cast<void*>(&Detach);
  if (std::strcmp(symbol, "QvDralik_Control") == 0) return reinterpret_cast<void*>(&Control);
  if (std::strcmp(symbol, "QvDralik_PassThrough") == 0) return reinterpret_cast<void*>(&PassThrough);
  if (std::strcmp(symbol, "QvDralik_CloseDevice") == 0) return reinterpret_cast<void*>(&CloseDevice);
  return nullptr;
}
inline const qv::plat::BuiltinLibrary kFakeDralik{"Dralik", &ResolveDralik};

}  // namespace scsitest
