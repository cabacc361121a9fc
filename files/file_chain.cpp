#include "files/file_chain.h"

#include "core/exception.h"

namespace {

// Sources rewound per recursive pass, so rewinding is never deeper than
// this however long the chain.
constexpr uint32_t kSeekBudget = 16;

}  // namespace

CQuorvane_FileChain::CQuorvane_FileChain() = default;
CQuorvane_FileChain::~CQuorvane_FileChain() = default;

void CQuorvane_FileChain::AddChainTail(CQuorvane_File* source) {
  std::lock_guard<std::mutex> lock(m__Lock);
  if (source == nullptr)
    QuorvaneI_Throw("CQuorvane_FileChain::AddChainTail", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileChain::AddChainTail(): p__PCQuorvane_File__NewTail == NULL!!!");
  // A source is in one chain once; a second link would close a loop.
  if (source->m__PCQuorvane_File__Next != nullptr || source == m__PCQuorvane_File__Tail)
    QuorvaneI_Throw("CQuorvane_FileChain::AddChainTail", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileChain::AddChainTail(): p__PCQuorvane_File__NewTail is chained already!!!");
  if (m__PCQuorvane_File__Head == nullptr)
    m__PCQuorvane_File__Head = source;
  else
    m__PCQuorvane_File__Tail->m__PCQuorvane_File__Next = source;
  m__PCQuorvane_File__Tail = source;
  m__PCQuorvane_File__LastTouched = source;
  m__ULONGLONG__SizeInUCHARs += source->GetSizeInUCHARs();
}

void CQuorvane_FileChain::AddChainHead(CQuorvane_File* source) {
  std::lock_guard<std::mutex> lock(m__Lock);
  if (source == nullptr)
    QuorvaneI_Throw("CQuorvane_FileChain::AddChainHead", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileChain::AddChainHead(): p__PCQuorvane_File__NewHead == NULL!!!");
  if (source->m__PCQuorvane_File__Next != nullptr || source == m__PCQuorvane_File__Tail)
    QuorvaneI_Throw("CQuorvane_FileChain::AddChainHead", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileChain::AddChainHead(): p__PCQuorvane_File__NewHead is chained already!!!");
  source->m__PCQuorvane_File__Next = m__PCQuorvane_File__Head;
  if (m__PCQuorvane_File__Tail == nullptr) m__PCQuorvane_File__Tail = source;
  m__PCQuorvane_File__Head = source;
  m__PCQuorvane_File__LastTouched = source;
  m__ULONGLONG__SizeInUCHARs += source->GetSizeInUCHARs();
}

void CQuorvane_FileChain::SeekToBegin() {
  std::lock_guard<std::mutex> lock(m__Lock);
  for (CQuorvane_File* next = m__PCQuorvane_File__Head; next != nullptr;) {
    uint32_t budget = kSeekBudget;
    next = next->SeekToBeginUnsafe(&budget);
  }
  m__PCQuorvane_File__LastTouched = m__PCQuorvane_File__Head;
}

void CQuorvane_FileChain::Read(uint64_t length, void* buffer) {
  std::lock_guard<std::mutex> lock(m__Lock);
  if (m__PCQuorvane_File__LastTouched == nullptr)
    QuorvaneI_Throw("CQuorvane_FileChain::Read", EN_INVALID_STATE, 0,
                    "CQuorvane_FileChain::Read(): m__PCQuorvane_File__LastTouched is NULL, the chain is empty!!!");
  m__PCQuorvane_File__LastTouched = m__PCQuorvane_File__LastTouched->Read(length, buffer);
}

void CQuorvane_FileChain::GetSizeInUCHARs(uint64_t* size) {
  std::lock_guard<std::mutex> lock(m__Lock);
  *size = m__ULONGLONG__SizeInUCHARs;
}

bool CQuorvane_FileChain::GetCurrentIsAudioStuff() {
  std::lock_guard<std::mutex> lock(m__Lock);
  return m__PCQuorvane_File__LastTouched != nullptr && m__PCQuorvane_File__LastTouched->GetIsAudioStuff();
}

bool CQuorvane_FileChain::GetCurrentIsVideoStuff() {
  std::lock_guard<std::mutex> lock(m__Lock);
  return m__PCQuorvane_File__LastTouched != nullptr && m__PCQuorvane_File__LastTouched->GetIsVideoStuff();
}

CQuorvane_File* CQuorvane_FileChain::GetHead() {
  std::lock_guard<std::mutex> lock(m__Lock);
  return m__PCQuorvane_File__Head;
}
