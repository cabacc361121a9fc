#include "control/win32/joliet_image.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <cstdio>
#include <memory>

#include "control/collision_names.h"
#include "control/handle_table.h"
#include "control/trace.h"
#include "control/win32/engine_call.h"
#include "control/win32/image_saving.h"

namespace qv::control {
namespace {

constexpr size_t kNameSize = 260;
constexpr HRESULT kImageNotBuilt = static_cast<HRESULT>(0x800A0100u);
const char kPublisher[] = "QuorvaneX";

std::atomic<unsigned> g_isoCollisions{1};

BSTR BstrFromAnsi(const char* text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n - 1 : 0));
  if (b != nullptr && n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, b, n);
  return b;
}

}  // namespace

// ---- JolietImage --------------------------------------------------------

HRESULT CJolietImage::FinalConstruct() {
  QVX("\nCJolietImage(%p)::FinalConstruct() : ENTERed \n", static_cast<void*>(this));
  EngineCall c;
  uint32_t n = Quorvane_ISO9660JolietFileTree_Create(&tree_, c.message, sizeof c.message, &c.systemStatus,
                                                     &CJolietImage::CollisionCallback, this, 1, 0, 1, 1);
  if (n != EN_SUCCESS)
    return EngineCallFailure("CJolietImage::FinalConstruct", this, "Quorvane_ISO9660JolietFileTree_Create", n, c,
                             CLSID_CJolietImage, error_);
  // The tree gets its root with its first item: add one and take it away.
  QVX("\nCJolietImage(%p)::FinalConstruct() : #1 \n", static_cast<void*>(this));
  QV_HANDLE parent = Quorvane_ISO9660JolietFileTree_GetRoot(tree_), node = nullptr;
  QVX("\nCJolietImage(%p)::FinalConstruct() : #2 \n", static_cast<void*>(this));
  n = Quorvane_ISO9660JolietFileTree_Add(tree_, c.message, sizeof c.message, &c.systemStatus, nullptr, "Temp", 2,
                                         &parent, &node);
  if (n != EN_SUCCESS)
    return EngineCallFailure("CJolietImage::FinalConstruct", this, "Quorvane_ISO9660JolietFileTree_Add", n, c,
                             CLSID_CJolietImage, error_);
  QV_HANDLE root = Quorvane_ISO9660JolietFileTree_GetRoot(tree_);
  QVX("\nCJolietImage(%p)::FinalConstruct() : #3 l__PVOID__Root = %p\n", static_cast<void*>(this), root);
  QV_HANDLE kid = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree_, root);
  QVX("\nCJolietImage(%p)::FinalConstruct() : #4 %p \n", static_cast<void*>(this), kid);
  if (kid != nullptr) Quorvane_ISO9660JolietFileTree_Remove(tree_, &kid);
  QVX("\nCJolietImage(%p)::FinalConstruct() : EXITing with success. \n", static_cast<void*>(this));
  return S_OK;
}

void CJolietImage::FinalRelease() {
  QVX("\nCJolietImage(%p)::FinalRelease() : ENTERed \n", static_cast<void*>(this));
  if (tree_ != nullptr) {
    Handles().Remove(tree_);
    Quorvane_ISO9660JolietFileTree_Destroy(&tree_);
  }
  collision_.Set(nullptr);
  QVX("\nCJolietImage(%p)::FinalRelease() : EXITing with success \n", static_cast<void*>(this));
}

HRESULT CJolietImage::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT* argError) {
  IUnknown* sink = nullptr;
  if (id == 9 && ScriptObjectArgument(flags, params, &sink)) {
    if (sink == nullptr) return E_POINTER;  // the callback cannot be cleared
    collision_.Set(sink);
    return S_OK;
  }
  return DualInterface<IJolietImage>::Invoke(id, riid, lcid, flags, params, result, exception, argError);
}

HRESULT CJolietImage::get_Root(INode** v) {
  if (!CheckOutPointer("CJolietImage::get_Root", v, sizeof *v)) return E_POINTER;
  *v = nullptr;
  std::lock_guard<std::recursive_mutex> lock(lock_);
  IUnknown* self = nullptr;
  HRESULT hr = QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self));
  if (FAILED(hr)) {
    error_ = "Can't Query interface IUknown from this";
    return hr;
  }
  hr = CNode::Make(self, tree_, Quorvane_ISO9660JolietFileTree_GetRoot(tree_), &lock_, &error_,
                   "Could not create an instance for Root Node object", v);
  self->Release();
  if (FAILED(hr)) error_ = "Can't create RootNode object";
  return hr;
}

HRESULT CJolietImage::get_ImageSizeInBytes(UINT64* v) {
  if (v == nullptr || IsBadWritePtr(v, sizeof *v)) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> lock(lock_);
  QV_ULONG high = 0;
  *v = 0;
  if (built_) *v = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree_, &high) | (UINT64{high} << 32);
  return S_OK;
}

HRESULT CJolietImage::Cancel() {
  if (tree_ != nullptr) Quorvane_ISO9660JolietFileTree_Cancel(tree_);
  cancel_ = true;
  return S_OK;
}

HRESULT CJolietImage::Build(ULONG startingLba, BSTR volumeSetName, BSTR applicationName) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  try {
    error_.clear();
    const std::string volume = NarrowFromBstr(volumeSetName), application = NarrowFromBstr(applicationName);
    QVX("\nCJolietImage(%p)::Build() : ENTERed for %d, <%s>, <%s>. \n", static_cast<void*>(this),
        static_cast<int>(startingLba), volume.c_str(), application.c_str());
    EngineCall c;
    const uint32_t n = Quorvane_ISO9660JolietFileTree_BuildImage(tree_, c.message, sizeof c.message, &c.systemStatus,
                                                                 static_cast<QV_LONG>(startingLba), 8, 0,
                                                                 volume.c_str(), kPublisher, application.c_str());
    if (n != EN_SUCCESS)
      return EngineCallFailure("CJolietImage::Build", this, "Quorvane_ISO9660JolietFileTree_BuildImage", n, c,
                               CLSID_CJolietImage, error_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  QVX("\nCJolietImage(%p)::Build() : EXITing with success. \n", static_cast<void*>(this));
  built_ = true;
  return S_OK;
}

HRESULT CJolietImage::get_FileSystemHandle(UINT64* v) {
  if (!CheckOutPointer("CJolietImage::get_FileSystemHandle", v, sizeof *v)) return E_POINTER;
  // A 32-bit number stands for the tree: a long is all a Device takes.
  *v = static_cast<UINT64>(static_cast<int64_t>(Handles().Add(tree_)));
  return S_OK;
}

HRESULT CJolietImage::get_ErrorMessage(BSTR* v) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  QVX("\nCJolietImage::get_ErrorMessage() : %s \n", error_.c_str());
  return StringResult("CJolietImage::get_ErrorMessage", error_, v);
}

HRESULT CJolietImage::get_CollisionCallback(IQuorvaneCollisionCallBack** v) {
  if (!CheckOutPointer("CJolietImage::get_CollisionCallback", v, sizeof *v)) return E_POINTER;
  *v = nullptr;
  if (collision_.Empty()) {
    QVX("CJolietImage::get_CollisionCallback() : property was not initialized");
    return S_FALSE;
  }
  return collision_.Get(IID_IQuorvaneCollisionCallBack, reinterpret_cast<void**>(v));
}

HRESULT CJolietImage::put_CollisionCallback(IQuorvaneCollisionCallBack* v) {
  if (v == nullptr || IsBadReadPtr(v, sizeof(void*))) return E_POINTER;
  collision_.Set(v);
  return S_OK;
}

HRESULT CJolietImage::SetBootImage(BSTR bootImageFileName, QVX_MEDIA_TYPE mediaType, unsigned char sectorsToLoad,
                                   VARIANT_BOOL hideNode) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  try {
    error_.clear();
    const std::string file = NarrowFromBstr(bootImageFileName);
    QVX("\nCJolietImage(%p)::SetBootImageFile() : ENTERed for <%s>, %d, %d, %d. \n", static_cast<void*>(this),
        file.c_str(), static_cast<int>(mediaType), sectorsToLoad, hideNode);
    EngineCall c;
    const uint32_t n = Quorvane_ISO9660JolietFileTree_SetBootImage(
        tree_, file.c_str(), 6, static_cast<QV_UCHAR>(mediaType & 0xFF), sectorsToLoad, hideNode != 0, c.message,
        sizeof c.message, &c.systemStatus);
    if (n != EN_SUCCESS)
      return EngineCallFailure("CJolietImage::SetBootImage", this, "Quorvane_ISO9660JolietFileTree_SetBootImage", n,
                               c, CLSID_CJolietImage, error_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CJolietImage::SaveImageToFile(BSTR fileName, IQuorvaneCallBack* callback) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  cancel_ = false;
  std::string file;
  try {
    file = NarrowFromBstr(fileName);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  QVX("\nCJolietImage(%p)::SaveImageToFile() : ENTERed for <%s>, %p", static_cast<void*>(this), file.c_str(),
      static_cast<void*>(callback));
  if (!built_) {
    QVX("\nCJolietImage(%p)::SaveImageToFile() : Image is not built.\n", static_cast<void*>(this));
    error_ = "Image was not built.";
    return FixedError(kImageNotBuilt, CLSID_CJolietImage, "Image is not built");
  }
  ClientSink sink;
  sink.Set(callback);
  EngineCall c;
  // A save after a burn or an earlier save starts at the image's start too.
  const uint32_t n = Quorvane_ISO9660JolietFileTree_SeekToBegin(tree_, c.message, sizeof c.message, &c.systemStatus);
  if (n != EN_SUCCESS) return EngineReadResult(n, c);
  QV_ULONG high = 0;
  const uint64_t total = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree_, &high) | (uint64_t{high} << 32);
  char who[64];
  std::snprintf(who, sizeof who, "CJolietImage(%p)", static_cast<void*>(this));
  return SaveImage(
      who, file, total,
      [&](EngineCall& call, uint32_t count, void* buffer) {
        return Quorvane_ISO9660JolietFileTree_Read(tree_, call.message, sizeof call.message, &call.systemStatus,
                                                   static_cast<QV_LONG>(count), buffer);
      },
      sink, &cancel_);
}

void QUORVANE_CALL CJolietImage::CollisionCallback(QV_ULONG reason, void* context, void* p1, void*) {
  if (reason == CN_FILE_TREE_NAME_COLLISION && context != nullptr && p1 != nullptr)
    static_cast<CJolietImage*>(context)->OnCollision(*static_cast<QUORVANE_NAME_COLLISION*>(p1));
}

void CJolietImage::OnCollision(QUORVANE_NAME_COLLISION& r) {
  QVX("CJolietImage::Callback(): Name collision for ");
  if (!r.m__UCHAR__IsWide) {
    char name[sizeof r.m__UCHAR__Name + 1] = {};
    std::memcpy(name, r.m__UCHAR__Name, sizeof r.m__UCHAR__Name);
    QVX("CJolietImage::Callback(): ISO9660 <%s> -> ", name);
    const std::string renamed = RenameIsoCollision(name, g_isoCollisions);
    std::memset(r.m__UCHAR__Name, 0, sizeof r.m__UCHAR__Name);
    std::memcpy(r.m__UCHAR__Name, renamed.data(), std::min(renamed.size(), sizeof r.m__UCHAR__Name - 1));
    QVX("CJolietImage::Callback(): <%s>\n", renamed.c_str());
    r.m__ULONG__Solution = QVX_NAME_COLLISION_RENAME_NEW;
    return;
  }
  constexpr size_t kUnits = sizeof r.m__UCHAR__Name / 2;
  std::u16string name;
  for (size_t i = 0; i < kUnits; ++i) {
    const char16_t u = static_cast<char16_t>(r.m__UCHAR__Name[2 * i] | (r.m__UCHAR__Name[2 * i + 1] << 8));
    if (u == 0) break;
    name.push_back(u);
  }
  auto narrow = [](const std::u16string& w) {
    std::string out(w.size() * 2 + 1, '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(w.c_str()), static_cast<int>(w.size()),
                                      out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
  };
  QVX("CJolietImage::Callback():\tJoliet <%s> -> ", narrow(name).c_str());
  auto store = [&](const std::u16string& s) {
    std::memset(r.m__UCHAR__Name, 0, sizeof r.m__UCHAR__Name);
    for (size_t i = 0; i < s.size() && i < kUnits - 1; ++i) {
      r.m__UCHAR__Name[2 * i] = static_cast<QV_UCHAR>(s[i] & 0xFF);
      r.m__UCHAR__Name[2 * i + 1] = static_cast<QV_UCHAR>(s[i] >> 8);
    }
  };
  if (!collision_.Empty()) {
    BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(name.data()), static_cast<UINT>(name.size()));
    BSTR oldPath = BstrFromAnsi(r.m__PCHAR__ExistingPath ? r.m__PCHAR__ExistingPath : "");
    BSTR newPath = BstrFromAnsi(r.m__PCHAR__NewPath ? r.m__PCHAR__NewPath : "");
    long solution = QVX_NAME_COLLISION_SKIP_NEW;
    collision_.Collision(oldPath, newPath, &b, &solution);
    r.m__ULONG__Solution = static_cast<QV_ULONG>(solution);
    if (solution == QVX_NAME_COLLISION_RENAME_NEW && b != nullptr) {
      std::u16string chosen(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
      // A client that asks for a new name and gives none (a script whose
      // by-reference argument does not come back) gets the built-in one.
      if (chosen == name) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_s(&local, &now);
        chosen = RenameJolietCollision(name, local);
      }
      store(chosen);
      QVX("CJolietImage::Callback():\tResulting name <%s>, solution = %d\n", narrow(chosen).c_str(),
          static_cast<int>(solution));
    }
    SysFreeString(b);
    SysFreeString(oldPath);
    SysFreeString(newPath);
    return;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  const std::u16string renamed = RenameJolietCollision(name, local);
  store(renamed);
  QVX("CJolietImage::Callback():\t<%s>\n", narrow(renamed).c_str());
  r.m__ULONG__Solution = QVX_NAME_COLLISION_RENAME_NEW;
}

// ---- Node ---------------------------------------------------------------

HRESULT CNode::Make(IUnknown* image, QV_HANDLE tree, QV_HANDLE node, std::recursive_mutex* lock, std::string* error,
                    const char* description, INode** out) {
  INode* itf = nullptr;
  const HRESULT hr = CNode::Create(nullptr, IID_INode, reinterpret_cast<void**>(&itf));
  if (FAILED(hr)) {
    QVX("\nCNode::Make() : CoCreateInstance() failed with %d\n", static_cast<int>(hr));
    return FixedError(hr, CLSID_CNode, description);
  }
  auto* n = static_cast<CNode*>(itf);
  n->node_ = node;
  n->tree_ = tree;
  n->lock_ = lock;
  n->error_ = error;
  n->image_ = image;
  if (image != nullptr) image->AddRef();
  *out = itf;
  return S_OK;
}

void CNode::FinalRelease() {
  if (image_ != nullptr) image_->Release();
  image_ = nullptr;
}

HRESULT CNode::Relative(const char* method, const char* missing, const char* description, int which, INode** v) {
  if (!CheckOutPointer(method, v, sizeof *v)) return E_POINTER;
  *v = nullptr;
  Lock lock = Hold();
  QV_HANDLE target = nullptr;
  if (tree_ != nullptr && node_ != nullptr) {
    if (which == 0) target = Quorvane_ISO9660JolietFileTree_GetParent(tree_, node_);
    else if (which == 1) target = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree_, node_);
    else target = Quorvane_ISO9660JolietFileTree_GetNextKid(tree_, node_);
  }
  if (target == nullptr) {
    QVX("\nCNode(%p)::%s() : No %s object ", static_cast<void*>(this), method + 7, missing);
    return S_FALSE;
  }
  return Make(image_, tree_, target, lock_, error_, description, v);
}

HRESULT CNode::get_Parent(INode** v) {
  return Relative("CNode::get_Parent", "parent", "Could not create an instance for Parent Node object", 0, v);
}
HRESULT CNode::get_FirstKid(INode** v) {
  return Relative("CNode::get_FirstKid", "FirstKid", "Could not create an instance for FirstKid Node object", 1, v);
}
HRESULT CNode::get_NextKid(INode** v) {
  return Relative("CNode::get_NextKid", "NextKid", "Could not create an instance for NextKid Node object", 2, v);
}

HRESULT CNode::get_FileSystemImage(IUnknown** v) {
  if (!CheckOutPointer("CNode::get_FileSystemImage", v, sizeof *v)) return E_POINTER;
  *v = image_;
  if (image_ != nullptr) image_->AddRef();
  return S_OK;
}

HRESULT CNode::Remove() {
  Lock lock = Hold();
  if (tree_ != nullptr && node_ != nullptr &&
      Quorvane_ISO9660JolietFileTree_Remove(tree_, &node_) == EN_SUCCESS) {
    node_ = nullptr;
    tree_ = nullptr;
    return S_OK;
  }
  SetError("Error occured when deleting the Node object");
  QVX("\nCNode(%p)::Remove() : Error occured when deleting the Node object\n", static_cast<void*>(this));
  return E_FAIL;
}

HRESULT CNode::get_FileSizeInBytes(UINT64* v) {
  if (!CheckOutPointer("CNode::get_FileSizeInBytes", v, sizeof *v)) return E_POINTER;
  Lock lock = Hold();
  QV_ULONGLONG size = 0;
  const uint32_t n = Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs(tree_, node_, &size);
  *v = size;
  if (n == EN_SUCCESS) return S_OK;
  QVX("\nCNode(%p)::get_FileSizeInBytes(): exception %ld\n", static_cast<void*>(this), static_cast<long>(n));
  SetError("Exception raised by Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs");
  return FixedError(static_cast<HRESULT>(0x800A0200u + n), CLSID_CNode, Quorvane_GetExceptionText(n));
}

HRESULT CNode::Name(const char* method, int which, BSTR* v) {
  if (!CheckOutPointer(method, v, sizeof *v)) return E_POINTER;
  Lock lock = Hold();
  char names[3][kNameSize] = {};
  if (tree_ != nullptr && node_ != nullptr)
    Quorvane_ISO9660JolietFileTree_GetNames(tree_, node_, names[0], names[1], names[2]);
  names[which][kNameSize - 1] = '\0';
  return StringResult(method, names[which], v);
}

HRESULT CNode::put_ImageLongName(BSTR v) {
  Lock lock = Hold();
  try {
    const std::string name = NarrowFromBstr(v);
    if (Quorvane_ISO9660JolietFileTree_SetNames(tree_, node_, name.c_str(), "") != EN_SUCCESS) {
      SetError("Exception raised by Quorvane_ISO9660JolietFileTree_SetNames");
      return E_FAIL;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CNode::get_Attributes(ULONG* v) {
  if (!CheckOutPointer("CNode::get_Attributes", v, sizeof *v)) return E_POINTER;
  Lock lock = Hold();
  *v = Quorvane_ISO9660JolietFileTree_GetAttributes(tree_, node_);
  return S_OK;
}

HRESULT CNode::get_DateTime(INodeDateTime** v) {
  if (!CheckOutPointer("CNode::get_DateTime", v, sizeof *v)) return E_POINTER;
  *v = nullptr;
  INodeDateTime* itf = nullptr;
  HRESULT hr = CNodeDateTime::Create(nullptr, IID_INodeDateTime, reinterpret_cast<void**>(&itf));
  if (FAILED(hr)) return FixedError(hr, CLSID_CNode, "Could not create an instance for NodeDateTime object");
  Lock lock = Hold();
  if (tree_ != nullptr && node_ != nullptr) {
    QV_SYSTEMTIME t{};
    const uint32_t n = Quorvane_ISO9660JolietFileTree_GetNodeSystemTime(tree_, node_, &t);
    if (n != EN_SUCCESS) {
      itf->Release();
      return FixedError(static_cast<HRESULT>(0x800A0200u + n), CLSID_CNode, Quorvane_GetExceptionText(n));
    }
    static_cast<CNodeDateTime*>(itf)->Set(t);
  }
  *v = itf;
  return S_OK;
}

HRESULT CNode::Add(const char* method, const char* path, const char* newName, INode** v) {
  if (error_) error_->clear();
  if (!CheckOutPointer(method, v, sizeof *v)) return E_POINTER;
  *v = nullptr;
  Lock lock = Hold();
  if (tree_ == nullptr) return E_FAIL;
  EngineCall c;
  QV_HANDLE parent = node_, added = nullptr;
  const uint32_t n = Quorvane_ISO9660JolietFileTree_Add(tree_, c.message, sizeof c.message, &c.systemStatus, path,
                                                        newName, 2, &parent, &added);
  if (n != EN_SUCCESS) {
    std::string scratch;
    return EngineCallFailure(method, this, "Quorvane_ISO9660JolietFileTree_Add", n, c, CLSID_CNode,
                             error_ ? *error_ : scratch);
  }
  // The answer is the folder's last kid: the item added, or the last one
  // there when a collision answer dropped the new item.
  QV_HANDLE kid = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree_, parent);
  for (QV_HANDLE next = kid; next != nullptr; next = Quorvane_ISO9660JolietFileTree_GetNextKid(tree_, kid)) kid = next;
  if (kid == nullptr) {
    SetError("Node not found!");
    QVX("\n%s(%p) : Node not found!\n", method, static_cast<void*>(this));
    return E_FAIL;
  }
  return Make(image_, tree_, kid, lock_, error_, "Could not create an instance for LastKid Node object", v);
}

HRESULT CNode::CreateNewFolder(BSTR folderName, INode** v) {
  try {
    const std::string name = NarrowFromBstr(folderName);
    return Add("CNode::CreateNewFolder", nullptr, name.c_str(), v);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNode::AddFolder(BSTR folderName, BSTR absoluteFolderName, INode** v) {
  try {
    const std::string name = NarrowFromBstr(folderName), path = NarrowFromBstr(absoluteFolderName);
    return Add("CNode::AddFolder", path.empty() ? nullptr : path.c_str(), name.empty() ? nullptr : name.c_str(), v);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNode::AddFile(BSTR fileName, BSTR absoluteFileName, INode** v) {
  try {
    const std::string name = NarrowFromBstr(fileName), path = NarrowFromBstr(absoluteFileName);
    return Add("CNode::AddFile", path.c_str(), name.empty() ? nullptr : name.c_str(), v);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// ---- NodeDateTime -------------------------------------------------------

HRESULT CNodeDateTime::FinalConstruct() {
  QVX("\nCNodeDateTime(%p)::FinalConstruct()\n", static_cast<void*>(this));
  return S_OK;
}
void CNodeDateTime::FinalRelease() { QVX("\nCNodeDateTime(%p)::FinalRelease()\n", static_cast<void*>(this)); }

void CNodeDateTime::Set(const QV_SYSTEMTIME& t) {
  year_ = t.wYear, month_ = t.wMonth, day_ = t.wDay, hour_ = t.wHour, minute_ = t.wMinute, second_ = t.wSecond;
  QVX("\nCNodeDateTime(%p) : %04d-%02d-%02d %02d:%02d:%02d\n", static_cast<void*>(this), year_, month_, day_, hour_,
      minute_, second_);
}

HRESULT CNodeDateTime::Get(const char* method, USHORT field, USHORT* v) {
  if (!CheckOutPointer(method, v, sizeof *v)) return E_POINTER;
  *v = field;
  return S_OK;
}

HRESULT CNodeDateTime::get_Month(short* v) {
  if (!CheckOutPointer("CNodeDateTime::get_Month", v, sizeof *v)) return E_POINTER;
  *v = static_cast<short>(month_);
  return S_OK;
}

}  // namespace qv::control
