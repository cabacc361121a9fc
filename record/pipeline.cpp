// The write pipeline's pool and events, made once per burner-grabber.
#include <cstdint>
#include <limits>

#include "core/log.h"
#include "device/burner_grabber.h"

namespace {

constexpr const char* kCtor = "CQuorvane_CdvdBurnerGrabber::CQuorvane_CdvdBurnerGrabber_SharedConstructor";
constexpr uint32_t kDefaultCacheSizeInMB = 160;
constexpr uint32_t kCacheObjectCapacity = 65536;

}  // namespace

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
  const auto count = static_cast<int32_t>(bytes / transfer);
  try {
    m__PCQuorvane_CacheManager__CacheManager = std::make_unique<CQuorvane_CacheManager>(count, kCacheObjectCapacity);
  } catch (CQuorvane_Exception* e) {
    delete e;
    QuorvaneI_Throw(kCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): Failed to create cache manager", kCtor);
  } catch (const std::bad_alloc&) {
    QuorvaneI_Throw(kCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): Failed to create cache manager", kCtor);
  }
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
                static_cast<long>(m__PCQuorvane_CacheManager__CacheManager->GetCount()),
                static_cast<unsigned long>(kCacheObjectCapacity));

  m__BOOLEAN__IsBUP = false;
  m__BOOLEAN__IsNextSession = false;
  m__PCQuorvane_FileChain__Source = nullptr;
  m__LONG__BlockSize = 0;
  m__LONG__DieCounter = 0;
}
