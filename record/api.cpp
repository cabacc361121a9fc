// The C entry points of recording.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/status.h"
#include "device/api_checks.h"
#include "files/file.h"
#include "files/file_chain.h"
#include "files/image_handles.h"
#include "grab/mds.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "record/burner_grabber.h"
#include "record/cue_burn.h"
#include "record/raw_areas.h"
#include "scsi/transport_aspi.h"
#include "scsi/transport_sptd.h"
#include "scsi/transport_spti.h"

namespace {

constexpr const char* kGenericCtor = "CQuorvane_ScsiDeviceGeneric::CQuorvane_ScsiDeviceGeneric";

// A new transport; allocation failure is reported as the device's
// constructor failing with what names the transport.
template <class Transport, class... Args>
CQuorvane_ScsiTransport* NewTransport(const std::string& what, Args&&... args) {
  auto* t = new (std::nothrow) Transport(std::forward<Args>(args)...);
  if (t == nullptr)
    QuorvaneI_Throw(kGenericCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): new %s failed", kGenericCtor, what.c_str());
  return t;
}


// Builds the object on a transport made by makeTransport; transportName
// names it in the allocation failure.
template <class MakeTransport>
QV_ULONG Create(const char* entryPoint, QV_HANDLE* handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                CDB_FAILURE_INFORMATION* failure, PQUORVANE_CALLBACK callback, void* context, QV_ULONG cacheSizeInMB,
                MakeTransport&& makeTransport) {
  if (handle != nullptr) *handle = nullptr;
  return QuorvaneI_CallCreate(entryPoint, text, textSize, systemError, failure, [&] {
    if (handle == nullptr)
      QuorvaneI_Throw(entryPoint, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'handle' is NULL", entryPoint);
    CQuorvane_ScsiTransport* transport = makeTransport();
    auto* grabber = new (std::nothrow) CQuorvane_CdvdBurnerGrabber(transport, callback, context, cacheSizeInMB);
    if (grabber == nullptr) {
      delete transport;
      QuorvaneI_Throw(entryPoint, EN_MEMORY_ALLOCATION_FAILED, 0, "Quorvane:%s(): new CQuorvane_CdvdBurnerGrabber() failed",
                      entryPoint);
    }
    // The handle is the drive's address, which every entry point takes.
    *handle = static_cast<CQuorvane_CdvdDrive*>(grabber);
  });
}



template <class Body>
QV_ULONG OnGrabber(const char* entryPoint, QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                   CDB_FAILURE_INFORMATION* failure, Body&& body) {
  return QuorvaneI_Call(entryPoint, text, textSize, systemError, failure, [&] {
    body(*CQuorvane_CdvdBurnerGrabber::FromDrive(&QuorvaneI_DriveOf(entryPoint, handle)));
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

// Tells the grabber's callback that a file being recorded changed.
class ChangeToCallback final : public CQuorvane_FileChangeListener {
 public:
  explicit ChangeToCallback(CQuorvane_CdvdBurnerGrabber& grabber) : grabber_(grabber) {}
  void OnFileChanged(const char* fileName) override {
    if (PQUORVANE_CALLBACK callback = grabber_.GetCallback())
      callback(CN_FILE_CHANGED, grabber_.GetCallbackContext(), const_cast<char*>(fileName), nullptr);
  }

 private:
  CQuorvane_CdvdBurnerGrabber& grabber_;
};

// One file as one track, padded to whole blocks (2352-byte frames of audio,
// 2048-byte data blocks) so that the recorder, which writes whole blocks,
// cuts nothing off; a change to the file while it is read reaches the
// grabber's callback.
class FileTrack {
 public:
  FileTrack(const char* entry, CQuorvane_CdvdBurnerGrabber& g, const char* fileName, QV_ULONG kind) : listener_(g) {
    if (fileName == nullptr)
      QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'fileName' is NULL", entry);
    if (kind > QVX_TRACK_FROM_FILE_AUDIO)
      QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Track kind %lu is not 0, 1 or 2", entry,
                      static_cast<unsigned long>(kind));
    const bool supported = Quorvane_IsAudioFileSupported(fileName) == EN_SUCCESS;
    if (kind == QVX_TRACK_FROM_FILE_AUDIO && !supported)
      QuorvaneI_Throw(entry, EN_UNSUPPORTED_AUDIO_FORMAT, 0,
                      "Quorvane:%s(): '%s' is not an audio file this engine decodes", entry, fileName);
    audio_ = kind == QVX_TRACK_FROM_FILE_AUDIO || (kind == QVX_TRACK_FROM_FILE_GUESS && supported);
    if (audio_) file_ = std::make_unique<CQuorvane_SonvexFile>(fileName);
    else file_ = std::make_unique<CQuorvane_DiskFile>(fileName);
    const uint32_t block = audio_ ? 2352 : 2048;
    if (const uint64_t padding = file_->PadToWhole(block))
      QuorvaneI_Log("\nQuorvane:%s(): '%s' is not whole blocks of %lu UCHARs: padded with %llu zero UCHARs\n", entry,
                    fileName, static_cast<unsigned long>(block), static_cast<unsigned long long>(padding));
    file_->SetChangeListener(&listener_);
    chain_.AddChainTail(file_.get());
    chain_.SeekToBegin();
  }
  bool audio() const { return audio_; }
  CQuorvane_FileChain* chain() { return &chain_; }

 private:
  bool audio_ = false;
  std::unique_ptr<CQuorvane_DiskFile> file_;
  ChangeToCallback listener_;
  CQuorvane_FileChain chain_;
};

void RecordFile(const char* entry, CQuorvane_CdvdBurnerGrabber& g, const char* fileName, QV_ULONG kind,
                bool mode2Form1, bool testWrite, bool nextSessionAllowed, QV_LONG progressInterval,
                QV_LONG bufferInterval) {
  FileTrack track(entry, g, fileName, kind);
  g.TrackAtOnce(track.chain(), mode2Form1, testWrite, nextSessionAllowed, progressInterval, bufferInterval,
                track.audio() ? 2 : 1, 0, 0, 0, 0);
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Create(
    QV_HANDLE* handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    PQUORVANE_CALLBACK callback, void* context, QV_UCHAR portId, QV_UCHAR pathId, QV_UCHAR targetId, QV_UCHAR lun,
    QV_ULONG cacheSizeInMB) {
  return Create("Quorvane_CdvdBurnerGrabber_Create", handle, text, textSize, systemError, failure, callback, context,
                cacheSizeInMB, [&] {
                  return NewTransport<CQuorvane_ScsiTransportASPI>("CQuorvane_ScsiTransportASPI()", portId, pathId,
                                                                   targetId, lun);
                });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_CreateEx(
    QV_HANDLE* handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    PQUORVANE_CALLBACK callback, void* context, const char* deviceName, QV_ULONG cacheSizeInMB) {
  return Create("Quorvane_CdvdBurnerGrabber_CreateEx", handle, text, textSize, systemError, failure, callback,
                context, cacheSizeInMB,
                [&] { return NewTransport<CQuorvane_ScsiTransportSPTI>("CQuorvane_ScsiTransportSPTI()", deviceName); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_CreateExEx(
    QV_HANDLE* handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    PQUORVANE_CALLBACK callback, void* context, const QV_WCHAR* deviceName, QV_UCHAR openMode,
    QV_ULONG cacheSizeInMB) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_CreateExEx";
  return Create(kEntry, handle, text, textSize, systemError, failure, callback, context, cacheSizeInMB,
                [&]() -> CQuorvane_ScsiTransport* {
                  if (deviceName == nullptr)
                    QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'deviceName' is NULL",
                                    kEntry);
                  std::u16string name;
                  for (const QV_WCHAR* p = deviceName; *p != 0; ++p) name.push_back(static_cast<char16_t>(*p));
                  return NewTransport<CQuorvane_ScsiTransportSPTD>("CQuorvane_ScsiTransportSPTD( '" +
                                                                       QuorvaneI_NarrowForLog(name) + "', " +
                                                                       std::to_string(openMode) + " )",
                                                                   name.c_str(), openMode);
                });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* fileName, QV_BOOLEAN mode2Form1, QV_BOOLEAN testWrite, QV_BOOLEAN nextSessionAllowed,
    QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordFile(kEntry, g, fileName, QVX_TRACK_FROM_FILE_GUESS, mode2Form1 != 0, testWrite != 0,
               nextSessionAllowed != 0, progressInterval, bufferInterval);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFileEx(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* fileName, QV_ULONG trackKind, QV_BOOLEAN mode2Form1, QV_BOOLEAN testWrite,
    QV_BOOLEAN nextSessionAllowed, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFileEx";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordFile(kEntry, g, fileName, trackKind, mode2Form1 != 0, testWrite != 0, nextSessionAllowed != 0,
               progressInterval, bufferInterval);
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
    CQuorvane_ImageSource* source = QuorvaneI_ImageOfHandle(tree);
    if (source == nullptr)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'tree' is not an image tree", kEntry);
    // An unbuilt tree has no chain yet: nothing would reach the disc.
    CQuorvane_FileChain* image = source->BuiltImage();
    if (image == nullptr)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): The tree's image is not built", kEntry);
    g.TrackAtOnce(image, mode2Form1 != 0, testWrite != 0, nextSessionAllowed != 0, progressInterval, bufferInterval,
                  1, 0, 0, 0, 0);
  });
}

namespace {

// The tracks of the C layout as files, recorded with one reader per track
// or one for all.
void RecordSaoTracks(const char* entry, CQuorvane_CdvdBurnerGrabber& g, const QUORVANE_SAO_TRACK* tracks,
                     QV_LONG trackCount, const char* catalog, QV_BOOLEAN xa, QV_BOOLEAN testWrite,
                     QV_BOOLEAN nextSession, QV_LONG progressInterval, QV_LONG bufferInterval, bool oneReader) {
  if (tracks == nullptr || trackCount < 1 || trackCount > 99)
    QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'tracks' is NULL or not 1 to 99 tracks",
                    entry);
  ChangeToCallback listener(g);
  std::vector<std::unique_ptr<CQuorvane_DiskFile>> files;
  std::vector<std::unique_ptr<CQuorvane_FileChain>> chains;
  QuorvaneI_SaoLayout layout;
  if (catalog != nullptr) layout.catalog = catalog;
  for (QV_LONG i = 0; i < trackCount; ++i) {
    const QUORVANE_SAO_TRACK& in = tracks[i];
    if (in.m__PCHAR__FileName == nullptr || in.m__LONG__IndexCount < 0 || in.m__LONG__IndexCount > 98)
      QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Track %ld has no file or a wrong index count",
                      entry, static_cast<long>(i + 1));
    QuorvaneI_SaoTrack t;
    t.audio = in.m__BOOLEAN__IsAudio != 0;
    t.mode2 = in.m__BOOLEAN__IsMode2 != 0;
    t.pregapBlocks = in.m__LONG__PregapBlocks;
    t.pregapExtraBlocks = in.m__LONG__PregapExtraBlocks;
    t.postgapBlocks = in.m__LONG__PostgapBlocks;
    std::memcpy(t.isrc, in.m__CHAR__Isrc, sizeof t.isrc);
    t.isrc[12] = 0;
    t.indexes.assign(in.m__LONG__Indexes, in.m__LONG__Indexes + in.m__LONG__IndexCount);
    if (t.audio && Quorvane_IsAudioFileSupported(in.m__PCHAR__FileName) != EN_SUCCESS)
      QuorvaneI_Throw(entry, EN_UNSUPPORTED_AUDIO_FORMAT, 0,
                      "Quorvane:%s(): '%s' is not an audio file this engine decodes", entry, in.m__PCHAR__FileName);
    if (t.audio) files.push_back(std::make_unique<CQuorvane_SonvexFile>(in.m__PCHAR__FileName));
    else files.push_back(std::make_unique<CQuorvane_DiskFile>(in.m__PCHAR__FileName));
    files.back()->PadToWhole(static_cast<uint32_t>(QuorvaneI_SaoBlockSize(t, xa != 0)));
    files.back()->SetChangeListener(&listener);
    chains.push_back(std::make_unique<CQuorvane_FileChain>());
    chains.back()->AddChainTail(files.back().get());
    t.source = chains.back().get();
    layout.tracks.push_back(std::move(t));
  }
  QuorvaneI_SaoRequest request;
  request.xa = xa != 0;
  request.testWrite = testWrite != 0;
  request.nextSession = nextSession != 0;
  request.progressInterval = progressInterval;
  request.bufferInterval = bufferInterval;
  if (oneReader) g.SessionAtOnceEx(layout, request);
  else g.SessionAtOnce(layout, request);
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SessionAtOnce(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const QUORVANE_SAO_TRACK* tracks, QV_LONG trackCount, const char* catalog, QV_BOOLEAN xa, QV_BOOLEAN testWrite,
    QV_BOOLEAN nextSession, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_SessionAtOnce";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordSaoTracks(kEntry, g, tracks, trackCount, catalog, xa, testWrite, nextSession, progressInterval,
                    bufferInterval, false);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SessionAtOnceEx(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const QUORVANE_SAO_TRACK* tracks, QV_LONG trackCount, const char* catalog, QV_BOOLEAN xa, QV_BOOLEAN testWrite,
    QV_BOOLEAN nextSession, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_SessionAtOnceEx";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordSaoTracks(kEntry, g, tracks, trackCount, catalog, xa, testWrite, nextSession, progressInterval,
                    bufferInterval, true);
  });
}

namespace {

constexpr const char* kTextBesideData =
    "the sheet has CD-Text and data tracks; CD-Text goes only onto a disc of audio tracks";

// A sheet read for session-at-once or raw disc-at-once; false with why.
bool ReadCueLayout(QuorvaneI_CueLayout& layout, const char* cueFileName, bool raw, std::string* why) {
  if (!(raw ? layout.ReadRaw(cueFileName, why) : layout.Read(cueFileName, why))) return false;
  // The lead-in carries CD-Text on a disc without data only.
  if (!layout.cdText().empty() && layout.AnyData()) {
    *why = kTextBesideData;
    return false;
  }
  return true;
}

QV_ULONG CheckCueSheet(const char* cueFileName, bool raw, char* error, QV_ULONG errorSize) {
  if (error != nullptr && errorSize > 0) error[0] = 0;
  if (cueFileName == nullptr) return EN_INVALID_PARAMETER;
  try {
    QuorvaneI_CueLayout layout;
    std::string why;
    if (ReadCueLayout(layout, cueFileName, raw, &why)) return EN_SUCCESS;
    if (error != nullptr && errorSize > 0) {
      const size_t n = std::min<size_t>(why.size(), errorSize - 1);
      std::memcpy(error, why.data(), n);
      error[n] = 0;
    }
    return EN_INVALID_PARAMETER;
  } catch (const std::bad_alloc&) {
    return EN_MEMORY_ALLOCATION_FAILED;
  }
}

// Reads the sheet, hands its CD-Text to the grabber and records it.
void RecordCueSheet(const char* entry, CQuorvane_CdvdBurnerGrabber& g, const char* cueFileName, bool raw,
                    QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  if (cueFileName == nullptr)
    QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'cueFileName' is NULL", entry);
  QuorvaneI_CueLayout layout;
  std::string why;
  if (!ReadCueLayout(layout, cueFileName, raw, &why))
    QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): %s", entry, why.c_str());
  // The caller's own texts, added before, win over the sheet's string by
  // string; the sheet fills in the rest.
  const std::vector<QuorvaneI_CdTextStrings>& sheet = layout.cdText();
  const bool data = layout.AnyData();
  for (size_t n = 0; n < sheet.size(); ++n) {
    QuorvaneI_CdTextStrings text = sheet[n];
    if (const CQuorvane_CDText::TrackInfo* given = g.GetCDText().GetTrackInfo(static_cast<int32_t>(n))) {
      for (auto [mine, theirs] : {std::pair{&given->title, &text.title}, std::pair{&given->performer, &text.performer},
                                  std::pair{&given->songwriter, &text.songwriter}})
        if (!mine->empty()) *theirs = *mine;
    }
    if (text.Empty()) continue;
    if (data)
      QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): %s", entry, kTextBesideData);
    g.AddCDTextForTrack(static_cast<int32_t>(n), text.title.c_str(), text.performer.c_str());
    if (!text.songwriter.empty()) g.AddCDTextSongwriter(static_cast<int32_t>(n), text.songwriter.c_str());
  }
  if (raw) {
    CQuorvane_CdvdBurnerGrabber::DiscAtOnceRequest request;
    request.testWrite = testWrite != 0;
    request.progressInterval = progressInterval;
    request.bufferInterval = bufferInterval;
    g.DiscAtOnceLayout(layout.rawDisc(), true, request);
    return;
  }
  QuorvaneI_SaoRequest request;
  request.testWrite = testWrite != 0;
  request.progressInterval = progressInterval;
  request.bufferInterval = bufferInterval;
  g.SessionAtOnceEx(layout.layout(), request);
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetCheckSessionAtOnce(const char* cueFileName, char* error,
                                                                      QV_ULONG errorSize) {
  return CheckCueSheet(cueFileName, false, error, errorSize);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetCheckRaw(const char* cueFileName, char* error, QV_ULONG errorSize) {
  return CheckCueSheet(cueFileName, true, error, errorSize);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SessionAtOnceFromCueSheet(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* cueFileName, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_SessionAtOnceFromCueSheet";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordCueSheet(kEntry, g, cueFileName, false, testWrite, progressInterval, bufferInterval);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceFromCueSheet(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* cueFileName, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_DiscAtOnceFromCueSheet";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordCueSheet(kEntry, g, cueFileName, true, testWrite, progressInterval, bufferInterval);
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
  const auto& g = *CQuorvane_CdvdBurnerGrabber::FromDrive(static_cast<CQuorvane_CdvdDrive*>(handle));
  *queued = g.GetQueuedCacheObjects();
  *total = static_cast<QV_ULONG>(g.GetCacheObjectCount());
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_AddCDTextForTrack(QV_HANDLE handle, QV_LONG track,
                                                                               const char* title,
                                                                               const char* performer, char* text,
                                                                               QV_ULONG textSize, QV_ULONG* systemError) {
  return OnGrabber("Quorvane_CdvdBurnerGrabber_AddCDTextForTrack", handle, text, textSize, systemError, nullptr,
                   [&](CQuorvane_CdvdBurnerGrabber& g) { g.AddCDTextForTrack(track, title, performer); });
}

namespace {

// One file as the one track of a raw disc-at-once recording, padded to
// whole blocks like a track-at-once file.
void RecordFileRaw(const char* entry, CQuorvane_CdvdBurnerGrabber& g, bool rawPW, const char* fileName, QV_ULONG kind,
                   bool testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  FileTrack track(entry, g, fileName, kind);
  CQuorvane_CdvdBurnerGrabber::DiscAtOnceRequest request;
  request.audio = track.audio();
  request.testWrite = testWrite;
  request.progressInterval = progressInterval;
  request.bufferInterval = bufferInterval;
  if (rawPW) g.DiscAtOnceRawPW(track.chain(), request);
  else g.DiscAtOncePQ(track.chain(), request);
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOncePQFromFile(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* fileName, QV_ULONG trackKind, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_DiscAtOncePQFromFile";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordFileRaw(kEntry, g, false, fileName, trackKind, testWrite != 0, progressInterval, bufferInterval);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceRawPWFromFile(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* fileName, QV_ULONG trackKind, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_DiscAtOnceRawPWFromFile";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    RecordFileRaw(kEntry, g, true, fileName, trackKind, testWrite != 0, progressInterval, bufferInterval);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceRaw(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const QUORVANE_SAO_TRACK* tracks, QV_LONG trackCount, const char* catalog, QV_BOOLEAN rawPW, QV_BOOLEAN testWrite,
    QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_DiscAtOnceRaw";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    if (tracks == nullptr || trackCount < 1 || trackCount > 99)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'tracks' is NULL or not 1 to 99 tracks",
                      kEntry);
    std::vector<std::unique_ptr<FileTrack>> files;
    QuorvaneI_RawDisc disc;
    if (catalog != nullptr) disc.catalog = catalog;
    for (QV_LONG i = 0; i < trackCount; ++i) {
      const QUORVANE_SAO_TRACK& in = tracks[i];
      // Raw tracks are Mode 1 or audio; what a session-at-once layout adds
      // beyond that has no place here.
      if (in.m__BOOLEAN__IsMode2 != 0 || in.m__LONG__PostgapBlocks != 0 || in.m__LONG__IndexCount < 0 ||
          in.m__LONG__IndexCount > 98)
        QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0,
                        "Quorvane:%s(): Track %ld is Mode 2, has a post-gap or a wrong index count", kEntry,
                        static_cast<long>(i + 1));
      files.push_back(std::make_unique<FileTrack>(
          kEntry, g, in.m__PCHAR__FileName, in.m__BOOLEAN__IsAudio ? QVX_TRACK_FROM_FILE_AUDIO : QVX_TRACK_FROM_FILE_DATA));
      QuorvaneI_RawDiscTrack t;
      t.audio = files.back()->audio();
      t.source = files.back()->chain();
      t.pregapBlocks = in.m__LONG__PregapBlocks + in.m__LONG__PregapExtraBlocks;
      std::memcpy(t.isrc, in.m__CHAR__Isrc, sizeof t.isrc);
      t.isrc[12] = 0;
      t.indexes.assign(in.m__LONG__Indexes, in.m__LONG__Indexes + in.m__LONG__IndexCount);
      disc.tracks.push_back(std::move(t));
    }
    CQuorvane_CdvdBurnerGrabber::DiscAtOnceRequest request;
    request.testWrite = testWrite != 0;
    request.progressInterval = progressInterval;
    request.bufferInterval = bufferInterval;
    g.DiscAtOnceLayout(disc, rawPW != 0, request);
  });
}

namespace {
constexpr uint32_t kMdsNameOutsideFolder = 123;  // the parser's status for such a name
constexpr int kMdsMediumDvd = 0x10;

// A DVD grabbed into parts: the parts read back to back as one data track,
// written in sequence as any image onto a DVD.
void BurnDvdDescription(const char* entry, CQuorvane_CdvdBurnerGrabber& g, const char* mdsName,
                        const std::string& directory, bool testWrite, QV_LONG progressInterval,
                        QV_LONG bufferInterval) {
  std::vector<QuorvaneI_MdsDvdPart> parts;
  const uint32_t status = QuorvaneI_ParseMDSForDVD(mdsName, &parts, directory.c_str());
  if (status == kMdsNameOutsideFolder)
    QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): '%s' names an image file outside its own folder",
                    entry, mdsName);
  if (status != 0)
    QuorvaneI_Throw(entry, EN_SYSTEM_CALL_FAILED, status,
                    "Quorvane:%s(): '%s' is not a DVD description whose parts are all there, status %lu", entry,
                    mdsName, static_cast<unsigned long>(status));
  const uint32_t type = g.GetDiscTypeSafe();
  if (type == DISC_TYPE_CDR || type == DISC_TYPE_CDRW || type == DISC_TYPE_CDROM)
    QuorvaneI_Throw(entry, EN_DEVICE_TYPE_UNSUPPORTED, 0, "Quorvane:%s(): '%s' describes a DVD; the disc is a CD",
                    entry, mdsName);
  std::vector<std::unique_ptr<CQuorvane_DiskFile>> files;
  CQuorvane_FileChain chain;
  for (const QuorvaneI_MdsDvdPart& part : parts) {
    files.push_back(std::make_unique<CQuorvane_DiskFile>((directory + part.name).c_str()));
    chain.AddChainTail(files.back().get());
  }
  chain.SeekToBegin();
  g.TrackAtOnce(&chain, false, testWrite, false, progressInterval, bufferInterval, 1, 0, 0, 0, 0);
}
}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceFromMDS(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* mdsName, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_DiscAtOnceFromMDS";
  return OnRecorder(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdBurnerGrabber& g) {
    if (mdsName == nullptr)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'mdsName' is NULL", kEntry);
    const std::string name = mdsName;
    const size_t slash = name.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    if (QuorvaneI_MDSMedium(mdsName) == kMdsMediumDvd) {
      BurnDvdDescription(kEntry, g, mdsName, directory, testWrite != 0, progressInterval, bufferInterval);
      return;
    }
    QuorvaneI_MdsLayout layout;
    int mode = 0;
    std::string image;
    const uint32_t status = QuorvaneI_ParseMDS(mdsName, &layout, &mode, &image, directory.c_str());
    if (status == kMdsNameOutsideFolder)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): '%s' names an image file outside its own folder",
                      kEntry, mdsName);
    if (status != 0)
      QuorvaneI_Throw(kEntry, EN_SYSTEM_CALL_FAILED, status, "Quorvane:%s(): '%s' is not a CD description to burn, status %lu",
                      kEntry, mdsName, static_cast<unsigned long>(status));
    // A raw recording starts at the lead-in of a blank disc, and a
    // session-at-once one too: a later session could only be written track
    // at once, with run-out blocks and addresses of its own, so it would
    // not come back as it was grabbed.
    if (layout.sessionCount != 1)
      QuorvaneI_Throw(kEntry, EN_NOT_IMPLEMENTED, 0,
                      "Quorvane:%s(): '%s' describes %ld sessions; only a one-session CD is burnt back, as sessions "
                      "after the first cannot be written raw",
                      kEntry, mdsName, static_cast<long>(layout.sessionCount));
    CQuorvane_DiskFile file((directory + image).c_str());
    const uint64_t bytes = file.GetSizeInUCHARs();
    QuorvaneI_RawDisc disc;
    for (int32_t k = 0; k < layout.trackCount; ++k) {
      QuorvaneI_RawDiscTrack t;
      t.audio = layout.isAudio[k] != 0;
      t.start = layout.trackStarts[k];
      t.blocks = layout.rawTrackSizes[k];
      disc.tracks.push_back(t);
    }
    uint64_t need = 0;
    for (const QuorvaneI_RawDiscTrack& t : disc.tracks) need += uint64_t(t.blocks) * kMdsImageBlockSize;
    if (bytes < need)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): '%s' holds %llu UCHARs, its description %llu",
                      kEntry, image.c_str(), static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(need));
    CQuorvane_FileChain chain;
    chain.AddChainTail(&file);
    chain.SeekToBegin();
    disc.given = &chain;
    // The lead-in's CD-Text, grabbed beside the description (length, then
    // the packs); the packs whose CRC holds are written back.
    std::string cdt = name;
    if (cdt.size() > 4 && (cdt.compare(cdt.size() - 4, 4, ".mds") == 0 || cdt.compare(cdt.size() - 4, 4, ".MDS") == 0))
      cdt.replace(cdt.size() - 4, 4, ".cdt");
    int64_t size = -1;
    uint32_t error = 0;
    std::vector<uint8_t> packs;
    if (qv::plat::File found = qv::plat::File::OpenSized(cdt, &size, &error); found.IsOpen() && size > 4 && size <= 0x10000) {
      packs.resize(static_cast<size_t>(size));
      if (found.ReadAt(0, packs.data(), packs.size(), &error) != size)
        QuorvaneI_Throw(kEntry, EN_SYSTEM_CALL_FAILED, error, "Quorvane:%s(): '%s' cannot be read", kEntry, cdt.c_str());
    }
    if (packs.size() > 4 && g.SetCDTextPacks(packs.data() + 4, packs.size() - 4) != 0)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): '%s' holds no CD-Text pack to write",
                      kEntry, cdt.c_str());
    CQuorvane_CdvdBurnerGrabber::DiscAtOnceRequest request;
    request.testWrite = testWrite != 0;
    request.progressInterval = progressInterval;
    request.bufferInterval = bufferInterval;
    g.DiscAtOnceLayout(disc, true, request);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_MDSGetDiscSize(const char* mdsName, QV_ULONG* isDvd, QV_ULONG* blocks) {
  if (mdsName == nullptr || isDvd == nullptr || blocks == nullptr) return qv::plat::kErrInvalidParameter;
  std::string directory = mdsName;
  directory.erase(directory.find_last_of("/\\") == std::string::npos ? 0 : directory.find_last_of("/\\") + 1);
  *isDvd = QuorvaneI_MDSMedium(mdsName) == kMdsMediumDvd ? 1 : 0;
  *blocks = 0;
  if (*isDvd) {
    std::vector<QuorvaneI_MdsDvdPart> parts;
    const uint32_t status = QuorvaneI_ParseMDSForDVD(mdsName, &parts, directory.c_str());
    for (const QuorvaneI_MdsDvdPart& part : parts) *blocks += part.blocks;
    return status;
  }
  QuorvaneI_MdsLayout layout;
  int mode = 0;
  std::string image;
  const uint32_t status = QuorvaneI_ParseMDS(mdsName, &layout, &mode, &image, directory.c_str());
  if (status == 0)
    *blocks = static_cast<QV_ULONG>(layout.trackStarts[layout.trackCount - 1] + layout.rawTrackSizes[layout.trackCount - 1]);
  return status;
}
