// The burner-grabber's own steps around its pipeline: making it, and the
// closing flush every recording mode ends with.
#include "record/burner_grabber.h"

#include "core/log.h"
#include "device/drive_quirks.h"
#include "platform/clock.h"

namespace {

constexpr const char* kSynchronize = "CQuorvane_CdvdBurnerGrabber::SynchronizeCache";
constexpr uint32_t kBrokenSynchronizePauseMs = 15000;
constexpr uint32_t kSynchronizeAttempts = 100;
constexpr uint32_t kWaitPauseMs = 5000;

}  // namespace

// The pipeline is made once the drive is known: its pool is sized from
// the drive's buffer and transfer length.
CQuorvane_CdvdBurnerGrabber::CQuorvane_CdvdBurnerGrabber(CQuorvane_ScsiTransport* transport,
                                                         PQUORVANE_CALLBACK callback, void* context,
                                                         uint32_t cacheSizeInMB)
    : CQuorvane_CdvdGrabber(transport, callback, context),
      m__QuorvaneI_WritePipeline__Pipeline(*this, cacheSizeInMB) {
  m__BOOLEAN__IsBUP = false;
}

CQuorvane_CdvdBurnerGrabber::~CQuorvane_CdvdBurnerGrabber() = default;

void CQuorvane_CdvdBurnerGrabber::FinishWriting() {
  Notify(CN_WRITING_END);
  Notify(CN_SYNCHRONIZE_CACHE_BEGIN);
  SynchronizeCache();
  Notify(CN_SYNCHRONIZE_CACHE_END);
  ShutDownCacheThread();
}

void CQuorvane_CdvdBurnerGrabber::SynchronizeCache() {
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): '%s' - '%s', disc type %u\n", kSynchronize, m__CHAR__VendorId, m__CHAR__ProductId, discType);
  const QuorvaneI_DriveQuirks quirks = Quirks();
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
