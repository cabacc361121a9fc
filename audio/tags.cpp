#include "audio/tags.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/file.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kLargestTagRead = 4u << 20;  // tags past this (big pictures) are not looked at
constexpr size_t kLongestString = 1024;

Bytes Read(const QuorvaneI_TagSource& source, uint64_t length, uint64_t offset, uint64_t size) {
  if (offset >= length) return {};
  Bytes out(static_cast<size_t>(std::min<uint64_t>({size, length - offset, kLargestTagRead})));
  if (out.empty()) return out;
  out.resize(source(offset, out.data(), out.size()));
  return out;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint32_t SyncSafe(const uint8_t* p) { return (p[0] & 0x7F) << 21 | (p[1] & 0x7F) << 14 | (p[2] & 0x7F) << 7 | (p[3] & 0x7F); }

void PutUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Latin1(const uint8_t* p, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && p[i] != 0; ++i) PutUtf8(p[i], &out);
  return out;
}

bool IsUtf8(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n;) {
    const uint8_t c = p[i];
    const size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
    if (extra == 9 || i + extra >= n) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

// Text that names no encoding (RIFF INFO): UTF-8 when it reads as such,
// else Latin-1.
std::string Guess(const uint8_t* p, size_t n) {
  n = std::find(p, p + n, 0) - p;
  return IsUtf8(p, n) ? std::string(reinterpret_cast<const char*>(p), n) : Latin1(p, n);
}

std::string Utf16(const uint8_t* p, size_t n, bool bigEndian) {
  std::string out;
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint32_t c = bigEndian ? p[i] << 8 | p[i + 1] : p[i + 1] << 8 | p[i];
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < n) {
      const uint32_t low = bigEndian ? p[i + 2] << 8 | p[i + 3] : p[i + 3] << 8 | p[i + 2];
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // an unpaired half
    PutUtf8(c, &out);
  }
  return out;
}

// An ID3v2 text frame: its encoding byte, then the first string.
std::string Id3Text(const uint8_t* p, size_t n) {
  if (n < 1) return {};
  switch (p[0]) {
    case 0: return Latin1(p + 1, n - 1);
    case 1:
      if (n >= 3 && (p[1] == 0xFE && p[2] == 0xFF)) return Utf16(p + 3, n - 3, true);
      if (n >= 3 && (p[1] == 0xFF && p[2] == 0xFE)) return Utf16(p + 3, n - 3, false);
      return Utf16(p + 1, n - 1, false);
    case 2: return Utf16(p + 1, n - 1, true);
    case 3: return Guess(p + 1, n - 1);
    default: return {};
  }
}

void Keep(std::string value, std::string* field) {
  if (!field->empty() || value.empty()) return;
  if (value.size() > kLongestString) value.resize(kLongestString);
  *field = std::move(value);
}

Bytes Resync(const uint8_t* p, size_t n) {
  Bytes out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0) ++i;
  }
  return out;
}

// The ID3v2 tag at the start; returns its length (0: none).
uint64_t Id3v2(const QuorvaneI_TagSource& source, uint64_t length, QuorvaneI_AudioTags* tags) {
  const Bytes head = Read(source, length, 0, 10);
  if (head.size() < 10 || std::memcmp(head.data(), "ID3", 3) != 0 || head[3] < 2 || head[3] > 4) return 0;
  const int major = head[3];
  const uint8_t flags = head[5];
  const uint32_t size = SyncSafe(head.data() + 6);
  const uint64_t total = 10 + static_cast<uint64_t>(size) + (major == 4 && (flags & 0x10) ? 10 : 0);
  Bytes body = Read(source, length, 10, size);
  if (major < 4 && (flags & 0x80)) body = Resync(body.data(), body.size());
  size_t at = 0;
  if (flags & 0x40 && body.size() >= 4) {
    if (major == 3) at = 4 + static_cast<size_t>(Be32(body.data()));
    if (major == 4) at = SyncSafe(body.data());
  }
  const size_t idLength = major == 2 ? 3 : 4, headerLength = major == 2 ? 6 : 10;
  while (at + headerLength <= body.size() && body[at] != 0) {
    const uint8_t* h = body.data() + at;
    const uint32_t frameSize = major == 2 ? (h[3] << 16 | h[4] << 8 | h[5]) : major == 3 ? Be32(h + 4) : SyncSafe(h + 4);
    if (frameSize > body.size() - at - headerLength) break;
    const std::string id(reinterpret_cast<const char*>(h), idLength);
    const uint8_t* data = h + headerLength;
    size_t n = frameSize;
    bool readable = true;
    Bytes resynced;
    if (major == 3) {
      readable = (h[9] & 0xC0) == 0;  // neither compressed nor encrypted
      if (h[9] & 0x20 && n > 0) ++data, --n;  // group byte
    } else if (major == 4) {
      readable = (h[9] & 0x0C) == 0;
      if (h[9] & 0x40 && n > 0) ++data, --n;
      if (h[9] & 0x01) n >= 4 ? (data += 4, n -= 4) : (n = 0);
      if (h[9] & 0x02 || flags & 0x80) {
        resynced = Resync(data, n);
        data = resynced.data();
        n = resynced.size();
      }
    }
    if (readable && (id == "TIT2" || id == "TT2")) Keep(Id3Text(data, n), &tags->title);
    if (readable && (id == "TPE1" || id == "TP1")) Keep(Id3Text(data, n), &tags->artist);
    at += headerLength + frameSize;
  }
  return total;
}

// A Vorbis comment list (vendor, then KEY=value entries).
void VorbisComments(const uint8_t* p, size_t n, QuorvaneI_AudioTags* tags) {
  if (n < 4) return;
  uint64_t at = 4 + static_cast<uint64_t>(Le32(p));
  if (at + 4 > n) return;
  uint32_t count = Le32(p + at);
  at += 4;
  std::string artist, performer;
  for (; count > 0 && at + 4 <= n; --count) {
    const uint64_t size = Le32(p + at);
    at += 4;
    if (size > n - at) return;
    const std::string entry(reinterpret_cast<const char*>(p + at), static_cast<size_t>(size));
    at += size;
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string key = entry.substr(0, eq);
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string value = entry.substr(eq + 1);
    if (key == "TITLE") Keep(value, &tags->title);
    if (key == "ARTIST") Keep(value, &artist);
    if (key == "PERFORMER") Keep(value, &performer);
  }
  Keep(artist.empty() ? performer : artist, &tags->artist);
}

void Flac(const QuorvaneI_TagSource& source, uint64_t length, uint64_t start, QuorvaneI_AudioTags* tags) {
  for (uint64_t at = start + 4;;) {
    const Bytes h = Read(source, length, at, 4);
    if (h.size() < 4) return;
    const uint32_t size = h[1] << 16 | h[2] << 8 | h[3];
    if ((h[0] & 0x7F) == 4) {
      const Bytes block = Read(source, length, at + 4, size);
      VorbisComments(block.data(), block.size(), tags);
      return;
    }
    if (h[0] & 0x80) return;  // the last block
    at += 4 + static_cast<uint64_t>(size);
  }
}

// The second packet of the first logical stream: the comment header.
void Ogg(const QuorvaneI_TagSource& source, uint64_t length, uint64_t start, QuorvaneI_AudioTags* tags) {
  Bytes packet;
  int packets = 0;
  uint32_t serial = 0;
  for (uint64_t at = start; packets < 2 && packet.size() < kLargestTagRead;) {
    const Bytes h = Read(source, length, at, 27);
    if (h.size() < 27 || std::memcmp(h.data(), "OggS", 4) != 0) return;
    if (at == start) serial = Le32(h.data() + 14);
    const Bytes table = Read(source, length, at + 27, h[26]);
    if (table.size() < h[26]) return;
    uint64_t bodyLength = 0;
    for (uint8_t s : table) bodyLength += s;
    const Bytes body = Read(source, length, at + 27 + h[26], bodyLength);
    if (body.size() < bodyLength) return;
    if (Le32(h.data() + 14) == serial) {
      size_t pos = 0;
      for (uint8_t s : table) {
        if (packets == 1) packet.insert(packet.end(), body.begin() + pos, body.begin() + pos + s);
        pos += s;
        if (s < 255 && ++packets == 2) break;
      }
    }
    at += 27 + h[26] + bodyLength;
  }
  if (packets < 2) return;
  if (packet.size() >= 7 && std::memcmp(packet.data(), "\x03vorbis", 7) == 0)
    VorbisComments(packet.data() + 7, packet.size() - 7, tags);
  else if (packet.size() >= 8 && std::memcmp(packet.data(), "OpusTags", 8) == 0)
    VorbisComments(packet.data() + 8, packet.size() - 8, tags);
}

void Riff(const QuorvaneI_TagSource& source, uint64_t length, QuorvaneI_AudioTags* tags) {
  for (uint64_t at = 12; at + 8 <= length;) {
    const Bytes h = Read(source, length, at, 8);
    if (h.size() < 8) return;
    const uint32_t size = Le32(h.data() + 4);
    if (std::memcmp(h.data(), "LIST", 4) == 0) {
      const Bytes list = Read(source, length, at + 8, size);
      if (list.size() >= 4 && std::memcmp(list.data(), "INFO", 4) == 0) {
        for (size_t p = 4; p + 8 <= list.size();) {
          const uint32_t n = Le32(list.data() + p + 4);
          if (n > list.size() - p - 8) break;
          if (std::memcmp(list.data() + p, "INAM", 4) == 0) Keep(Guess(list.data() + p + 8, n), &tags->title);
          if (std::memcmp(list.data() + p, "IART", 4) == 0) Keep(Guess(list.data() + p + 8, n), &tags->artist);
          p += 8 + n + (n & 1);
        }
      }
    }
    at += 8 + static_cast<uint64_t>(size) + (size & 1);
  }
}

void Id3v1(const QuorvaneI_TagSource& source, uint64_t length, QuorvaneI_AudioTags* tags) {
  if (length < 128) return;
  const Bytes t = Read(source, length, length - 128, 128);
  if (t.size() < 128 || std::memcmp(t.data(), "TAG", 3) != 0) return;
  auto field = [&](size_t from) {
    std::string s = Latin1(t.data() + from, 30);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  Keep(field(3), &tags->title);
  Keep(field(33), &tags->artist);
}

}  // namespace

QuorvaneI_AudioTags QuorvaneI_ParseAudioTags(const QuorvaneI_TagSource& source, uint64_t length) {
  QuorvaneI_AudioTags tags;
  const uint64_t start = Id3v2(source, length, &tags);
  const Bytes magic = Read(source, length, start, 12);
  if (magic.size() >= 4 && std::memcmp(magic.data(), "fLaC", 4) == 0) Flac(source, length, start, &tags);
  if (magic.size() >= 4 && std::memcmp(magic.data(), "OggS", 4) == 0) Ogg(source, length, start, &tags);
  if (start == 0 && magic.size() >= 12 && std::memcmp(magic.data(), "RIFF", 4) == 0 &&
      std::memcmp(magic.data() + 8, "WAVE", 4) == 0)
    Riff(source, length, &tags);
  Id3v1(source, length, &tags);
  return tags;
}

bool QuorvaneI_ReadAudioTags(const std::string& path, QuorvaneI_AudioTags* tags, std::string* error) {
  uint32_t status = 0;
  qv::plat::File file = qv::plat::File::Open(path, qv::plat::FileMode::Read, &status);
  const int64_t size = file.IsOpen() ? file.Size(&status) : -1;
  if (size < 0) {
    *error = "cannot open " + path + " (status " + std::to_string(status) + ")";
    return false;
  }
  *tags = QuorvaneI_ParseAudioTags(
      [&file](uint64_t offset, uint8_t* buffer, size_t n) -> size_t {
        uint32_t ignored = 0;
        const int64_t got = file.ReadAt(offset, buffer, n, &ignored);
        return got < 0 ? 0 : static_cast<size_t>(got);
      },
      static_cast<uint64_t>(size));
  return true;
}
