#include "files/read_ahead.h"

#include <algorithm>

#include "platform/file.h"

namespace {

constexpr size_t kBatches = QuorvaneI_ReadAhead::kWindow / QuorvaneI_ReadAhead::kBatch;

}  // namespace

QuorvaneI_ReadAhead::QuorvaneI_ReadAhead(std::vector<Wanted> files, unsigned threads)
    : m__Files(std::move(files)), m__Slots(kWindow) {
  for (unsigned i = 0; i < threads; ++i) m__Workers.emplace_back([this] { Work(); });
}

QuorvaneI_ReadAhead::~QuorvaneI_ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(m__Lock);
    m__Stop = true;
  }
  m__Claimable.notify_all();
  for (std::thread& t : m__Workers) t.join();
}

const uint8_t* QuorvaneI_ReadAhead::Next() {
  if (m__Taken == m__Files.size()) return nullptr;
  if (m__Taken % kBatch == 0) {
    // Done with the last batch, on to the next: the only time the caller
    // meets the workers.
    std::unique_lock<std::mutex> lock(m__Lock);
    if (m__Taken != 0) {
      m__Filled[(m__Taken / kBatch - 1) % kBatches] = false;
      m__Released = m__Taken;
      m__Claimable.notify_one();
    }
    const size_t batch = (m__Taken / kBatch) % kBatches;
    m__Done.wait(lock, [&] { return m__Filled[batch]; });
  }
  const Slot& slot = m__Slots[m__Taken++ % kWindow];
  return slot.ready ? slot.data.get() : nullptr;
}

void QuorvaneI_ReadAhead::Work() {
  std::unique_lock<std::mutex> lock(m__Lock);
  for (;;) {
    m__Claimable.wait(lock, [&] {
      return m__Stop || m__Claimed * kBatch >= m__Files.size() || (m__Claimed + 1) * kBatch <= m__Released + kWindow;
    });
    if (m__Stop || m__Claimed * kBatch >= m__Files.size()) return;
    const size_t batch = m__Claimed++;
    lock.unlock();
    // The batch's slots were released with the batch kBatches before:
    // they are this worker's until it marks them filled.
    const size_t end = std::min((batch + 1) * kBatch, m__Files.size());
    for (size_t i = batch * kBatch; i < end; ++i) {
      Slot& slot = m__Slots[i % kWindow];
      slot.ready = Read(m__Files[i], slot);
    }
    lock.lock();
    m__Filled[batch % kBatches] = true;
    m__Done.notify_one();
  }
}

bool QuorvaneI_ReadAhead::Read(const Wanted& file, Slot& slot) {
  if (file.path.empty() || file.size > kMaxSize) return false;
  // One byte more than it had: a byte there means it grew.
  const size_t wanted = static_cast<size_t>(file.size) + 1;
  if (slot.capacity < wanted) {
    slot.capacity = (wanted + 4095) / 4096 * 4096;
    slot.data = std::make_unique<uint8_t[]>(slot.capacity);
  }
  uint32_t error = 0;
  qv::plat::File f = qv::plat::File::OpenToRead(file.path, &error);
  return f.IsOpen() && f.ReadAtOnce(0, slot.data.get(), wanted, &error) == static_cast<int64_t>(file.size);
}
