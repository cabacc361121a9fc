// CDVDVideoImage and CDVDVideoImage2: a DVD-Video image (UDF bridge with
// VIDEO_TS and AUDIO_TS) that is saved to a file or burnt through its
// file-system handle. The first takes files one by one and lays out the
// folders itself; the second hands a whole VIDEO_TS folder to the engine,
// which can also patch the IFO files' addresses.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "control/win32/com_object.h"
#include "quorvane.h"

namespace qv::control {

class CDVDVideoImage : public ComObject<CDVDVideoImage, IDVDVideoImage> {
 public:
  static const CLSID& ClassId() { return CLSID_CDVDVideoImage; }
  void FinalRelease();

  HRESULT STDMETHODCALLTYPE AddFile(BSTR fileName) override;
  HRESULT STDMETHODCALLTYPE Build(BSTR volumeId) override;
  HRESULT STDMETHODCALLTYPE SaveImageToFile(BSTR fileName, IQuorvaneCallBack* callback) override;
  HRESULT STDMETHODCALLTYPE get_ErrorMessage(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_FileSystemHandle(long* v) override;
  HRESULT STDMETHODCALLTYPE get_ImageSizeInBytes(UINT64* v) override;

 private:
  HRESULT BuildLocked(const std::string& volume);
  void FreeMemory();

  std::mutex lock_;
  std::vector<std::string> files_;  // every path given, in call order
  bool built_ = false;
  QUORVANE_UDF_TREE_ITEM root_{}, audioTs_{}, videoTs_{};
  std::vector<QUORVANE_UDF_TREE_ITEM> items_;  // one per formatted file
  QUORVANE_UDF_CONTROL_BLOCK volume_{};
  std::string error_;
};

class CDVDVideoImage2 : public ComObject<CDVDVideoImage2, IDVDVideoImage2> {
 public:
  static const CLSID& ClassId() { return CLSID_CDVDVideoImage2; }
  void FinalRelease();

  HRESULT STDMETHODCALLTYPE CreateImage(BSTR sourceFolder, BSTR volumeId, BSTR publisherId, BSTR applicationId,
                                        VARIANT_BOOL patchIfo) override;
  HRESULT STDMETHODCALLTYPE SaveImageToFile(BSTR fileName, IQuorvaneCallBack* callback) override;
  HRESULT STDMETHODCALLTYPE get_ErrorMessage(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_FileSystemHandle(long* v) override;
  HRESULT STDMETHODCALLTYPE get_ImageSizeInBytes(UINT64* v) override;

 private:
  void FreeMemory();

  std::mutex lock_;
  bool built_ = false;
  QV_HANDLE image_ = nullptr;
  std::string error_;
};

}  // namespace qv::control
