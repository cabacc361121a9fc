// Small files read on a few threads ahead of a stream that takes them in
// order. A tree of many small files costs an open, a read and a close per
// file; done one after another they leave the stream waiting on each, done
// on several threads they overlap. Memory stays bounded: at most kWindow
// files are held ahead, each of at most kMaxSize bytes.
//
// A file is read ahead only when it still holds exactly the bytes it was
// sized with (one read of one byte more tells). Anything else (a file
// that is gone, cannot be opened, grew or shrank, or is large) is left to
// the caller, who reads it as if there were no read-ahead and so reports
// it the same way.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QuorvaneI_ReadAhead {
 public:
  static constexpr uint64_t kMaxSize = 64 * 1024;
  // Files go to a worker and back in batches, so the threads meet once per
  // batch rather than once per file.
  static constexpr size_t kBatch = 16;
  static constexpr size_t kWindow = 8 * kBatch;

  struct Wanted {
    std::string path;  // empty: not a disk file, never read ahead
    uint64_t size;     // as sized
  };

  // Starts threads workers on files, which the caller takes in this order.
  QuorvaneI_ReadAhead(std::vector<Wanted> files, unsigned threads);
  // Stops the workers; files read and not taken are dropped.
  ~QuorvaneI_ReadAhead();
  QuorvaneI_ReadAhead(const QuorvaneI_ReadAhead&) = delete;
  QuorvaneI_ReadAhead& operator=(const QuorvaneI_ReadAhead&) = delete;

  // The next file in order: its bytes (as many as it was sized with), or
  // nullptr when the caller must read it itself. The bytes stay valid
  // until Next is called again.
  const uint8_t* Next();

 private:
  struct Slot {
    bool ready = false;
    std::unique_ptr<uint8_t[]> data;
    size_t capacity = 0;
  };

  void Work();
  bool Read(const Wanted& file, Slot& slot);

  const std::vector<Wanted> m__Files;
  std::vector<Slot> m__Slots;             // file i in slot i % kWindow
  bool m__Filled[kWindow / kBatch] = {};  // batch b's slots hold batch b
  std::mutex m__Lock;
  std::condition_variable m__Claimable;  // a batch may be claimed, or stop
  std::condition_variable m__Done;       // a batch was filled
  size_t m__Claimed = 0;                 // batches handed to workers
  size_t m__Released = 0;                // files the caller is done with
  size_t m__Taken = 0;                   // files the caller has been given
  bool m__Stop = false;
  std::vector<std::thread> m__Workers;
};
