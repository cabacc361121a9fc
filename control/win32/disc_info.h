// CDiscInfo: a snapshot of the inserted disc made from the three engine
// records. A DiscInfo created by a client holds zero-filled records.
#pragma once
#include <mutex>

#include "control/disc_info_records.h"
#include "control/win32/com_object.h"
#include "control/win32/disc_info_init.h"

namespace qv::control {

class CDiscInfo : public ComObject<CDiscInfo, IDiscInfo>, public IQuorvaneDiscInfoInit {
 public:
  static const CLSID& ClassId() { return CLSID_CDiscInfo; }
  HRESULT FinalConstruct();
  void FinalRelease();
  void* QueryExtra(REFIID iid);

  // IUnknown of the internal interface is the object's own.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override { return ComObject::QueryInterface(iid, ppv); }
  ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }

  HRESULT STDMETHODCALLTYPE Initialize(const unsigned char* disc, const unsigned char* track, const unsigned char* toc,
                                       long discType, long trackValid, long tocValid) override;

  HRESULT STDMETHODCALLTYPE get_IsBlank(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_FreeLBs(long* value) override;
  HRESULT STDMETHODCALLTYPE get_NextWritableAddress(long* value) override;
  HRESULT STDMETHODCALLTYPE get_TrackNumber(long* value) override;
  HRESULT STDMETHODCALLTYPE get_IsErasable(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_DiscStatus(unsigned char* value) override;
  HRESULT STDMETHODCALLTYPE get_LastSessionStatus(unsigned char* value) override;
  HRESULT STDMETHODCALLTYPE get_TotalSizeInLBs(ULONG* value) override;
  HRESULT STDMETHODCALLTYPE get_UsedSizeInLBs(ULONG* value) override;

 private:
  // Copies of the records; the Device fills them once, readers may come
  // from any thread.
  DiscInfoRecords Snapshot() const;
  mutable std::mutex mutex_;
  DiscInfoRecords records_;
};

}  // namespace qv::control
