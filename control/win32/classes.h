// The eleven creatable classes of the server. A class without a creator
// is declared in the type library but not served yet: it is neither
// registered nor handed out by DllGetClassObject.
#pragma once
#include <windows.h>

#include <span>
#include <string>

namespace qv::control {

struct ServerClass {
  const CLSID* clsid;
  const char* name;    // "CDevice"; the friendly name is "<name> Object"
  const char* progId;  // "Quorvane.Device.1"
  HRESULT (*create)(IUnknown* outer, REFIID iid, void** ppv);
};

std::span<const ServerClass> ServerClasses();
const ServerClass* FindServerClass(REFCLSID clsid);
// "Quorvane.Device.1" -> "Quorvane.Device".
std::string VersionIndependentProgId(const ServerClass& c);

}  // namespace qv::control
