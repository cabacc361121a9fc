// Title and artist of an audio file, for CD-Text: Vorbis comments (Ogg
// Vorbis comment header, FLAC VORBIS_COMMENT block), ID3v2.2-2.4 frames
// (TIT2/TPE1), an ID3v1 tag at the end, and a wave file's LIST/INFO chunk
// (INAM/IART). Strings come out in UTF-8. The first source that names a
// field wins, in the order ID3v2, FLAC/Ogg, RIFF, ID3v1.
//
// Every length read from the file is checked against what is there; a
// damaged tag gives no strings rather than a failure.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct QuorvaneI_AudioTags {
  std::string title, artist;
};

// Reads size bytes at offset into buffer; returns how many it read.
using QuorvaneI_TagSource = std::function<size_t(uint64_t offset, uint8_t* buffer, size_t size)>;

// The tags of a stream of length bytes read through source.
QuorvaneI_AudioTags QuorvaneI_ParseAudioTags(const QuorvaneI_TagSource& source, uint64_t length);

// The tags of a file; false with *error when it cannot be read.
bool QuorvaneI_ReadAudioTags(const std::string& path, QuorvaneI_AudioTags* tags, std::string* error);
