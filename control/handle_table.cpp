#include "control/handle_table.h"

namespace qv::control {

int32_t HandleTable::Add(void* object) {
  if (object == nullptr) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto it = handles_.find(object); it != handles_.end()) return it->second;
  // Positive numbers only, never 0; a number is reused only after the
  // counter wraps, and then only when it is free.
  do {
    next_ = next_ == INT32_MAX ? 1 : next_ + 1;
  } while (objects_.count(next_) != 0);
  objects_[next_] = object;
  handles_[object] = next_;
  return next_;
}

void* HandleTable::Find(int32_t handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second;
}

void HandleTable::Remove(void* object) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = handles_.find(object);
  if (it == handles_.end()) return;
  objects_.erase(it->second);
  handles_.erase(it);
}

size_t HandleTable::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_.size();
}

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

}  // namespace qv::control
