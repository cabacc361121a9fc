#include "iso9660/iso9660_names.h"

#include <algorithm>
#include <cstdint>

namespace {

// Bytes of the UTF-8 character that starts with lead (a stray byte is one
// character of its own).
size_t CharLength(const unsigned char* s, size_t left) {
  const unsigned char c = s[0];
  size_t length = 1;
  if (c >= 0xC2 && c <= 0xDF) length = 2;
  else if (c >= 0xE0 && c <= 0xEF) length = 3;
  else if (c >= 0xF0 && c <= 0xF4) length = 4;
  if (length > left) return 1;
  for (size_t i = 1; i < length; ++i)
    if ((s[i] & 0xC0) != 0x80) return 1;
  return length;
}

char DCharacter(const unsigned char* s, size_t length) {
  if (length != 1) return '_';
  const char c = static_cast<char>(s[0]);
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.') return c;
  return '_';
}

bool JolietForbids(char16_t u) {
  return u < 0x20 || u == u'*' || u == u'/' || u == u':' || u == u';' || u == u'?' || u == u'\\';
}

// Units of an identifier as stored: bytes, or big-endian UCS-2 pairs.
struct Units {
  const unsigned char* data;
  size_t size;
  bool wide;
  uint32_t operator[](size_t i) const {
    return wide ? (static_cast<uint32_t>(data[2 * i]) << 8) | data[2 * i + 1] : data[i];
  }
};

// An identifier split as ECMA-119 7.5 reads it: name [begin, nameEnd),
// extension [extBegin, extEnd), version.
struct Parts {
  size_t nameEnd, extBegin, extEnd;
  uint64_t version = 0;
};

Parts Split(const Units& id) {
  size_t end = id.size;
  Parts p{};
  size_t semicolon = id.size;
  while (semicolon > 0 && id[semicolon - 1] != ';') --semicolon;
  if (semicolon > 0 && semicolon < id.size) {
    uint64_t v = 0;
    bool digits = true;
    for (size_t i = semicolon; i < id.size && digits; ++i) {
      const uint32_t u = id[i];
      digits = u >= '0' && u <= '9' && v < 1000000;
      v = v * 10 + (u - '0');
    }
    if (digits) {
      end = semicolon - 1;
      p.version = v;
    }
  }
  size_t dot = end;
  while (dot > 0 && id[dot - 1] != '.') --dot;
  if (dot == 0) {
    p.nameEnd = p.extBegin = p.extEnd = end;
  } else {
    p.nameEnd = dot - 1;
    p.extBegin = dot;
    p.extEnd = end;
  }
  return p;
}

int ComparePadded(const Units& a, size_t aBegin, size_t aEnd, const Units& b, size_t bBegin, size_t bEnd) {
  const size_t na = aEnd - aBegin, nb = bEnd - bBegin;
  const size_t n = na > nb ? na : nb;
  // Big-endian units order as their bytes do, so the common part is
  // skipped bytewise: sorting a big folder compares long shared prefixes.
  const size_t width = a.wide ? 2 : 1;
  const auto* pa = a.data + aBegin * width;
  const auto* pb = b.data + bBegin * width;
  const size_t common = std::mismatch(pa, pa + (na < nb ? na : nb) * width, pb).first - pa;
  for (size_t i = common / width; i < n; ++i) {
    const uint32_t x = i < na ? a[aBegin + i] : 0x20u;
    const uint32_t y = i < nb ? b[bBegin + i] : 0x20u;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int CompareIdentifiers(const Units& a, const Units& b) {
  const Parts pa = Split(a), pb = Split(b);
  if (int c = ComparePadded(a, 0, pa.nameEnd, b, 0, pb.nameEnd)) return c;
  if (int c = ComparePadded(a, pa.extBegin, pa.extEnd, b, pb.extBegin, pb.extEnd)) return c;
  if (pa.version != pb.version) return pa.version > pb.version ? -1 : 1;
  // Equal by the standard's rules (names that differ only in trailing
  // spaces): plain unit order keeps the sort total.
  const size_t n = a.size < b.size ? a.size : b.size;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return a.size == b.size ? 0 : (a.size < b.size ? -1 : 1);
}

}  // namespace

std::string QuorvaneI_ISO9660Identifier(std::string_view name, bool folder, size_t maxChars, bool version) {
  std::string id;
  id.reserve(name.size() + 3);
  const auto* s = reinterpret_cast<const unsigned char*>(name.data());
  for (size_t at = 0; at < name.size() && id.size() < maxChars;) {
    const size_t length = CharLength(s + at, name.size() - at);
    id.push_back(DCharacter(s + at, length));
    at += length;
  }
  if (folder) {
    for (char& c : id)
      if (c == '.') c = '_';
    if (id.empty()) id = "_";
    return id;
  }
  size_t dot = id.rfind('.');
  for (size_t i = 0; i < id.size(); ++i)
    if (id[i] == '.' && i != dot) id[i] = '_';
  if (dot == std::string::npos) {
    // Name and extension hold at most 30 characters together.
    if (id.size() > 30) id.resize(30);
    id.push_back('.');
  }
  if (id == ".") id = "_.";
  if (version) id += kQuorvaneISO9660Version;
  return id;
}

std::u16string QuorvaneI_JolietUnits(std::u16string_view wide, bool keepVersion, size_t maxUnits) {
  size_t versionAt = std::u16string_view::npos;
  if (keepVersion) {
    const size_t semicolon = wide.rfind(u';');
    bool digits = semicolon != std::u16string_view::npos && semicolon + 1 < wide.size();
    for (size_t i = semicolon + 1; digits && i < wide.size(); ++i) digits = wide[i] >= u'0' && wide[i] <= u'9';
    if (digits) versionAt = semicolon;
  }
  std::u16string out;
  out.reserve(wide.size());
  size_t outVersionAt = std::u16string::npos;
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t u = wide[i];
    if (i == versionAt) outVersionAt = out.size();
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      out.push_back(u'_');
      ++i;
    } else if ((u >= 0xD800 && u <= 0xDFFF) || (JolietForbids(u) && i != versionAt)) {
      out.push_back(u'_');
    } else {
      out.push_back(u);
    }
  }
  if (out.size() > maxUnits) {
    // Keep the version and a short extension; cut the base name.
    size_t tail = outVersionAt == std::u16string::npos ? out.size() : outVersionAt;
    const size_t dot = out.rfind(u'.', tail);
    if (dot != std::u16string::npos && dot > 0 && out.size() - dot <= maxUnits / 2) tail = dot;
    else if (outVersionAt == std::u16string::npos) tail = out.size();
    const std::u16string end = out.substr(tail);
    out.resize(maxUnits - end.size());
    out += end;
  }
  return out;
}

std::string QuorvaneI_BigEndianUnits(std::u16string_view units) {
  std::string bytes(units.size() * 2, '\0');
  for (size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<char>(units[i] >> 8);
    bytes[2 * i + 1] = static_cast<char>(units[i] & 0xFF);
  }
  return bytes;
}

std::u16string QuorvaneI_UnitsFromBigEndian(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>((static_cast<uint8_t>(bytes[2 * i]) << 8) | static_cast<uint8_t>(bytes[2 * i + 1]));
  return units;
}

int QuorvaneI_ISO9660Compare(std::string_view a, std::string_view b) {
  return CompareIdentifiers({reinterpret_cast<const unsigned char*>(a.data()), a.size(), false},
                            {reinterpret_cast<const unsigned char*>(b.data()), b.size(), false});
}

int QuorvaneI_JolietCompare(std::string_view a, std::string_view b) {
  return CompareIdentifiers({reinterpret_cast<const unsigned char*>(a.data()), a.size() / 2, true},
                            {reinterpret_cast<const unsigned char*>(b.data()), b.size() / 2, true});
}
