#include "control/win32/device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "control/handle_table.h"
#include "control/trace.h"
#include "control/win32/disc_info.h"
#include "control/win32/server.h"
#include "quorvane.h"

namespace qv::control {
namespace {

constexpr int kAddresses = 20;
constexpr ULONG kProbeCacheMB = 4;
constexpr uint64_t kCdQuickEraseBytes = 26214400;    // 25 MiB
constexpr uint64_t kDvdFullEraseBytes = 4812800ull * 1024;
constexpr uint64_t kDvdQuickEraseBytes = 157286400;  // 150 MiB

const char* YesNo(QV_BOOLEAN b) { return b == 1 ? "Yes" : "No"; }

}  // namespace

// ---- Devices ------------------------------------------------------------

HRESULT CDevices::FinalConstruct() {
  g_pDevices.store(static_cast<IDevices*>(this));
  QVX("CDevices::FinalConstruct(%p)\n", static_cast<void*>(this));
  for (int i = 0; i < kAddresses; ++i) {
    const std::string name = "CdRom" + std::to_string(i);
    QV_HANDLE probe = nullptr;
    EngineCall call;
    const uint32_t number = Quorvane_CdvdBurnerGrabber_CreateEx(&probe, call.message, sizeof call.message,
                                                                &call.systemStatus, &call.failure, nullptr, nullptr,
                                                                name.c_str(), kProbeCacheMB);
    if (number != EN_SUCCESS) continue;
    if (probe != nullptr) Quorvane_CdvdBurnerGrabber_Destroy(&probe);
    QVX("\nCDevices::FinalConstruct() :  device <%s>\n", name.c_str());
    const HRESULT hr = AddDevice(name.c_str());
    if (FAILED(hr)) {
      QVX("\nCDevices::FinalConstruct() :  AddDevice(<%s>) failed with error = %d\n", name.c_str(),
          static_cast<int>(hr));
      return hr;
    }
  }
  return S_OK;
}

HRESULT CDevices::AddDevice(const char* name) {
  IDevice* itf = nullptr;
  HRESULT hr = CDevice::Create(nullptr, IID_IDevice, reinterpret_cast<void**>(&itf));
  if (FAILED(hr)) {
    QVX("\nCDevices::AddDevice() : CoCreateInstance() failed with %d\n", static_cast<int>(hr));
    return hr;
  }
  // The count after the list's own reference (the creation's, here).
  QVX("\nCDevices::AddDevice() : After AddRef %d\n", static_cast<int>(static_cast<CDevice*>(itf)->References()));
  hr = static_cast<CDevice*>(itf)->InitDevice(name);
  if (FAILED(hr)) {
    QVX("\nCDevices::AddDevice() : InitDevice(<%s>) failed with %d\n", name, static_cast<int>(hr));
    itf->Release();
    return hr;
  }
  if (hr == S_FALSE) {  // no drive there after all: not listed
    itf->Release();
    return S_OK;
  }
  try {
    devices_.push_back(itf);
  } catch (const std::bad_alloc&) {
    QVX("\nCDevices::AddDevice() : m_vecDevices.push_back() failed\n");
    itf->Release();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CDevices::FinalRelease() {
  g_pDevices.store(nullptr);
  QVX("CDevices::FinalRelease(%p)\n", static_cast<void*>(this));
  for (IDevice* d : devices_) d->Release();
  devices_.clear();
}

HRESULT CDevices::GetDevice(long index, IDevice** device) {
  QVX("\nCDevices::GetDevice() : ENTERed for %d %p\n", static_cast<int>(index), static_cast<void*>(device));
  if (!CheckOutPointer("CDevices::GetDevice", device, sizeof *device)) return E_POINTER;
  *device = nullptr;
  if (index < 0 || static_cast<size_t>(index) >= devices_.size()) {
    QVX("\nCDevices::GetDevice() : Index is out of range.\n");
    return E_INVALIDARG;
  }
  *device = devices_[static_cast<size_t>(index)];
  (*device)->AddRef();
  QVX("\nCDevices::GetDevice() : %p\n", static_cast<void*>(*device));
  QVX("\nCDevices::GetDevice() : EXITing with success.\n");
  return S_OK;
}

HRESULT CDevices::get_Count(long* count) {
  if (!CheckOutPointer("CDevices::get_Count", count, sizeof *count)) return E_POINTER;
  *count = static_cast<long>(devices_.size());
  return S_OK;
}

// ---- Device: lifetime ---------------------------------------------------

HRESULT CDevice::InitDevice(const char* deviceName) {
  QVX("\nCDevice(%p)::InitDevice(): Probing SCSI address %s for CD/DVD device... ", static_cast<void*>(this),
      deviceName);
  EngineCall call;
  QV_HANDLE h = nullptr;
  uint32_t number = Quorvane_CdvdBurnerGrabber_CreateEx(&h, call.message, sizeof call.message, &call.systemStatus,
                                                        &call.failure, &CDevice::EngineCallback, this, deviceName,
                                                        kProbeCacheMB);
  if (number != EN_SUCCESS || h == nullptr) {
    QVX("\nCDevice::InitDevice(): Quorvane_CdvdBurnerGrabber_Create() failed, exception %ld, status %ld, text '%s'\n",
        static_cast<long>(number), static_cast<long>(call.systemStatus), call.message);
    return S_FALSE;
  }
  engine_.store(h);
  char vendor[kEngineMessageSize] = {}, product[kEngineMessageSize] = {}, revision[kEngineMessageSize] = {};
  ULONG buffer = 0;
  QV_ULONG bufferSize = 0;
  Quorvane_CdvdBurnerGrabber_GetDeviceInformation(h, call.message, sizeof call.message, &call.systemStatus,
                                                  &call.failure, vendor, product, revision, &bufferSize);
  buffer = bufferSize;
  QVX("\nCDevice(%p)::InitDevice(): Found CD/DVD device '%s' '%s' '%s'\n", static_cast<void*>(this), vendor,
      product, revision);
  QVX("CDevice::InitDevice(): With %ld UCHAR(s) of cache\n", static_cast<long>(buffer));
  QV_BOOLEAN f[kFlagCount] = {};
  Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats(h, call.message, sizeof call.message, &call.systemStatus,
                                                      &call.failure, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5],
                                                      &f[6], &f[7], &f[8], &f[9]);
  Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsEx(h, call.message, sizeof call.message, &call.systemStatus,
                                                        &call.failure, &f[10], &f[11], &f[12], &f[13]);
  QVX("CDevice::InitDevice(): Reads: CD-R: %s, CD-RW: %s, DVD-ROM: %s, DVD-R: %s, DVD-RAM: %s\n", YesNo(f[0]),
      YesNo(f[1]), YesNo(f[2]), YesNo(f[3]), YesNo(f[4]));
  QVX("CDevice::InitDevice(): Writes: Test mode: %s, CD-R: %s, CD-RW: %s, DVD-R: %s, DVD-RAM: %s\n", YesNo(f[5]),
      YesNo(f[6]), YesNo(f[7]), YesNo(f[8]), YesNo(f[9]));
  QVX("CDevice::InitDevice(): Reads: DVD+RW: %s, DVD+R: %s, Writes: DVD+RW: %s, DVD+R: %s\n", YesNo(f[10]),
      YesNo(f[11]), YesNo(f[12]), YesNo(f[13]));
  for (int i = 0; i < kFlagCount; ++i) flags_[i] = f[i] != 0;
  try {
    revision_ = revision;
    vendor_ = vendor;
    product_ = product;
    name_ = deviceName;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  cacheBytes_ = buffer;
  FreeDeviceCache();
  return S_OK;
}

void CDevice::FinalRelease() {
  DestroyEngine();
  QVX("\nCDevice::FinalRelease() : %s %s \n", product_.c_str(), vendor_.c_str());
}

void CDevice::InitCdvdGrabberBurner() {
  QVX("\nCDevice(%p)::InitCdvdGrabberBurner(): Probing SCSI address %s for CD/DVD device... ",
      static_cast<void*>(this), name_.c_str());
  if (engine_.load() != nullptr) return;
  QVX("\nCDevice(%p)::InitCdvdGrabberBurner(): Creating new device... ", static_cast<void*>(this));
  createCall_ = EngineCall{};
  QV_HANDLE h = nullptr;
  createNumber_ = Quorvane_CdvdBurnerGrabber_CreateEx(&h, createCall_.message, sizeof createCall_.message,
                                                      &createCall_.systemStatus, &createCall_.failure,
                                                      &CDevice::EngineCallback, this, name_.c_str(), cacheMegabytes_);
  if (createNumber_ == EN_SUCCESS && h != nullptr) {
    engine_.store(h);
    QVX("\nCDevice(%p)::InitCdvdGrabberBurner(): device at address %s created successfully",
        static_cast<void*>(this), name_.c_str());
  } else {
    if (createNumber_ == EN_SUCCESS) createNumber_ = EN_GENERIC_ERROR;
    QVX("\nCDevice::InitCdvdGrabberBurner(): Quorvane_CdvdBurnerGrabber_CreateEx() failed, exception %ld, status "
        "%ld, text '%s'\n",
        static_cast<long>(createNumber_), static_cast<long>(createCall_.systemStatus), createCall_.message);
  }
}

void CDevice::DestroyEngine() {
  QV_HANDLE h = engine_.exchange(nullptr);
  if (h != nullptr) Quorvane_CdvdBurnerGrabber_Destroy(&h);
}

HRESULT CDevice::Failure(const char* method, const char* entryPoint, uint32_t number, const EngineCall& call) {
  return EngineCallFailure(method, this, entryPoint, number, call, CLSID_CDevice, error_, &senseKey_);
}

template <class Entry>
HRESULT CDevice::Standard(const char* method, const char* entryPoint, Entry&& entry) {
  try {
    error_.clear();
  } catch (...) {
  }
  InitCdvdGrabberBurner();
  QV_HANDLE h = engine_.load();
  if (h == nullptr) return Failure(method, "Quorvane_CdvdBurnerGrabber_CreateEx", createNumber_, createCall_);
  EngineCall call;
  const uint32_t number = entry(h, call);
  return number == EN_SUCCESS ? S_OK : Failure(method, entryPoint, number, call);
}

#define QV_CALL(entry, ...) \
  [&](QV_HANDLE h_, EngineCall& call_) { \
    return entry(h_, call_.message, sizeof call_.message, &call_.systemStatus, &call_.failure __VA_OPT__(, ) __VA_ARGS__); \
  }

void QUORVANE_CALL CDevice::EngineCallback(QV_ULONG reason, void* context, void* p1, void* p2) {
  if (context != nullptr) static_cast<CDevice*>(context)->OnEngineEvent(reason, p1, p2);
}

void CDevice::OnEngineEvent(QV_ULONG reason, void* p1, void* p2) {
  // A grab reports its blocks as a burn does; it has no time estimate.
  if (reason == CN_CDVD_WRITE_PROGRESS || reason == CN_GRAB_PROGRESS) {
    QVX("\nCDevice::Callback() : CN_CDVD_WRITE_PROGRESS (%p)\n", static_cast<void*>(this));
    if (progress_.Empty()) return;
    // The engine passes the block counts in the parameters themselves.
    const auto total = static_cast<int64_t>(reinterpret_cast<uintptr_t>(p1));
    const auto written = static_cast<int64_t>(reinterpret_cast<uintptr_t>(p2));
    if (total <= 0) return;
    const long percent = static_cast<long>(written * 100 / total);
    const uint32_t speed = reason == CN_GRAB_PROGRESS ? 0 : writeSpeed_.load();
    const long remaining = speed == 0 ? 0 : static_cast<long>((total - written) * 2048 / (int64_t{speed} * 1024));
    progress_.Progress(percent, remaining);
    QVX("\nCDevice::Callback() : CN_CDVD_WRITE_PROGRESS = %d\n", static_cast<int>(percent));
  } else if (reason == CN_DVD_TEST_WRITE_DISABLED) {
    QVX("\nCDevice::Callback() : CN_DVD_TEST_WRITE_DISABLED (%p)\n", static_cast<void*>(this));
    notify_.Notify();
  }
}

HRESULT CDevice::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) {
  IUnknown* sink = nullptr;
  if ((id == 32 || id == 48) && ScriptObjectArgument(flags, params, &sink)) {
    (id == 32 ? progress_ : notify_).Set(sink);
    return S_OK;
  }
  return DualInterface<IDevice>::Invoke(id, riid, lcid, flags, params, result, exception, argError);
}

// ---- Device: stored properties ------------------------------------------

HRESULT CDevice::Flag(VARIANT_BOOL* v, FlagIndex i) {
  if (!CheckOutPointer("CDevice::get_Support", v, sizeof *v)) return E_POINTER;
  *v = flags_[i] ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT CDevice::get_ProductID(BSTR* v) { return StringResult("CDevice::get_ProductID", product_, v); }
HRESULT CDevice::get_VendorID(BSTR* v) { return StringResult("CDevice::get_VendorID", vendor_, v); }
HRESULT CDevice::get_DeviceName(BSTR* v) { return StringResult("CDevice::get_DeviceName", name_, v); }
HRESULT CDevice::get_Revision(BSTR* v) { return StringResult("CDevice::get_Revision", revision_, v); }
HRESULT CDevice::get_ErrorMessage(BSTR* v) {
  QVX("\nCDevice::get_ErrorMessage() : <%s> = <%s> \n", name_.c_str(), error_.c_str());
  return StringResult("CDevice::get_ErrorMessage", error_, v);
}
HRESULT CDevice::get_CacheSizeInBytes(ULONG* v) {
  if (!CheckOutPointer("CDevice::get_CacheSizeInBytes", v, sizeof *v)) return E_POINTER;
  *v = cacheBytes_;
  return S_OK;
}
HRESULT CDevice::get_LastSenseKey(unsigned char* v) {
  if (!CheckOutPointer("CDevice::get_LastSenseKey", v, sizeof *v)) return E_POINTER;
  *v = senseKey_;
  return S_OK;
}
HRESULT CDevice::get_Padding(VARIANT_BOOL* v) {
  if (!CheckOutPointer("CDevice::get_Padding", v, sizeof *v)) return E_POINTER;
  *v = padding_;
  return S_OK;
}
HRESULT CDevice::put_Padding(VARIANT_BOOL v) {
  padding_ = v;
  return S_OK;
}
HRESULT CDevice::get_Callback(IQuorvaneCallBack** v) {
  if (!CheckOutPointer("CDevice::get_Callback", v, sizeof *v)) return E_POINTER;
  return progress_.Get(IID_IQuorvaneCallBack, reinterpret_cast<void**>(v));
}
HRESULT CDevice::put_Callback(IQuorvaneCallBack* v) {
  progress_.Set(v);
  return S_OK;
}
HRESULT CDevice::get_NotifyCallbackTestWriteDisabled(IQuorvaneNotificationCallBack** v) {
  if (!CheckOutPointer("CDevice::get_NotifyCallbackTestWriteDisabled", v, sizeof *v)) return E_POINTER;
  return notify_.Get(IID_IQuorvaneNotificationCallBack, reinterpret_cast<void**>(v));
}
HRESULT CDevice::put_NotifyCallbackTestWriteDisabled(IQuorvaneNotificationCallBack* v) {
  notify_.Set(v);
  return S_OK;
}

// ---- Device: drive operations -------------------------------------------

HRESULT CDevice::Load() {
  return Standard("CDevice::Load", "Quorvane_CdvdBurnerGrabber_Load", QV_CALL(Quorvane_CdvdBurnerGrabber_Load));
}
HRESULT CDevice::Eject() {
  return Standard("CDevice::Eject", "Quorvane_CdvdBurnerGrabber_Eject", QV_CALL(Quorvane_CdvdBurnerGrabber_Eject));
}
HRESULT CDevice::TestUnitReady() {
  return Standard("CDevice::TestUnitReady", "Quorvane_CdvdBurnerGrabber_TestUnitReady",
                  QV_CALL(Quorvane_CdvdBurnerGrabber_TestUnitReady));
}
HRESULT CDevice::LockDevice() {
  return Standard("CDevice::LockDevice", "Quorvane_CdvdBurnerGrabber_Lock", QV_CALL(Quorvane_CdvdBurnerGrabber_Lock));
}
HRESULT CDevice::ReleaseDevice() {
  return Standard("CDevice::ReleaseDevice", "Quorvane_CdvdBurnerGrabber_Release",
                  QV_CALL(Quorvane_CdvdBurnerGrabber_Release));
}
HRESULT CDevice::CloseSession() {
  return Standard("CDevice::CloseSession", "Quorvane_CdvdBurnerGrabber_CloseSession",
                  QV_CALL(Quorvane_CdvdBurnerGrabber_CloseSession));
}
HRESULT CDevice::SetSpeeds(ULONG readSpeed, ULONG writeSpeed) {
  return Standard("CDevice::SetSpeeds", "Quorvane_CdvdBurnerGrabber_SetSpeeds",
                  QV_CALL(Quorvane_CdvdBurnerGrabber_SetSpeeds, readSpeed, writeSpeed));
}
HRESULT CDevice::GetSpeeds(ULONG* curRead, ULONG* maxRead, ULONG* curWrite, ULONG* maxWrite) {
  for (ULONG* p : {curRead, maxRead, curWrite, maxWrite})
    if (!CheckOutPointer("CDevice::GetSpeeds", p, sizeof *p)) return E_POINTER;
  QV_ULONG a = 0, b = 0, c = 0, d = 0;
  const HRESULT hr = Standard("CDevice::GetSpeeds", "Quorvane_CdvdBurnerGrabber_GetSpeeds",
                              QV_CALL(Quorvane_CdvdBurnerGrabber_GetSpeeds, &a, &b, &c, &d));
  *curRead = a, *maxRead = b, *curWrite = c, *maxWrite = d;
  return hr;
}
void CDevice::RefreshWriteSpeed() {
  ULONG a = 0, b = 0, c = 0, d = 0;
  if (SUCCEEDED(GetSpeeds(&a, &b, &c, &d))) writeSpeed_.store(c);
}
HRESULT CDevice::GetBUP(VARIANT_BOOL* enabled, VARIANT_BOOL* supported) {
  if (!CheckOutPointer("CDevice::GetBUP", enabled, sizeof *enabled) ||
      !CheckOutPointer("CDevice::GetBUP", supported, sizeof *supported))
    return E_POINTER;
  QV_BOOLEAN e = 0, s = 0;
  const HRESULT hr = Standard("CDevice::GetBUP", "Quorvane_CdvdBurnerGrabber_GetBUP",
                              QV_CALL(Quorvane_CdvdBurnerGrabber_GetBUP, &e, &s));
  *enabled = e ? VARIANT_TRUE : VARIANT_FALSE;
  *supported = s ? VARIANT_TRUE : VARIANT_FALSE;
  return hr;
}
HRESULT CDevice::SetBUP(VARIANT_BOOL enable) {
  return Standard("CDevice::SetBUP", "Quorvane_CdvdBurnerGrabber_SetBUP",
                  QV_CALL(Quorvane_CdvdBurnerGrabber_SetBUP, static_cast<QV_BOOLEAN>(enable != 0)));
}
HRESULT CDevice::SendOPC() {
  InitCdvdGrabberBurner();
  QV_HANDLE h = engine_.load();
  EngineCall c;
  const uint32_t number = h == nullptr ? createNumber_
                                       : Quorvane_CdvdBurnerGrabber_SendOPC(h, c.message, sizeof c.message,
                                                                            &c.systemStatus, &c.failure);
  if (number != EN_SUCCESS)  // calibration is advice: a drive without it still records
    QVX("\n%s(%p): Quorvane_CdvdBurnerGrabber_SendOPC failed, exception %ld, status %ld, text '%s'\n",
        "CDevice::SendOPC", static_cast<void*>(this), static_cast<long>(number), static_cast<long>(c.systemStatus),
        c.message);
  return S_OK;
}
HRESULT CDevice::ReadATIP(unsigned char atip[256], ULONG size) {
  if (atip == nullptr) return E_POINTER;
  return Standard("CDevice::ReadATIP", "Quorvane_CdvdBurnerGrabber_ReadATIP",
                  QV_CALL(Quorvane_CdvdBurnerGrabber_ReadATIP, atip, size));
}
HRESULT CDevice::GetInsertedDiscType(QVX_DISC_TYPE* v) {
  if (!CheckOutPointer("CDevice::GetInsertedDiscType", v, sizeof *v)) return E_POINTER;
  InitCdvdGrabberBurner();
  QV_HANDLE h = engine_.load();
  *v = static_cast<QVX_DISC_TYPE>(h == nullptr ? 0 : Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(h));
  return S_OK;
}
HRESULT CDevice::Cancel() {
  QVX("\nCDevice::Cancel(%p) : Canceling\n", static_cast<void*>(this));
  // The engine object of the running operation; never a new one, which
  // would open the drive under the operation's feet.
  QV_HANDLE h = engine_.load();
  if (h != nullptr) Quorvane_CdvdBurnerGrabber_Cancel(h);
  return S_OK;
}
HRESULT CDevice::FreeDeviceCache() {
  QVX("\nCDevice::FreeDeviceCache() : %s %s\n", product_.c_str(), vendor_.c_str());
  DestroyEngine();
  return S_OK;
}
HRESULT CDevice::SetCacheBufferSizeInMBs(ULONG megabytes) {
  DestroyEngine();
  cacheMegabytes_ = megabytes;
  QVX("\nCDevice::SetCacheBufferSizeInMBs() : New cache size set: %d MB\n", static_cast<int>(megabytes));
  return S_OK;
}

HRESULT CDevice::Erase(VARIANT_BOOL vbFullErase) {
  error_.clear();
  InitCdvdGrabberBurner();
  const bool full = vbFullErase != 0;
  QVX_DISC_TYPE type = QVX_DISC_TYPE_UNKNOWN;
  GetInsertedDiscType(&type);
  uint64_t bytes = 0;
  if (type == QVX_DISC_TYPE_CDRW) {
    if (full) {
      unsigned char atip[256] = {};
      // Lead-out start minutes and seconds, at 176 KiB per second.
      if (SUCCEEDED(ReadATIP(atip, sizeof atip))) bytes = (uint64_t{atip[12]} * 60 + atip[13]) * 180224;
    } else {
      bytes = kCdQuickEraseBytes;
    }
  } else if (type >= QVX_DISC_TYPE_DVDRAM && type <= QVX_DISC_TYPE_DVDPLUSRW) {
    bytes = full ? kDvdFullEraseBytes : kDvdQuickEraseBytes;
  } else {
    return S_FALSE;  // nothing erasable in the drive
  }
  RefreshWriteSpeed();
  const uint32_t speed = writeSpeed_.load();
  eraseSeconds_ = speed == 0 ? 0 : static_cast<uint32_t>(bytes / (uint64_t{speed} * 1024));

  // Blanking reports no progress: a thread estimates it once a second.
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread progress([&] {
    uint32_t elapsed = 0;
    std::unique_lock<std::mutex> lock(m);
    while (!cv.wait_for(lock, std::chrono::seconds(1), [&] { return done; })) {
      ++elapsed;
      const long percent = eraseSeconds_ == 0 ? 0 : static_cast<long>(std::min<uint64_t>(elapsed * 100ull / eraseSeconds_, 100));
      const long remaining = eraseSeconds_ == 0 ? 0 : static_cast<long>(eraseSeconds_ > elapsed ? eraseSeconds_ - elapsed : 0);
      lock.unlock();
      progress_.Progress(percent, remaining);
      lock.lock();
    }
  });
  const HRESULT hr = Standard("CDevice::Erase", "Quorvane_CdvdBurnerGrabber_Blank",
                              QV_CALL(Quorvane_CdvdBurnerGrabber_Blank, full ? 0 : 1));
  {
    std::lock_guard<std::mutex> lock(m);
    done = true;
  }
  cv.notify_all();
  progress.join();
  progress_.Progress(100, 0);
  if (SUCCEEDED(hr)) DestroyEngine();
  return hr;
}

HRESULT CDevice::TrackAtOnceFromFileSystemHandle(long fileSystemHandle, VARIANT_BOOL testWrite,
                                                 VARIANT_BOOL nextSessionAllowed) {
  static constexpr const char* kMethod = "CDevice::TrackAtOnceFromFileSystemHandle";
  QVX("\nCDevice(%p)::TrackAtOnceFromFileSystemHandle(): ENTERed for %p, TestWrite = %d, NextSessionAllowed = %d\n",
      static_cast<void*>(this), reinterpret_cast<void*>(static_cast<intptr_t>(fileSystemHandle)), testWrite,
      nextSessionAllowed);
  error_.clear();
  InitCdvdGrabberBurner();
  QV_HANDLE tree = Handles().Find(static_cast<int32_t>(fileSystemHandle));
  if (tree == nullptr) {
    EngineCall c;
    std::snprintf(c.message, sizeof c.message, "%s", "No file system has this handle.");
    return EngineCallFailure(kMethod, this, "Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs", EN_INVALID_PARAMETER,
                             c, CLSID_CDevice, error_);
  }
  QV_ULONG high = 0;
  const uint64_t size = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree, &high) | (uint64_t{high} << 32);
  QUORVANE_TRACK_INFORMATION track{};
  HRESULT hr = Standard(kMethod, "Quorvane_CdvdBurnerGrabber_GetTrackInformation",
                        QV_CALL(Quorvane_CdvdBurnerGrabber_GetTrackInformation, 255, &track));
  if (FAILED(hr)) return hr;
  const auto imageBlocks = static_cast<int32_t>(size / 2048);
  const auto freeBlocks = static_cast<int32_t>(track.m__ULONG__FreeBlocks);
  QVX("\nCDevice::TrackAtOnceFromFileSystemHandle() : Disc Free Size = %d LBs, FileSystem Size = %d LBs\n",
      freeBlocks, imageBlocks);
  if (imageBlocks >= freeBlocks) {
    error_ = "Disc does not have enough space!";
    return FixedError(static_cast<HRESULT>(0x800A0101u), CLSID_CDevice, "There is no enough space");
  }
  const QV_BOOLEAN padding = Quorvane_GetPadding();
  QVX("\nCDevice(%p)::TrackAtOnceFromFileSystemHandle(): DVD Padding %s ", static_cast<void*>(this),
      padding ? "enabled" : "disabled");
  Quorvane_SetPadding(padding_ != VARIANT_FALSE ? 1 : 0);
  RefreshWriteSpeed();
  hr = Standard(kMethod, "Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree",
                QV_CALL(Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree, tree, 1, testWrite != 0,
                        nextSessionAllowed != 0, 1, 5));
  if (FAILED(hr)) return hr;
  Quorvane_SetPadding(padding);
  if (testWrite == VARIANT_FALSE) {
    hr = Standard(kMethod, "Quorvane_CdvdBurnerGrabber_CloseSession", QV_CALL(Quorvane_CdvdBurnerGrabber_CloseSession));
    if (FAILED(hr)) return hr;
  }
  DestroyEngine();
  QVX("\nCDevice(%p)::TrackAtOnceFromFileSystemHandle(): EXITing with success\n", static_cast<void*>(this));
  return S_OK;
}

HRESULT CDevice::TrackAtOnceFromFile(BSTR trackFileName, VARIANT_BOOL testWrite, VARIANT_BOOL nextSessionAllowed) {
  std::string file;
  try {
    error_.clear();
    file = NarrowFromBstr(trackFileName);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  InitCdvdGrabberBurner();
  RefreshWriteSpeed();
  const HRESULT hr = Standard("CDevice::TrackAtOnceFromFile", "Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile",
                              QV_CALL(Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile, file.c_str(), 1,
                                      testWrite != 0, nextSessionAllowed != 0, 1, 5));
  DestroyEngine();
  return hr;
}

template <class Entry>
HRESULT CDevice::BurnVideoCd(const char* method, const char* entryPoint, Entry entry, const char* album, BSTR file,
                             VARIANT_BOOL testWrite) {
  std::string name;
  try {
    error_.clear();
    name = NarrowFromBstr(file);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  InitCdvdGrabberBurner();
  RefreshWriteSpeed();
  // One volume of a one-volume album.
  const HRESULT hr = Standard(method, entryPoint,
                              QV_CALL(entry, name.c_str(), album, 1, 1, static_cast<QV_BOOLEAN>(testWrite != 0), 1, 5));
  DestroyEngine();
  return hr;
}

HRESULT CDevice::VideoCD(BSTR imageFileName, VARIANT_BOOL testWrite) {
  return BurnVideoCd("CDevice::VideoCD", "Quorvane_CdvdBurnerGrabber_VideoCD", &Quorvane_CdvdBurnerGrabber_VideoCD,
                     "Album VideoCD", imageFileName, testWrite);
}

HRESULT CDevice::SuperVideoCD(BSTR imageFileName, VARIANT_BOOL testWrite) {
  return BurnVideoCd("CDevice::SuperVideoCD", "Quorvane_CdvdBurnerGrabber_SuperVideoCD",
                     &Quorvane_CdvdBurnerGrabber_SuperVideoCD, "Album SuperVideoCD", imageFileName, testWrite);
}

HRESULT CDevice::GrabTrack(USHORT trackNumber, BSTR fileName, VARIANT_BOOL ignoreBadBlocks) {
  // The low byte of each unit, at most 258 of them.
  char name[260] = {};
  for (UINT i = 0; fileName != nullptr && i < SysStringLen(fileName) && i < 258; ++i)
    name[i] = static_cast<char>(fileName[i] & 0xFF);
  InitCdvdGrabberBurner();
  const HRESULT hr = Standard("CDevice::GrabTrack", "Quorvane_CdvdBurnerGrabber_GrabTrack",
                              QV_CALL(Quorvane_CdvdBurnerGrabber_GrabTrack, static_cast<QV_UCHAR>(trackNumber & 0xFF),
                                      name, 1, static_cast<QV_BOOLEAN>(ignoreBadBlocks != 0), 0, 1));
  if (SUCCEEDED(hr)) DestroyEngine();
  return hr;
}

HRESULT CDevice::ImportTrack(IDispatch* jolietImage, VARIANT_BOOL importJoliet, USHORT trackNumber) {
  static constexpr const char* kMethod = "CDevice::ImportTrack";
  static constexpr const char* kEntry = "Quorvane_ISO9660JolietFileTree_ImportTrack";
  QVX("\nCDevice(%p)::ImportTrack(): ENTERed for %p, ImportJolietFS = %d, TrackNumber = %d\n",
      static_cast<void*>(this), static_cast<void*>(jolietImage), importJoliet, trackNumber);
  InitCdvdGrabberBurner();
  IJolietImage* image = nullptr;
  if (jolietImage == nullptr ||
      FAILED(jolietImage->QueryInterface(IID_IJolietImage, reinterpret_cast<void**>(&image)))) {
    QVX("CDevice::ImportTrack(): QueryInterface failed!\n");
    return E_NOINTERFACE;
  }
  UINT64 handle = 0;
  HRESULT hr = image->get_FileSystemHandle(&handle);
  image->Release();
  if (FAILED(hr)) {
    QVX("CDevice::ImportTrack(): get_FileSystemHandle failed with %x\n", static_cast<unsigned>(hr));
    return hr;
  }
  try {
    error_.clear();
  } catch (...) {
  }
  QV_HANDLE h = engine_.load();
  if (h == nullptr) return Failure(kMethod, "Quorvane_CdvdBurnerGrabber_CreateEx", createNumber_, createCall_);
  // A handle is a table number standing for the image's tree.
  QV_HANDLE tree = Handles().Find(static_cast<int32_t>(handle & 0xFFFFFFFFu));
  EngineCall c;
  const uint32_t n = Quorvane_ISO9660JolietFileTree_ImportTrack(h, tree, static_cast<QV_UCHAR>(trackNumber & 0xFF),
                                                                importJoliet != 0, c.message, sizeof c.message,
                                                                &c.systemStatus);
  if (n != EN_SUCCESS) {
    // No failure record comes back from this entry point.
    senseKey_ = 0;
    return EngineCallFailure(kMethod, this, kEntry, n, c, CLSID_CDevice, error_);
  }
  QVX("CDevice::ImportTrack(): EXITing S_OK!\n");
  return S_OK;
}

HRESULT CDevice::GetDiscInfo(IDiscInfo** out) {
  static constexpr const char* kMethod = "CDevice::GetDiscInfo";
  if (!CheckOutPointer(kMethod, out, sizeof *out)) return E_POINTER;
  *out = nullptr;
  error_.clear();
  InitCdvdGrabberBurner();
  QV_HANDLE h = engine_.load();
  if (h == nullptr) return Failure(kMethod, "Quorvane_CdvdBurnerGrabber_CreateEx", createNumber_, createCall_);
  QUORVANE_TRACK_INFORMATION track{};
  QUORVANE_TOC_INFORMATION toc{};
  QUORVANE_DISC_INFORMATION disc{};
  EngineCall c;
  long trackValid = 1, tocValid = 1;
  uint32_t n = Quorvane_CdvdBurnerGrabber_GetTrackInformation(h, c.message, sizeof c.message, &c.systemStatus,
                                                              &c.failure, 255, &track);
  if (n != EN_SUCCESS) {
    QVX("\n%s(%p): Quorvane_CdvdBurnerGrabber_GetTrackInformation() failed, exception %ld\n", kMethod,
        static_cast<void*>(this), static_cast<long>(n));
    trackValid = 0;
    c = EngineCall{};
  }
  n = Quorvane_CdvdBurnerGrabber_GetTOCInformation(h, c.message, sizeof c.message, &c.systemStatus, &c.failure, &toc);
  if (n != EN_SUCCESS) {
    QVX("\n%s(%p): Quorvane_CdvdBurnerGrabber_GetTOCInformation() failed, exception %ld\n", kMethod,
        static_cast<void*>(this), static_cast<long>(n));
    tocValid = 0;
    c = EngineCall{};
  }
  n = Quorvane_CdvdBurnerGrabber_GetDiscInformation(h, c.message, sizeof c.message, &c.systemStatus, &c.failure,
                                                    &disc);
  if (n != EN_SUCCESS) return Failure(kMethod, "Quorvane_CdvdBurnerGrabber_GetDiscInformation", n, c);
  IDiscInfo* info = nullptr;
  HRESULT hr = CDiscInfo::Create(nullptr, IID_IDiscInfo, reinterpret_cast<void**>(&info));
  if (FAILED(hr)) {
    error_ = "Can't create disc information object.";
    return hr;
  }
  QVX_DISC_TYPE type = QVX_DISC_TYPE_UNKNOWN;
  GetInsertedDiscType(&type);
  static_cast<CDiscInfo*>(info)->Initialize(reinterpret_cast<const unsigned char*>(&disc),
                                            reinterpret_cast<const unsigned char*>(&track),
                                            reinterpret_cast<const unsigned char*>(&toc), type, trackValid, tocValid);
  *out = info;
  return S_OK;
}

}  // namespace qv::control
