// The C entry points of recording.
#include <memory>
#include <new>

#include "core/log.h"
#include "core/status.h"
#include "device/burner_grabber.h"
#include "files/file.h"
#include "files/file_chain.h"
#include "iso9660/iso9660_tree.h"

namespace {

template <class Body>
QV_ULONG OnGrabber(const char* entryPoint, QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                   CDB_FAILURE_INFORMATION* failure, Body&& body) {
  return QuorvaneI_Call(entryPoint, text, textSize, systemError, failure, [&] {
    if (handle == nullptr)
      QuorvaneI_Throw(entryPoint, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Handle is NULL", entryPoint);
    body(*static_cast<CQuorvane_CdvdBurnerGrabber*>(handle));
  });
}

// A recording entry point: it starts once a disc just loaded has spun up,
// and keeps the tray locked until it returns.
template <class Body>
QV_ULONG OnRecorder(const char* entryPoint, QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                    CDB_FAILURE_INFORMATION* failure, Body&& body) {
  return OnGrabber(entryPoint, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    struct TrayLock {
      CQuorvane_CdvdBurnerGrabber& g;
      ~TrayLock() { g.UnlockTrayAfterRecording(); }
    } tray{g};
    g.WaitForSpinUp();
    g.LockTrayForRecording();
    body(g);
  });
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* fileName, QV_BOOLEAN mode2Form1, QV_BOOLEAN testWrite, QV_BOOLEAN nextSessionAllowed,
    QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    if (fileName == nullptr)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'fileName' is NULL", kEntry);
    const bool audio = Quorvane_IsAudioFileSupported(fileName) == EN_SUCCESS;
    std::unique_ptr<CQuorvane_File> file;
    if (audio) file = std::make_unique<CQuorvane_SonvexFile>(fileName);
    else file = std::make_unique<CQuorvane_DiskFile>(fileName);
    CQuorvane_FileChain chain;
    chain.AddChainTail(file.get());
    chain.SeekToBegin();
    g.TrackAtOnce(&chain, mode2Form1 != 0, testWrite != 0, nextSessionAllowed != 0, progressInterval, bufferInterval,
                  audio ? 2 : 1, 0, 0, 0, 0);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_HANDLE tree, QV_BOOLEAN mode2Form1, QV_BOOLEAN testWrite, QV_BOOLEAN nextSessionAllowed,
    QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    if (tree == nullptr)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'tree' is NULL", kEntry);
    auto* image = static_cast<CQuorvane_ISO9660FileTree*>(tree);
    // An unbuilt tree has no chain yet: nothing would reach the disc.
    if (!image->IsImageBuild())
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): The tree's image is not built", kEntry);
    g.TrackAtOnce(image, mode2Form1 != 0, testWrite != 0, nextSessionAllowed != 0, progressInterval, bufferInterval,
                  1, 0, 0, 0, 0);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_CloseSession(QV_HANDLE handle, char* text,
                                                                          QV_ULONG textSize, QV_ULONG* systemError,
                                                                          CDB_FAILURE_INFORMATION* failure) {
  // The automation layer reads these two lines under this name.
  QuorvaneI_Log("Quorvane:Quorvane_CvdBurnerGrabber_CloseSession(): ENTERed\n");
  const QV_ULONG status = OnRecorder("Quorvane_CdvdBurnerGrabber_CloseSession", handle, text, textSize, systemError,
                                     failure, [&](CQuorvane_CdvdBurnerGrabber& g) { g.CloseSession(); });
  QuorvaneI_Log("Quorvane:Quorvane_CvdBurnerGrabber_CloseSession(): EXITing with status %d ( 0x%x )\n",
                static_cast<int>(status), static_cast<unsigned>(status));
  return status;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Blank(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                   QV_ULONG* systemError,
                                                                   CDB_FAILURE_INFORMATION* failure,
                                                                   QV_LONG blankingType) {
  return OnRecorder("Quorvane_CdvdBurnerGrabber_Blank", handle, text, textSize, systemError, failure,
                    [&](CQuorvane_CdvdBurnerGrabber& g) { g.Blank(blankingType, 0); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Format(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                    QV_ULONG* systemError,
                                                                    CDB_FAILURE_INFORMATION* failure) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_Format";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    const uint32_t discType = g.GetDiscTypeSafe();
    if (discType == DISC_TYPE_DVDPLUSRW) g.FormatUnitForDVDPLUSRW();
    else if (discType == DISC_TYPE_DVDRAM) g.FormatUnitForDVDRAM();
    else if (discType == DISC_TYPE_DVDRW_SR || discType == DISC_TYPE_DVDRW_RO) g.FormatUnitForDVDRW(true);
    else
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Disc type %u cannot be formatted", kEntry,
                      discType);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetCacheFill(QV_HANDLE handle, QV_ULONG* queued,
                                                                          QV_ULONG* total) {
  if (handle == nullptr || queued == nullptr || total == nullptr) return EN_INVALID_PARAMETER;
  const auto& g = *static_cast<CQuorvane_CdvdBurnerGrabber*>(handle);
  *queued = g.GetQueuedCacheObjects();
  *total = static_cast<QV_ULONG>(g.GetCacheManager()->GetCount());
  return EN_SUCCESS;
}
