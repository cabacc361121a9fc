// The check of an MPEG stream before it goes onto a Video CD or a Super
// Video CD. Each disc sector carries one whole pack of the stream, so the
// stream must be made of 2324-byte packs: an MPEG-1 system stream (ISO/IEC
// 11172-1) for a Video CD, an MPEG-2 program stream (ISO/IEC 13818-1) for a
// Super Video CD. Anything else - another container, a cut-off file, packs
// of another size - is refused before a drive hears of the recording.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::files {

enum class MpegSystem { Mpeg1, Mpeg2 };

inline constexpr uint32_t kVideoCdPackBytes = 2324;

// What one pack holds: the stream ended in it (program end code), or it
// carried video.
struct MpegPackFacts {
  bool ended = false;
  bool video = false;
};

// Checks one pack of kVideoCdPackBytes bytes: its pack header for the
// system wanted, then packets (system header, PES, padding) that fill it,
// up to an end code or trailing zero or stuffing bytes. On failure returns
// false and says why in *why.
bool CheckMpegPack(const uint8_t* pack, MpegSystem system, MpegPackFacts* facts, std::string* why);

// Checks a whole file, every pack of it. On failure returns false with a
// message that names the file and says what is wrong.
bool CheckMpegFile(const char* fileName, MpegSystem system, std::string* why);

}  // namespace qv::files
