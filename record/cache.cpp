#include "record/cache.h"

#include <new>

#include "core/log.h"

namespace {

constexpr std::align_val_t kPageAlignment{4096};

uint32_t Pointer32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Links element in between two neighbours of the ring; a null element is
// logged as the caller's failure and left out.
void LinkBetween(const char* method, CQuorvane_FifoQueueLink* element, CQuorvane_FifoQueueLink* previous,
                 CQuorvane_FifoQueueLink* next) {
  if (element == nullptr) {
    QuorvaneI_Log("CQuorvane_FifoQueue::%s(): EXITing with failure, pointer is NULL\n", method);
    return;
  }
  element->m__PLINK__Previous = previous;
  element->m__PLINK__Next = next;
  previous->m__PLINK__Next = element;
  next->m__PLINK__Previous = element;
}

}  // namespace

CQuorvane_FifoQueue::CQuorvane_FifoQueue() {
  m__LINK__Head.m__PLINK__Next = &m__LINK__Head;
  m__LINK__Head.m__PLINK__Previous = &m__LINK__Head;
}

CQuorvane_FifoQueue::~CQuorvane_FifoQueue() {
  if (!IsEmpty())
    QuorvaneI_Log("CQuorvane_FifoQueue::~CQuorvane_FifoQueue(): WARNING! Queue 0x%08X is not empty\n", Pointer32(this));
}

void CQuorvane_FifoQueue::AddTail(CQuorvane_FifoQueueLink* element) {
  LinkBetween("AddTail", element, m__LINK__Head.m__PLINK__Previous, &m__LINK__Head);
}

void CQuorvane_FifoQueue::AddHead(CQuorvane_FifoQueueLink* element) {
  LinkBetween("AddHead", element, &m__LINK__Head, m__LINK__Head.m__PLINK__Next);
}

CQuorvane_FifoQueueLink* CQuorvane_FifoQueue::RemoveHead() {
  if (IsEmpty()) return nullptr;
  CQuorvane_FifoQueueLink* first = m__LINK__Head.m__PLINK__Next;
  m__LINK__Head.m__PLINK__Next = first->m__PLINK__Next;
  first->m__PLINK__Next->m__PLINK__Previous = &m__LINK__Head;
  first->m__PLINK__Next = first->m__PLINK__Previous = nullptr;
  return first;
}

void CQuorvane_FifoQueue::RemoveAll() {
  while (RemoveHead() != nullptr) {
  }
}

void CQuorvane_LockedFifoQueue::AddTail(CQuorvane_FifoQueueLink* element) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__Lock);
  CQuorvane_FifoQueue::AddTail(element);
}

void CQuorvane_LockedFifoQueue::AddHead(CQuorvane_FifoQueueLink* element) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__Lock);
  CQuorvane_FifoQueue::AddHead(element);
}

CQuorvane_FifoQueueLink* CQuorvane_LockedFifoQueue::RemoveHead() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__Lock);
  return CQuorvane_FifoQueue::RemoveHead();
}

void CQuorvane_LockedFifoQueue::RemoveAll() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__Lock);
  CQuorvane_FifoQueue::RemoveAll();
}

CQuorvane_CacheObject::CQuorvane_CacheObject(int32_t index, uint32_t capacity)
    : m__LONG__Index(index), m__ULONG__Capacity(capacity) {
  m__LINK__Link.m__PVOID__Self = this;
  m__PUCHAR__Buffer = static_cast<uint8_t*>(::operator new(capacity == 0 ? 1 : capacity, kPageAlignment, std::nothrow));
  if (m__PUCHAR__Buffer == nullptr)
    QuorvaneI_Throw("CQuorvane_CacheObject::CQuorvane_CacheObject", EN_MEMORY_ALLOCATION_FAILED, 0,
                    "CQuorvane_CacheObject::CQuorvane_CacheObject(): Failed to allocate memory");
}

CQuorvane_CacheObject::~CQuorvane_CacheObject() { ::operator delete(m__PUCHAR__Buffer, kPageAlignment); }

void CQuorvane_CacheObject::Reset() {
  m__BOOLEAN__IsEndMarker = false;
  m__BOOLEAN__IsError = false;
  m__PCQuorvane_Exception__Exception = nullptr;
  m__ULONG__DataBytes = 0;
  m__ULONG__Blocks = 0;
}

CQuorvane_CacheManager::CQuorvane_CacheManager(int32_t count, uint32_t capacity) : m__ULONG__Capacity(capacity) {
  constexpr const char* kMethod = "CQuorvane_CacheManager::CQuorvane_CacheManager";
  if (count > kMaximumObjects) {
    QuorvaneI_Log("%s(): Passed number of cache objects %ld truncated to %ld\n", kMethod, static_cast<long>(count),
                  static_cast<long>(kMaximumObjects));
    count = kMaximumObjects;
  } else if (count < 0) {
    QuorvaneI_Log("%s(): Passed number of cache object(s) %ld updated to %ld\n", kMethod, static_cast<long>(count),
                  static_cast<long>(kMaximumObjects));
    count = kMaximumObjects;
  }
  for (int32_t i = 0; i < count; ++i) {
    try {
      m__PCQuorvane_CacheObject__Objects[i] = new CQuorvane_CacheObject(i, capacity);
    } catch (CQuorvane_Exception* e) {
      delete e;
    } catch (const std::bad_alloc&) {
    }
    if (m__PCQuorvane_CacheObject__Objects[i] == nullptr) {
      DestroyObjects();
      QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): Failed to create cache object %ld", kMethod,
                      static_cast<long>(i));
    }
    m__LONG__Count = i + 1;
  }
}

CQuorvane_CacheManager::~CQuorvane_CacheManager() {
  RemoveAll();
  DestroyObjects();
}

void CQuorvane_CacheManager::DestroyObjects() {
  for (int32_t i = 0; i < m__LONG__Count; ++i) {
    delete m__PCQuorvane_CacheObject__Objects[i];
    m__PCQuorvane_CacheObject__Objects[i] = nullptr;
  }
  m__LONG__Count = 0;
}

void CQuorvane_CacheManager::Refill() {
  RemoveAll();
  for (int32_t i = 0; i < m__LONG__Count; ++i) AddTail(&m__PCQuorvane_CacheObject__Objects[i]->m__LINK__Link);
}

void CQuorvane_CacheManager::Release(CQuorvane_CacheObject* object) {
  if (object == nullptr) {
    AddTail(nullptr);  // logs the refusal
    return;
  }
  object->Reset();
  AddTail(&object->m__LINK__Link);
}
