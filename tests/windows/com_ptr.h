// An interface pointer released at scope end, for the in-process tests and
// the compiled client alike.
#pragma once

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
