// Audio sources and the questions of whether, and how long, a file plays
// as an audio track. Decoding belongs to the compressed audio library; this
// side only frames what it delivers.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/bytes.h"
#include "core/exception.h"
#include "core/log.h"
#include "files/file.h"
#include "platform/errors.h"

namespace {

// What one call of the library's read may ask for.
constexpr uint64_t kLargestRead = 1u << 30;

bool IsRawImage(const char* fileName) { return QuorvaneI_HasExtension(fileName, ".BIN"); }

}  // namespace

bool QuorvaneI_HasExtension(const char* path, const char* extension) {
  if (path == nullptr) return false;
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  const size_t length = std::strlen(name), extensionLength = std::strlen(extension);
  if (length < extensionLength) return false;
  const char* tail = name + length - extensionLength;
  for (size_t i = 0; i < extensionLength; ++i)
    if (std::toupper(static_cast<unsigned char>(tail[i])) != std::toupper(static_cast<unsigned char>(extension[i])))
      return false;
  return true;
}

QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_CheckWaveFileHeader(const QV_UCHAR* header) {
  if (header == nullptr) return 0;
  // The library's check covers the tags and the PCM description; a wave
  // source also needs the samples to start right behind the 44 bytes.
  const auto* wave = reinterpret_cast<const SONVEX_WAVE_FILE_HEADER*>(header);
  if (Sonvex_WaveFileHeaderVerify(wave) != 0) return 0;
  const uint32_t formatLength = QuorvaneI_LE32(header + 16);
  return formatLength == 16 && std::memcmp(header + 36, "data", 4) == 0 ? 1 : 0;
}

CQuorvane_WaveDiskFile::CQuorvane_WaveDiskFile(const char* fileName) : CQuorvane_DiskFile(Deferred{}, fileName, 0) {
  static const char* const kMethod = "CQuorvane_WaveDiskFile::CQuorvane_WaveDiskFile";
  OpenByName(kMethod);
  uint8_t header[kQuorvaneWaveHeaderSize];
  uint32_t error = 0;
  const int64_t got = m__File.ReadAt(0, header, sizeof header, &error);
  if (got < 0)
    QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, qv::plat::kErrGenFailure,
                    "CQuorvane_WaveDiskFile::CQuorvane_WaveDiskFile(): ReadFile() failed, status %ld!!!",
                    static_cast<long>(error));
  if (got != static_cast<int64_t>(sizeof header))
    QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, qv::plat::kErrGenFailure,
                    "CQuorvane_WaveDiskFile::CQuorvane_WaveDiskFile(): ReadFile() read %ld instead of %ld!!!",
                    static_cast<long>(got), static_cast<long>(sizeof header));
  if (!Quorvane_CheckWaveFileHeader(header))
    QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0,
                    "CQuorvane_WaveDiskFile::CQuorvane_WaveDiskFile(): Quorvane_CheckWaveFileHeader() failed!!!");
  m__ULONGLONG__DataOffset = kQuorvaneWaveHeaderSize;
  m__ULONGLONG__SizeInUCHARs = m__ULONGLONG__DiskSizeInUCHARs - kQuorvaneWaveHeaderSize;
  m__BOOLEAN__IsAudioStuff = 1;
}

CQuorvane_SonvexFile::CQuorvane_SonvexFile(const char* fileName) : CQuorvane_DiskFile(Deferred{}, fileName, 0) {
  static const char* const kMethod = "CQuorvane_SonvexFile::CQuorvane_SonvexFile";
  OpenByName(kMethod);
  if (IsRawImage(fileName)) {
    // A raw CD audio image is its own stream.
    m__ULONGLONG__StreamSizeInUCHARs = m__ULONGLONG__DiskSizeInUCHARs;
  } else {
    uint32_t status = Sonvex_CompressedFileReaderObjectCreate(&m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader, fileName);
    if (status != 0)
      QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, status,
                      "CQuorvane_SonvexFile::CQuorvane_SonvexFile(): Sonvex_CompressedFileReaderObjectCreate( 0x%p, "
                      "'%s' ) failed, status %ld!!!",
                      static_cast<void*>(&m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader), fileName,
                      static_cast<long>(status));
    QV_ULONG size = 0;
    status = Sonvex_CompressedFileReaderObjectUncompressedSizeGet(m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader, &size);
    if (status != 0) {
      void* reader = m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader;
      Sonvex_CompressedFileReaderObjectDestroy(&m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader);
      QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, status,
                      "CQuorvane_SonvexFile::CQuorvane_SonvexFile(): "
                      "Sonvex_CompressedFileReaderObjectUncompressedSizeGet( 0x%p, 0x%p ) failed, status %ld!!!",
                      reader, static_cast<void*>(&size), static_cast<long>(status));
    }
    status = Sonvex_CompressedFileReaderObjectBeginSeek(m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader);
    if (status != 0) {
      void* reader = m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader;
      Sonvex_CompressedFileReaderObjectDestroy(&m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader);
      QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, status,
                      "CQuorvane_SonvexFile::CQuorvane_SonvexFile(): Sonvex_CompressedFileReaderObjectBeginSeek( 0x%p "
                      ") failed, status %ld!!!",
                      reader, static_cast<long>(status));
    }
    m__ULONGLONG__StreamSizeInUCHARs = size;
  }
  m__ULONGLONG__SizeInUCHARs = m__ULONGLONG__StreamSizeInUCHARs;
  if (m__ULONGLONG__SizeInUCHARs < kQuorvaneMinimumAudioSize) {
    QuorvaneI_Log("\n%s(): File size patched, old size in UCHAR(s): %lld, New size in UCHAR(s): %lld\n", kMethod,
                  static_cast<long long>(m__ULONGLONG__SizeInUCHARs), static_cast<long long>(kQuorvaneMinimumAudioSize));
    m__ULONGLONG__SizeInUCHARs = kQuorvaneMinimumAudioSize;
  }
  m__BOOLEAN__IsAudioStuff = 1;
}

CQuorvane_SonvexFile::~CQuorvane_SonvexFile() {
  if (m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader)
    Sonvex_CompressedFileReaderObjectDestroy(&m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader);
}

void CQuorvane_SonvexFile::RealRead(uint64_t length, uint8_t* buffer) {
  // Only the decoded stream is asked for; the silence that pads a short
  // track to four seconds is the zero fill already in the buffer.
  const uint64_t position = m__ULONGLONG__PositionInUCHARs;
  const uint64_t decoded =
      position >= m__ULONGLONG__StreamSizeInUCHARs ? 0 : std::min(length, m__ULONGLONG__StreamSizeInUCHARs - position);
  if (m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader == nullptr) {
    ReadFileBytes(position, decoded, buffer);
    if (EndsStream(length)) CheckUnchangedAtEnd();
    return;
  }
  for (uint64_t done = 0; done < decoded;) {
    const auto piece = static_cast<QV_ULONG>(std::min(decoded - done, kLargestRead));
    const uint32_t status =
        Sonvex_CompressedFileReaderObjectRead(m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader, buffer + done, piece);
    if (status != 0)
      QuorvaneI_Throw("CQuorvane_SonvexFile::RealRead", EN_SYSTEM_CALL_FAILED, status,
                      "CQuorvane_SonvexFile::RealRead(): Sonvex_CompressedFileReaderObjectRead( 0x%p, 0x%p, %lu ) "
                      "failed, status %ld!!!",
                      static_cast<void*>(m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader),
                      static_cast<void*>(buffer + done), static_cast<unsigned long>(piece), static_cast<long>(status));
    done += piece;
  }
}

CQuorvane_File* CQuorvane_SonvexFile::SeekToBeginUnsafe(uint32_t* budget) {
  if (m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader) {
    const uint32_t status = Sonvex_CompressedFileReaderObjectBeginSeek(m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader);
    if (status != 0)
      QuorvaneI_Throw("CQuorvane_SonvexFile::SeekToBeginUnsafe", EN_SYSTEM_CALL_FAILED, status,
                      "CQuorvane_SonvexFile::SeekToBeginUnsafe(): Sonvex_CompressedFileReaderObjectBeginSeek( 0x%p ) "
                      "failed, status %ld!!!",
                      static_cast<void*>(m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader), static_cast<long>(status));
  }
  return CQuorvane_DiskFile::SeekToBeginUnsafe(budget);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_IsAudioFileSupported(const char* fileName) {
  static const char* const kEntry = "Quorvane:Quorvane_IsAudioFileSupported()";
  QuorvaneI_Log("\n%s: ENTERed\n", kEntry);
  if (fileName == nullptr) {
    QuorvaneI_Log("\n%s: EXITing with failure, p__CHAR__FileName is NULL\n", kEntry);
    return EN_UNSUPPORTED_AUDIO_FORMAT;
  }
  // Only the extension names a raw image: ".bin" inside a folder name (as in
  // node_modules/.bin/tool) does not.
  if (IsRawImage(fileName)) {
    QuorvaneI_Log("\n%s: EXITing with success, .BIN extension detected\n", kEntry);
    return EN_SUCCESS;
  }
  if (Sonvex_UncompressedFileSupportedIs(fileName) == 0) {
    QuorvaneI_Log("\n%s: EXITing with success, recognized as supported uncompressed\n", kEntry);
    return EN_SUCCESS;
  }
  const uint32_t status = Sonvex_CompressedFileSupportedIs(fileName);
  if (status == 0) {
    QuorvaneI_Log("\n%s: EXITing with success, recognized as supported compressed\n", kEntry);
    return EN_SUCCESS;
  }
  QuorvaneI_Log("\n%s: EXITing with failure, unrecognized as supported compressed, status %d ( 0x%x )\n", kEntry,
                static_cast<int>(status), status);
  return EN_UNSUPPORTED_AUDIO_FORMAT;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetAudioFileStreamSizeInUCHARs(const char* fileName,
                                                                         QV_ULONG* sizeInUCHARs,
                                                                         QV_ULONG* systemStatus) {
  static const char* const kEntry = "Quorvane:Quorvane_GetAudioFileStreamSizeInUCHARs()";
  QV_ULONG ignoredSize = 0, ignoredStatus = 0;
  if (sizeInUCHARs == nullptr) sizeInUCHARs = &ignoredSize;
  if (systemStatus == nullptr) systemStatus = &ignoredStatus;
  *systemStatus = 0;
  QuorvaneI_Log("\n%s: ENTERed\n", kEntry);
  auto fail = [&](QV_ULONG number, QV_ULONG status, const char* why) {
    *systemStatus = status;
    QuorvaneI_Log("\n%s: EXITing with failure, %s, status %d ( 0x%x )\n", kEntry, why, static_cast<int>(status),
                  status);
    return number;
  };
  auto fromDisk = [&](uint64_t skipped) -> QV_ULONG {
    uint32_t error = 0;
    qv::plat::File file = qv::plat::File::Open(fileName, qv::plat::FileMode::Read, &error);
    if (!file.IsOpen()) return fail(EN_SYSTEM_CALL_FAILED, error, "CreateFile() failed");
    const int64_t size = file.Size(&error);
    if (size < 0) return fail(EN_SYSTEM_CALL_FAILED, error, "GetFileSize() failed");
    const uint64_t stream = static_cast<uint64_t>(size) > skipped ? static_cast<uint64_t>(size) - skipped : 0;
    if (stream > 0xFFFFFFFFu) return fail(EN_FILE_TOO_BIG, qv::plat::kErrFileTooLarge, "stream does not fit 32 bits");
    *sizeInUCHARs = static_cast<QV_ULONG>(stream);
    QuorvaneI_Log("\n%s: EXITing with success, %lu UCHAR(s)\n", kEntry, static_cast<unsigned long>(*sizeInUCHARs));
    return EN_SUCCESS;
  };
  if (fileName == nullptr) return fail(EN_UNSUPPORTED_AUDIO_FORMAT, qv::plat::kErrNotSupported, "no file name");
  if (IsRawImage(fileName)) return fromDisk(0);
  if (Sonvex_UncompressedFileSupportedIs(fileName) == 0) return fromDisk(kQuorvaneWaveHeaderSize);
  if (Sonvex_CompressedFileSupportedIs(fileName) != 0)
    return fail(EN_UNSUPPORTED_AUDIO_FORMAT, qv::plat::kErrNotSupported, "unrecognized as supported audio");
  QuorvaneI_Log("\n%s: Quorvane_CompressedFileReaderObjecCreate\n", kEntry);
  PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
  uint32_t status = Sonvex_CompressedFileReaderObjectCreate(&reader, fileName);
  if (status != 0) return fail(EN_SYSTEM_CALL_FAILED, status, "Sonvex_CompressedFileReaderObjectCreate() failed");
  QV_ULONG size = 0;
  status = Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &size);
  Sonvex_CompressedFileReaderObjectDestroy(&reader);
  if (status != 0)
    return fail(EN_SYSTEM_CALL_FAILED, status, "Sonvex_CompressedFileReaderObjectUncompressedSizeGet() failed");
  *sizeInUCHARs = size;
  QuorvaneI_Log("\n%s: EXITing with success, %lu UCHAR(s)\n", kEntry, static_cast<unsigned long>(size));
  return EN_SUCCESS;
}
