// The write pipeline's memory: queues of cache buffers and the pool they
// come from. The reader thread fills buffers taken from the pool and queues
// them; the write loop takes them in order, writes them and gives them back.
#pragma once
#include <cstdint>
#include <mutex>

#include "core/exception.h"

// The link an element carries to sit in one queue at a time.
struct CQuorvane_FifoQueueLink {
  CQuorvane_FifoQueueLink* m__PLINK__Next = nullptr;
  CQuorvane_FifoQueueLink* m__PLINK__Previous = nullptr;
  void* m__PVOID__Self = nullptr;  // the element object
};

// An intrusive doubly linked list with a sentinel head. It never owns its
// elements.
class CQuorvane_FifoQueue {
 public:
  CQuorvane_FifoQueue();
  virtual ~CQuorvane_FifoQueue();
  CQuorvane_FifoQueue(const CQuorvane_FifoQueue&) = delete;
  CQuorvane_FifoQueue& operator=(const CQuorvane_FifoQueue&) = delete;

  virtual void AddTail(CQuorvane_FifoQueueLink* element);
  virtual void AddHead(CQuorvane_FifoQueueLink* element);
  // The oldest element, or nullptr when the queue is empty.
  virtual CQuorvane_FifoQueueLink* RemoveHead();
  // Empties the queue; the elements themselves are left alone.
  virtual void RemoveAll();

  bool IsEmpty() const { return m__LINK__Head.m__PLINK__Next == &m__LINK__Head; }

 private:
  CQuorvane_FifoQueueLink m__LINK__Head;
};

// The same, safe for several threads. The section is recursive so that
// RemoveAll holds it for the whole drain while calling RemoveHead.
class CQuorvane_LockedFifoQueue : public CQuorvane_FifoQueue {
 public:
  void AddTail(CQuorvane_FifoQueueLink* element) override;
  void AddHead(CQuorvane_FifoQueueLink* element) override;
  CQuorvane_FifoQueueLink* RemoveHead() override;
  void RemoveAll() override;

 private:
  std::recursive_mutex m__CRITICAL_SECTION__Lock;
};

// One cache buffer: page-aligned memory and what it holds.
class CQuorvane_CacheObject {
 public:
  // Throws exception 4 when the memory cannot be had.
  CQuorvane_CacheObject(int32_t index, uint32_t capacity);
  virtual ~CQuorvane_CacheObject();
  CQuorvane_CacheObject(const CQuorvane_CacheObject&) = delete;
  CQuorvane_CacheObject& operator=(const CQuorvane_CacheObject&) = delete;

  // Forgets what the buffer held; its bytes stay as they are.
  virtual void Reset();

  static CQuorvane_CacheObject* FromLink(CQuorvane_FifoQueueLink* link) {
    return link ? static_cast<CQuorvane_CacheObject*>(link->m__PVOID__Self) : nullptr;
  }

  int32_t m__LONG__Index;
  CQuorvane_FifoQueueLink m__LINK__Link;
  bool m__BOOLEAN__IsEndMarker = false;
  bool m__BOOLEAN__IsError = false;
  CQuorvane_Exception* m__PCQuorvane_Exception__Exception = nullptr;  // goes to whoever takes the error
  uint32_t m__ULONG__Capacity;
  uint32_t m__ULONG__DataBytes = 0;
  uint32_t m__ULONG__Blocks = 0;
  uint8_t* m__PUCHAR__Buffer = nullptr;
};

// The pool of free cache objects. It makes them all at once and keeps
// them for its whole life; Refill puts every one back in the free queue.
class CQuorvane_CacheManager : public CQuorvane_LockedFifoQueue {
 public:
  static constexpr int32_t kMaximumObjects = 4096;

  // Throws exception 4 when an object cannot be made (none is left behind).
  CQuorvane_CacheManager(int32_t count, uint32_t capacity);
  ~CQuorvane_CacheManager() override;

  // Empties the free queue, then queues every object in index order.
  void Refill();
  // Resets an object and puts it back in the free queue.
  void Release(CQuorvane_CacheObject* object);

  int32_t GetCount() const { return m__LONG__Count; }
  uint32_t GetCapacity() const { return m__ULONG__Capacity; }
  CQuorvane_CacheObject* GetObject(int32_t index) const { return m__PCQuorvane_CacheObject__Objects[index]; }

 private:
  void DestroyObjects();

  CQuorvane_CacheObject* m__PCQuorvane_CacheObject__Objects[kMaximumObjects] = {};
  int32_t m__LONG__Count = 0;
  uint32_t m__ULONG__Capacity;
};
