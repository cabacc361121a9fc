// File-to-file conversions. A regular destination is written under a
// temporary name in its own folder and renamed over the destination only
// when it is complete: a failure, a full disk or a stop by the callback
// leaves no partial file and never touches an existing destination.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "audio/sonvex.h"
#include "audio/sonvex_call.h"
#include "platform/errors.h"

namespace {

constexpr uint32_t kBadParameter = qv::plat::kErrInvalidParameter;

// The destination, written as the platform's output files are: a regular
// file under a temporary name until complete, a device or FIFO in place.
class PartialFile {
 public:
  PartialFile(const char* function, const std::string& destination) : function_(function), destination_(destination) {
    uint32_t error = 0;
    if (!out_.Open(destination, &error))
      SonvexI_Fail(error, "\n%s(): CreateFile( '%s' ) failed, status %d ( 0x%x )\n", function, destination.c_str(),
                   static_cast<int>(error), error);
  }

  const std::string& path() const { return destination_; }
  qv::plat::OutputFile& sink() { return out_; }

  void Write(const uint8_t* data, size_t size) {
    uint32_t error = 0;
    if (!out_.Write(data, size, &error))
      SonvexI_Fail(error, "\n%s(): WriteFile( '%s' ) failed, status %d ( 0x%x )\n", function_, destination_.c_str(),
                   static_cast<int>(error), error);
  }

  void Commit() {
    uint32_t error = 0;
    if (!out_.Commit(&error))
      SonvexI_Fail(error, "\n%s(): MoveFile( '%s' ) failed, status %d ( 0x%x )\n", function_, destination_.c_str(),
                   static_cast<int>(error), error);
  }

 private:
  const char* function_;
  std::string destination_;
  qv::plat::OutputFile out_;
};

void CheckNames(const char* function, const char* source, const char* destination, uint32_t bufferSize) {
  if (source == nullptr || destination == nullptr || bufferSize == 0)
    SonvexI_Fail(kBadParameter, "\n%s(): source 0x%p, destination 0x%p, working buffer %u UCHARs, status %d ( 0x%x )\n",
                 function, static_cast<const void*>(source), static_cast<const void*>(destination), bufferSize,
                 static_cast<int>(kBadParameter), kBadParameter);
  SonvexI_Log("\n%s(): '%s' -> '%s', working buffer %u UCHARs\n", function, source, destination, bufferSize);
  std::error_code ec;
  // Writing over the source would destroy it before it is read.
  if (std::filesystem::equivalent(source, destination, ec))
    SonvexI_Fail(kBadParameter, "\n%s(): '%s' is the source itself, status %d ( 0x%x )\n", function, destination,
                 static_cast<int>(kBadParameter), kBadParameter);
}

std::vector<uint8_t> WorkingBuffer(uint32_t size) {
  std::vector<uint8_t> buffer;
  buffer.resize(size);  // std::bad_alloc becomes 8
  return buffer;
}

// One piece done: the log line and the callback, which may stop the work.
void Progress(const char* function, uint64_t done, uint64_t total, PSONVEX_CALLBACK callback, void* context) {
  SonvexI_Log("\n%s(): %llu from %llu UCHARs left to read, %llu UCHARs done\n", function,
              static_cast<unsigned long long>(total - done), static_cast<unsigned long long>(total),
              static_cast<unsigned long long>(done));
  const uint32_t percent = total == 0 ? 0 : static_cast<uint32_t>(done * 100 / total);
  if (callback != nullptr && callback(SONVEX_CALLBACK_PROGRESS, percent, context) != 0)
    SonvexI_Fail(qv::plat::kErrCancelled, "\n%s(): stopped by the callback at %u%%, status %d ( 0x%x )\n", function,
                 percent, static_cast<int>(qv::plat::kErrCancelled), qv::plat::kErrCancelled);
}

uint32_t SizeAsULong(const char* function, uint64_t size, uint64_t limit) {
  if (size > limit)
    SonvexI_Fail(qv::plat::kErrFileTooLarge, "\n%s(): %llu UCHARs are too many for a wave file, status %d ( 0x%x )\n",
                 function, static_cast<unsigned long long>(size), static_cast<int>(qv::plat::kErrFileTooLarge),
                 qv::plat::kErrFileTooLarge);
  return static_cast<uint32_t>(size);
}

// Decodes source into writer or into out; returns the decoded size.
template <class Sink>
uint64_t Pump(const char* function, CSonvex_SyncFileReader& reader, uint32_t bufferSize, PSONVEX_CALLBACK callback,
              void* context, Sink&& sink) {
  const uint64_t total = reader.UncompressedSize();
  reader.BeginSeek();
  std::vector<uint8_t> buffer = WorkingBuffer(bufferSize);
  for (uint64_t done = 0; done < total;) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(bufferSize, total - done));
    // A stream that ends before its announced size is padded with silence.
    std::fill_n(buffer.begin(), piece, uint8_t{0});
    reader.Read(buffer.data(), piece);
    sink(buffer.data(), piece);
    done += piece;
    Progress(function, done, total, callback, context);
  }
  return total;
}

// Everything reader delivers, compressed into destination.
void Encode(const char* function, CSonvex_SyncFileReader& reader, const char* destination, uint32_t bufferSize,
            PSONVEX_CALLBACK callback, void* context, SONVEX_COMPRESSION compression) {
  PartialFile out(function, destination);
  CSonvex_SyncFileWriter writer;
  writer.Create(out.path(), compression, &out.sink());
  Pump(function, reader, bufferSize, callback, context, [&](const uint8_t* data, size_t n) { writer.Write(data, n); });
  writer.Finish();
  out.Commit();
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileUncompress(const char* source, const char* destination,
                                                                   QV_ULONG bufferSize, QV_BOOLEAN isWaveHeaderWanted,
                                                                   QV_ULONG* uncompressedSize, PSONVEX_CALLBACK callback,
                                                                   void* context) {
  constexpr const char* kName = "Sonvex_CompressedFileUncompress";
  return SonvexI_Call(kName, [&] {
    CheckNames(kName, source, destination, bufferSize);
    std::unique_ptr<CSonvex_SyncFileReader> reader = SonvexI_OpenReader(kName, source);
    const uint64_t total = reader->UncompressedSize();
    const uint32_t size = SizeAsULong(kName, total, isWaveHeaderWanted ? 0xFFFFFFFFu - 36 : 0xFFFFFFFFu);
    PartialFile out(kName, destination);
    if (isWaveHeaderWanted) {
      uint8_t header[kSonvexWaveHeaderSize];
      SonvexI_FormatWaveHeader(header, size);
      out.Write(header, sizeof header);
    }
    Pump(kName, *reader, bufferSize, callback, context, [&](const uint8_t* data, size_t n) { out.Write(data, n); });
    out.Commit();
    if (uncompressedSize != nullptr) *uncompressedSize = size;
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_UncompressedFileCompress(const char* source, const char* destination,
                                                                   QV_ULONG bufferSize, PSONVEX_CALLBACK callback,
                                                                   void* context, SONVEX_COMPRESSION compression) {
  constexpr const char* kName = "Sonvex_UncompressedFileCompress";
  return SonvexI_Call(kName, [&] {
    CheckNames(kName, source, destination, bufferSize);
    const uint32_t probe = SonvexI_ProbeUncompressed(kName, source);
    if (probe != 0) throw CSonvex_Failure{probe};  // logged by the probe
    // The uncompressed reader is exactly "from byte 44 to the end".
    std::unique_ptr<CSonvex_SyncFileReader> reader = SonvexI_OpenReader(kName, source);
    Encode(kName, *reader, destination, bufferSize, callback, context, compression);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileRecompress(const char* source, const char* destination,
                                                                   QV_ULONG bufferSize, QV_ULONG* uncompressedSize,
                                                                   PSONVEX_CALLBACK callback, void* context,
                                                                   SONVEX_COMPRESSION compression) {
  constexpr const char* kName = "Sonvex_CompressedFileRecompress";
  return SonvexI_Call(kName, [&] {
    CheckNames(kName, source, destination, bufferSize);
    std::unique_ptr<CSonvex_SyncFileReader> reader = SonvexI_OpenReader(kName, source);
    const uint32_t size = SizeAsULong(kName, reader->UncompressedSize(), 0xFFFFFFFFu);
    Encode(kName, *reader, destination, bufferSize, callback, context, compression);
    if (uncompressedSize != nullptr) *uncompressedSize = size;
  });
}
