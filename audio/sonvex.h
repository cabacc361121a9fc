// Internals of the compressed audio library: its log, its failure type, the
// decoders behind a reader and the two objects the handles frame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/exception.h"  // QUORVANE_PRINTF
#include "platform/dynlib.h"
#include "platform/file.h"
#include "platform/output_file.h"
#include "quorvane.h"

// ---- log -------------------------------------------------------------------

// The library's own log: the debugger output always, the log file from
// DebugFacility 1, the standard output from 2. Lines are cut at 1023 bytes.
void SonvexI_Log(const char* format, ...) QUORVANE_PRINTF(1, 2);
// Decoder details (stream shapes, library names) logged from DebugLevel 1.
void SonvexI_Detail(const char* format, ...) QUORVANE_PRINTF(1, 2);

uint32_t SonvexI_DebugFacility();
uint32_t SonvexI_DebugLevel();
std::string SonvexI_DebugFileName();
// Back to the defaults (tests).
void SonvexI_ResetDebugSettings();

// ---- failures --------------------------------------------------------------

// Thrown inside the library, caught by every flat function and turned into
// its status. The failing site logs before it throws.
struct CSonvex_Failure {
  uint32_t status;
};
[[noreturn]] void SonvexI_Fail(uint32_t status, const char* format, ...) QUORVANE_PRINTF(2, 3);

constexpr uint32_t kSonvexCdBytesPerSecond = 176400;
constexpr uint32_t kSonvexWaveHeaderSize = 44;

// ---- files the decoders read -------------------------------------------------

// A read-only file with a position, as the decoder libraries' stream
// callbacks want it (read, seek from set/current/end, tell, length).
class CSonvex_ReadOnlyFileStream {
 public:
  // Throws the system error when the file cannot be opened.
  explicit CSonvex_ReadOnlyFileStream(const std::string& path);
  size_t Read(void* buffer, size_t size);  // short only at the end; throws on errors
  bool Seek(int64_t offset, int whence);   // whence: 0 set, 1 current, 2 end
  uint64_t Tell() const { return position_; }
  uint64_t Length() const { return length_; }
  bool AtEnd() const { return position_ >= length_; }
  uint32_t LastError() const { return lastError_; }

 private:
  qv::plat::File file_;
  uint64_t position_ = 0;
  uint64_t length_ = 0;
  uint32_t lastError_ = 0;
};

// ---- run-time libraries ---------------------------------------------------------

// A decoder library loaded by module name, with its functions resolved by
// name. Libraries stay loaded for the life of the process.
class CSonvex_Library {
 public:
  struct Symbol {
    const char* name;
    void** slot;
  };
  CSonvex_Library() = default;
  ~CSonvex_Library();
  CSonvex_Library(const CSonvex_Library&) = delete;
  CSonvex_Library& operator=(const CSonvex_Library&) = delete;
  // Loads module and fills every slot; false (logged, status in Error())
  // when the module or a function is missing.
  bool Load(const char* module, std::initializer_list<Symbol> symbols);
  uint32_t Error() const { return error_; }

 private:
  qv::plat::LibraryHandle handle_ = nullptr;
  uint32_t error_ = 0;
};

// Unloads every library (tests, after changing a QUORVANE_LIB_ variable;
// no reader or writer may be alive).
void SonvexI_ForgetLibraries();

// Resolves into a typed function pointer slot.
template <class F>
CSonvex_Library::Symbol SonvexI_Symbol(const char* name, F*& slot) {
  return {name, reinterpret_cast<void**>(&slot)};
}

// ---- decoders ----------------------------------------------------------------

// One compressed format. Open has succeeded by the time the object exists.
class CSonvex_Decoder {
 public:
  virtual ~CSonvex_Decoder() = default;
  virtual const char* Kind() const = 0;
  // Decodes CD audio into buffer (capacity: a multiple of 4, at least 16384
  // bytes). Returns the count, 0 at the end of the stream; throws on
  // corrupt data.
  virtual size_t Decode(uint8_t* buffer, size_t capacity) = 0;
  virtual void Rewind() = 0;
  virtual uint64_t UncompressedSize() = 0;
};

// Each opener returns nullptr when the file is not of its format (or its
// library is missing), and throws when the file is of its format but cannot
// be decoded to CD audio.
std::unique_ptr<CSonvex_Decoder> SonvexI_OpenVorbis(const std::string& path);
std::unique_ptr<CSonvex_Decoder> SonvexI_OpenFlac(const std::string& path);
std::unique_ptr<CSonvex_Decoder> SonvexI_OpenMpeg(const std::string& path);

// Content sniffing of the media decoder step. ReadHead returns up to size
// bytes that follow an ID3v2 tag at the start of the file (the stream is
// left at 0); the sniffers look at such a head. bytesToEnd counts from the
// head's first byte to the end of the file.
std::vector<uint8_t> SonvexI_ReadHead(CSonvex_ReadOnlyFileStream& stream, size_t size, uint64_t* bytesToEnd = nullptr);
bool SonvexI_LooksLikeFlac(const uint8_t* data, size_t size);
bool SonvexI_LooksLikeMpegAudio(const uint8_t* data, size_t size, uint64_t bytesToEnd);
// Length of an ID3v2 tag (header, body and footer) whose 10-byte header is
// at data; 0 when there is none.
uint64_t SonvexI_Id3v2Length(const uint8_t* data, size_t size);

// ---- wave headers --------------------------------------------------------------

// 0 when header describes CD audio; otherwise logs the first mismatch under
// the caller's name and returns 87.
uint32_t SonvexI_VerifyWaveHeader(const char* caller, const uint8_t* header);
void SonvexI_FormatWaveHeader(uint8_t* header, uint32_t dataSize);
// True when the file's extension is ".raw" in any case.
bool SonvexI_HasRawExtension(const std::string& path);
// The uncompressed probe: 0, or the status that rejects the file.
uint32_t SonvexI_ProbeUncompressed(const char* caller, const std::string& path);

// ---- reader and writer -------------------------------------------------------

class CSonvex_SyncFileReader {
 public:
  CSonvex_SyncFileReader() = default;
  ~CSonvex_SyncFileReader();
  CSonvex_SyncFileReader(const CSonvex_SyncFileReader&) = delete;
  CSonvex_SyncFileReader& operator=(const CSonvex_SyncFileReader&) = delete;

  // Throws CSonvex_Failure; the reader is closed afterwards then.
  void Open(const std::string& path);
  void Close();
  // Fills size bytes of buffer, or fewer past the end of a compressed
  // stream. Returns the count delivered. A stream whose decoder ends before
  // the size it announced (a cut file) fails instead of ending early.
  size_t Read(uint8_t* buffer, size_t size);
  void BeginSeek();
  uint64_t UncompressedSize();
  const char* Kind() const;

 private:
  // Sets where the samples of an uncompressed input start, and their size.
  void FindSamples(const std::string& path, uint64_t fileSize);

  bool isUncompressed_ = false;
  qv::plat::File file_;  // an uncompressed input
  uint64_t dataStart_ = kSonvexWaveHeaderSize;
  uint64_t uncompressedSize_ = 0;
  std::unique_ptr<CSonvex_Decoder> decoder_;
  std::vector<uint8_t> decodeBuffer_;  // allocated on first use
  size_t decodeFill_ = 0, decodeRead_ = 0;
  uint64_t delivered_ = 0;  // decoded bytes handed out since the last rewind
};

class CSonvex_SyncFileWriter {
 public:
  CSonvex_SyncFileWriter();
  ~CSonvex_SyncFileWriter();
  CSonvex_SyncFileWriter(const CSonvex_SyncFileWriter&) = delete;
  CSonvex_SyncFileWriter& operator=(const CSonvex_SyncFileWriter&) = delete;

  // Throws CSonvex_Failure: 87 for an unknown compression, 126 without the
  // encoder library, or the system error of creating the file. With a sink
  // the pages go there, and path only names it.
  void Create(const std::string& path, SONVEX_COMPRESSION compression, qv::plat::OutputFile* sink = nullptr);
  void Write(const uint8_t* pcm, size_t size);
  // Flushes the last pages; the file is complete afterwards.
  void Finish();

  struct Encoder;  // the Ogg Vorbis encoder state

 private:
  std::unique_ptr<Encoder> encoder_;
};

// Opens a reader on fileName (checked for NULL); throws CSonvex_Failure.
std::unique_ptr<CSonvex_SyncFileReader> SonvexI_OpenReader(const char* function, const char* fileName);

// ---- handles ------------------------------------------------------------------

struct SONVEX_COMPRESSED_FILE_READER_OBJECT {
  uint32_t m__ULONG__HeaderSignature;
  CSonvex_SyncFileReader* m__PCSonvex_SyncFileReader;
  uint32_t m__ULONG__TailerSignature;
};

struct SONVEX_COMPRESSED_FILE_WRITER_OBJECT {
  uint32_t m__ULONG__HeaderSignature;
  CSonvex_SyncFileWriter* m__PCSonvex_SyncFileWriter;
  uint32_t m__ULONG__TailerSignature;
};

constexpr uint32_t kSonvexReaderHeaderSignature = 0x52445653;  // "SVDR"
constexpr uint32_t kSonvexReaderTailerSignature = 0x53564452;  // "RDVS"
constexpr uint32_t kSonvexWriterHeaderSignature = 0x52575653;  // "SVWR"
constexpr uint32_t kSonvexWriterTailerSignature = 0x53565752;  // "RWVS"
