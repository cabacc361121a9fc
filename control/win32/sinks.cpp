#include "control/win32/sinks.h"

#include <dispex.h>

#include <algorithm>
#include <vector>

#include "control/win32/com_object.h"

namespace qv::control {

void ClientSink::Set(IUnknown* sink) {
  if (sink != nullptr) sink->AddRef();
  IUnknown* old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = sink_;
    sink_ = sink;
  }
  if (old != nullptr) old->Release();
}

IUnknown* ClientSink::Hold() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sink_ != nullptr) sink_->AddRef();
  return sink_;
}

HRESULT ClientSink::Get(REFIID iid, void** out) const {
  *out = nullptr;
  IUnknown* s = Hold();
  if (s == nullptr) return S_OK;
  // A script object is not the interface itself: hand back what was given.
  if (FAILED(s->QueryInterface(iid, out))) {
    *out = s;
    return S_OK;
  }
  s->Release();
  return S_OK;
}

bool ClientSink::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sink_ == nullptr;
}

bool ScriptObjectArgument(WORD flags, const DISPPARAMS* params, IUnknown** object) {
  if (!(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) || params == nullptr || params->cArgs != 1)
    return false;
  const VARIANT& v = params->rgvarg[0];
  switch (V_VT(&v)) {
    case VT_DISPATCH: *object = V_DISPATCH(&v); return true;
    case VT_UNKNOWN: *object = V_UNKNOWN(&v); return true;
    case VT_DISPATCH | VT_BYREF: *object = *V_DISPATCHREF(&v); return true;
    case VT_UNKNOWN | VT_BYREF: *object = *V_UNKNOWNREF(&v); return true;
    default: return false;
  }
}

HRESULT InvokeByName(IUnknown* object, const wchar_t* name, VARIANT* args, UINT count, VARIANT* result) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  IDispatch* disp = nullptr;
  HRESULT hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp));
  if (FAILED(hr)) return hr;
  hr = disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    IDispatchEx* ex = nullptr;
    if (SUCCEEDED(object->QueryInterface(__uuidof(IDispatchEx), reinterpret_cast<void**>(&ex)))) {
      BSTR b = SysAllocString(name);
      hr = b ? ex->GetDispID(b, fdexNameCaseInsensitive, &id) : E_OUTOFMEMORY;
      SysFreeString(b);
      ex->Release();
    }
  }
  if (SUCCEEDED(hr)) {
    std::vector<VARIANT> reversed(args, args + count);  // DISPPARAMS hold the last argument first
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.data(), nullptr, count, 0};
    hr = disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
  }
  disp->Release();
  return hr;
}

void ClientSink::Progress(long percent, long timeRemaining) const {
  IUnknown* s = Hold();
  if (s == nullptr) return;
  IQuorvaneCallBack* cb = nullptr;
  if (SUCCEEDED(s->QueryInterface(IID_IQuorvaneCallBack, reinterpret_cast<void**>(&cb)))) {
    cb->ProgressCallBack(percent, timeRemaining);
    cb->Release();
  } else {
    VARIANT args[2];
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = percent;
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = timeRemaining;
    InvokeByName(s, L"ProgressCallBack", args, 2, nullptr);
  }
  s->Release();
}

void ClientSink::Notify() const {
  IUnknown* s = Hold();
  if (s == nullptr) return;
  IQuorvaneNotificationCallBack* cb = nullptr;
  if (SUCCEEDED(s->QueryInterface(IID_IQuorvaneNotificationCallBack, reinterpret_cast<void**>(&cb)))) {
    cb->NotifyCallBack();
    cb->Release();
  } else {
    InvokeByName(s, L"NotifyCallBack", nullptr, 0, nullptr);
  }
  s->Release();
}

HRESULT ClientSink::Collision(BSTR oldPath, BSTR newPath, BSTR* name, long* solution) const {
  IUnknown* s = Hold();
  if (s == nullptr) return E_POINTER;
  HRESULT hr;
  IQuorvaneCollisionCallBack* cb = nullptr;
  if (SUCCEEDED(s->QueryInterface(IID_IQuorvaneCollisionCallBack, reinterpret_cast<void**>(&cb)))) {
    QVX_NAME_COLLISION_SOLUTION answer = QVX_NAME_COLLISION_SKIP_NEW;
    hr = cb->OnCollision(oldPath, newPath, name, &answer);
    *solution = answer;
    cb->Release();
  } else {
    VARIANT args[3];
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = oldPath;
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = newPath;
    V_VT(&args[2]) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&args[2]) = name;
    VARIANT result;
    VariantInit(&result);
    hr = InvokeByName(s, L"OnCollision", args, 3, &result);
    if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4))) *solution = V_I4(&result);
    VariantClear(&result);
  }
  s->Release();
  return hr;
}

}  // namespace qv::control
