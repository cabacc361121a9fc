// CDevices lists the machine's CD/DVD drives; CDevice is one drive. A
// Device creates its engine object lazily before each operation and lets
// it go after burning and erasing, so the drive is not held open between
// operations.
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/win32/com_object.h"
#include "control/win32/engine_call.h"
#include "control/win32/sinks.h"

namespace qv::control {

class CDevice : public ComObject<CDevice, IDevice> {
 public:
  static const CLSID& ClassId() { return CLSID_CDevice; }
  void FinalRelease();

  // S_OK with the drive's identity, S_FALSE when no drive answers there.
  HRESULT InitDevice(const char* deviceName);

  // Scripts set the callbacks to objects of their own.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override;

  HRESULT STDMETHODCALLTYPE get_ProductID(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_VendorID(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_SupportCDRRead(VARIANT_BOOL* v) override { return Flag(v, kCdrRead); }
  HRESULT STDMETHODCALLTYPE get_SupportCDRWrite(VARIANT_BOOL* v) override { return Flag(v, kCdrWrite); }
  HRESULT STDMETHODCALLTYPE get_SupportCDRWRead(VARIANT_BOOL* v) override { return Flag(v, kCdrwRead); }
  HRESULT STDMETHODCALLTYPE get_SupportCDRWWrite(VARIANT_BOOL* v) override { return Flag(v, kCdrwWrite); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDRAMRead(VARIANT_BOOL* v) override { return Flag(v, kDvdramRead); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDRAMWrite(VARIANT_BOOL* v) override { return Flag(v, kDvdramWrite); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDRRead(VARIANT_BOOL* v) override { return Flag(v, kDvdrRead); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDRWrite(VARIANT_BOOL* v) override { return Flag(v, kDvdrWrite); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDROMRead(VARIANT_BOOL* v) override { return Flag(v, kDvdromRead); }
  HRESULT STDMETHODCALLTYPE get_SupportTestWrite(VARIANT_BOOL* v) override { return Flag(v, kTestWrite); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDPlusRRead(VARIANT_BOOL* v) override { return Flag(v, kDvdPlusRRead); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDPlusRWrite(VARIANT_BOOL* v) override { return Flag(v, kDvdPlusRWrite); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDPlusRWRead(VARIANT_BOOL* v) override { return Flag(v, kDvdPlusRwRead); }
  HRESULT STDMETHODCALLTYPE get_SupportDVDPlusRWWrite(VARIANT_BOOL* v) override { return Flag(v, kDvdPlusRwWrite); }
  HRESULT STDMETHODCALLTYPE get_DeviceName(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_Revision(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_CacheSizeInBytes(ULONG* v) override;
  HRESULT STDMETHODCALLTYPE Load() override;
  HRESULT STDMETHODCALLTYPE Eject() override;
  HRESULT STDMETHODCALLTYPE get_ErrorMessage(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE Erase(VARIANT_BOOL vbFullErase) override;
  HRESULT STDMETHODCALLTYPE TestUnitReady() override;
  HRESULT STDMETHODCALLTYPE SetSpeeds(ULONG readSpeed, ULONG writeSpeed) override;
  HRESULT STDMETHODCALLTYPE GetSpeeds(ULONG* curRead, ULONG* maxRead, ULONG* curWrite, ULONG* maxWrite) override;
  HRESULT STDMETHODCALLTYPE GetInsertedDiscType(QVX_DISC_TYPE* v) override;
  HRESULT STDMETHODCALLTYPE CloseSession() override;
  HRESULT STDMETHODCALLTYPE SendOPC() override;
  HRESULT STDMETHODCALLTYPE GetBUP(VARIANT_BOOL* enabled, VARIANT_BOOL* supported) override;
  HRESULT STDMETHODCALLTYPE SetBUP(VARIANT_BOOL enable) override;
  HRESULT STDMETHODCALLTYPE get_Callback(IQuorvaneCallBack** v) override;
  HRESULT STDMETHODCALLTYPE put_Callback(IQuorvaneCallBack* v) override;
  HRESULT STDMETHODCALLTYPE TrackAtOnceFromFileSystemHandle(long fileSystemHandle, VARIANT_BOOL testWrite,
                                                            VARIANT_BOOL nextSessionAllowed) override;
  HRESULT STDMETHODCALLTYPE GetDiscInfo(IDiscInfo** v) override;
  HRESULT STDMETHODCALLTYPE TrackAtOnceFromFile(BSTR trackFileName, VARIANT_BOOL testWrite,
                                                VARIANT_BOOL nextSessionAllowed) override;
  HRESULT STDMETHODCALLTYPE get_LastSenseKey(unsigned char* v) override;
  HRESULT STDMETHODCALLTYPE get_Padding(VARIANT_BOOL* v) override;
  HRESULT STDMETHODCALLTYPE put_Padding(VARIANT_BOOL v) override;
  HRESULT STDMETHODCALLTYPE SuperVideoCD(BSTR imageFileName, VARIANT_BOOL testWrite) override;
  HRESULT STDMETHODCALLTYPE VideoCD(BSTR imageFileName, VARIANT_BOOL testWrite) override;
  HRESULT STDMETHODCALLTYPE LockDevice() override;
  HRESULT STDMETHODCALLTYPE ReleaseDevice() override;
  HRESULT STDMETHODCALLTYPE ReadATIP(unsigned char atip[256], ULONG size) override;
  HRESULT STDMETHODCALLTYPE GrabTrack(USHORT trackNumber, BSTR fileName, VARIANT_BOOL ignoreBadBlocks) override;
  HRESULT STDMETHODCALLTYPE ImportTrack(IDispatch* jolietImage, VARIANT_BOOL importJoliet, USHORT trackNumber) override;
  HRESULT STDMETHODCALLTYPE Cancel() override;
  HRESULT STDMETHODCALLTYPE FreeDeviceCache() override;
  HRESULT STDMETHODCALLTYPE get_NotifyCallbackTestWriteDisabled(IQuorvaneNotificationCallBack** v) override;
  HRESULT STDMETHODCALLTYPE put_NotifyCallbackTestWriteDisabled(IQuorvaneNotificationCallBack* v) override;
  HRESULT STDMETHODCALLTYPE SetCacheBufferSizeInMBs(ULONG megabytes) override;

 private:
  enum FlagIndex {
    kCdrRead, kCdrwRead, kDvdromRead, kDvdrRead, kDvdramRead, kTestWrite, kCdrWrite, kCdrwWrite, kDvdrWrite,
    kDvdramWrite, kDvdPlusRwRead, kDvdPlusRRead, kDvdPlusRwWrite, kDvdPlusRWrite, kFlagCount
  };
  HRESULT Flag(VARIANT_BOOL* v, FlagIndex i);

  static void QUORVANE_CALL EngineCallback(QV_ULONG reason, void* context, void* p1, void* p2);
  void OnEngineEvent(QV_ULONG reason, void* p1, void* p2);

  // The lazy creation of the engine object.
  void InitCdvdGrabberBurner();
  void DestroyEngine();
  // The standard engine call: the engine object first; a creation that
  // failed fails the operation with the creation's exception.
  template <class Entry>
  HRESULT Standard(const char* method, const char* entryPoint, Entry&& entry);
  HRESULT Failure(const char* method, const char* entryPoint, uint32_t number, const EngineCall& call);
  void RefreshWriteSpeed();
  // VideoCD and SuperVideoCD: one Video CD entry point, as a file burn.
  template <class Entry>
  HRESULT BurnVideoCd(const char* method, const char* entryPoint, Entry entry, const char* album, BSTR file,
                      VARIANT_BOOL testWrite);

  std::string product_, vendor_, name_, revision_;
  ULONG cacheBytes_ = 0;
  bool flags_[kFlagCount] = {};
  VARIANT_BOOL padding_ = VARIANT_FALSE;
  std::string error_;
  std::atomic<QV_HANDLE> engine_{nullptr};
  uint32_t createNumber_ = EN_SUCCESS;  // the last lazy creation's exception
  EngineCall createCall_;
  ClientSink progress_, notify_;
  uint8_t senseKey_ = 0;
  std::atomic<uint32_t> writeSpeed_{0};
  uint32_t eraseSeconds_ = 0;
  ULONG cacheMegabytes_ = 0;
};

class CDevices : public ComObject<CDevices, IDevices> {
 public:
  static const CLSID& ClassId() { return CLSID_CDevices; }
  HRESULT FinalConstruct();
  void FinalRelease();

  HRESULT STDMETHODCALLTYPE GetDevice(long index, IDevice** device) override;
  HRESULT STDMETHODCALLTYPE get_Count(long* count) override;

 private:
  HRESULT AddDevice(const char* name);
  std::vector<IDevice*> devices_;
};

}  // namespace qv::control
