#include "record/pipeline.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <system_error>

#include "core/log.h"
#include "core/settings.h"
#include "device/drive.h"
#include "files/file_chain.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace {

// The pipeline is the burner-grabber's: its texts carry the grabber's names.
constexpr const char* kCtor = "CQuorvane_CdvdBurnerGrabber::CQuorvane_CdvdBurnerGrabber_SharedConstructor";
constexpr const char* kThread = "CQuorvane_CdvdBurnerGrabber::WriteCacheThread";
constexpr const char* kThreadEx = "CQuorvane_CdvdBurnerGrabber::WriteCacheThreadEx";
constexpr const char* kShutDown = "CQuorvane_CdvdBurnerGrabber::ShutDownCacheThread";
constexpr uint32_t kDefaultCacheSizeInMB = 160;
constexpr uint32_t kCacheObjectCapacity = 65536;
constexpr uint32_t kReaderPollMs = 4;
constexpr uint32_t kShutDownWaitMs = 2000;
constexpr uint32_t kBytesPerMsAtSingleCdSpeed = 176;
constexpr uint32_t kReadBufferCapacityEvery = 8;
constexpr uint32_t kDvdPacketBytes = 32768;
constexpr uint32_t kCancelPollMs = 100;

// Hands an exception to the writer at the head of the queue, so that it
// overtakes the buffers not yet written.
void QueueError(CQuorvane_LockedFifoQueue& queue, CQuorvane_CacheObject* object, CQuorvane_Exception* e) {
  object->m__PCQuorvane_Exception__Exception = e;
  object->m__BOOLEAN__IsError = true;
  queue.AddHead(&object->m__LINK__Link);
}

CQuorvane_Exception* CancelAt(uint64_t offset) {
  return QuorvaneI_NewException(EN_USER_EXCEPTION, 0, "%s(): Cancel set at offset %lld", kThread,
                                static_cast<long long>(offset));
}

}  // namespace

// ---- Construction: the pool and the events ----

QuorvaneI_WritePipeline::QuorvaneI_WritePipeline(CQuorvane_CdvdDrive& drive, uint32_t cacheSizeInMB)
    : m__CQuorvane_CdvdDrive__Drive(drive) {
  BuildPool(cacheSizeInMB);
  uint32_t error = 0;
  m__HANDLE__CacheFullEvent = qv::plat::ManualResetEvent::Create(&error);
  if (!m__HANDLE__CacheFullEvent)
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, error, "%s(): CreateEvent( cache full ) failed, status %ld", kCtor,
                    static_cast<long>(error));
  m__HANDLE__CacheThreadDeadEvent = qv::plat::ManualResetEvent::Create(&error);
  if (!m__HANDLE__CacheThreadDeadEvent)
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, error, "%s(): CreateEvent( cache thread dead ) failed, status %ld",
                    kCtor, static_cast<long>(error));
  QuorvaneI_Log("\n%s(): Cache of %ld UCHARs in %ld object(s) of %lu UCHARs\n", kCtor,
                static_cast<long>(m__LONG__CacheSize),
                static_cast<long>(m__LONG__CacheObjects),
                static_cast<unsigned long>(kCacheObjectCapacity));
}

// No reader can be running here unless a recording was abandoned without
// stopping it; stop it before the pool it fills goes.
QuorvaneI_WritePipeline::~QuorvaneI_WritePipeline() {
  if (m__HANDLE__CacheThreadDeadEvent) Stop();
  Join();
  FreeQueuedErrors();
}

void QuorvaneI_WritePipeline::BuildPool(uint32_t cacheSizeInMB) {
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  if (cacheSizeInMB == 0) cacheSizeInMB = kDefaultCacheSizeInMB;
  uint64_t bytes = uint64_t{cacheSizeInMB} * 1048576u;
  if (bytes > kMax) {
    bytes = kMax;
    QuorvaneI_Log("\n%s(): Cache size limited to %ld UCHARs\n", kCtor, static_cast<long>(bytes));
  }
  // The host cache must hold at least what the drive's own buffer does, twice.
  const uint64_t floor = 2 * uint64_t{m__CQuorvane_CdvdDrive__Drive.GetBufferSize()};
  if (bytes < floor) {
    bytes = std::min(floor, kMax);
    QuorvaneI_Log("\n%s(): Cache size updated to %ld UCHARs\n", kCtor, static_cast<long>(bytes));
  }
  m__LONG__CacheSize = static_cast<int32_t>(bytes);

  uint32_t transfer = m__CQuorvane_CdvdDrive__Drive.GetTransport()->GetMaximumTransferLength();
  if (transfer == 0) transfer = kQuorvaneScsiMaximumTransferLength;
  m__LONG__CacheObjects = static_cast<int32_t>(bytes / transfer);
}

// Made at the first recording, not with the object: a grab, or a look at
// the drive, never needs its megabytes.
CQuorvane_CacheManager* QuorvaneI_WritePipeline::Pool() {
  if (!m__PCQuorvane_CacheManager__CacheManager) {
    try {
      m__PCQuorvane_CacheManager__CacheManager =
          std::make_unique<CQuorvane_CacheManager>(m__LONG__CacheObjects, kCacheObjectCapacity);
    } catch (CQuorvane_Exception* e) {
      delete e;
      QuorvaneI_Throw(kCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): Failed to create cache manager", kCtor);
    } catch (const std::bad_alloc&) {
      QuorvaneI_Throw(kCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): Failed to create cache manager", kCtor);
    }
  }
  return m__PCQuorvane_CacheManager__CacheManager.get();
}

// Error buffers still queued own their exceptions.
void QuorvaneI_WritePipeline::FreeQueuedErrors() {
  while (auto* o = CQuorvane_CacheObject::FromLink(m__CQuorvane_LockedFifoQueue__DataQueue.RemoveHead()))
    if (o->m__BOOLEAN__IsError) delete o->m__PCQuorvane_Exception__Exception;
}

uint32_t QuorvaneI_WritePipeline::QueuedBuffers() const {
  return static_cast<uint32_t>(std::max(m__LONG__QueuedObjects.load(), 0));
}

void QuorvaneI_WritePipeline::ThrowIfCancelled(const char* method, uint64_t offset) const {
  if (!m__CQuorvane_CdvdDrive__Drive.IsCancel()) return;
  QuorvaneI_Log("\n%s(): Cancel set at offset %lld\n", method, static_cast<long long>(offset));
  QuorvaneI_Throw(method, EN_USER_EXCEPTION, 0, "%s(): Cancel set at offset %lld", method,
                  static_cast<long long>(offset));
}

// ---- Starting and stopping the reader ----

void QuorvaneI_WritePipeline::Start(const char* method, CQuorvane_FileChain* source, int32_t blockSize) {
  StartReader(method, source, blockSize, [this] { WriteCacheThread(); });
}

void QuorvaneI_WritePipeline::StartMany(const char* method, CQuorvane_FileChain** sources, int32_t* blockSizes,
                                        int32_t count) {
  m__PPCQuorvane_FileChain__Sources = sources;
  m__PLONG__SourceBlockSizes = blockSizes;
  m__LONG__SourceCount = count;
  StartReader(method, count > 0 ? sources[0] : nullptr, count > 0 ? blockSizes[0] : 0,
              [this] { WriteCacheThreadEx(); });
}

void QuorvaneI_WritePipeline::StartReader(const char* method, CQuorvane_FileChain* source, int32_t blockSize,
                                          const std::function<void()>& reader) {
  // A thread left from an earlier run has set its dead event; collect it.
  Stop();
  uint32_t error = 0;
  if (!m__HANDLE__CacheFullEvent->Reset(&error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): ResetEvent( cache full ) failed, status %ld", method,
                    static_cast<long>(error));
  if (!m__HANDLE__CacheThreadDeadEvent->Reset(&error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): ResetEvent( cache thread dead ) failed, status %ld",
                    method, static_cast<long>(error));
  FreeQueuedErrors();
  CQuorvane_CacheManager& pool = *Pool();
  pool.Refill();
  for (int32_t i = 0; i < pool.GetCount(); ++i) pool.GetObject(i)->Reset();
  m__PCQuorvane_FileChain__Source = source;
  m__LONG__BlockSize = blockSize;
  m__LONG__DieCounter = 0;
  m__LONG__QueuedObjects = 0;
  try {
    m__HANDLE__CacheThread = std::thread(reader);
  } catch (const std::system_error& e) {
    const auto status = static_cast<uint32_t>(e.code().value());
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, status, "%s(): CreateThread() failed, status %ld", method,
                    static_cast<long>(status));
  }
}

uint32_t QuorvaneI_WritePipeline::Stop() {
  ++m__LONG__DieCounter;
  if (!m__HANDLE__CacheThread.joinable()) return 0;
  uint32_t error = 0;
  const uint32_t waited = m__HANDLE__CacheThreadDeadEvent->WaitFor(kShutDownWaitMs, &error);
  if (waited != 0)
    QuorvaneI_Log("\n%s(): WaitForSingleObject() failed, status %ld, returned %ld\n", kShutDown,
                  static_cast<long>(error), static_cast<long>(waited));
  // Even a reader that missed the wait has been told to die: it ends at
  // its next poll or read.
  Join();
  return waited != 0 ? error : 0;
}

void QuorvaneI_WritePipeline::Join() {
  if (m__HANDLE__CacheThread.joinable()) m__HANDLE__CacheThread.join();
}

// ---- The reader thread ----

bool QuorvaneI_WritePipeline::ReaderMustStop(const void* pipeline) {
  const auto* p = static_cast<const QuorvaneI_WritePipeline*>(pipeline);
  return p->m__LONG__DieCounter.load() > 0 || p->m__CQuorvane_CdvdDrive__Drive.IsCancel();
}

uint32_t QuorvaneI_WritePipeline::WriteCacheThread() {
  qv::plat::ReadStopScope stop(&ReaderMustStop, this);
  bool cacheFullSet = false;
  uint32_t lastStatus = 0;
  ReadSource(kThread, m__PCQuorvane_FileChain__Source, m__LONG__BlockSize, &cacheFullSet, &lastStatus);
  return EndReader(kThread, cacheFullSet, lastStatus);
}

uint32_t QuorvaneI_WritePipeline::WriteCacheThreadEx() {
  qv::plat::ReadStopScope stop(&ReaderMustStop, this);
  bool cacheFullSet = false;
  uint32_t lastStatus = 0;
  for (int32_t i = 0; i < m__LONG__SourceCount; ++i) {
    const uint32_t stopped = ReadSource(kThreadEx, m__PPCQuorvane_FileChain__Sources[i],
                                        m__PLONG__SourceBlockSizes[i], &cacheFullSet, &lastStatus);
    const bool cancel = m__CQuorvane_CdvdDrive__Drive.IsCancel();
    if (cancel || stopped != 0) {
      QuorvaneI_Log("\n%s(): IsCancel ( %d ) or IsException ( %d ) is set\n", kThreadEx, cancel ? 1 : 0,
                    stopped != 0 ? 1 : 0);
      break;
    }
  }
  return EndReader(kThreadEx, cacheFullSet, lastStatus);
}

// A free buffer, polling the pool while the writer holds them all; the
// first time the pool runs dry the writer may begin. nullptr: stop.
CQuorvane_CacheObject* QuorvaneI_WritePipeline::TakeFreeBuffer(const char* method, bool* cacheFullSet,
                                                               uint32_t* lastStatus) {
  CQuorvane_CacheManager& pool = *Pool();
  CQuorvane_CacheObject* object = nullptr;
  while ((object = CQuorvane_CacheObject::FromLink(pool.RemoveHead())) == nullptr) {
    if (m__LONG__DieCounter.load() > 0) {
      QuorvaneI_Log("\n%s(): We're allowed to die #1\n", method);
      return nullptr;
    }
    if (!*cacheFullSet) {
      uint32_t error = 0;
      if (!m__HANDLE__CacheFullEvent->Set(&error)) {
        *lastStatus = error;
        QuorvaneI_Log("\n%s(): SetEvent( cache full ) failed #1, status %ld\n", method, static_cast<long>(error));
        ++m__LONG__DieCounter;
        return nullptr;
      }
      *cacheFullSet = true;
      QuorvaneI_Log("\n%s(): Cache full event set #1\n", method);
    }
    qv::plat::SleepMs(kReaderPollMs);
    std::this_thread::yield();
  }
  if (m__LONG__DieCounter.load() > 0) {
    QuorvaneI_Log("\n%s(): We're allowed to die #2\n", method);
    pool.Release(object);
    return nullptr;
  }
  return object;
}

uint32_t QuorvaneI_WritePipeline::ReadSource(const char* method, CQuorvane_FileChain* source, int32_t sourceBlockSize,
                                             bool* cacheFullSet, uint32_t* lastStatus) {
  CQuorvane_LockedFifoQueue& queue = m__CQuorvane_LockedFifoQueue__DataQueue;
  const uint32_t maximum = m__CQuorvane_CdvdDrive__Drive.GetTransport()->GetMaximumTransferLength();
  // The source's own: with one reader for many tracks the writer's block
  // size changes while this thread reads the next track.
  const auto blockSize = static_cast<uint64_t>(sourceBlockSize > 0 ? sourceBlockSize : 0);
  uint64_t remaining = 0, total = 0;
  CQuorvane_Exception* sizing = nullptr;
  try {
    source->GetSizeInUCHARs(&remaining);
    source->GetSizeInUCHARs(&total);
  } catch (CQuorvane_Exception* e) {
    sizing = e;
  }
  uint64_t transfer = blockSize > 0 ? maximum / blockSize * blockSize : 0;
  if (sizing == nullptr && transfer == 0)
    sizing = QuorvaneI_NewException(EN_INVALID_PARAMETER, 0, "%s(): Block size %ld does not fit a transfer of %lu UCHARs",
                                    method, static_cast<long>(sourceBlockSize), static_cast<unsigned long>(maximum));
  if (sizing != nullptr) {
    QuorvaneI_Log("\n%s(): Sizing the source failed\n", method);
    if (CQuorvane_CacheObject* object = CQuorvane_CacheObject::FromLink(m__PCQuorvane_CacheManager__CacheManager->RemoveHead()))
      QueueError(queue, object, sizing);
    else
      delete sizing;
    return 1;
  }
  while (remaining > 0) {
    if (remaining < transfer) {
      QuorvaneI_Log("\n%s(): Patched last transfer size\n", method);
      transfer = remaining;
    }
    CQuorvane_CacheObject* object = TakeFreeBuffer(method, cacheFullSet, lastStatus);
    if (object == nullptr) return 1;
    const uint64_t offset = total - remaining;
    try {
      source->Read(transfer, object->m__PUCHAR__Buffer);
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Log("\n%s(): Read %lld UCHARs from offset %lld failed\n", method, static_cast<long long>(transfer),
                    static_cast<long long>(offset));
      // A read given up because of a cancel is the cancel.
      if (m__CQuorvane_CdvdDrive__Drive.IsCancel()) {
        delete e;
        e = CancelAt(offset);
      }
      QueueError(queue, object, e);
      return 1;
    }
    remaining -= transfer;
    if (m__CQuorvane_CdvdDrive__Drive.IsCancel()) {
      QuorvaneI_Log("\n%s(): Cancel set at offset %lld\n", method, static_cast<long long>(offset));
      QueueError(queue, object, CancelAt(offset));
      return 1;
    }
    // Whole blocks only: bytes short of a block at the very end are not written.
    object->m__ULONG__Blocks = static_cast<uint32_t>(transfer / blockSize);
    object->m__ULONG__DataBytes = static_cast<uint32_t>(object->m__ULONG__Blocks * blockSize);
    object->m__BOOLEAN__IsEndMarker = remaining < blockSize;
    if (object->m__BOOLEAN__IsEndMarker)
      QuorvaneI_Log("\n%s(): Setting end marker (%lld)\n", method, static_cast<long long>(remaining));
    // Once queued the buffer is the writer's, which may release it at once.
    const bool end = object->m__BOOLEAN__IsEndMarker;
    ++m__LONG__QueuedObjects;
    queue.AddTail(&object->m__LINK__Link);
    if (end) break;
  }
  return 0;
}

// The end of every run of the reader thread.
uint32_t QuorvaneI_WritePipeline::EndReader(const char* method, bool cacheFullSet, uint32_t lastStatus) {
  uint32_t error = 0;
  if (!cacheFullSet) {
    if (m__HANDLE__CacheFullEvent->Set(&error)) {
      QuorvaneI_Log("\n%s(): Cache full event set #2\n", method);
    } else {
      lastStatus = error;
      QuorvaneI_Log("\n%s(): SetEvent( cache full ) failed #2, status %ld\n", method, static_cast<long>(error));
    }
  }
  if (m__HANDLE__CacheThreadDeadEvent->Set(&error)) {
    QuorvaneI_Log("\n%s(): Set cache thread dead event\n", method);
  } else {
    lastStatus = error;
    QuorvaneI_Log("\n%s(): SetEvent( cache thread dead ) failed, status %ld\n", method, static_cast<long>(error));
  }
  return lastStatus;
}

// ---- The writer ----

// Writing begins once the pool ran dry or the whole source is cached, or
// after the time the source needs at single CD speed. The wait is in
// slices, so that a cancel need not wait for a source that is slow to
// deliver, or never does.
void QuorvaneI_WritePipeline::WaitForCacheFull(const char* method) {
  const auto timeOut = static_cast<uint32_t>(static_cast<uint32_t>(m__LONG__CacheSize) / kBytesPerMsAtSingleCdSpeed);
  m__CQuorvane_CdvdDrive__Drive.Notify(CN_WAITING_FOR_CACHE, timeOut);
  uint32_t error = 0, waited = 0;
  for (uint32_t spent = 0;; spent += kCancelPollMs) {
    waited = m__HANDLE__CacheFullEvent->WaitFor(std::min(kCancelPollMs, timeOut - spent), &error);
    ThrowIfCancelled(method, 0);
    if (waited == 0 || timeOut - spent <= kCancelPollMs) break;
  }
  if (waited != 0)
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): WaitForSingleObject() failed, status %ld, returned %ld",
                    method, static_cast<long>(error), static_cast<long>(waited));
}

// The next filled buffer, or nullptr after waiting out an underrun. Throws
// what the reader queued, and an unexpected result when the reader stopped
// short of its last block (an empty source, or it was told to die):
// nothing more will come.
CQuorvane_CacheObject* QuorvaneI_WritePipeline::NextBuffer(const char* method, const QuorvaneI_WriteLoop& loop,
                                                           uint64_t written) {
  CQuorvane_LockedFifoQueue& queue = m__CQuorvane_LockedFifoQueue__DataQueue;
  CQuorvane_CacheObject* object = CQuorvane_CacheObject::FromLink(queue.RemoveHead());
  uint32_t error = 0;
  if (object == nullptr && m__HANDLE__CacheThreadDeadEvent->WaitFor(0, &error) == 0) {
    // The reader has stopped; what it queued before is all there is.
    object = CQuorvane_CacheObject::FromLink(queue.RemoveHead());
    if (object == nullptr)
      QuorvaneI_Throw(method, EN_UNEXPECTED_RESULT, 0,
                      "%s(): The source ended after %llu of %llu block(s) without its last block", method,
                      static_cast<unsigned long long>(written), static_cast<unsigned long long>(loop.totalBlocks));
  }
  if (object == nullptr) {
    QuorvaneI_Log("\n%s(): BUFFER UNDERRUN\n", method);
    m__CQuorvane_CdvdDrive__Drive.Notify(CN_BUFFER_UNDERRUN);
    qv::plat::SleepMs(QuorvaneI_BufferUnderrunTimeOutInMs());
    std::this_thread::yield();
    return nullptr;
  }
  if (object->m__BOOLEAN__IsError) {
    CQuorvane_Exception* e = object->m__PCQuorvane_Exception__Exception;
    QuorvaneI_Log("\n%s(): Cache object %ld handles exception pointer 0x%08X\n", method,
                  static_cast<long>(object->m__LONG__Index), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e)));
    m__PCQuorvane_CacheManager__CacheManager->Release(object);
    if (e == nullptr)
      QuorvaneI_Throw(method, EN_EXCEPTION_NOT_ALLOCATED, 0, "%s(): The reader's exception was not allocated", method);
    QuorvaneI_Rethrow(method, e);
  }
  --m__LONG__QueuedObjects;
  return object;
}

// One buffer to the drive at the cursor; the buffer goes back to the pool
// whatever the drive says.
void QuorvaneI_WritePipeline::WriteBuffer(const QuorvaneI_WriteLoop& loop, CQuorvane_CacheObject* object,
                                          uint32_t& cursor, uint64_t& written) {
  uint32_t blocks = object->m__ULONG__Blocks;
  uint32_t bytes = object->m__ULONG__DataBytes;
  if (loop.fullLastPacket && object->m__BOOLEAN__IsEndMarker && bytes < kDvdPacketBytes && blocks > 0) {
    // The packet is closed with zeros, never with what the buffer held before.
    std::memset(object->m__PUCHAR__Buffer + bytes, 0, kDvdPacketBytes - bytes);
    bytes = kDvdPacketBytes;
    blocks = kDvdPacketBytes / static_cast<uint32_t>(m__LONG__BlockSize);
  }
  try {
    if (blocks > 0) m__CQuorvane_CdvdDrive__Drive.Write10(object->m__PUCHAR__Buffer, blocks, cursor, bytes);
  } catch (CQuorvane_Exception*) {
    m__PCQuorvane_CacheManager__CacheManager->Release(object);
    throw;
  }
  cursor += blocks;
  written += blocks;
  m__PCQuorvane_CacheManager__CacheManager->Release(object);
}

uint32_t QuorvaneI_WritePipeline::Write(const char* method, const QuorvaneI_WriteLoop& loop, uint32_t& cursor) {
  CQuorvane_CdvdDrive& drive = m__CQuorvane_CdvdDrive__Drive;
  WaitForCacheFull(method);
  drive.Notify(CN_CACHE_FILLED);
  drive.Notify(CN_WRITING_BEGIN);

  uint64_t written = 0;
  uint32_t writeCounter = 0;
  uint64_t lastProgress = qv::plat::NowMs(), lastBuffer = lastProgress;
  uint8_t capacity[12] = {};
  const auto blockSize = static_cast<uint64_t>(m__LONG__BlockSize);
  cursor = loop.address;
  // What follows an end marker is the next source's, when one reader
  // feeds several.
  for (bool ended = false; !ended;) {
    ThrowIfCancelled(method, written * blockSize);
    CQuorvane_CacheObject* object = NextBuffer(method, loop, written);
    if (object == nullptr) continue;
    ended = object->m__BOOLEAN__IsEndMarker;
    WriteBuffer(loop, object, cursor, written);
    const uint64_t now = qv::plat::NowMs();
    if (loop.progressInterval != 0 && now - lastProgress > uint64_t(loop.progressInterval) * 1000) {
      lastProgress = now;
      drive.Notify(CN_CDVD_WRITE_PROGRESS, loop.totalBlocks, written);
    }
    if (++writeCounter > kReadBufferCapacityEvery) {
      writeCounter = 0;
      if (loop.readBufferCapacity) {
        std::memset(capacity, 0, sizeof capacity);
        drive.ReadBufferCapacity(capacity, sizeof capacity);
      }
    }
    if (loop.bufferInterval != 0 && now - lastBuffer > uint64_t(loop.bufferInterval) * 1000) {
      lastBuffer = now;
      const CQuorvane_DriveAnswer answer(method, "READ BUFFER CAPACITY", capacity, sizeof capacity);
      drive.Notify(CN_CDVD_BUFFER_STATUS, answer.Be32(4), answer.Be32(8));
    }
  }
  return cursor;
}
