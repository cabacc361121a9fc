// Wave headers, the uncompressed probe and the file stream the decoders read.
#include <cctype>
#include <cstring>

#include "audio/sonvex.h"
#include "core/bytes.h"
#include "platform/errors.h"

namespace {


// The fields in the order they are checked; tags compare as 4 bytes.
struct FieldCheck {
  const char* name;
  size_t offset;
  int width;  // 2 or 4 bytes; 0 for a tag
  uint32_t expected;
  const char* tag;
  bool atLeast;  // expected is a lower bound
};

const FieldCheck kChecks[] = {
    {"m__SONVEX_WAVE_FILE_HEADER.m__ULONG__Riff", 0, 0, 0, "RIFF", false},
    {"m__SONVEX_WAVE_FILE_HEADER.m__ULONG__Wave", 8, 0, 0, "WAVE", false},
    {"m__SONVEX_WAVE_FILE_HEADER.m__ULONG__FormatTag", 12, 0, 0, "fmt ", false},
    {"m__SONVEX_WAVE_FILE_HEADER.m__ULONG__FormatLength", 16, 4, 16, nullptr, true},
    {"m__SONVEX_WAVE_FORMAT_CHUNK.m__USHORT__Format", 20, 2, 1, nullptr, false},
    {"m__SONVEX_WAVE_FORMAT_CHUNK.m__USHORT__Channels", 22, 2, 2, nullptr, false},
    {"m__SONVEX_WAVE_FORMAT_CHUNK.m__ULONG__SamplesPerSecond", 24, 4, 44100, nullptr, false},
    {"m__SONVEX_WAVE_FORMAT_CHUNK.m__ULONG__AverageSamplesPerSecond", 28, 4, kSonvexCdBytesPerSecond, nullptr,
     false},
    {"m__SONVEX_WAVE_FORMAT_CHUNK.m__USHORT__Alignment", 32, 2, 4, nullptr, false},
    {"m__SONVEX_WAVE_FORMAT_CHUNK.m__USHORT__BitsPerSample", 34, 2, 16, nullptr, false},
};

}  // namespace

uint32_t SonvexI_VerifyWaveHeader(const char* caller, const uint8_t* h) {
  constexpr uint32_t kBad = qv::plat::kErrInvalidParameter;
  for (const FieldCheck& c : kChecks) {
    if (c.tag != nullptr) {
      if (std::memcmp(h + c.offset, c.tag, 4) != 0) {
        SonvexI_Log("\n%s(): %s == 0x%08x instead of '%s', status %d ( 0x%x )\n", caller, c.name, QuorvaneI_LE32(h + c.offset),
                    c.tag, static_cast<int>(kBad), kBad);
        return kBad;
      }
      continue;
    }
    const uint32_t value = c.width == 2 ? QuorvaneI_LE16(h + c.offset) : QuorvaneI_LE32(h + c.offset);
    if (c.atLeast ? value < c.expected : value != c.expected) {
      SonvexI_Log("\n%s(): %s == %u instead of %s%u, status %d ( 0x%x )\n", caller, c.name, value,
                  c.atLeast ? "at least " : "", c.expected, static_cast<int>(kBad), kBad);
      return kBad;
    }
  }
  if (std::memcmp(h + 36, "data", 4) != 0)
    SonvexI_Log("\n%s(): WARNING! m__SONVEX_WAVE_FILE_HEADER.m__ULONG__DataTag == 0x%08x instead of 'data'\n", caller,
                QuorvaneI_LE32(h + 36));
  return 0;
}

void SonvexI_FormatWaveHeader(uint8_t* h, uint32_t dataSize) {
  std::memcpy(h, "RIFF", 4);
  QuorvaneI_PutLE32(h + 4, dataSize + 36);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  QuorvaneI_PutLE32(h + 16, 16);
  QuorvaneI_PutLE16(h + 20, 1);
  QuorvaneI_PutLE16(h + 22, 2);
  QuorvaneI_PutLE32(h + 24, 44100);
  QuorvaneI_PutLE32(h + 28, kSonvexCdBytesPerSecond);
  QuorvaneI_PutLE16(h + 32, 4);
  QuorvaneI_PutLE16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  QuorvaneI_PutLE32(h + 40, dataSize);
}

bool SonvexI_HasRawExtension(const std::string& path) {
  // Only the extension counts: a folder named "x.raw" or "a.RAWdata" does not
  // make its files raw audio.
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".RAW";
}

uint32_t SonvexI_ProbeUncompressed(const char* caller, const std::string& path) {
  uint32_t error = 0;
  qv::plat::File file = qv::plat::File::Open(path, qv::plat::FileMode::Read, &error);
  if (!file.IsOpen()) {
    SonvexI_Log("\n%s(): CreateFile( '%s' ) failed, status %d ( 0x%x )\n", caller, path.c_str(),
                static_cast<int>(error), error);
    return error;
  }
  if (SonvexI_HasRawExtension(path)) {
    SonvexI_Log("\n%s(): Uncompressed RAW stream detected\n", caller);
    return 0;
  }
  uint8_t header[kSonvexWaveHeaderSize];
  const int64_t got = file.Read(header, sizeof header, &error);
  if (got < 0) {
    SonvexI_Log("\n%s(): ReadFile() failed, status %d ( 0x%x )\n", caller, static_cast<int>(error), error);
    return error;
  }
  if (got != static_cast<int64_t>(sizeof header)) {
    constexpr uint32_t kShort = qv::plat::kErrIoIncomplete;
    SonvexI_Log("\n%s(): ReadFile() read %d instead of %d UCHARs, status %d ( 0x%x )\n", caller,
                static_cast<int>(got), static_cast<int>(sizeof header), static_cast<int>(kShort), kShort);
    return kShort;
  }
  return SonvexI_VerifyWaveHeader(caller, header);
}

CSonvex_ReadOnlyFileStream::CSonvex_ReadOnlyFileStream(const std::string& path) {
  uint32_t error = 0;
  file_ = qv::plat::File::Open(path, qv::plat::FileMode::Read, &error);
  if (!file_.IsOpen())
    SonvexI_Fail(error, "\nCSonvex_ReadOnlyFileStream::Open(): CreateFile( '%s' ) failed, status %d ( 0x%x )\n",
                 path.c_str(), static_cast<int>(error), error);
  const int64_t size = file_.Size(&error);
  if (size < 0)
    SonvexI_Fail(error, "\nCSonvex_ReadOnlyFileStream::Open(): GetFileSize() failed, status %d ( 0x%x )\n",
                 static_cast<int>(error), error);
  length_ = static_cast<uint64_t>(size);
}

size_t CSonvex_ReadOnlyFileStream::Read(void* buffer, size_t size) {
  if (position_ >= length_ || size == 0) return 0;
  if (size > length_ - position_) size = static_cast<size_t>(length_ - position_);
  uint32_t error = 0;
  const int64_t got = file_.ReadAt(position_, buffer, size, &error);
  if (got < 0) {
    lastError_ = error;
    SonvexI_Log("\nCSonvex_ReadOnlyFileStream::Read(): ReadFile() failed, status %d ( 0x%x )\n",
                static_cast<int>(error), error);
    return 0;
  }
  position_ += static_cast<uint64_t>(got);
  return static_cast<size_t>(got);
}

bool CSonvex_ReadOnlyFileStream::Seek(int64_t offset, int whence) {
  int64_t base = 0;
  if (whence == 1) base = static_cast<int64_t>(position_);
  else if (whence == 2) base = static_cast<int64_t>(length_);
  else if (whence != 0) return false;
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return false;
  position_ = static_cast<uint64_t>(base + offset);
  return true;
}
