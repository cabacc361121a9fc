// A drive's answer as its parsers may read it: no further than the bytes
// that came, and, once narrowed, no further than the length the answer
// declares for itself. Every getter checks its field; a field outside
// throws exception 10 naming the parser, the answer and the bytes, so a
// short, truncated or absurd answer never reads stale or foreign memory.
#pragma once
#include <cstdint>

#include "core/exception.h"

class CQuorvane_DriveAnswer {
 public:
  // method: "CQuorvane_Class::Method", for the exception text; what: the
  // answer's name ("READ TOC"); length: the bytes that came.
  CQuorvane_DriveAnswer(const char* method, const char* what, const void* data, uint32_t length)
      : m__PCHAR__Method(method), m__PCHAR__What(what), m__PUCHAR__Data(static_cast<const uint8_t*>(data)),
        m__ULONG__Length(data == nullptr ? 0 : length) {}

  uint32_t Length() const { return m__ULONG__Length; }
  const char* What() const { return m__PCHAR__What; }
  bool Has(uint32_t offset, uint32_t size = 1) const {
    return offset <= m__ULONG__Length && size <= m__ULONG__Length - offset;
  }

  uint8_t U8(uint32_t offset) const { return *Bytes(offset, 1); }
  bool Bit(uint32_t offset, int bit) const { return ((U8(offset) >> bit) & 1) != 0; }
  uint16_t Be16(uint32_t offset) const;
  uint32_t Be32(uint32_t offset) const;
  uint16_t Le16(uint32_t offset) const;
  uint32_t Le32(uint32_t offset) const;
  // A checked pointer to size bytes at offset.
  const uint8_t* Bytes(uint32_t offset, uint32_t size) const;
  void Copy(uint32_t offset, void* out, uint32_t size) const;
  // True when the bytes at offset spell text (false when they are absent).
  bool Spells(uint32_t offset, const char* text) const;

  // The answer cut to the total length its header declares. A declaration
  // reaching past the bytes that came means a truncated answer: exception.
  CQuorvane_DriveAnswer Declared(uint64_t totalLength) const;
  // The same for answers that the allocation length may cut legitimately
  // (the declared length then names more than was asked for).
  CQuorvane_DriveAnswer AtMost(uint64_t totalLength) const;
  // size bytes at offset as an answer of their own.
  CQuorvane_DriveAnswer Window(uint32_t offset, uint32_t size, const char* what) const;

  // Throws exception 10 with "<method>(): <what> answer: <text>".
  [[noreturn]] void Fail(const char* format, ...) const QUORVANE_PRINTF(2, 3);

 private:
  const char* m__PCHAR__Method;
  const char* m__PCHAR__What;
  const uint8_t* m__PUCHAR__Data;
  uint32_t m__ULONG__Length;
};
