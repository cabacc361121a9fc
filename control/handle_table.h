// Engine handles that cross the automation boundary as 32-bit values.
// On x64 an engine object's address does not fit in a long, so the
// automation layer hands out small numbers instead and maps them back.
#pragma once
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace qv::control {

class HandleTable {
 public:
  // The number standing for object (registering it on first use); 0 for
  // nullptr. The same object keeps its number until it is removed.
  int32_t Add(void* object);
  // The object behind a number, or nullptr for a number not handed out.
  void* Find(int32_t handle) const;
  // Forgets an object (when it is destroyed); unknown objects are ignored.
  void Remove(void* object);
  size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<int32_t, void*> objects_;
  std::unordered_map<void*, int32_t> handles_;
  int32_t next_ = 0;
};

// The table of the process.
HandleTable& Handles();

}  // namespace qv::control
