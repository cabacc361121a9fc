// UTF-8 <-> UTF-16: Linux names are UTF-8.
#include "platform/errors.h"
#include "platform/text.h"

namespace qv::plat {

bool NarrowToWide(std::string_view narrow, std::u16string* wide, uint32_t* error) {
  wide->clear();
  wide->reserve(narrow.size());
  const auto* s = reinterpret_cast<const unsigned char*>(narrow.data());
  const size_t n = narrow.size();
  for (size_t at = 0; at < n;) {
    const unsigned char c = s[at];
    uint32_t code;
    size_t length;
    if (c < 0x80) {
      code = c;
      length = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      code = c & 0x1Fu;
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      code = c & 0x0Fu;
      length = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      code = c & 0x07u;
      length = 4;
    } else {
      *error = kErrNoUnicodeTranslation;
      return false;
    }
    if (at + length > n) {
      *error = kErrNoUnicodeTranslation;
      return false;
    }
    for (size_t i = 1; i < length; ++i) {
      if ((s[at + i] & 0xC0) != 0x80) {
        *error = kErrNoUnicodeTranslation;
        return false;
      }
      code = (code << 6) | (s[at + i] & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not text.
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      *error = kErrNoUnicodeTranslation;
      return false;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      wide->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      wide->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      wide->push_back(static_cast<char16_t>(code));
    }
    at += length;
  }
  *error = 0;
  return true;
}

bool WideToNarrow(std::u16string_view wide, std::string* narrow, uint32_t* error) {
  narrow->clear();
  narrow->reserve(wide.size());
  for (size_t at = 0; at < wide.size(); ++at) {
    uint32_t code = wide[at];
    if (code >= 0xD800 && code <= 0xDBFF && at + 1 < wide.size() && wide[at + 1] >= 0xDC00 && wide[at + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[at + 1] - 0xDC00u);
      ++at;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = '_';
    }
    if (code < 0x80) {
      narrow->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      narrow->push_back(static_cast<char>(0xC0 | (code >> 6)));
      narrow->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      narrow->push_back(static_cast<char>(0xE0 | (code >> 12)));
      narrow->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      narrow->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      narrow->push_back(static_cast<char>(0xF0 | (code >> 18)));
      narrow->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      narrow->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      narrow->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  *error = 0;
  return true;
}

}  // namespace qv::plat
