// CJolietImage assembles an ISO9660 image with a Joliet tree; CNode is one
// node of its tree, CNodeDateTime a node's date. The image's lock
// serialises the image and all of its nodes.
#pragma once
#include <mutex>
#include <string>

#include "control/win32/com_object.h"
#include "control/win32/sinks.h"
#include "quorvane.h"

namespace qv::control {

class CJolietImage : public ComObject<CJolietImage, IJolietImage> {
 public:
  static const CLSID& ClassId() { return CLSID_CJolietImage; }
  HRESULT FinalConstruct();
  void FinalRelease();

  // Scripts set the collision callback to an object of their own.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override;

  HRESULT STDMETHODCALLTYPE get_Root(INode** v) override;
  HRESULT STDMETHODCALLTYPE get_ImageSizeInBytes(UINT64* v) override;
  HRESULT STDMETHODCALLTYPE Cancel() override;
  HRESULT STDMETHODCALLTYPE Build(ULONG startingLba, BSTR volumeSetName, BSTR applicationName) override;
  HRESULT STDMETHODCALLTYPE get_FileSystemHandle(UINT64* v) override;
  HRESULT STDMETHODCALLTYPE get_ErrorMessage(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE SaveImageToFile(BSTR fileName, IQuorvaneCallBack* callback) override;
  HRESULT STDMETHODCALLTYPE get_CollisionCallback(IQuorvaneCollisionCallBack** v) override;
  HRESULT STDMETHODCALLTYPE put_CollisionCallback(IQuorvaneCollisionCallBack* v) override;
  HRESULT STDMETHODCALLTYPE SetBootImage(BSTR bootImageFileName, QVX_MEDIA_TYPE mediaType, unsigned char sectorsToLoad,
                                         VARIANT_BOOL hideNode) override;

 private:
  static void QUORVANE_CALL CollisionCallback(QV_ULONG reason, void* context, void* p1, void* p2);
  void OnCollision(QUORVANE_NAME_COLLISION& record);

  std::recursive_mutex lock_;
  std::string error_;
  ClientSink collision_;
  QV_HANDLE tree_ = nullptr;
  bool built_ = false;
  std::atomic<bool> cancel_{false};
};

class CNode : public ComObject<CNode, INode> {
 public:
  static const CLSID& ClassId() { return CLSID_CNode; }
  void FinalRelease();

  // A node of image's tree. *out gets the new object's INode.
  static HRESULT Make(IUnknown* image, QV_HANDLE tree, QV_HANDLE node, std::recursive_mutex* lock,
                      std::string* error, const char* description, INode** out);

  HRESULT STDMETHODCALLTYPE get_Parent(INode** v) override;
  HRESULT STDMETHODCALLTYPE get_FirstKid(INode** v) override;
  HRESULT STDMETHODCALLTYPE get_NextKid(INode** v) override;
  HRESULT STDMETHODCALLTYPE get_FileSystemImage(IUnknown** v) override;
  HRESULT STDMETHODCALLTYPE Remove() override;
  HRESULT STDMETHODCALLTYPE get_FileSizeInBytes(UINT64* v) override;
  HRESULT STDMETHODCALLTYPE get_AbsoluteName(BSTR* v) override { return Name("CNode::get_AbsoluteName", 0, v); }
  HRESULT STDMETHODCALLTYPE get_ImageLongName(BSTR* v) override { return Name("CNode::get_ImageLongName", 1, v); }
  HRESULT STDMETHODCALLTYPE put_ImageLongName(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_ImageShortName(BSTR* v) override { return Name("CNode::get_ImageShortName", 2, v); }
  HRESULT STDMETHODCALLTYPE get_Attributes(ULONG* v) override;
  HRESULT STDMETHODCALLTYPE get_DateTime(INodeDateTime** v) override;
  HRESULT STDMETHODCALLTYPE CreateNewFolder(BSTR folderName, INode** v) override;
  HRESULT STDMETHODCALLTYPE AddFolder(BSTR folderName, BSTR absoluteFolderName, INode** v) override;
  HRESULT STDMETHODCALLTYPE AddFile(BSTR fileName, BSTR absoluteFileName, INode** v) override;

 private:
  using Lock = std::unique_lock<std::recursive_mutex>;
  Lock Hold() { return lock_ ? Lock(*lock_) : Lock(); }
  void SetError(const char* text) {
    if (error_) *error_ = text;
  }
  HRESULT Relative(const char* method, const char* missing, const char* description, int which, INode** v);
  HRESULT Name(const char* method, int which, BSTR* v);
  HRESULT Add(const char* method, const char* path, const char* newName, INode** v);

  IUnknown* image_ = nullptr;
  QV_HANDLE node_ = nullptr;
  QV_HANDLE tree_ = nullptr;
  std::recursive_mutex* lock_ = nullptr;
  std::string* error_ = nullptr;
};

class CNodeDateTime : public ComObject<CNodeDateTime, INodeDateTime> {
 public:
  static const CLSID& ClassId() { return CLSID_CNodeDateTime; }
  HRESULT FinalConstruct();
  void FinalRelease();
  void Set(const QV_SYSTEMTIME& t);

  HRESULT STDMETHODCALLTYPE get_Year(USHORT* v) override { return Get("CNodeDateTime::get_Year", year_, v); }
  HRESULT STDMETHODCALLTYPE get_Month(short* v) override;
  HRESULT STDMETHODCALLTYPE get_Day(USHORT* v) override { return Get("CNodeDateTime::get_Day", day_, v); }
  HRESULT STDMETHODCALLTYPE get_Hour(USHORT* v) override { return Get("CNodeDateTime::get_Hour", hour_, v); }
  HRESULT STDMETHODCALLTYPE get_Minute(USHORT* v) override { return Get("CNodeDateTime::get_Minute", minute_, v); }
  HRESULT STDMETHODCALLTYPE get_Second(USHORT* v) override { return Get("CNodeDateTime::get_Second", second_, v); }

 private:
  static HRESULT Get(const char* method, USHORT field, USHORT* v);
  USHORT year_ = 0, month_ = 0, day_ = 0, hour_ = 0, minute_ = 0, second_ = 0;
};

}  // namespace qv::control
