// Calls into the client's callback objects. A compiled client hands over
// the callback interface itself; a script hands over a plain IDispatch
// (VBScript class instances even answer names only through IDispatchEx),
// so a sink falls back to calling the member by name.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <mutex>

namespace qv::control {

class ClientSink {
 public:
  ClientSink() = default;
  ~ClientSink() { Set(nullptr); }
  ClientSink(const ClientSink&) = delete;
  ClientSink& operator=(const ClientSink&) = delete;

  // Replaces the held object (null clears); reference counted.
  void Set(IUnknown* sink);
  // The held object queried for iid (null if none), reference added.
  HRESULT Get(REFIID iid, void** out) const;
  bool Empty() const;

  // IQuorvaneCallBack.ProgressCallBack / IQuorvaneNotificationCallBack.
  // NotifyCallBack; the result is ignored by every caller.
  void Progress(long percent, long timeRemaining) const;
  void Notify() const;
  // IQuorvaneCollisionCallBack.OnCollision: *name may be replaced.
  HRESULT Collision(BSTR oldPath, BSTR newPath, BSTR* name, long* solution) const;

 private:
  IUnknown* Hold() const;  // the object with a reference added, or null
  mutable std::mutex mutex_;
  IUnknown* sink_ = nullptr;
};

// The object a script assigns to a callback property: the single
// argument of a put when it is an object (VT_DISPATCH or VT_UNKNOWN, null
// for Nothing). The type library's coercion would ask a script object for
// the callback interface, which it does not have.
bool ScriptObjectArgument(WORD flags, const DISPPARAMS* params, IUnknown** object);

// Invokes member name of a script object with args (in call order);
// result may be null.
HRESULT InvokeByName(IUnknown* object, const wchar_t* name, VARIANT* args, UINT count, VARIANT* result);

}  // namespace qv::control
