#include "control/win32/disc_info.h"

#include <cstring>

#include "control/trace.h"

namespace qv::control {
namespace {

// A property getter: a checked out-pointer, then the value.
template <class T, class Compute>
HRESULT Answer(const char* method, T* value, Compute compute) {
  if (!CheckOutPointer(method, value, sizeof *value)) return E_POINTER;
  *value = compute();
  return S_OK;
}

uint32_t LoggedSize(uint32_t size) {
  QVX("size = %08X\n", size);
  return size;
}

}  // namespace

HRESULT CDiscInfo::FinalConstruct() {
  QVX("\nCDiscInfo::FinalConstruct()\n");
  return S_OK;
}

void CDiscInfo::FinalRelease() { QVX("\nCDiscInfo::FinalRelease()\n"); }

void* CDiscInfo::QueryExtra(REFIID iid) {
  return IsEqualIID(iid, __uuidof(IQuorvaneDiscInfoInit)) ? static_cast<IQuorvaneDiscInfoInit*>(this) : nullptr;
}

HRESULT CDiscInfo::Initialize(const unsigned char* disc, const unsigned char* track, const unsigned char* toc,
                              long discType, long trackValid, long tocValid) {
  if (disc == nullptr || track == nullptr || toc == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  std::memcpy(records_.disc, disc, kDiscRecordSize);
  std::memcpy(records_.track, track, kTrackRecordSize);
  std::memcpy(records_.toc, toc, kTocRecordSize);
  records_.discType = static_cast<uint32_t>(discType);
  records_.trackValid = static_cast<uint32_t>(trackValid);
  records_.tocValid = static_cast<uint32_t>(tocValid);
  return S_OK;
}

DiscInfoRecords CDiscInfo::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

HRESULT CDiscInfo::get_IsBlank(VARIANT_BOOL* value) {
  if (!CheckOutPointer("CDiscInfo::get_IsBlank", value, sizeof *value)) return E_POINTER;
  QVX("CDiscInfo::get_IsBlank() : ENTERed for %p\n", static_cast<void*>(this));
  const bool blank = DiscIsBlank(Snapshot());
  *value = blank ? VARIANT_TRUE : VARIANT_FALSE;
  QVX("CDiscInfo::get_IsBlank() : EXITing with success (%d).\n", blank ? 1 : 0);
  return S_OK;
}

HRESULT CDiscInfo::get_FreeLBs(long* value) {
  return Answer("CDiscInfo::get_FreeLBs", value, [&] { return DiscFreeBlocks(Snapshot()); });
}

HRESULT CDiscInfo::get_NextWritableAddress(long* value) {
  return Answer("CDiscInfo::get_NextWritableAddress", value, [&] { return DiscNextWritableAddress(Snapshot()); });
}

HRESULT CDiscInfo::get_TrackNumber(long* value) {
  return Answer("CDiscInfo::get_TrackNumber", value, [&] { return DiscTrackNumber(Snapshot()); });
}

HRESULT CDiscInfo::get_IsErasable(VARIANT_BOOL* value) {
  return Answer("CDiscInfo::get_IsErasable", value, [&] { return DiscIsErasable(Snapshot()) ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT CDiscInfo::get_DiscStatus(unsigned char* value) {
  return Answer("CDiscInfo::get_DiscStatus", value, [&] { return DiscStatusByte(Snapshot()); });
}

HRESULT CDiscInfo::get_LastSessionStatus(unsigned char* value) {
  return Answer("CDiscInfo::get_LastSessionStatus", value, [&] { return DiscLastSessionStatus(Snapshot()); });
}

HRESULT CDiscInfo::get_TotalSizeInLBs(ULONG* value) {
  return Answer("CDiscInfo::get_TotalSizeInLBs", value, [&] { return LoggedSize(DiscTotalSize(Snapshot())); });
}

HRESULT CDiscInfo::get_UsedSizeInLBs(ULONG* value) {
  return Answer("CDiscInfo::get_UsedSizeInLBs", value, [&] { return LoggedSize(DiscUsedSize(Snapshot())); });
}

}  // namespace qv::control
