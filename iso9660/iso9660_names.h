// The names an ISO9660 image stores, and the order its records go in.
//
// ISO9660 identifiers hold d-characters only (A-Z, 0-9, '_'): a name from
// disk is upper-cased and every other character (a space, '-', a character
// of several UTF-8 bytes) becomes one '_'. A file identifier has exactly one
// '.' (the last one of the name; a name without one gets it at the end) and
// the version ";1"; a folder identifier has no '.'.
//
// Joliet identifiers are big-endian UCS-2. Characters Joliet forbids
// (controls, '*', '/', ':', ';', '?', '\') become '_', and so does each
// character outside the BMP (one '_' for the whole surrogate pair); case is
// kept. A file's identifier ends in ";1".
//
// Records are ordered as ECMA-119 9.3 says: by name, then extension, each
// compared as if the shorter were padded with spaces, then by version,
// highest first. Joliet identifiers are compared the same way, unit by unit
// by code value.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// The version suffix of file identifiers.
inline constexpr std::string_view kQuorvaneISO9660Version = ";1";
// ISO9660 identifiers are cut to this many characters before the version:
// the short name (its first 12 characters) by default, the long name (31)
// with the long-name option, and a name the collision callback chose (12).
inline constexpr size_t kQuorvaneISO9660ShortChars = 12;
inline constexpr size_t kQuorvaneISO9660LongChars = 31;
// A long name must be shorter than this to make a Joliet name.
inline constexpr size_t kQuorvaneJolietLongNameLimit = 108;
// At most this many UCS-2 units in a Joliet identifier, version included:
// readers cut longer ones (103 is the long form of Joliet that reading
// tools accept; the short form is 64). Longer names keep their extension
// and lose the end of their base name.
inline constexpr size_t kQuorvaneJolietMaxUnits = 103;

// The ISO9660 identifier of a name (UTF-8, any bytes), cut to maxChars
// characters first; version appends ";1" to a file identifier.
std::string QuorvaneI_ISO9660Identifier(std::string_view name, bool folder, size_t maxChars, bool version);

// Joliet units from UTF-16: forbidden characters and characters outside the
// BMP become '_'. With keepVersion a final ";<digits>" stays as it is.
// Cut to maxUnits.
std::u16string QuorvaneI_JolietUnits(std::u16string_view wide, bool keepVersion, size_t maxUnits);
// Big-endian bytes of UTF-16 units, and back.
std::string QuorvaneI_BigEndianUnits(std::u16string_view units);
std::u16string QuorvaneI_UnitsFromBigEndian(std::string_view bytes);

// Record order: <0, 0 or >0 as a sorts before, with or after b.
int QuorvaneI_ISO9660Compare(std::string_view a, std::string_view b);
// The same for big-endian UCS-2 identifiers (an odd last byte is ignored).
int QuorvaneI_JolietCompare(std::string_view a, std::string_view b);
