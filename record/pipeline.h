// QuorvaneI_WritePipeline: the host side of one recording's data. A reader
// thread fills cache buffers from the sources and queues them; the writer,
// on the recording's own thread, sends them to the drive with WRITE(10) in
// order. The two meet through the pool, the data queue, two events and a
// die counter; the reader never touches the drive, and every callback is
// made on the writer's thread. A read failure or a cancel reaches the
// writer as an error buffer at the head of the queue, so it overtakes what
// was not written yet. The burner-grabber owns one pipeline for its life.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/event.h"
#include "record/cache.h"

class CQuorvane_CdvdDrive;
class CQuorvane_FileChain;

// One run of the writer.
struct QuorvaneI_WriteLoop {
  uint32_t address = 0;          // first block to write
  uint64_t totalBlocks = 0;      // for the progress reports
  int32_t progressInterval = 0;  // seconds, 0 = never
  int32_t bufferInterval = 0;
  bool readBufferCapacity = true;
  bool fullLastPacket = false;  // the end-marked buffer goes out as 16 whole blocks
};

class QuorvaneI_WritePipeline {
 public:
  // The pool is sized from cacheSizeInMB (0 selects 160), never below twice
  // the drive's buffer, in buffers of the drive's transfer length as it
  // stands now. Throws 4 when the pool cannot be had, 5 for an event.
  QuorvaneI_WritePipeline(CQuorvane_CdvdDrive& drive, uint32_t cacheSizeInMB);
  // Stops a reader still running and frees the exceptions still queued.
  ~QuorvaneI_WritePipeline();
  QuorvaneI_WritePipeline(const QuorvaneI_WritePipeline&) = delete;
  QuorvaneI_WritePipeline& operator=(const QuorvaneI_WritePipeline&) = delete;

  // Collects any earlier reader, resets events, queue and pool and starts
  // the reader on source. method names the recording in exceptions.
  void Start(const char* method, CQuorvane_FileChain* source, int32_t blockSize);
  // The same with one reader for count sources read in order, each with
  // its block size; each source's last buffer carries the end marker. The
  // arrays must outlive the reader.
  void StartMany(const char* method, CQuorvane_FileChain** sources, int32_t* blockSizes, int32_t count);
  // The writer's block size, for a track of a one-reader session that
  // differs from the one the pipeline was started with.
  void SetBlockSize(int32_t blockSize) { m__LONG__BlockSize = blockSize; }
  // Writes what the reader queues until its end marker, from loop.address;
  // cursor follows every block the drive took, so that a failure leaves it
  // at what was written. Returns the address after the last block.
  uint32_t Write(const char* method, const QuorvaneI_WriteLoop& loop, uint32_t& cursor);
  // Tells the reader to die, waits up to two seconds for it to say so,
  // then collects it. Never throws: 0 or the status of a failed wait.
  uint32_t Stop();
  // Collects a reader that has ended; no-op when none is left.
  void Join();
  // Exception 14 when the drive's cancel flag is set; offset says how many
  // bytes of the source were written.
  void ThrowIfCancelled(const char* method, uint64_t offset) const;

  uint32_t QueuedBuffers() const;
  int32_t CacheSizeInBytes() const { return m__LONG__CacheSize; }
  int32_t PoolCount() const { return m__LONG__CacheObjects; }
  // Throws 4 when its memory cannot be had.
  CQuorvane_CacheManager* Pool();

 private:
  void BuildPool(uint32_t cacheSizeInMB);
  void StartReader(const char* method, CQuorvane_FileChain* source, int32_t blockSize,
                   const std::function<void()>& reader);
  void FreeQueuedErrors();
  // The thread bodies: one source, or the sources in turn. 0 or the
  // status of a failed event call.
  uint32_t WriteCacheThread();
  uint32_t WriteCacheThreadEx();
  // One source into the queue; 1 when the thread must stop.
  uint32_t ReadSource(const char* method, CQuorvane_FileChain* source, int32_t sourceBlockSize, bool* cacheFullSet,
                      uint32_t* lastStatus);
  CQuorvane_CacheObject* TakeFreeBuffer(const char* method, bool* cacheFullSet, uint32_t* lastStatus);
  uint32_t EndReader(const char* method, bool cacheFullSet, uint32_t lastStatus);
  static bool ReaderMustStop(const void* pipeline);
  // The writer's steps.
  void WaitForCacheFull(const char* method);
  CQuorvane_CacheObject* NextBuffer(const char* method, const QuorvaneI_WriteLoop& loop, uint64_t written);
  void WriteBuffer(const QuorvaneI_WriteLoop& loop, CQuorvane_CacheObject* object, uint32_t& cursor,
                   uint64_t& written);

  CQuorvane_CdvdDrive& m__CQuorvane_CdvdDrive__Drive;
  int32_t m__LONG__CacheSize = 0;
  int32_t m__LONG__CacheObjects = 0;
  std::unique_ptr<CQuorvane_CacheManager> m__PCQuorvane_CacheManager__CacheManager;
  CQuorvane_LockedFifoQueue m__CQuorvane_LockedFifoQueue__DataQueue;
  std::unique_ptr<qv::plat::ManualResetEvent> m__HANDLE__CacheFullEvent;
  std::unique_ptr<qv::plat::ManualResetEvent> m__HANDLE__CacheThreadDeadEvent;
  std::atomic<int32_t> m__LONG__DieCounter{0};
  CQuorvane_FileChain* m__PCQuorvane_FileChain__Source = nullptr;
  CQuorvane_FileChain** m__PPCQuorvane_FileChain__Sources = nullptr;
  int32_t* m__PLONG__SourceBlockSizes = nullptr;
  int32_t m__LONG__SourceCount = 0;
  int32_t m__LONG__BlockSize = 0;
  std::thread m__HANDLE__CacheThread;
  std::atomic<int32_t> m__LONG__QueuedObjects{0};  // filled buffers in the queue, for the progress display
};
