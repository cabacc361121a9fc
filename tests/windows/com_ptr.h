// Interface pointers and strings released at scope end, and the error
// object a failed call leaves, for the in-process tests and the compiled
// client alike.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

template <class T>
struct Ptr {
  T* p = nullptr;
  Ptr() = default;
  Ptr(const Ptr&) = delete;
  ~Ptr() { Reset(); }
  void Reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T** operator&() { return &p; }
  void** Out() { return reinterpret_cast<void**>(&p); }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

struct Bstr {
  BSTR b;
  explicit Bstr(const std::wstring& s) : b(SysAllocString(s.c_str())) {}
  ~Bstr() { SysFreeString(b); }
};

// A client's callback object on the test's stack: reference counts and
// IDispatch do nothing, the server calls it through the vtable.
template <class... I>
struct StackSink : I... {
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

// Wide text as ASCII, '?' for the rest.
inline std::string Narrow(const wchar_t* w) {
  std::string s;
  for (; w && *w; ++w) s += static_cast<char>(*w < 128 ? *w : '?');
  return s;
}

// The error object the calling thread holds, as "source|description" with
// "|guid" when it names an interface, or "(none)".
inline std::string TakeErrorObject() {
  Ptr<IErrorInfo> info;
  if (GetErrorInfo(0, &info.p) != S_OK || !info) return "(none)";
  BSTR source = nullptr, description = nullptr;
  GUID guid;
  info->GetSource(&source);
  info->GetDescription(&description);
  info->GetGUID(&guid);
  std::string s = Narrow(source) + "|" + Narrow(description) + (IsEqualGUID(guid, GUID_NULL) ? "" : "|guid");
  SysFreeString(source);
  SysFreeString(description);
  return s;
}
