#include "files/image_handles.h"

#include <mutex>
#include <unordered_map>

namespace {

struct Registry {
  std::mutex lock;
  std::unordered_map<const void*, CQuorvane_ImageSource*> sources;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void QuorvaneI_RegisterImageHandle(const void* handle, CQuorvane_ImageSource* source) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.sources[handle] = source;
}

void QuorvaneI_UnregisterImageHandle(const void* handle) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.sources.erase(handle);
}

CQuorvane_ImageSource* QuorvaneI_ImageOfHandle(const void* handle) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  const auto it = r.sources.find(handle);
  return it == r.sources.end() ? nullptr : it->second;
}
