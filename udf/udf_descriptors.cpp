#include "udf/udf_descriptors.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/bytes.h"
#include "files/file_time.h"
#include "iso9660/image_writers.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

// The CRC one byte at a time, most significant bit first (ECMA-167 1/7.2.6
// gives the polynomial; no bits are reflected and nothing is inverted).
constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    uint16_t crc = static_cast<uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    table[b] = crc;
  }
  return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;

}  // namespace

uint16_t QuorvaneI_UdfCrc(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[(crc >> 8) ^ data[i]]);
  return crc;
}

void QuorvaneI_PutUdfTag(uint8_t* d, uint16_t identifier, uint32_t location, size_t length) {
  QuorvaneI_PutLE16(d, identifier);
  QuorvaneI_PutLE16(d + 2, 2);  // descriptor version of UDF 1.02
  d[4] = 0;
  d[5] = 0;
  QuorvaneI_PutLE16(d + 6, 0);  // serial number
  QuorvaneI_PutLE16(d + 8, QuorvaneI_UdfCrc(d + 16, length - 16));
  QuorvaneI_PutLE16(d + 10, static_cast<uint16_t>(length - 16));
  QuorvaneI_PutLE32(d + 12, location);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
  d[4] = sum;
}

std::string QuorvaneI_Cs0(std::u16string_view units) {
  bool narrow = true;
  for (char16_t u : units) narrow = narrow && u < 0x100;
  std::string out(1, static_cast<char>(narrow ? 8 : 16));
  for (char16_t u : units) {
    if (!narrow) out.push_back(static_cast<char>(u >> 8));
    out.push_back(static_cast<char>(u & 0xFF));
  }
  return out;
}

std::u16string QuorvaneI_Cs0Units(std::string_view cs0) {
  std::u16string units;
  if (cs0.empty()) return units;
  const auto byte = [&](size_t i) { return static_cast<char16_t>(static_cast<uint8_t>(cs0[i])); };
  if (cs0[0] == 16)
    for (size_t i = 1; i + 1 < cs0.size(); i += 2) units.push_back(static_cast<char16_t>(byte(i) << 8 | byte(i + 1)));
  else
    for (size_t i = 1; i < cs0.size(); ++i) units.push_back(byte(i));
  return units;
}

void QuorvaneI_PutDString(uint8_t* at, size_t size, const std::string& text, bool wide) {
  std::memset(at, 0, size);
  std::u16string units;
  uint32_t error = 0;
  if (text.empty() || !qv::plat::NarrowToWide(text, &units, &error)) return;
  bool narrow = !wide;
  for (char16_t u : units) narrow = narrow && u < 0x100;
  const size_t room = (size - 2) / (narrow ? 1 : 2);  // the compression id and the length byte
  units.resize(std::min(units.size(), room));
  // A character outside the BMP is not cut in half.
  if (!narrow && !units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
  at[0] = narrow ? 8 : 16;
  size_t used = 1;
  for (char16_t u : units) {
    if (!narrow) at[used++] = static_cast<uint8_t>(u >> 8);
    at[used++] = static_cast<uint8_t>(u);
  }
  at[size - 1] = static_cast<uint8_t>(used);
}

void QuorvaneI_PutRegid(uint8_t* at, uint8_t flags, std::string_view identifier, std::string_view suffix) {
  std::memset(at, 0, 32);
  at[0] = flags;
  // copy_n, not memcpy: an empty view may hold no pointer at all.
  std::copy_n(identifier.data(), std::min<size_t>(identifier.size(), 23), at + 1);
  std::copy_n(suffix.data(), std::min<size_t>(suffix.size(), 8), at + 24);
}

void QuorvaneI_PutCharspec(uint8_t* at) {
  std::memset(at, 0, 64);
  static const char kName[] = "OSTA Compressed Unicode";
  std::memcpy(at + 1, kName, sizeof kName - 1);
}

void QuorvaneI_PutTimestamp(uint8_t* at, const uint8_t date[7]) {
  const int minutes = static_cast<int8_t>(date[6]) * 15;
  QuorvaneI_PutLE16(at, static_cast<uint16_t>(0x1000 | (minutes & 0xFFF)));
  QuorvaneI_PutLE16(at + 2, static_cast<uint16_t>(1900 + date[0]));
  at[4] = std::max<uint8_t>(date[1], 1);
  at[5] = std::max<uint8_t>(date[2], 1);
  at[6] = date[3];
  at[7] = date[4];
  at[8] = date[5];
  at[9] = at[10] = at[11] = 0;
}

void QuorvaneI_LocalDate(uint64_t fileTime, uint8_t date[7]) {
  QV_SYSTEMTIME st{};
  if (!QuorvaneI_FileTimeToLocalSystemTime(fileTime, &st)) st = {};
  const auto utc = static_cast<int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
  QuorvaneI_PutDate(st, static_cast<int8_t>(qv::plat::GetClock().UtcOffsetMinutes(utc) / 15), date);
}
