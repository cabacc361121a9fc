// Track-at-once recording and the closing of what it recorded: the
// facade's entry points and the session recorder's steps.
#include <cstring>
#include <memory>

#include "core/log.h"
#include "core/settings.h"
#include "device/guarded.h"
#include "files/file_chain.h"
#include "record/burner_grabber.h"

namespace {

constexpr const char* kTao = "CQuorvane_CdvdBurnerGrabber::TrackAtOnce";
constexpr const char* kClose = "CQuorvane_CdvdBurnerGrabber::CloseSession";
constexpr uint32_t kCloseAttempts = 20;
constexpr uint32_t kWaitPauseMs = 5000;

// Nothing to record is a mistake of the caller's, found before the drive
// hears of the recording: a track needs at least one whole block.
uint64_t SizeSource(CQuorvane_FileChain* chain, const QuorvaneI_TrackKind& kind) {
  if (chain == nullptr) QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0, "%s(): Source is NULL", kTao);
  uint64_t bytes = 0;
  chain->GetSizeInUCHARs(&bytes);
  if (bytes / static_cast<uint64_t>(kind.blockSize) == 0)
    QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0, "%s(): Source of %llu UCHAR(s) holds no whole block of %ld UCHARs",
                    kTao, static_cast<unsigned long long>(bytes), static_cast<long>(kind.blockSize));
  return bytes;
}

void LogExit(const CQuorvane_Exception* e) {
  QuorvaneI_Log("\n%s(): EXITing with failure, status %ld, message '%s'\n", kTao,
                static_cast<long>(e ? e->Number() : uint32_t{EN_EXCEPTION_NOT_ALLOCATED}), e ? e->Text() : "");
}

}  // namespace

QuorvaneI_TrackKind QuorvaneI_KindOf(int32_t trackType, bool mode2Form1) {
  if (trackType == 1)
    return mode2Form1 ? QuorvaneI_TrackKind{2048, 10, 4, 0x20, "Setting write parameters to MODE2/Form1"}
                      : QuorvaneI_TrackKind{2048, 8, 4, 0x00, "Setting write parameters to MODE1"};
  if (trackType == 2) return {2352, 0, 0, 0x00, "Setting write parameters to audio"};
  return {2332, 13, 4, 0x20, "Setting write parameters to MODE2/Form2"};
}

// ---- The facade ----

void CQuorvane_CdvdBurnerGrabber::TrackAtOnce(CQuorvane_FileChain* chain, bool mode2Form1, bool testWrite,
                                              bool nextSessionAllowed, int32_t progressInterval,
                                              int32_t bufferInterval, int32_t trackType, uint8_t subHeader0,
                                              uint8_t subHeader1, uint8_t subHeader2, uint8_t subHeader3) {
  QuorvaneI_TrackRequest request;
  request.trackType = trackType;
  request.mode2Form1 = mode2Form1;
  request.testWrite = testWrite;
  request.nextSessionAllowed = nextSessionAllowed;
  request.progressInterval = progressInterval;
  request.bufferInterval = bufferInterval;
  const uint8_t subHeader[4] = {subHeader0, subHeader1, subHeader2, subHeader3};
  std::memcpy(request.subHeader, subHeader, sizeof subHeader);
  TrackAtOnce(chain, request);
}

void CQuorvane_CdvdBurnerGrabber::TrackAtOnce(CQuorvane_FileChain* chain, const QuorvaneI_TrackRequest& request) {
  QuorvaneI_Log("\n%s(): ENTERed for 0x%p\n", kTao, static_cast<void*>(chain));
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  m__ULONG__CurrentWriteAddress = 0;
  CQuorvane_SessionRecorder recorder(*this, kTao);
  // Refusals first: they change nothing, so nothing is flushed or ejected.
  uint64_t bytes = 0;
  try {
    bytes = SizeSource(chain, QuorvaneI_KindOf(request.trackType, request.mode2Form1));
    recorder.Preflight(request);
  } catch (CQuorvane_Exception* e) {
    LogExit(e);
    throw;
  }
  try {
    recorder.RecordTrack(chain, bytes, request);
    QuorvaneI_Log("\n%s(): EXITing with success\n", kTao);
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Log("\n%s(): Method in sequence failed\n", kTao);
    LogExit(e);
    AbandonRecording(kTao);
    throw;
  }
}

void CQuorvane_CdvdBurnerGrabber::AbandonRecording(const char* method) {
  // Stop the reader before anything else touches the drive or the source.
  ShutDownCacheThread();
  JoinCacheThread();
  if (m__ULONG__CurrentWriteAddress > 0) {
    QuorvaneI_Log("\n%s(): Synchronizing cache\n", method);
    QuorvaneI_Guarded(method, [&] { SynchronizeCache(); });
  }
  QuorvaneI_Log("\n%s(): Ejecting disc\n", method);
  if (!QuorvaneI_EjectAfterFail()) {
    QuorvaneI_Log("\n%s(): Eject sequence is disabled...\n", method);
    return;
  }
  try {
    Eject();
  } catch (CQuorvane_Exception* ejectFailure) {
    QuorvaneI_Caught owned(ejectFailure);
    QuorvaneI_Log("\n%s(): Eject() failed, status %ld\n", method, static_cast<long>(ejectFailure->Number()));
  }
}

void CQuorvane_CdvdBurnerGrabber::CloseSession() {
  QuorvaneI_Log("\n%s(): ENTERed\n", kClose);
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kClose, [&] { CQuorvane_SessionRecorder(*this, kClose).CloseSession(); });
}

// ---- The session recorder ----

CQuorvane_SessionRecorder::CQuorvane_SessionRecorder(CQuorvane_CdvdBurnerGrabber& drive, const char* method)
    : m__Drive(drive), m__Method(method), m__Quirks(QuorvaneI_QuirksOf(drive)) {}

CQuorvane_SessionRecorder::~CQuorvane_SessionRecorder() = default;

bool CQuorvane_SessionRecorder::NextSession() const { return m__Drive.m__BOOLEAN__IsNextSession; }
const char* CQuorvane_SessionRecorder::Vendor() const { return m__Drive.m__CHAR__VendorId; }
const char* CQuorvane_SessionRecorder::Product() const { return m__Drive.m__CHAR__ProductId; }

void CQuorvane_SessionRecorder::Notify(uint32_t reason, uint64_t parameter1, uint64_t parameter2) {
  m__Drive.Notify(reason, parameter1, parameter2);
}

void CQuorvane_SessionRecorder::ThrowIfCancelled(uint64_t offset) { m__Drive.ThrowIfCancelled(m__Method, offset); }

void CQuorvane_SessionRecorder::ChooseStrategy() {
  m__Strategy = QuorvaneI_ChooseStrategy(m__DiscType, NextSession(), m__Drive.m__UCHAR__LastWriteMode);
}

void CQuorvane_SessionRecorder::SendParameters(const QuorvaneI_WriteParameters& parameters) {
  m__Drive.SetWriteParameters(parameters);
}

void CQuorvane_SessionRecorder::CloseTrackSession(bool immediate, bool function2, bool function1, bool function0,
                                                  uint16_t track) {
  m__Drive.CloseTrackSession(immediate, function2, function1, function0, track);
}

void CQuorvane_SessionRecorder::WaitAfterClose(bool readDiscInformationFirst) {
  m__Drive.WaitForReady(kCloseAttempts, kWaitPauseMs, readDiscInformationFirst, false);
}
