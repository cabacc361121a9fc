// The building blocks of ECMA-167 descriptors as OSTA UDF 1.02 profiles
// them: descriptor tags with their CRC and checksum, d-strings in OSTA
// compressed Unicode (CS0), entity identifiers, timestamps.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Tag identifiers (ECMA-167 3/7.2.1 and 4/7.2.1).
enum : uint16_t {
  kQuorvaneUdfPrimaryVolume = 1,
  kQuorvaneUdfAnchor = 2,
  kQuorvaneUdfImplementationUse = 4,
  kQuorvaneUdfPartition = 5,
  kQuorvaneUdfLogicalVolume = 6,
  kQuorvaneUdfUnallocatedSpace = 7,
  kQuorvaneUdfTerminating = 8,
  kQuorvaneUdfIntegrity = 9,
  kQuorvaneUdfFileSet = 256,
  kQuorvaneUdfFileIdentifier = 257,
  kQuorvaneUdfFileEntry = 261,
  kQuorvaneUdfExtendedAttributes = 262,
};

// CRC-16 of ECMA-167 7.2.6: polynomial x^16 + x^12 + x^5 + 1, initial 0.
uint16_t QuorvaneI_UdfCrc(const uint8_t* data, size_t length);
// Fills the 16-byte tag of the descriptor at d, length bytes long: version
// 2, the CRC of the bytes after the tag, the checksum of the tag.
void QuorvaneI_PutUdfTag(uint8_t* d, uint16_t identifier, uint32_t location, size_t length);

// A name as CS0 bytes: the compression id (8 when every unit is below
// 0x100, else 16) and the characters, and back.
std::string QuorvaneI_Cs0(std::u16string_view units);
std::u16string QuorvaneI_Cs0Units(std::string_view cs0);
// A d-string field of size bytes from UTF-8 text: CS0, cut to fit, the
// used length in the last byte; all zero for an empty text. wide forces
// compression 16.
void QuorvaneI_PutDString(uint8_t* at, size_t size, const std::string& text, bool wide);

// An entity identifier (regid): flags, the identifier, the 8-byte suffix.
void QuorvaneI_PutRegid(uint8_t* at, uint8_t flags, std::string_view identifier, std::string_view suffix = {});
// The character set of every d-string: CS0, "OSTA Compressed Unicode".
void QuorvaneI_PutCharspec(uint8_t* at);
// A timestamp from a 7-byte ISO9660 date (years since 1900, month, day,
// hour, minute, second, offset from UTC in 15-minute units): local time
// with its offset in minutes.
void QuorvaneI_PutTimestamp(uint8_t* at, const uint8_t date[7]);
// The 7-byte date of a moment (ticks since 1601, UTC) in local time.
void QuorvaneI_LocalDate(uint64_t fileTime, uint8_t date[7]);
