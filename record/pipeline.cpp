// The write pipeline's pool and events, made once per burner-grabber.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <system_error>
#include <thread>

#include "core/log.h"
#include "core/settings.h"
#include "record/burner_grabber.h"
#include "record/drive_quirks.h"
#include "files/file_chain.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace {

constexpr const char* kCtor = "CQuorvane_CdvdBurnerGrabber::CQuorvane_CdvdBurnerGrabber_SharedConstructor";
constexpr uint32_t kDefaultCacheSizeInMB = 160;
constexpr uint32_t kCacheObjectCapacity = 65536;

}  // namespace

CQuorvane_CdvdBurnerGrabber::CQuorvane_CdvdBurnerGrabber(CQuorvane_ScsiTransport* transport,
                                                         PQUORVANE_CALLBACK callback, void* context,
                                                         uint32_t cacheSizeInMB)
    : CQuorvane_CdvdGrabber(transport, callback, context) {
  BuildWritePipeline(cacheSizeInMB);
}

// The cache manager and the events go with their members. No reader thread
// can be running here: the recording modes that start one stop it before
// they return.
CQuorvane_CdvdBurnerGrabber::~CQuorvane_CdvdBurnerGrabber() {
  if (m__HANDLE__CacheThreadDeadEvent) ShutDownCacheThread();
  JoinCacheThread();
  // Error objects still queued own their exceptions.
  while (auto* o = CQuorvane_CacheObject::FromLink(m__CQuorvane_LockedFifoQueue__DataQueue.RemoveHead()))
    if (o->m__BOOLEAN__IsError) delete o->m__PCQuorvane_Exception__Exception;
}

void CQuorvane_CdvdBurnerGrabber::BuildWritePipeline(uint32_t cacheSizeInMB) {
  if (cacheSizeInMB == 0) cacheSizeInMB = kDefaultCacheSizeInMB;
  uint64_t bytes = uint64_t{cacheSizeInMB} * 1048576u;
  if (bytes > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    bytes = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    QuorvaneI_Log("\n%s(): Cache size limited to %ld UCHARs\n", kCtor, static_cast<long>(bytes));
  }
  // The host cache must hold at least what the drive's own buffer does, twice.
  const uint64_t floor = 2 * uint64_t{m__ULONG__BufferSize};
  if (bytes < floor) {
    bytes = floor > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
                ? static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
                : floor;
    QuorvaneI_Log("\n%s(): Cache size updated to %ld UCHARs\n", kCtor, static_cast<long>(bytes));
  }
  m__LONG__CacheSize = static_cast<int32_t>(bytes);

  uint32_t transfer = GetTransport()->GetMaximumTransferLength();
  if (transfer == 0) transfer = kQuorvaneScsiMaximumTransferLength;
  m__LONG__CacheObjects = static_cast<int32_t>(bytes / transfer);
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
                static_cast<long>(m__LONG__CacheSize), static_cast<long>(m__LONG__CacheObjects),
                static_cast<unsigned long>(kCacheObjectCapacity));

  m__BOOLEAN__IsBUP = false;
  m__BOOLEAN__IsNextSession = false;
  m__PCQuorvane_FileChain__Source = nullptr;
  m__LONG__BlockSize = 0;
  m__LONG__DieCounter = 0;
}

// Made at the first recording, not with the object: a grab, or a look at
// the drive, never needs its megabytes.
CQuorvane_CacheManager* CQuorvane_CdvdBurnerGrabber::GetCacheManager() {
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

// ---- The reader thread, the write loop and the flush ----

namespace {

constexpr const char* kThread = "CQuorvane_CdvdBurnerGrabber::WriteCacheThread";
constexpr const char* kThreadEx = "CQuorvane_CdvdBurnerGrabber::WriteCacheThreadEx";
constexpr const char* kShutDown = "CQuorvane_CdvdBurnerGrabber::ShutDownCacheThread";
constexpr const char* kSynchronize = "CQuorvane_CdvdBurnerGrabber::SynchronizeCache";
constexpr uint32_t kReaderPollMs = 4;
constexpr uint32_t kShutDownWaitMs = 2000;
constexpr uint32_t kBytesPerMsAtSingleCdSpeed = 176;
constexpr uint32_t kReadBufferCapacityEvery = 8;
constexpr uint32_t kDvdPacketBytes = 32768;
constexpr uint32_t kCancelPollMs = 100;

constexpr uint32_t kBrokenSynchronizePauseMs = 15000;
constexpr uint32_t kSynchronizeAttempts = 100;
constexpr uint32_t kWaitPauseMs = 5000;

// Hands an exception to the writer at the head of the queue, so that it
// overtakes the buffers not yet written.
void QueueError(CQuorvane_LockedFifoQueue& queue, CQuorvane_CacheObject* object, CQuorvane_Exception* e) {
  object->m__PCQuorvane_Exception__Exception = e;
  object->m__BOOLEAN__IsError = true;
  queue.AddHead(&object->m__LINK__Link);
}

}  // namespace

// One source into the queue. Returns true when the thread must stop.
uint32_t CQuorvane_CdvdBurnerGrabber::ReadSource(CQuorvane_CdvdBurnerGrabber* g, const char* method,
                                                 CQuorvane_FileChain* source, int32_t sourceBlockSize,
                                                 bool* cacheFullSet, uint32_t* lastStatus) {
  CQuorvane_CacheManager& pool = *g->m__PCQuorvane_CacheManager__CacheManager;
  // The source's own: with one reader for many tracks the writer's block
  // size changes while this thread reads the next track.
  const auto blockSize = static_cast<uint64_t>(sourceBlockSize > 0 ? sourceBlockSize : 0);
  uint64_t remaining = 0, total = 0;
  uint64_t transfer = 0;
  CQuorvane_Exception* sizing = nullptr;
  try {
    source->GetSizeInUCHARs(&remaining);
    source->GetSizeInUCHARs(&total);
  } catch (CQuorvane_Exception* e) {
    sizing = e;
  }
  transfer = sourceBlockSize > 0 ? g->GetTransport()->GetMaximumTransferLength() / static_cast<uint32_t>(sourceBlockSize) *
                                       static_cast<uint64_t>(sourceBlockSize)
                                 : 0;
  if (sizing == nullptr && (transfer == 0 || blockSize == 0))
    sizing = QuorvaneI_NewException(EN_INVALID_PARAMETER, 0, "%s(): Block size %ld does not fit a transfer of %lu UCHARs",
                                    method, static_cast<long>(sourceBlockSize),
                                    static_cast<unsigned long>(g->GetTransport()->GetMaximumTransferLength()));
  if (sizing != nullptr) {
    QuorvaneI_Log("\n%s(): Sizing the source failed\n", method);
    if (CQuorvane_CacheObject* object = CQuorvane_CacheObject::FromLink(pool.RemoveHead()))
      QueueError(g->m__CQuorvane_LockedFifoQueue__DataQueue, object, sizing);
    else
      delete sizing;
    return 1;
  }
  while (remaining > 0) {
    if (remaining < transfer) {
      QuorvaneI_Log("\n%s(): Patched last transfer size\n", method);
      transfer = remaining;
    }
    CQuorvane_CacheObject* object = nullptr;
    while ((object = CQuorvane_CacheObject::FromLink(pool.RemoveHead())) == nullptr) {
      if (g->m__LONG__DieCounter.load() > 0) {
        QuorvaneI_Log("\n%s(): We're allowed to die #1\n", method);
        return 1;
      }
      if (!*cacheFullSet) {
        uint32_t error = 0;
        if (!g->m__HANDLE__CacheFullEvent->Set(&error)) {
          *lastStatus = error;
          QuorvaneI_Log("\n%s(): SetEvent( cache full ) failed #1, status %ld\n", method, static_cast<long>(error));
          ++g->m__LONG__DieCounter;
          return 1;
        }
        *cacheFullSet = true;
        QuorvaneI_Log("\n%s(): Cache full event set #1\n", method);
      }
      qv::plat::SleepMs(kReaderPollMs);
      std::this_thread::yield();
    }
    if (g->m__LONG__DieCounter.load() > 0) {
      QuorvaneI_Log("\n%s(): We're allowed to die #2\n", method);
      pool.Release(object);
      return 1;
    }
    const uint64_t offset = total - remaining;
    try {
      source->Read(transfer, object->m__PUCHAR__Buffer);
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Log("\n%s(): Read %lld UCHARs from offset %lld failed\n", method, static_cast<long long>(transfer),
                    static_cast<long long>(offset));
      // A read given up because of a cancel is the cancel.
      if (g->m__UCHAR__IsCancel.load() == 1) {
        delete e;
        e = QuorvaneI_NewException(EN_USER_EXCEPTION, 0, "%s(): Cancel set at offset %lld", kThread,
                                   static_cast<long long>(offset));
      }
      QueueError(g->m__CQuorvane_LockedFifoQueue__DataQueue, object, e);
      return 1;
    }
    remaining -= transfer;
    if (g->m__UCHAR__IsCancel.load() == 1) {
      QuorvaneI_Log("\n%s(): Cancel set at offset %lld\n", method, static_cast<long long>(offset));
      CQuorvane_Exception* e = QuorvaneI_NewException(EN_USER_EXCEPTION, 0, "%s(): Cancel set at offset %lld", kThread,
                                                       static_cast<long long>(offset));
      QueueError(g->m__CQuorvane_LockedFifoQueue__DataQueue, object, e);
      return 1;
    }
    // Whole blocks only: bytes short of a block at the very end are not written.
    object->m__ULONG__Blocks = static_cast<uint32_t>(transfer / blockSize);
    object->m__ULONG__DataBytes = static_cast<uint32_t>(object->m__ULONG__Blocks * static_cast<uint64_t>(sourceBlockSize));
    object->m__BOOLEAN__IsEndMarker = remaining < blockSize;
    if (object->m__BOOLEAN__IsEndMarker)
      QuorvaneI_Log("\n%s(): Setting end marker (%lld)\n", method, static_cast<long long>(remaining));
    // Once queued the object is the writer's, which may release it at once.
    const bool end = object->m__BOOLEAN__IsEndMarker;
    ++g->m__LONG__QueuedObjects;
    g->m__CQuorvane_LockedFifoQueue__DataQueue.AddTail(&object->m__LINK__Link);
    if (end) break;
  }
  return 0;
}

namespace {

// The end of every run of the reader thread.
uint32_t EndReader(const char* method, qv::plat::ManualResetEvent& cacheFull, qv::plat::ManualResetEvent& dead,
                   bool cacheFullSet, uint32_t lastStatus) {
  uint32_t error = 0;
  if (!cacheFullSet) {
    if (cacheFull.Set(&error)) {
      QuorvaneI_Log("\n%s(): Cache full event set #2\n", method);
    } else {
      lastStatus = error;
      QuorvaneI_Log("\n%s(): SetEvent( cache full ) failed #2, status %ld\n", method, static_cast<long>(error));
    }
  }
  if (dead.Set(&error)) {
    QuorvaneI_Log("\n%s(): Set cache thread dead event\n", method);
  } else {
    lastStatus = error;
    QuorvaneI_Log("\n%s(): SetEvent( cache thread dead ) failed, status %ld\n", method, static_cast<long>(error));
  }
  return lastStatus;
}

}  // namespace

bool CQuorvane_CdvdBurnerGrabber::ReaderMustStop(const void* grabber) {
  const auto* g = static_cast<const CQuorvane_CdvdBurnerGrabber*>(grabber);
  return g->m__LONG__DieCounter.load() > 0 || g->m__UCHAR__IsCancel.load() == 1;
}

void CQuorvane_CdvdBurnerGrabber::ThrowIfCancelled(const char* method, uint64_t offset) {
  if (m__UCHAR__IsCancel.load() != 1) return;
  QuorvaneI_Log("\n%s(): Cancel set at offset %lld\n", method, static_cast<long long>(offset));
  QuorvaneI_Throw(method, EN_USER_EXCEPTION, 0, "%s(): Cancel set at offset %lld", method,
                  static_cast<long long>(offset));
}

uint32_t CQuorvane_CdvdBurnerGrabber::WriteCacheThread(CQuorvane_CdvdBurnerGrabber* g) {
  qv::plat::ReadStopScope stop(&ReaderMustStop, g);
  bool cacheFullSet = false;
  uint32_t lastStatus = 0;
  ReadSource(g, kThread, g->m__PCQuorvane_FileChain__Source, g->m__LONG__BlockSize, &cacheFullSet, &lastStatus);
  return EndReader(kThread, *g->m__HANDLE__CacheFullEvent, *g->m__HANDLE__CacheThreadDeadEvent, cacheFullSet,
                   lastStatus);
}

uint32_t CQuorvane_CdvdBurnerGrabber::WriteCacheThreadEx(CQuorvane_CdvdBurnerGrabber* g) {
  qv::plat::ReadStopScope stop(&ReaderMustStop, g);
  bool cacheFullSet = false;
  uint32_t lastStatus = 0;
  for (int32_t i = 0; i < g->m__LONG__SourceCount; ++i) {
    const uint32_t stop = ReadSource(g, kThreadEx, g->m__PPCQuorvane_FileChain__Sources[i],
                                     g->m__PLONG__SourceBlockSizes[i], &cacheFullSet, &lastStatus);
    const bool cancel = g->m__UCHAR__IsCancel.load() == 1;
    if (cancel || stop != 0) {
      QuorvaneI_Log("\n%s(): IsCancel ( %d ) or IsException ( %d ) is set\n", kThreadEx, cancel ? 1 : 0,
                    stop != 0 ? 1 : 0);
      break;
    }
  }
  return EndReader(kThreadEx, *g->m__HANDLE__CacheFullEvent, *g->m__HANDLE__CacheThreadDeadEvent, cacheFullSet,
                   lastStatus);
}

void CQuorvane_CdvdBurnerGrabber::JoinCacheThread() {
  if (m__HANDLE__CacheThread.joinable()) m__HANDLE__CacheThread.join();
}

void CQuorvane_CdvdBurnerGrabber::StartPipeline(const char* method, CQuorvane_FileChain* source, int32_t blockSize) {
  StartReader(method, source, blockSize, [this] { WriteCacheThread(this); });
}

void CQuorvane_CdvdBurnerGrabber::StartPipelineEx(const char* method, CQuorvane_FileChain** sources, int32_t* blockSizes,
                                                  int32_t count) {
  m__PPCQuorvane_FileChain__Sources = sources;
  m__PLONG__SourceBlockSizes = blockSizes;
  m__LONG__SourceCount = count;
  StartReader(method, count > 0 ? sources[0] : nullptr, count > 0 ? blockSizes[0] : 0,
              [this] { WriteCacheThreadEx(this); });
}

void CQuorvane_CdvdBurnerGrabber::StartReader(const char* method, CQuorvane_FileChain* source, int32_t blockSize,
                                              const std::function<void()>& reader) {
  // A thread left from an earlier run has set its dead event; collect it.
  ShutDownCacheThread();
  JoinCacheThread();
  uint32_t error = 0;
  if (!m__HANDLE__CacheFullEvent->Reset(&error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): ResetEvent( cache full ) failed, status %ld", method,
                    static_cast<long>(error));
  if (!m__HANDLE__CacheThreadDeadEvent->Reset(&error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): ResetEvent( cache thread dead ) failed, status %ld",
                    method, static_cast<long>(error));
  // Error objects left in the queue by an earlier run still own exceptions.
  while (auto* o = CQuorvane_CacheObject::FromLink(m__CQuorvane_LockedFifoQueue__DataQueue.RemoveHead()))
    if (o->m__BOOLEAN__IsError) delete o->m__PCQuorvane_Exception__Exception;
  CQuorvane_CacheManager& pool = *GetCacheManager();
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

uint32_t CQuorvane_CdvdBurnerGrabber::RunWriteLoop(const char* method, const WriteLoop& loop) {
  const auto timeOut = static_cast<uint32_t>(static_cast<uint32_t>(m__LONG__CacheSize) / kBytesPerMsAtSingleCdSpeed);
  Notify(CN_WAITING_FOR_CACHE, timeOut);
  uint32_t error = 0, waited = 0;
  // In slices, so that a cancel need not wait for a source that is slow
  // to deliver, or never does.
  for (uint32_t spent = 0;; spent += kCancelPollMs) {
    waited = m__HANDLE__CacheFullEvent->WaitFor(std::min(kCancelPollMs, timeOut - spent), &error);
    ThrowIfCancelled(method, 0);
    if (waited == 0 || timeOut - spent <= kCancelPollMs) break;
  }
  if (waited != 0)
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): WaitForSingleObject() failed, status %ld, returned %ld",
                    method, static_cast<long>(error), static_cast<long>(waited));
  Notify(CN_CACHE_FILLED);
  Notify(CN_WRITING_BEGIN);

  CQuorvane_CacheManager& pool = *GetCacheManager();
  uint64_t written = 0;
  uint32_t writeCounter = 0;
  uint64_t lastProgress = qv::plat::NowMs(), lastBuffer = lastProgress;
  uint8_t capacity[12] = {};
  bool ended = false;
  m__ULONG__CurrentWriteAddress = loop.address;
  const auto blockSize = static_cast<uint64_t>(m__LONG__BlockSize);
  for (;;) {
    if (!ended) ThrowIfCancelled(method, written * blockSize);
    CQuorvane_CacheObject* object = CQuorvane_CacheObject::FromLink(m__CQuorvane_LockedFifoQueue__DataQueue.RemoveHead());
    if (object == nullptr && ended) break;
    if (object == nullptr && m__HANDLE__CacheThreadDeadEvent->WaitFor(0, &error) == 0) {
      // The reader has stopped; what it queued before is all there is. An
      // empty queue now means it stopped without an end marker (an empty
      // source, or it was told to die) and nothing more will come.
      object = CQuorvane_CacheObject::FromLink(m__CQuorvane_LockedFifoQueue__DataQueue.RemoveHead());
      if (object == nullptr)
        QuorvaneI_Throw(method, EN_UNEXPECTED_RESULT, 0,
                        "%s(): The source ended after %llu of %llu block(s) without its last block", method,
                        static_cast<unsigned long long>(written), static_cast<unsigned long long>(loop.totalBlocks));
    }
    if (object == nullptr) {
      QuorvaneI_Log("\n%s(): BUFFER UNDERRUN\n", method);
      Notify(CN_BUFFER_UNDERRUN);
      qv::plat::SleepMs(QuorvaneI_BufferUnderrunTimeOutInMs());
      std::this_thread::yield();
      continue;
    }
    if (object->m__BOOLEAN__IsError) {
      CQuorvane_Exception* e = object->m__PCQuorvane_Exception__Exception;
      QuorvaneI_Log("\n%s(): Cache object %ld handles exception pointer 0x%08X\n", method,
                    static_cast<long>(object->m__LONG__Index),
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e)));
      pool.Release(object);
      if (e == nullptr)
        QuorvaneI_Throw(method, EN_EXCEPTION_NOT_ALLOCATED, 0, "%s(): The reader's exception was not allocated", method);
      QuorvaneI_Rethrow(method, e);
    }
    --m__LONG__QueuedObjects;
    uint32_t blocks = object->m__ULONG__Blocks;
    uint32_t bytes = object->m__ULONG__DataBytes;
    if (loop.fullLastPacket && object->m__BOOLEAN__IsEndMarker && bytes < kDvdPacketBytes && blocks > 0) {
      // The packet is closed with zeros, never with what the buffer held before.
      std::memset(object->m__PUCHAR__Buffer + bytes, 0, kDvdPacketBytes - bytes);
      bytes = kDvdPacketBytes;
      blocks = kDvdPacketBytes / static_cast<uint32_t>(m__LONG__BlockSize);
    }
    ended = object->m__BOOLEAN__IsEndMarker;
    try {
      if (blocks > 0) Write10(object->m__PUCHAR__Buffer, blocks, m__ULONG__CurrentWriteAddress, bytes);
    } catch (CQuorvane_Exception*) {
      pool.Release(object);
      throw;
    }
    m__ULONG__CurrentWriteAddress += blocks;
    written += blocks;
    pool.Release(object);
    const uint64_t now = qv::plat::NowMs();
    if (loop.progressInterval != 0 && now - lastProgress > uint64_t(loop.progressInterval) * 1000) {
      lastProgress = now;
      Notify(CN_CDVD_WRITE_PROGRESS, loop.totalBlocks, written);
    }
    if (++writeCounter > kReadBufferCapacityEvery) {
      writeCounter = 0;
      if (loop.readBufferCapacity) {
        std::memset(capacity, 0, sizeof capacity);
        ReadBufferCapacity(capacity, sizeof capacity);
      }
    }
    if (loop.bufferInterval != 0 && now - lastBuffer > uint64_t(loop.bufferInterval) * 1000) {
      lastBuffer = now;
      const CQuorvane_DriveAnswer answer(method, "READ BUFFER CAPACITY", capacity, sizeof capacity);
      Notify(CN_CDVD_BUFFER_STATUS, answer.Be32(4), answer.Be32(8));
    }
    // What follows an end marker is the next source's, when one reader
    // feeds several.
    if (ended) break;
  }
  return m__ULONG__CurrentWriteAddress;
}

void CQuorvane_CdvdBurnerGrabber::FinishWriting() {
  Notify(CN_WRITING_END);
  Notify(CN_SYNCHRONIZE_CACHE_BEGIN);
  SynchronizeCache();
  Notify(CN_SYNCHRONIZE_CACHE_END);
  ShutDownCacheThread();
  JoinCacheThread();
}

uint32_t CQuorvane_CdvdBurnerGrabber::ShutDownCacheThread() {
  ++m__LONG__DieCounter;
  if (!m__HANDLE__CacheThread.joinable()) return 0;
  uint32_t error = 0;
  const uint32_t waited = m__HANDLE__CacheThreadDeadEvent->WaitFor(kShutDownWaitMs, &error);
  if (waited != 0) {
    QuorvaneI_Log("\n%s(): WaitForSingleObject() failed, status %ld, returned %ld\n", kShutDown,
                  static_cast<long>(error), static_cast<long>(waited));
    return error;
  }
  JoinCacheThread();
  return 0;
}

void CQuorvane_CdvdBurnerGrabber::SynchronizeCache() {
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): '%s' - '%s', disc type %u\n", kSynchronize, m__CHAR__VendorId, m__CHAR__ProductId, discType);
  const QuorvaneI_DriveQuirks quirks = QuorvaneI_QuirksOf(*this);
  if (quirks.Has(kQuirkSlowSynchronizeCache)) {
    QuorvaneI_Log("\n%s(): Broken 'synchronize cache' workaround #1\n", kSynchronize);
    SynchronizeCache(false, 0, 0);
    qv::plat::SleepMs(kBrokenSynchronizePauseMs);
  } else {
    try {
      SynchronizeCache(true, 0, 0);
    } catch (CQuorvane_Exception* e) {
      if (discType != DISC_TYPE_DVDR) throw;
      QuorvaneI_Caught owned(e);
      QuorvaneI_Log("\n%s(): WARNING! Status %ld, message '%s'\n", kSynchronize, static_cast<long>(e->Number()),
                    e->Text());
      SynchronizeCache(true, 0, 0);
    }
  }
  const bool skipDiscInfo = discType == DISC_TYPE_DVDRAM || quirks.Has(kQuirkEarlyDiscInformation);
  QuorvaneI_Log(skipDiscInfo ? "\n%s(): DVD-RAM ( %d ) or broken 'read disc info' synchronization for device\n"
                             : "\n%s(): Generic synchronization\n",
                kSynchronize, static_cast<int>(discType));
  WaitForReady(kSynchronizeAttempts, kWaitPauseMs, !skipDiscInfo, false);
}
