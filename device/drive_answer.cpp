#include "device/drive_answer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/bytes.h"

const uint8_t* CQuorvane_DriveAnswer::Bytes(uint32_t offset, uint32_t size) const {
  if (!Has(offset, size))
    Fail("%u byte(s) long, bytes %u to %llu are missing", m__ULONG__Length, offset,
         static_cast<unsigned long long>(offset) + size - 1);
  return m__PUCHAR__Data + offset;
}

uint16_t CQuorvane_DriveAnswer::Be16(uint32_t offset) const { return QuorvaneI_BE16(Bytes(offset, 2)); }
uint32_t CQuorvane_DriveAnswer::Be32(uint32_t offset) const { return QuorvaneI_BE32(Bytes(offset, 4)); }
uint16_t CQuorvane_DriveAnswer::Le16(uint32_t offset) const { return QuorvaneI_LE16(Bytes(offset, 2)); }
uint32_t CQuorvane_DriveAnswer::Le32(uint32_t offset) const { return QuorvaneI_LE32(Bytes(offset, 4)); }

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
