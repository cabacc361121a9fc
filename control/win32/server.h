// The server module: class objects, the Devices singleton and the engine
// start-up that the first class-object request performs.
#pragma once
#include <windows.h>

#include <atomic>

namespace qv::control {

// The live Devices object, while there is one: further requests for the
// Devices class hand out this same object.
extern std::atomic<IUnknown*> g_pDevices;

// Starts the engine once per process; S_OK or the automation error of
// the start-up's exception number (its error object names forClass).
HRESULT StartEngineOnce(REFCLSID forClass);
// Lets the next request start the engine again (tests).
void ForgetEngineStart();

// The class object of a class (standard factory), or of the live Devices.
HRESULT GetServerClassObject(REFCLSID clsid, REFIID iid, void** ppv);

// Applies (or removes) every registration script and the type library.
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace qv::control
