#include "device/drive_answer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const uint8_t* CQuorvane_DriveAnswer::Bytes(uint32_t offset, uint32_t size) const {
  if (!Has(offset, size))
    Fail("%u byte(s) long, bytes %u to %llu are missing", m__ULONG__Length, offset,
         static_cast<unsigned long long>(offset) + size - 1);
  return m__PUCHAR__Data + offset;
}

namespace {

// An unsigned number of size bytes, most significant first or last.
uint32_t Unsigned(const uint8_t* p, uint32_t size, bool bigEndian) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < size; ++i) v = v << 8 | p[bigEndian ? i : size - 1 - i];
  return v;
}

}  // namespace

uint16_t CQuorvane_DriveAnswer::Be16(uint32_t offset) const {
  return static_cast<uint16_t>(Unsigned(Bytes(offset, 2), 2, true));
}

uint32_t CQuorvane_DriveAnswer::Be32(uint32_t offset) const { return Unsigned(Bytes(offset, 4), 4, true); }

uint16_t CQuorvane_DriveAnswer::Le16(uint32_t offset) const {
  return static_cast<uint16_t>(Unsigned(Bytes(offset, 2), 2, false));
}

uint32_t CQuorvane_DriveAnswer::Le32(uint32_t offset) const { return Unsigned(Bytes(offset, 4), 4, false); }

void CQuorvane_DriveAnswer::Copy(uint32_t offset, void* out, uint32_t size) const {
  if (size != 0) std::memcpy(out, Bytes(offset, size), size);
}

bool CQuorvane_DriveAnswer::Spells(uint32_t offset, const char* text) const {
  const auto n = static_cast<uint32_t>(std::strlen(text));
  return Has(offset, n) && std::memcmp(m__PUCHAR__Data + offset, text, n) == 0;
}

CQuorvane_DriveAnswer CQuorvane_DriveAnswer::Declared(uint64_t totalLength) const {
  if (totalLength > m__ULONG__Length)
    Fail("declares %llu byte(s), only %u came", static_cast<unsigned long long>(totalLength), m__ULONG__Length);
  return CQuorvane_DriveAnswer(m__PCHAR__Method, m__PCHAR__What, m__PUCHAR__Data, static_cast<uint32_t>(totalLength));
}

CQuorvane_DriveAnswer CQuorvane_DriveAnswer::AtMost(uint64_t totalLength) const {
  const uint32_t n = totalLength < m__ULONG__Length ? static_cast<uint32_t>(totalLength) : m__ULONG__Length;
  return CQuorvane_DriveAnswer(m__PCHAR__Method, m__PCHAR__What, m__PUCHAR__Data, n);
}

CQuorvane_DriveAnswer CQuorvane_DriveAnswer::Window(uint32_t offset, uint32_t size, const char* what) const {
  return CQuorvane_DriveAnswer(m__PCHAR__Method, what, Bytes(offset, size), size);
}

void CQuorvane_DriveAnswer::Fail(const char* format, ...) const {
  char detail[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  QuorvaneI_Throw(m__PCHAR__Method, EN_UNEXPECTED_RESULT, 0, "%s(): %s answer: %s", m__PCHAR__Method, m__PCHAR__What,
                  detail);
}
