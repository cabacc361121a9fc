// The flat functions of the library: argument checks, handle checks, logging
// and the conversion of every failure into a status.
#include <mutex>
#include <new>
#include <unordered_set>

#include "audio/sonvex.h"
#include "audio/sonvex_call.h"
#include "platform/errors.h"

namespace {

// Live handles. A handle that is not here is never dereferenced: it may be
// freed memory or anything else the caller made up.
std::mutex g_handlesMutex;
std::unordered_set<const void*>& LiveHandles() {
  static std::unordered_set<const void*> handles;
  return handles;
}

void Register(const void* handle) {
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  LiveHandles().insert(handle);
}

void Unregister(const void* handle) {
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  LiveHandles().erase(handle);
}

template <class Object>
void CheckFrame(const char* function, const Object* object, uint32_t headerSignature, uint32_t tailerSignature) {
  constexpr uint32_t kBad = qv::plat::kErrInvalidHandle;
  if (object == nullptr)
    SonvexI_Fail(kBad, "\n%s(): Handle is NULL, failed, status %d ( 0x%x )\n", function, static_cast<int>(kBad), kBad);
  {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    if (LiveHandles().count(object) == 0)
      SonvexI_Fail(kBad, "\n%s(): Handle 0x%p is not a live object, failed, status %d ( 0x%x )\n", function,
                   static_cast<const void*>(object), static_cast<int>(kBad), kBad);
  }
  if (object->m__ULONG__HeaderSignature != headerSignature)
    SonvexI_Fail(kBad, "\n%s(): Header is bad, got 0x%x instead of expected 0x%x, failed, status %d ( 0x%x )\n",
                 function, object->m__ULONG__HeaderSignature, headerSignature, static_cast<int>(kBad), kBad);
  if (object->m__ULONG__TailerSignature != tailerSignature)
    SonvexI_Fail(kBad, "\n%s(): Tailer is bad, got 0x%x instead of expected 0x%x, failed, status %d ( 0x%x )\n",
                 function, object->m__ULONG__TailerSignature, tailerSignature, static_cast<int>(kBad), kBad);
}

CSonvex_SyncFileReader& ReaderOf(const char* function, SONVEX_COMPRESSED_FILE_READER_OBJECT* handle) {
  CheckFrame(function, handle, kSonvexReaderHeaderSignature, kSonvexReaderTailerSignature);
  return *handle->m__PCSonvex_SyncFileReader;
}

CSonvex_SyncFileWriter& WriterOf(const char* function, SONVEX_COMPRESSED_FILE_WRITER_OBJECT* handle) {
  CheckFrame(function, handle, kSonvexWriterHeaderSignature, kSonvexWriterTailerSignature);
  return *handle->m__PCSonvex_SyncFileWriter;
}

void RequirePointer(const char* function, const void* pointer, const char* name) {
  if (pointer == nullptr)
    SonvexI_Fail(qv::plat::kErrInvalidParameter, "\n%s(): %s == NULL, failed, status %d ( 0x%x )\n", function, name,
                 static_cast<int>(qv::plat::kErrInvalidParameter), qv::plat::kErrInvalidParameter);
}

uint32_t FitULong(const char* function, uint64_t size) {
  if (size > 0xFFFFFFFFu)
    SonvexI_Fail(qv::plat::kErrFileTooLarge, "\n%s(): %llu UCHARs do not fit 32 bits, status %d ( 0x%x )\n", function,
                 static_cast<unsigned long long>(size), static_cast<int>(qv::plat::kErrFileTooLarge),
                 qv::plat::kErrFileTooLarge);
  return static_cast<uint32_t>(size);
}

}  // namespace

std::unique_ptr<CSonvex_SyncFileReader> SonvexI_OpenReader(const char* function, const char* fileName) {
  RequirePointer(function, fileName, "p__CHAR__FileName");
  auto reader = std::make_unique<CSonvex_SyncFileReader>();
  reader->Open(fileName);
  return reader;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_WaveFileHeaderFormat(PSONVEX_WAVE_FILE_HEADER header, QV_ULONG dataSize) {
  return SonvexI_Call("Sonvex_WaveFileHeaderFormat", [&] {
    SonvexI_Log("\nSonvex_WaveFileHeaderFormat(): p__SONVEX_WAVE_FILE_HEADER 0x%p, data size %u UCHARs\n",
                static_cast<void*>(header), dataSize);
    RequirePointer("Sonvex_WaveFileHeaderFormat", header, "p__SONVEX_WAVE_FILE_HEADER");
    if (dataSize > 0xFFFFFFFFu - 36)
      SonvexI_Fail(qv::plat::kErrInvalidParameter,
                   "\nSonvex_WaveFileHeaderFormat(): data size %u does not fit a RIFF file, status %d ( 0x%x )\n",
                   dataSize, static_cast<int>(qv::plat::kErrInvalidParameter), qv::plat::kErrInvalidParameter);
    SonvexI_FormatWaveHeader(reinterpret_cast<uint8_t*>(header), dataSize);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_WaveFileHeaderVerify(const SONVEX_WAVE_FILE_HEADER* header) {
  return SonvexI_Call("Sonvex_WaveFileHeaderVerify", [&] {
    RequirePointer("Sonvex_WaveFileHeaderVerify", header, "p__SONVEX_WAVE_FILE_HEADER");
    const uint32_t status = SonvexI_VerifyWaveHeader("Sonvex_WaveFileHeaderVerify", reinterpret_cast<const uint8_t*>(header));
    if (status != 0) throw CSonvex_Failure{status};  // the mismatch is logged already
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_UncompressedFileSupportedIs(const char* fileName) {
  return SonvexI_Call("Sonvex_UncompressedFileSupportedIs", [&] {
    RequirePointer("Sonvex_UncompressedFileSupportedIs", fileName, "p__CHAR__FileName");
    SonvexI_Log("\nSonvex_UncompressedFileSupportedIs(): '%s'\n", fileName);
    const uint32_t status = SonvexI_ProbeUncompressed("Sonvex_UncompressedFileSupportedIs", fileName);
    if (status != 0) throw CSonvex_Failure{status};
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileSupportedIs(const char* fileName) {
  return SonvexI_Call("Sonvex_CompressedFileSupportedIs", [&] {
    SonvexI_Log("\nSonvex_CompressedFileSupportedIs(): '%s'\n", fileName ? fileName : "(null)");
    SonvexI_OpenReader("Sonvex_CompressedFileSupportedIs", fileName);  // opened and closed again
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectCreate(PSONVEX_COMPRESSED_FILE_READER_OBJECT* handle,
                                                                          const char* fileName) {
  return SonvexI_Call("Sonvex_CompressedFileReaderObjectCreate", [&] {
    RequirePointer("Sonvex_CompressedFileReaderObjectCreate", handle, "p__PSONVEX_COMPRESSED_FILE_READER_OBJECT");
    *handle = nullptr;
    SonvexI_Log("\nSonvex_CompressedFileReaderObjectCreate(): '%s'\n", fileName ? fileName : "(null)");
    std::unique_ptr<CSonvex_SyncFileReader> reader = SonvexI_OpenReader("Sonvex_CompressedFileReaderObjectCreate", fileName);
    auto object = std::make_unique<SONVEX_COMPRESSED_FILE_READER_OBJECT>(
        SONVEX_COMPRESSED_FILE_READER_OBJECT{kSonvexReaderHeaderSignature, nullptr, kSonvexReaderTailerSignature});
    Register(object.get());
    object->m__PCSonvex_SyncFileReader = reader.release();
    *handle = object.release();
    SonvexI_Log("\nSonvex_CompressedFileReaderObjectCreate(): handle 0x%p\n", static_cast<void*>(*handle));
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectDestroy(PSONVEX_COMPRESSED_FILE_READER_OBJECT* handle) {
  return SonvexI_Call("Sonvex_CompressedFileReaderObjectDestroy", [&] {
    RequirePointer("Sonvex_CompressedFileReaderObjectDestroy", handle, "p__PSONVEX_COMPRESSED_FILE_READER_OBJECT");
    SONVEX_COMPRESSED_FILE_READER_OBJECT* object = *handle;
    ReaderOf("Sonvex_CompressedFileReaderObjectDestroy", object);
    Unregister(object);
    delete object->m__PCSonvex_SyncFileReader;
    delete object;
    *handle = nullptr;
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectRead(PSONVEX_COMPRESSED_FILE_READER_OBJECT handle,
                                                                        void* buffer, QV_ULONG size) {
  return SonvexI_Call("Sonvex_CompressedFileReaderObjectRead", [&] {
    CSonvex_SyncFileReader& reader = ReaderOf("Sonvex_CompressedFileReaderObjectRead", handle);
    if (size == 0) return;
    RequirePointer("Sonvex_CompressedFileReaderObjectRead", buffer, "p__VOID__Buffer");
    reader.Read(static_cast<uint8_t*>(buffer), size);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectBeginSeek(PSONVEX_COMPRESSED_FILE_READER_OBJECT handle) {
  return SonvexI_Call("Sonvex_CompressedFileReaderObjectBeginSeek",
                      [&] { ReaderOf("Sonvex_CompressedFileReaderObjectBeginSeek", handle).BeginSeek(); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectUncompressedSizeGet(
    PSONVEX_COMPRESSED_FILE_READER_OBJECT handle, QV_ULONG* size) {
  constexpr const char* kName = "Sonvex_CompressedFileReaderObjectUncompressedSizeGet";
  return SonvexI_Call(kName, [&] {
    CSonvex_SyncFileReader& reader = ReaderOf(kName, handle);
    RequirePointer(kName, size, "p__ULONG__SizeInUCHARs");
    *size = FitULong(kName, reader.UncompressedSize());
    SonvexI_Log("\n%s(): %u UCHARs\n", kName, *size);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileWriterObjectCreate(PSONVEX_COMPRESSED_FILE_WRITER_OBJECT* handle,
                                                                          const char* fileName,
                                                                          SONVEX_COMPRESSION compression) {
  return SonvexI_Call("Sonvex_CompressedFileWriterObjectCreate", [&] {
    RequirePointer("Sonvex_CompressedFileWriterObjectCreate", handle, "p__PSONVEX_COMPRESSED_FILE_WRITER_OBJECT");
    *handle = nullptr;
    RequirePointer("Sonvex_CompressedFileWriterObjectCreate", fileName, "p__CHAR__FileName");
    SonvexI_Log("\nSonvex_CompressedFileWriterObjectCreate(): '%s', compression %d\n", fileName,
                static_cast<int>(compression));
    auto writer = std::make_unique<CSonvex_SyncFileWriter>();
    writer->Create(fileName, compression);
    auto object = std::make_unique<SONVEX_COMPRESSED_FILE_WRITER_OBJECT>(
        SONVEX_COMPRESSED_FILE_WRITER_OBJECT{kSonvexWriterHeaderSignature, nullptr, kSonvexWriterTailerSignature});
    Register(object.get());
    object->m__PCSonvex_SyncFileWriter = writer.release();
    *handle = object.release();
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileWriterObjectWrite(PSONVEX_COMPRESSED_FILE_WRITER_OBJECT handle,
                                                                         const void* buffer, QV_ULONG size) {
  return SonvexI_Call("Sonvex_CompressedFileWriterObjectWrite", [&] {
    CSonvex_SyncFileWriter& writer = WriterOf("Sonvex_CompressedFileWriterObjectWrite", handle);
    if (size == 0) return;
    RequirePointer("Sonvex_CompressedFileWriterObjectWrite", buffer, "p__VOID__Buffer");
    writer.Write(static_cast<const uint8_t*>(buffer), size);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileWriterObjectDestroy(PSONVEX_COMPRESSED_FILE_WRITER_OBJECT* handle) {
  return SonvexI_Call("Sonvex_CompressedFileWriterObjectDestroy", [&] {
    RequirePointer("Sonvex_CompressedFileWriterObjectDestroy", handle, "p__PSONVEX_COMPRESSED_FILE_WRITER_OBJECT");
    SONVEX_COMPRESSED_FILE_WRITER_OBJECT* object = *handle;
    CSonvex_SyncFileWriter& writer = WriterOf("Sonvex_CompressedFileWriterObjectDestroy", object);
    // The writer is freed whether or not the file could be finished.
    Unregister(object);
    *handle = nullptr;
    std::unique_ptr<CSonvex_SyncFileWriter> owned(&writer);
    delete object;
    owned->Finish();
  });
}
