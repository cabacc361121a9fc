// The synchronous file reader behind a reader handle: recognises the input
// and hands out its CD audio stream.
#include <algorithm>
#include <cstring>

#include "audio/sonvex.h"
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
      if (size < 0 || !file_.Seek(kSonvexWaveHeaderSize, &error))
        SonvexI_Fail(error, "\nCSonvex_SyncFileReader::Open(): positioning '%s' failed, status %d ( 0x%x )\n",
                     path.c_str(), static_cast<int>(error), error);
      file_.AdviseSequential();
      // A raw file shorter than a header has nothing to give.
      uncompressedSize_ = size > kSonvexWaveHeaderSize ? static_cast<uint64_t>(size) - kSonvexWaveHeaderSize : 0;
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
      if (decodeFill_ == 0) break;  // the end: the caller's bytes past it stay as they are
    }
    const size_t n = std::min(size - done, decodeFill_ - decodeRead_);
    std::memcpy(buffer + done, decodeBuffer_.data() + decodeRead_, n);
    decodeRead_ += n;
    done += n;
  }
  return done;
}

void CSonvex_SyncFileReader::BeginSeek() {
  decodeFill_ = decodeRead_ = 0;
  if (isUncompressed_) {
    uint32_t error = 0;
    if (!file_.Seek(kSonvexWaveHeaderSize, &error))
      SonvexI_Fail(error, "\nCSonvex_SyncFileReader::BeginSeek(): SetFilePointer() failed, status %d ( 0x%x )\n",
                   static_cast<int>(error), error);
    return;
  }
  if (!decoder_)
    SonvexI_Fail(qv::plat::kErrInvalidHandle, "\nCSonvex_SyncFileReader::BeginSeek(): the reader is not open\n");
  decoder_->Rewind();
}

uint64_t CSonvex_SyncFileReader::UncompressedSize() { return uncompressedSize_; }
