// Class objects: the standard factory of each served class, and the small
// factory that hands out the one live Devices object.
#include <mutex>

#include "control/trace.h"
#include "control/win32/classes.h"
#include "control/win32/com_object.h"
#include "control/win32/engine_call.h"
#include "control/win32/server.h"
#include "quorvane.h"

namespace qv::control {

std::atomic<IUnknown*> g_pDevices{nullptr};

namespace {

// IUnknown and LockServer are common to every factory; only what
// CreateInstance hands out differs.
class FactoryBase : public IClassFactory {
 public:
  virtual ~FactoryBase() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ModuleLock() : ModuleUnlock();
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

class ClassFactory final : public FactoryBase {
 public:
  explicit ClassFactory(const ServerClass& c) : class_(c) {}
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    return class_.create(outer, iid, ppv);
  }

 private:
  const ServerClass& class_;
};

// While a Devices object lives, every request for the class gets it.
class CDevicesFactory final : public FactoryBase {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IUnknown* devices = g_pDevices.load();
    if (devices == nullptr) {
      QVX("CDevicesFactory() : g_pDevices=%p\n", static_cast<void*>(devices));
      return E_FAIL;
    }
    const HRESULT hr = devices->QueryInterface(IID_IDevices, ppv);
    QVX("CDevicesFactory() : hr=%08lX, p=%p\n", static_cast<unsigned long>(hr), *ppv);
    return hr;
  }
};

std::mutex g_startMutex;
bool g_engineStarted = false;

HRESULT HandOut(IClassFactory* factory, REFIID iid, void** ppv) {
  factory->AddRef();
  const HRESULT hr = factory->QueryInterface(iid, ppv);
  factory->Release();  // deletes it when the interface was refused
  return hr;
}

}  // namespace

HRESULT StartEngineOnce(REFCLSID forClass) {
  std::lock_guard<std::mutex> lock(g_startMutex);
  if (g_engineStarted) return S_OK;
  const uint32_t number = Quorvane_UpStartEx();
  if (number != EN_SUCCESS) return EngineErrorResult(number, 0, forClass);
  g_engineStarted = true;
  return S_OK;
}

void ForgetEngineStart() {
  std::lock_guard<std::mutex> lock(g_startMutex);
  g_engineStarted = false;
}

HRESULT GetServerClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (const HRESULT hr = StartEngineOnce(clsid); FAILED(hr)) return hr;
  if (IsEqualCLSID(clsid, CLSID_CDevices) && g_pDevices.load() != nullptr) {
    auto* factory = new (std::nothrow) CDevicesFactory;
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = HandOut(factory, iid, ppv);
    QVX("DllGetClassObject(<IDevices>) : hr=%08lX, p=%p\n", static_cast<unsigned long>(hr), *ppv);
    return hr;
  }
  const ServerClass* c = FindServerClass(clsid);
  if (c == nullptr || c->create == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory(*c);
  if (factory == nullptr) return E_OUTOFMEMORY;
  return HandOut(factory, iid, ppv);
}

}  // namespace qv::control
