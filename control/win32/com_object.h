// The frame every automation object stands on: reference counting with
// aggregation, one IDispatch per dual interface driven by the server's own
// type library, ISupportErrorInfo and IProvideClassInfo.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <string>

#include "Quorvane.h"  // made by widl from Quorvane.idl

namespace qv::control {

// Live objects plus server locks; the module may unload at 0.
void ModuleLock();
void ModuleUnlock();
long ModuleLockCount();

// The type information of an interface or class from the server's type
// library (loaded once from the module's TYPELIB resource). AddRef'd.
HRESULT GetServerTypeInfo(REFGUID guid, ITypeInfo** info);
// Lets go of the type library (when the module may unload).
void ReleaseServerTypeLib();
// The full path of the module that holds the server.
std::wstring ServerModulePath();

// The pointer check of every out parameter: a write probe of size bytes.
// A failed probe traces "\n<method>(): Invalid pointer\n".
bool CheckOutPointer(const char* method, void* pointer, size_t size);

// A BSTR argument in the process ANSI code page (a null BSTR is "").
// Throws std::bad_alloc when memory runs out.
std::string NarrowFromBstr(BSTR text);

// A string result: a new BSTR of text (ANSI code page) in *out after the
// pointer check; E_OUTOFMEMORY when the BSTR cannot be made.
HRESULT StringResult(const char* method, const std::string& text, BSTR* out);

// IDispatch for one dual interface, over that interface's type information.
template <class Itf>
class DualInterface : public Itf {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetServerTypeInfo(__uuidof(Itf), info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = GetServerTypeInfo(__uuidof(Itf), &info);
    if (FAILED(hr)) return hr;
    hr = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = GetServerTypeInfo(__uuidof(Itf), &info);
    if (FAILED(hr)) return hr;
    hr = DispInvoke(static_cast<Itf*>(this), info, id, flags, params, result, exception, argError);
    // Scripts assign objects with "Set x.Prop = obj" (a put by reference);
    // the properties that take objects are plain puts.
    if (hr == DISP_E_MEMBERNOTFOUND && flags == DISPATCH_PROPERTYPUTREF)
      hr = DispInvoke(static_cast<Itf*>(this), info, id, DISPATCH_PROPERTYPUT, params, result, exception, argError);
    info->Release();
    return hr;
  }
};

// Derived supplies ClassId(), and may supply FinalConstruct(),
// FinalRelease() and QueryExtra(iid) for interfaces outside the type
// library. Default is the default interface; Others follow it.
template <class Derived, class Default, class... Others>
class ComObject : public DualInterface<Default>,
                  public DualInterface<Others>...,
                  public ISupportErrorInfo,
                  public IProvideClassInfo {
 public:
  // The class object's CreateInstance. With an outer unknown only
  // IID_IUnknown may be asked for.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    Derived* object = new (std::nothrow) Derived();
    if (object == nullptr) return E_OUTOFMEMORY;
    object->outer_ = outer;
    HRESULT hr;
    try {
      hr = object->FinalConstruct();
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {  // nothing thrown leaves the server
      hr = E_FAIL;
    }
    if (FAILED(hr)) {
      object->FinalRelease();
      delete object;
      return hr;
    }
    object->inner_.AddRef();
    hr = object->InnerQueryInterface(iid, ppv);
    object->inner_.Release();  // deletes the object when the query failed
    return hr;
  }

  // IUnknown of every interface: the outer object's when aggregated.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    return outer_ ? outer_->QueryInterface(iid, ppv) : InnerQueryInterface(iid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_ ? outer_->AddRef() : inner_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_ ? outer_->Release() : inner_.Release(); }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, __uuidof(Default)) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    return GetServerTypeInfo(Derived::ClassId(), info);
  }

  // Hooks Derived may hide.
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}
  void* QueryExtra(REFIID) { return nullptr; }

  // The object's own reference count, for the traces that show it.
  ULONG References() const { return inner_.refs.load(); }

 protected:
  ComObject() { ModuleLock(); }
  virtual ~ComObject() { ModuleUnlock(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  bool Aggregated() const { return outer_ != nullptr; }

 private:
  // The non-delegating unknown: the object's own identity and count.
  struct Inner final : IUnknown {
    ComObject* self;
    std::atomic<ULONG> refs{0};
    explicit Inner(ComObject* s) : self(s) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
      return self->InnerQueryInterface(iid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
      const ULONG n = --refs;
      if (n == 0) {
        refs = 1;  // no resurrection while tearing down
        Derived* d = static_cast<Derived*>(self);
        d->FinalRelease();
        delete d;
      }
      return n;
    }
  };

  template <class Itf>
  bool Match(REFIID iid, void** p) {
    if (!IsEqualIID(iid, __uuidof(Itf))) return false;
    *p = static_cast<Itf*>(this);
    return true;
  }

  HRESULT InnerQueryInterface(REFIID iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    void* p = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      if (outer_ != nullptr) {
        *ppv = &inner_;
        inner_.AddRef();
        return S_OK;
      }
      p = static_cast<IUnknown*>(static_cast<DualInterface<Default>*>(this));
    } else if (IsEqualIID(iid, IID_IDispatch) || Match<Default>(iid, &p) || (Match<Others>(iid, &p) || ...)) {
      if (p == nullptr) p = static_cast<Default*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      p = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(iid, IID_IProvideClassInfo)) {
      p = static_cast<IProvideClassInfo*>(this);
    } else {
      p = static_cast<Derived*>(this)->QueryExtra(iid);
    }
    *ppv = p;
    if (p == nullptr) return E_NOINTERFACE;
    static_cast<IUnknown*>(p)->AddRef();
    return S_OK;
  }

  IUnknown* outer_ = nullptr;
  Inner inner_{this};
};

}  // namespace qv::control
