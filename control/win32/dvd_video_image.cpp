#include "control/win32/dvd_video_image.h"

#include <cstdio>

#include "control/dvd_video_order.h"
#include "control/handle_table.h"
#include "control/trace.h"
#include "control/win32/engine_call.h"
#include "control/win32/image_saving.h"
#include "control/win32/sinks.h"

namespace qv::control {
namespace {

constexpr HRESULT kImageNotBuilt = static_cast<HRESULT>(0x800A0100u);

// An engine failure while building: the engine's result without an error
// object; its text becomes the error message.
HRESULT ImageFailure(uint32_t number, const EngineCall& c, std::string& error) {
  char message[kEngineMessageSize + 1] = {};
  std::snprintf(message, sizeof message, "%s", c.message);
  try {
    error = message;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return EngineReadResult(number, c);
}

// Every member of both classes shows its entry and exit with the object's
// reference count, which tells a leaked handle from a live one.
template <class Object>
class MemberTrace {
 public:
  MemberTrace(const char* name, Object* self) : name_(name), self_(self) {
    QVX("\n%s(%p) : ENTERed ref = %08X.\n", name_, static_cast<void*>(self_), static_cast<unsigned>(self_->References()));
  }
  ~MemberTrace() {
    QVX("\n%s(%p) : EXITing ref = %08X.\n", name_, static_cast<void*>(self_), static_cast<unsigned>(self_->References()));
  }
  MemberTrace(const MemberTrace&) = delete;
  MemberTrace& operator=(const MemberTrace&) = delete;

 private:
  const char* name_;
  Object* self_;
};

// The error message as a new BSTR, with the traces both classes give it.
HRESULT ErrorMessageResult(const char* cls, void* self, const std::string& error, BSTR* v) {
  QVX("%s::get_ErrorMessage() : ENTERed for %p\n", cls, static_cast<void*>(v));
  QVX("%s::get_ErrorMessage() : this =  %p\n", cls, self);
  const std::string method = std::string(cls) + "::get_ErrorMessage";
  const HRESULT hr = StringResult(method.c_str(), error, v);
  if (SUCCEEDED(hr)) QVX("%s::get_ErrorMessage() : m__BSTR__ErrorMessage =  %p\n", cls, static_cast<void*>(*v));
  return hr;
}

HRESULT NotBuilt(const char* trace, std::string& error, REFCLSID clsid) {
  QVX("%s", trace);
  error = "Image was not built.";
  return FixedError(kImageNotBuilt, clsid, "Image is not built");
}

}  // namespace

// ---- DVDVideoImage ------------------------------------------------------

void CDVDVideoImage::FinalRelease() {
  std::lock_guard<std::mutex> lock(lock_);
  FreeMemory();
}

void CDVDVideoImage::FreeMemory() {
  QVX("CDVDVideoImage::FreeMemory");
  if (volume_.m__PVOID__Body != nullptr) Handles().Remove(volume_.m__PVOID__Body);
  // A build that failed half-way leaves formatted items too.
  if (!items_.empty()) Quorvane_UDF_DestroyTreeItems(items_.data(), static_cast<QV_ULONG>(items_.size()));
  if (root_.m__PVOID__Item != nullptr) Quorvane_UDF_Destroy(&root_, &volume_);
  root_ = audioTs_ = videoTs_ = {};
  volume_ = {};
  items_.clear();
  built_ = false;
}

HRESULT CDVDVideoImage::AddFile(BSTR fileName) {
  const MemberTrace trace("CDVDVideoImage::AddFile", this);
  std::lock_guard<std::mutex> lock(lock_);
  try {
    files_.push_back(NarrowFromBstr(fileName));
  } catch (const std::bad_alloc&) {
    QVX("CDVDVideoImage::AddFile(): failed");
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CDVDVideoImage::Build(BSTR volumeId) {
  const MemberTrace trace("CDVDVideoImage::Build", this);
  std::lock_guard<std::mutex> lock(lock_);
  try {
    error_.clear();
    return BuildLocked(NarrowFromBstr(volumeId));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    QVX("\nCDVDVideoImage(%p)::Build() : Exception!\n", static_cast<void*>(this));
    return E_FAIL;
  }
}

HRESULT CDVDVideoImage::BuildLocked(const std::string& volume) {
  FreeMemory();
  QV_ULONG counter = 0;
  std::vector<DvdVideoFileName> names;
  try {
    items_.assign(files_.size(), QUORVANE_UDF_TREE_ITEM{});
  } catch (const std::bad_alloc&) {
    QVX("CDVDVideoImage::Build(): failed when allocating m__PUDF_TREE_ITEM__File (%d)", static_cast<int>(files_.size() + 1));
    return E_OUTOFMEMORY;
  }
  try {
    names.reserve(files_.size());
  } catch (const std::bad_alloc&) {
    QVX("CDVDVideoImage::Build(): failed when allocating m__PFILE_INFO__Files[%d] = %p, m__PINT__Indexes = %p",
        static_cast<int>(files_.size()), static_cast<void*>(nullptr), static_cast<void*>(nullptr));
    return E_OUTOFMEMORY;
  }
  QVX("\nCDVDVideoImage::Build(): Formatting directories...\n");
  QV_ULONG status = Quorvane_UDF_FormatTreeItemAsFolder(&root_, ++counter, "", nullptr);
  if (status == 0) status = Quorvane_UDF_FormatTreeItemAsFolder(&audioTs_, ++counter, "AUDIO_TS", &root_);
  if (status == 0) status = Quorvane_UDF_FormatTreeItemAsFolder(&videoTs_, ++counter, "VIDEO_TS", &root_);
  if (status != 0) {
    error_ = "Quorvane_UDF_FormatTreeItemAsFolder() failed";
    return static_cast<HRESULT>(0x80070000u | status);
  }
  QVX("\nCDVDVideoImage:Build(): Formatting files...\n");
  for (size_t k = 0; k < files_.size(); ++k) {
    names.push_back(SplitDvdVideoPath(files_[k]));
    QVX("\nCDVDVideoImage:Build(): Adding file #%d <%s>, <%s>.\n", static_cast<int>(k + 1), files_[k].c_str(),
        names.back().name.c_str());
  }
  QVX("\nCDVDVideoImage::Build(): After sorting : \n");
  size_t position = 0;
  for (const size_t i : DvdVideoLayoutOrder(names)) {
    QVX("\nCDVDVideoImage::Build():  Name = <%s>\n", names[i].name.c_str());
    QUORVANE_UDF_TREE_ITEM* item = &items_[position++];
    status = Quorvane_UDF_FormatTreeItemAsFile(item, ++counter, names[i].name.c_str(), files_[i].c_str(), &videoTs_);
    if (status != 0) {
      QVX("\nCDVDVideoImage:Build(): EXITing with failure, Quorvane_UDF_FormatTreeItemAsFile( %p, %ld, '%s', '%s', "
          "%p ) failed, status %ld ( 0x%X )\n",
          static_cast<void*>(item), static_cast<long>(counter), names[i].name.c_str(), files_[i].c_str(),
          static_cast<void*>(&videoTs_), static_cast<long>(status), static_cast<unsigned>(status));
      error_ = "Quorvane_UDF_FormatTreeItemAsFile() failed";
      return static_cast<HRESULT>(0x80070000u | status);
    }
  }
  EngineCall c;
  const uint32_t n = Quorvane_UDF_Create(&root_, &videoTs_, &audioTs_, &volume_, c.message, sizeof c.message,
                                         &c.systemStatus, volume.c_str());
  if (n != EN_SUCCESS) {
    QVX("\nCDVDVideoImage:Build(): Quorvane_UDF_Create() failed, exception %ld, status %ld, text '%s'\n",
        static_cast<long>(n), static_cast<long>(c.systemStatus), c.message);
    return ImageFailure(n, c, error_);
  }
  built_ = true;
  return S_OK;
}

HRESULT CDVDVideoImage::SaveImageToFile(BSTR fileName, IQuorvaneCallBack* callback) {
  const MemberTrace trace("CDVDVideoImage::SaveImageToFile", this);
  std::lock_guard<std::mutex> lock(lock_);
  std::string file;
  try {
    file = NarrowFromBstr(fileName);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!built_) return NotBuilt("\nCDVDVideoImage::SaveImageToFile() : Image is not built.\n", error_, ClassId());
  QV_HANDLE tree = volume_.m__PVOID__Body;
  EngineCall c;
  const uint32_t n = Quorvane_ISO9660JolietFileTree_SeekToBegin(tree, c.message, sizeof c.message, &c.systemStatus);
  if (n != EN_SUCCESS) return EngineReadResult(n, c);
  QV_ULONG high = 0;
  const uint64_t total = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree, &high) | (uint64_t{high} << 32);
  ClientSink sink;
  sink.Set(callback);
  return SaveImage(
      "CDVDVideoImage", file, total,
      [tree](EngineCall& call, uint32_t count, void* buffer) {
        return Quorvane_ISO9660JolietFileTree_Read(tree, call.message, sizeof call.message, &call.systemStatus,
                                                   static_cast<QV_LONG>(count), buffer);
      },
      sink, nullptr);
}

HRESULT CDVDVideoImage::get_ErrorMessage(BSTR* v) {
  const MemberTrace trace("CDVDVideoImage::get_ErrorMessage", this);
  return ErrorMessageResult("CDVDVideoImage", this, error_, v);
}

HRESULT CDVDVideoImage::get_FileSystemHandle(long* v) {
  const MemberTrace trace("CDVDVideoImage::get_FileSystemHandle", this);
  if (!CheckOutPointer("CDVDVideoImage::get_FileSystemHandle", v, sizeof *v)) return E_POINTER;
  std::lock_guard<std::mutex> lock(lock_);
  if (!built_) {
    QVX("\nCDVDVideoImage::get_FileSystemHandle() : Imageis not built.\n");
    return FixedError(kImageNotBuilt, ClassId(), "Image is not built");
  }
  // A 32-bit number stands for the image's tree, as for a JolietImage.
  *v = Handles().Add(volume_.m__PVOID__Body);
  return S_OK;
}

HRESULT CDVDVideoImage::get_ImageSizeInBytes(UINT64* v) {
  const MemberTrace trace("CDVDVideoImage::get_ImageSizeInBytes", this);
  if (v == nullptr || IsBadWritePtr(v, sizeof *v)) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(lock_);
  QV_ULONG high = 0;
  *v = built_ ? Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(volume_.m__PVOID__Body, &high) | (UINT64{high} << 32)
              : 0;
  return S_OK;
}

// ---- DVDVideoImage2 -----------------------------------------------------

void CDVDVideoImage2::FinalRelease() {
  std::lock_guard<std::mutex> lock(lock_);
  FreeMemory();
}

void CDVDVideoImage2::FreeMemory() {
  if (image_ != nullptr) {
    QV_HANDLE tree = nullptr;
    if (Quorvane_DVDVideo_GetTreePointer(image_, &tree) == EN_SUCCESS && tree != nullptr) Handles().Remove(tree);
    Quorvane_DVDVideo_Destroy(image_);
  }
  image_ = nullptr;
  built_ = false;
}

HRESULT CDVDVideoImage2::CreateImage(BSTR sourceFolder, BSTR volumeId, BSTR publisherId, BSTR applicationId,
                                     VARIANT_BOOL patchIfo) {
  const MemberTrace trace("CDVDVideoImage2::CreateImage", this);
  std::lock_guard<std::mutex> lock(lock_);
  try {
    error_.clear();
    FreeMemory();
    const std::string folder = NarrowFromBstr(sourceFolder), volume = NarrowFromBstr(volumeId),
                      publisher = NarrowFromBstr(publisherId), application = NarrowFromBstr(applicationId);
    SYSTEMTIME now{};
    GetSystemTime(&now);
    EngineCall c;
    const uint32_t n = Quorvane_DVDVideo_Create(&image_, folder.c_str(), patchIfo != 0, c.message, sizeof c.message,
                                                &c.systemStatus, volume.c_str(), publisher.c_str(), application.c_str(),
                                                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                                now.wMilliseconds);
    if (n != EN_SUCCESS) {
      QVX("\nCDVDVideoImage2::CreateImage(): Quorvane_DVDVideo_Create() failed, exception %ld, status %ld, text "
          "'%s'\n",
          static_cast<long>(n), static_cast<long>(c.systemStatus), c.message);
      image_ = nullptr;
      return ImageFailure(n, c, error_);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    QVX("\nCDVDVideoImage2(%p)::CreateImage() : Exception!\n", static_cast<void*>(this));
    return E_FAIL;
  }
  built_ = true;
  return S_OK;
}

HRESULT CDVDVideoImage2::SaveImageToFile(BSTR fileName, IQuorvaneCallBack* callback) {
  const MemberTrace trace("CDVDVideoImage2::SaveImageToFile", this);
  std::lock_guard<std::mutex> lock(lock_);
  std::string file;
  try {
    file = NarrowFromBstr(fileName);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!built_) return NotBuilt("\nCDVDVideoImage2::SaveImageToFile() : Image is not built.\n", error_, ClassId());
  EngineCall c;
  const uint32_t n = Quorvane_DVDVideo_SeekToBegin(image_, c.message, sizeof c.message, &c.systemStatus);
  if (n != EN_SUCCESS) return EngineReadResult(n, c);
  QV_ULONGLONG total = 0;
  Quorvane_DVDVideo_GetSizeInUCHARs(image_, &total);
  ClientSink sink;
  sink.Set(callback);
  QV_HANDLE image = image_;
  return SaveImage(
      "CDVDVideoImage2", file, total,
      [image](EngineCall& call, uint32_t count, void* buffer) {
        return Quorvane_DVDVideo_Read(image, call.message, sizeof call.message, &call.systemStatus, count, buffer);
      },
      sink, nullptr);
}

HRESULT CDVDVideoImage2::get_ErrorMessage(BSTR* v) {
  const MemberTrace trace("CDVDVideoImage2::get_ErrorMessage", this);
  return ErrorMessageResult("CDVDVideoImage2", this, error_, v);
}

HRESULT CDVDVideoImage2::get_FileSystemHandle(long* v) {
  const MemberTrace trace("CDVDVideoImage2::get_FileSystemHandle", this);
  if (!CheckOutPointer("CDVDVideoImage2::get_FileSystemHandle", v, sizeof *v)) return E_POINTER;
  std::lock_guard<std::mutex> lock(lock_);
  QV_HANDLE tree = nullptr;
  if (!built_ || Quorvane_DVDVideo_GetTreePointer(image_, &tree) != EN_SUCCESS) {
    QVX("\nCDVDVideoImage2::get_FileSystemHandle() : Imageis not built.\n");
    return FixedError(kImageNotBuilt, ClassId(), "Image is not built");
  }
  *v = Handles().Add(tree);
  return S_OK;
}

HRESULT CDVDVideoImage2::get_ImageSizeInBytes(UINT64* v) {
  const MemberTrace trace("CDVDVideoImage2::get_ImageSizeInBytes", this);
  if (v == nullptr || IsBadWritePtr(v, sizeof *v)) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(lock_);
  QV_ULONGLONG size = 0;
  if (built_) Quorvane_DVDVideo_GetSizeInUCHARs(image_, &size);
  *v = size;
  return S_OK;
}

}  // namespace qv::control
