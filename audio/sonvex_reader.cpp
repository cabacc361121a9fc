// The synchronous file reader behind a reader handle: recognises the input
// and hands out its CD audio stream.
#include <algorithm>
#include <cstring>

#include "audio/sonvex.h"
#include "core/bytes.h"
#include "platform/errors.h"

namespace {
constexpr size_t kDecodeBufferSize = 64 * 1024;
}

CSonvex_SyncFileReader::~CSonvex_SyncFileReader() { Close(); }

void CSonvex_SyncFileReader::Close() {
  if (decoder_) {
    decoder_.reset();
    SonvexI_Log("\nCSonvex_SyncFileReader::Close(): Just released sync reader and data buffer\n");
  }
  if (file_.IsOpen()) {
    file_.Close();
    SonvexI_Log("\nCSonvex_SyncFileReader::Close(): Just closed WAV file handle\n");
  }
  if (!decodeBuffer_.empty()) {
    std::vector<uint8_t>().swap(decodeBuffer_);
    SonvexI_Log("\nCSonvex_SyncFileReader::Close(): Just released OGG buffer\n");
  }
  decodeFill_ = decodeRead_ = 0;
  delivered_ = 0;
  isUncompressed_ = false;
  uncompressedSize_ = 0;
}

void CSonvex_SyncFileReader::Open(const std::string& path) {
  Close();
  try {
    const uint32_t probe = SonvexI_ProbeUncompressed("CSonvex_SyncFileReader::Open", path);
    if (probe == 0) {
      uint32_t error = 0;
      file_ = qv::plat::File::Open(path, qv::plat::FileMode::Read, &error);
      if (!file_.IsOpen())
        SonvexI_Fail(error, "\nCSonvex_SyncFileReader::Open(): CreateFile( '%s' ) failed, status %d ( 0x%x )\n",
                     path.c_str(), static_cast<int>(error), error);
      const int64_t size = file_.Size(&error);
      if (size < 0)
        SonvexI_Fail(error, "\nCSonvex_SyncFileReader::Open(): GetFileSize( '%s' ) failed, status %d ( 0x%x )\n",
                     path.c_str(), static_cast<int>(error), error);
      FindSamples(path, static_cast<uint64_t>(size));
      if (!file_.Seek(dataStart_, &error))
        SonvexI_Fail(error, "\nCSonvex_SyncFileReader::Open(): SetFilePointer( '%s' ) failed, status %d ( 0x%x )\n",
                     path.c_str(), static_cast<int>(error), error);
      file_.AdviseSequential();
      isUncompressed_ = true;
      SonvexI_Log("\nCSonvex_SyncFileReader::Open(): '%s' is recognized as WAV file...\n", path.c_str());
      return;
    }
    // A file that cannot be opened is not tried any further.
    if (probe != qv::plat::kErrInvalidParameter && probe != qv::plat::kErrIoIncomplete)
      SonvexI_Fail(probe, "\nCSonvex_SyncFileReader::Open(): '%s' cannot be read, status %d ( 0x%x )\n", path.c_str(),
                   static_cast<int>(probe), probe);
    if ((decoder_ = SonvexI_OpenVorbis(path))) {
      SonvexI_Log("\nCSonvex_SyncFileReader::Open(): '%s' is recognized as OGG file...\n", path.c_str());
    } else if ((decoder_ = SonvexI_OpenFlac(path))) {
      SonvexI_Log("\nCSonvex_SyncFileReader::Open(): '%s' is recognized as FLAC file...\n", path.c_str());
    } else if ((decoder_ = SonvexI_OpenMpeg(path))) {
      SonvexI_Log("\nCSonvex_SyncFileReader::Open(): '%s' is recognized as MP3 file...\n", path.c_str());
    } else {
      SonvexI_Fail(qv::plat::kErrNotSupported,
                   "\nCSonvex_SyncFileReader::Open(): '%s' is not in a supported format, status %d ( 0x%x )\n",
                   path.c_str(), static_cast<int>(qv::plat::kErrNotSupported), qv::plat::kErrNotSupported);
    }
    uncompressedSize_ = decoder_->UncompressedSize();
  } catch (...) {
    Close();
    throw;
  }
}

void CSonvex_SyncFileReader::FindSamples(const std::string& path, uint64_t fileSize) {
  // The samples start at byte 44 of a raw file and of the usual wave file.
  dataStart_ = kSonvexWaveHeaderSize;
  uncompressedSize_ = fileSize > kSonvexWaveHeaderSize ? fileSize - kSonvexWaveHeaderSize : 0;
  uint8_t chunk[8];
  uint32_t error = 0;
  if (SonvexI_HasRawExtension(path) || (file_.ReadAt(36, chunk, 4, &error) == 4 && std::memcmp(chunk, "data", 4) == 0))
    return;
  // A wave file with a longer format chunk or other chunks before its data:
  // read from byte 44, its samples would come shifted, channels swapped.
  for (uint64_t at = 12; at + 8 <= fileSize;) {
    if (file_.ReadAt(at, chunk, 8, &error) != 8) break;
    const uint64_t length = QuorvaneI_LE32(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      dataStart_ = at + 8;
      uncompressedSize_ = std::min(length, fileSize - dataStart_) / 4 * 4;
      SonvexI_Log("\nCSonvex_SyncFileReader::Open(): samples start at byte %llu\n",
                  static_cast<unsigned long long>(dataStart_));
      return;
    }
    at += 8 + length + (length & 1);
  }
  SonvexI_Fail(qv::plat::kErrInvalidData, "\nCSonvex_SyncFileReader::Open(): '%s' has no data chunk, status %d ( 0x%x )\n",
               path.c_str(), static_cast<int>(qv::plat::kErrInvalidData), qv::plat::kErrInvalidData);
}

const char* CSonvex_SyncFileReader::Kind() const {
  if (isUncompressed_) return "WAV";
  return decoder_ ? decoder_->Kind() : "closed";
}

size_t CSonvex_SyncFileReader::Read(uint8_t* buffer, size_t size) {
  if (isUncompressed_) {
    uint32_t error = 0;
    const int64_t got = file_.Read(buffer, size, &error);
    if (got < 0)
      SonvexI_Fail(error, "\nCSonvex_SyncFileReader::Read(): ReadFile() failed, status %d ( 0x%x )\n",
                   static_cast<int>(error), error);
    if (static_cast<size_t>(got) != size)
      SonvexI_Fail(SONVEX_STATUS_SHORT_READ,
                   "\nCSonvex_SyncFileReader::Read(): ReadFile() read %d instead of %d UCHARs, status %d ( 0x%x )\n",
                   static_cast<int>(got), static_cast<int>(size), static_cast<int>(SONVEX_STATUS_SHORT_READ),
                   SONVEX_STATUS_SHORT_READ);
    return size;
  }
  if (!decoder_)
    SonvexI_Fail(qv::plat::kErrInvalidHandle, "\nCSonvex_SyncFileReader::Read(): the reader is not open\n");
  if (decodeBuffer_.empty()) decodeBuffer_.resize(kDecodeBufferSize);
  size_t done = 0;
  while (done < size) {
    if (decodeRead_ == decodeFill_) {
      decodeRead_ = decodeFill_ = 0;  // nothing stale is handed out when decoding fails
      decodeFill_ = decoder_->Decode(decodeBuffer_.data(), decodeBuffer_.size());
      if (decodeFill_ == 0) {
        if (delivered_ < uncompressedSize_)
          SonvexI_Fail(qv::plat::kErrInvalidData,
                       "\nCSonvex_SyncFileReader::Read(): the %s stream ends after %llu of its %llu UCHARs, status %d "
                       "( 0x%x )\n",
                       decoder_->Kind(), static_cast<unsigned long long>(delivered_),
                       static_cast<unsigned long long>(uncompressedSize_), static_cast<int>(qv::plat::kErrInvalidData),
                       qv::plat::kErrInvalidData);
        break;  // the end: the caller's bytes past it stay as they are
      }
    }
    const size_t n = std::min(size - done, decodeFill_ - decodeRead_);
    std::memcpy(buffer + done, decodeBuffer_.data() + decodeRead_, n);
    decodeRead_ += n;
    delivered_ += n;
    done += n;
  }
  return done;
}

void CSonvex_SyncFileReader::BeginSeek() {
  decodeFill_ = decodeRead_ = 0;
  delivered_ = 0;
  if (isUncompressed_) {
    uint32_t error = 0;
    if (!file_.Seek(dataStart_, &error))
      SonvexI_Fail(error, "\nCSonvex_SyncFileReader::BeginSeek(): SetFilePointer() failed, status %d ( 0x%x )\n",
                   static_cast<int>(error), error);
    return;
  }
  if (!decoder_)
    SonvexI_Fail(qv::plat::kErrInvalidHandle, "\nCSonvex_SyncFileReader::BeginSeek(): the reader is not open\n");
  decoder_->Rewind();
}

uint64_t CSonvex_SyncFileReader::UncompressedSize() { return uncompressedSize_; }
