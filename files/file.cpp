#include "files/file.h"

#include <cstring>

#include "core/exception.h"

CQuorvane_File::CQuorvane_File(uint64_t sizeInUCHARs) : m__ULONGLONG__SizeInUCHARs(sizeInUCHARs) {}

CQuorvane_File::~CQuorvane_File() = default;

CQuorvane_File* CQuorvane_File::Read(uint64_t length, void* buffer) {
  auto* out = static_cast<uint8_t*>(buffer);
  CQuorvane_File* current = this;
  for (;;) {
    const int64_t remaining = static_cast<int64_t>(current->m__ULONGLONG__SizeInUCHARs) -
                              static_cast<int64_t>(current->m__ULONGLONG__PositionInUCHARs);
    if (remaining >= static_cast<int64_t>(length)) break;
    if (remaining > 0) {
      const auto part = static_cast<uint64_t>(remaining);
      std::memset(out, 0, part);
      current->RealRead(part, out);
      current->m__ULONGLONG__PositionInUCHARs += part;
      length -= part;
      out += part;
    }
    if (current->m__PCQuorvane_File__Next == nullptr)
      QuorvaneI_Throw("CQuorvane_File::Read", EN_INVALID_STATE, 0,
                      "CQuorvane_File::Read(): m__PCQuorvane_File__Next is NULL, remote transfer is %lld!!!",
                      static_cast<long long>(length));
    current = current->m__PCQuorvane_File__Next;
  }
  if (length != 0) {
    std::memset(out, 0, length);
    current->RealRead(length, out);
    current->m__ULONGLONG__PositionInUCHARs += length;
  }
  return current;
}

CQuorvane_File* CQuorvane_File::SeekToBeginUnsafe(uint32_t* budget) {
  m__ULONGLONG__PositionInUCHARs = 0;
  if (--*budget == 0) return this;
  return m__PCQuorvane_File__Next ? m__PCQuorvane_File__Next->SeekToBeginUnsafe(budget) : nullptr;
}

CQuorvane_MemoryFile::CQuorvane_MemoryFile(std::unique_ptr<uint8_t[]> block, uint64_t sizeInUCHARs)
    : CQuorvane_File(sizeInUCHARs), m__PUCHAR__Block(std::move(block)) {}

void CQuorvane_MemoryFile::RealRead(uint64_t length, uint8_t* buffer) {
  if (length) std::memcpy(buffer, m__PUCHAR__Block.get() + m__ULONGLONG__PositionInUCHARs, length);
}
