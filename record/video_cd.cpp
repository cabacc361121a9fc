// Video CD and Super Video CD recording: two track-at-once tracks, the data
// track from a patched template and the MPEG stream as Form 2 sectors.
#include "record/video_cd.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "core/bytes.h"
#include "core/exception.h"
#include "core/log.h"
#include "core/status.h"
#include "device/api_checks.h"
#include "files/mpeg_stream.h"
#include "platform/dynlib.h"
#include "platform/file.h"
#include "record/burner_grabber.h"
#include "record/session_at_once.h"

namespace {

constexpr uint32_t kBlock = 2048;
constexpr uint32_t kInfoBlock = 150;
constexpr uint32_t kVolumeDescriptorBlock = 16;
constexpr uint32_t kVcdArchiveBlock = 245;
constexpr uint32_t kSvcdArchiveBlock = 210;
constexpr uint32_t kSvcdClearedBlock = 244;
constexpr uint32_t kSvcdTracksBlock = 211;
constexpr uint32_t kXaSector = kQuorvaneMpegXaSectorSize;  // subheader twice, block, EDC/ECC
constexpr uint8_t kDataSubheader[4] = {0x00, 0x00, 0x08, 0x00};
// The pause before the MPEG track: empty Form 2 sectors, as the Video CD
// layout has between its tracks (not Form 1 zeros).
constexpr uint8_t kPauseSubheader[4] = {0x00, 0x00, 0x20, 0x00};
constexpr uint64_t kBytesPerMinute = 10485760;  // the rate the playing time is reckoned at
constexpr size_t kAlbumInInfo = 16;
constexpr size_t kVolumeId = 32, kVolumeIdAt = 40;
constexpr size_t kVolumeSetId = 128, kVolumeSetIdAt = 190;

constexpr const char* kDataCtor = "CQuorvane_VCDDATATrack::CQuorvane_VCDDATATrack";
constexpr const char* kSvcdPatch = "CQuorvane_SVCDDATATrack::PatchAdditionalFile";
constexpr const char* kMpegCtor = "CQuorvane_MPEG12Track::CQuorvane_MPEG12Track";
constexpr const char* kVideoCdName = "Quorvane_VideoCD.ISO";
constexpr const char* kSuperVideoCdName = "Quorvane_SuperVideoCD.ISO";

uint8_t Bcd(uint64_t v) { return static_cast<uint8_t>((v / 10 % 10) << 4 | v % 10); }

// A text field of the volume descriptor or the information file: the text,
// cut to the field, then spaces (ECMA-119 8.4; the Video CD information
// file pads its album the same way).
void PutPadded(uint8_t* field, size_t size, const char* text) {
  const size_t n = std::min(std::strlen(text), size);
  std::memset(field, ' ', size);
  std::memcpy(field, text, n);
}

uint64_t SizeOfFile(const char* method, const char* fileName) {
  uint32_t err = 0;
  int64_t size = -1;
  qv::plat::File f = qv::plat::File::OpenSized(fileName, &size, &err);
  if (!f.IsOpen())
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, err, "%s(): CreateFile( '%s' ) failed, status %ld!!!", method,
                    fileName, static_cast<long>(err));
  return static_cast<uint64_t>(size);
}

}  // namespace

void QuorvaneI_PatchVideoCdImage(uint8_t* image, uint64_t mpegSize, const char* album, uint16_t volumes,
                                 uint16_t volumeNumber, uint32_t mpegRecordOffset) {
  // The MPEG file's extent: its sectors and both margins, 2048 bytes each
  // as CD-ROM XA counts a Form 2 file, in both byte orders.
  const uint32_t length = static_cast<uint32_t>((mpegSize / kQuorvaneMpegBlockSize + 2 * kQuorvaneMpegMarginSectors) * kBlock);
  QuorvaneI_PutLE32(image + mpegRecordOffset + 10, length);
  QuorvaneI_PutBE32(image + mpegRecordOffset + 14, length);
  // The information file: album, then volume count and number, which the
  // Video CD and Super Video CD formats store big-endian.
  uint8_t* info = image + kInfoBlock * kBlock;
  PutPadded(info + 10, kAlbumInInfo, album);
  info[26] = static_cast<uint8_t>(volumes >> 8), info[27] = static_cast<uint8_t>(volumes);
  info[28] = static_cast<uint8_t>(volumeNumber >> 8), info[29] = static_cast<uint8_t>(volumeNumber);
  uint8_t* pvd = image + kVolumeDescriptorBlock * kBlock;
  PutPadded(pvd + kVolumeSetIdAt, kVolumeSetId, album);
  PutPadded(pvd + kVolumeIdAt, kVolumeId, album);
}

void QuorvaneI_PatchSuperVideoCdImage(uint8_t* image, uint64_t mpegSize) {
  // The track's playing time (minutes, seconds, frames in BCD), reckoned
  // from the size at one minute per 10 MiB; seconds stay below 60.
  uint8_t* time = image + kSvcdTracksBlock * kBlock + 11;
  time[0] = Bcd(mpegSize / kBytesPerMinute);
  time[1] = Bcd(mpegSize % kBytesPerMinute * 60 / kBytesPerMinute);
  time[2] = 0;
}

CQuorvane_VCDDATATrack::CQuorvane_VCDDATATrack(const char* mpegFileName, const char* album, uint16_t volumes,
                                               uint16_t volumeNumber, const char* templatePath,
                                               uint32_t mpegRecordOffset) {
  uint32_t err = 0;
  int64_t templateSize = -1;
  qv::plat::File image = qv::plat::File::OpenSized(templatePath, &templateSize, &err);
  if (!image.IsOpen())
    QuorvaneI_Throw(kDataCtor, EN_SYSTEM_CALL_FAILED, err, "%s(): CreateFile( '%s' ) failed, status %ld!!!", kDataCtor,
                    templatePath, static_cast<long>(err));
  if (static_cast<uint64_t>(templateSize) < kQuorvaneVcdDataTrackBytes)
    QuorvaneI_Throw(kDataCtor, EN_MEMORY_ALLOCATION_FAILED, 0,
                    "%s(): l__LARGE_INTEGER__DATATrackSizeInUCHARs is %lld instead of at least %lld", kDataCtor,
                    static_cast<long long>(templateSize), static_cast<long long>(kQuorvaneVcdDataTrackBytes));
  std::unique_ptr<uint8_t[]> memory(new (std::nothrow) uint8_t[kQuorvaneVcdDataTrackBytes]());
  if (!memory) QuorvaneI_Throw(kDataCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PUCHAR__Memory == NULL", kDataCtor);
  m__PUCHAR__Memory = memory.get();
  m__PCQuorvane_MemoryFile__DATATrack.reset(new (std::nothrow)
                                                CQuorvane_MemoryFile(std::move(memory), kQuorvaneVcdDataTrackBytes));
  if (!m__PCQuorvane_MemoryFile__DATATrack)
    QuorvaneI_Throw(kDataCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PCQuorvane_MemoryFile__DATATrack == NULL",
                    kDataCtor);
  m__Chain.AddChainTail(m__PCQuorvane_MemoryFile__DATATrack.get());
  if (image.ReadAt(0, m__PUCHAR__Memory, kQuorvaneVcdDataTrackBytes, &err) != static_cast<int64_t>(kQuorvaneVcdDataTrackBytes))
    QuorvaneI_Throw(kDataCtor, EN_SYSTEM_CALL_FAILED, err, "%s(): ReadFile( '%s' ) failed, status %ld!!!", kDataCtor,
                    templatePath, static_cast<long>(err));
  m__ULONGLONG__MpegSizeInUCHARs = SizeOfFile(kDataCtor, mpegFileName);
  QuorvaneI_PatchVideoCdImage(m__PUCHAR__Memory, m__ULONGLONG__MpegSizeInUCHARs, album == nullptr ? "" : album, volumes,
                              volumeNumber, mpegRecordOffset);
  PatchArchiveBlock(kVcdArchiveBlock, kDataCtor, false);
  m__Chain.SeekToBegin();
}

CQuorvane_VCDDATATrack::~CQuorvane_VCDDATATrack() = default;

CQuorvane_FileChain* CQuorvane_VCDDATATrack::GetXaChain() {
  if (m__PCQuorvane_MemoryFile__XaTrack) return &m__XaChain;
  constexpr uint64_t kBlocks = kQuorvaneVcdDataTrackBytes / kBlock;
  std::unique_ptr<uint8_t[]> xa(new (std::nothrow) uint8_t[kBlocks * kXaSector]());
  if (!xa)
    QuorvaneI_Throw(kDataCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): No memory for the data track's XA sectors",
                    kDataCtor);
  for (uint64_t b = 0; b < kBlocks; ++b) {
    uint8_t* sector = xa.get() + b * kXaSector;
    std::memcpy(sector, kDataSubheader, 4);
    std::memcpy(sector + 4, kDataSubheader, 4);
    std::memcpy(sector + 8, m__PUCHAR__Memory + b * kBlock, kBlock);
  }
  m__PCQuorvane_MemoryFile__XaTrack = std::make_unique<CQuorvane_MemoryFile>(std::move(xa), kBlocks * kXaSector);
  m__XaChain.AddChainTail(m__PCQuorvane_MemoryFile__XaTrack.get());
  m__XaChain.SeekToBegin();
  return &m__XaChain;
}

void CQuorvane_VCDDATATrack::PatchArchiveBlock(uint32_t block, const char* method, bool logMissing) {
  uint32_t err = 0;
  qv::plat::File archive = qv::plat::File::Open("ARCHIVE.dat", qv::plat::FileMode::Read, &err);
  if (!archive.IsOpen()) {
    if (logMissing)
      QuorvaneI_Log("%s(): CreateFile( '%s' ) failed, status %ld\n", method, "ARCHIVE.dat", static_cast<long>(err));
    return;
  }
  uint8_t data[kBlock] = {};
  if (archive.ReadAt(0, data, kBlock, &err) < 0) return;
  std::memcpy(m__PUCHAR__Memory + uint64_t{block} * kBlock, data, kBlock);
}

CQuorvane_SVCDDATATrack::CQuorvane_SVCDDATATrack(const char* mpegFileName, const char* album, uint16_t volumes,
                                                 uint16_t volumeNumber, const char* templatePath,
                                                 uint32_t mpegRecordOffset)
    : CQuorvane_VCDDATATrack(mpegFileName, album, volumes, volumeNumber, templatePath, mpegRecordOffset) {
  QuorvaneI_PatchSuperVideoCdImage(m__PUCHAR__Memory, m__ULONGLONG__MpegSizeInUCHARs);
  PatchArchiveBlock(kSvcdArchiveBlock, kSvcdPatch, true);
  std::memset(m__PUCHAR__Memory + uint64_t{kSvcdClearedBlock} * kBlock, 0, kBlock);
}

CQuorvane_MPEG12Track::CQuorvane_MPEG12Track(const char* mpegFileName, uint32_t sectorBytes) {
  const uint64_t margin = uint64_t{kQuorvaneMpegMarginSectors} * sectorBytes;
  m__PCQuorvane_MPEG12DiskFile.reset(new (std::nothrow) CQuorvane_MPEG12DiskFile(mpegFileName, sectorBytes));
  if (!m__PCQuorvane_MPEG12DiskFile)
    QuorvaneI_Throw(kMpegCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PCQuorvane_MPEG12DiskFile == NULL", kMpegCtor);
  m__PCQuorvane_MPEG12ZeroFile__FrontSide.reset(new (std::nothrow) CQuorvane_MPEG12ZeroFile(margin, sectorBytes));
  if (!m__PCQuorvane_MPEG12ZeroFile__FrontSide)
    QuorvaneI_Throw(kMpegCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PCQuorvane_MPEG12ZeroFile__FrontSide == NULL",
                    kMpegCtor);
  m__PCQuorvane_MPEG12ZeroFile__BackSide.reset(new (std::nothrow) CQuorvane_MPEG12ZeroFile(margin, sectorBytes));
  if (!m__PCQuorvane_MPEG12ZeroFile__BackSide)
    QuorvaneI_Throw(kMpegCtor, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PCQuorvane_MPEG12ZeroFile__BackSide == NULL",
                    kMpegCtor);
  m__Chain.AddChainTail(m__PCQuorvane_MPEG12ZeroFile__FrontSide.get());
  m__Chain.AddChainTail(m__PCQuorvane_MPEG12DiskFile.get());
  m__Chain.AddChainTail(m__PCQuorvane_MPEG12ZeroFile__BackSide.get());
  m__Chain.SeekToBegin();
}

namespace {

// The template beside the engine's module, or the bare name when the
// module's file is unknown.
std::string TemplatePath(const char* name) {
  const std::string module = qv::plat::LoadedModulePath("Quorvane.dll");
  if (module.empty()) return name;
  QuorvaneI_Log("Current module path '%s'\n", module.c_str());
  const size_t cut = module.find_last_of(std::string("/") + qv::plat::PathSeparator());
  const std::string path = (cut == std::string::npos ? std::string() : module.substr(0, cut + 1)) + name;
  QuorvaneI_Log("Complete destination path '%s'\n", path.c_str());
  return path;
}

enum class Disc { VideoCd, SuperVideoCd };

void RefuseWrongStream(const char* entry, Disc disc, const char* mpegFileName) {
  if (mpegFileName == nullptr)
    QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter 'mpegFileName' is NULL", entry);
  std::string why;
  const auto system = disc == Disc::VideoCd ? qv::files::MpegSystem::Mpeg1 : qv::files::MpegSystem::Mpeg2;
  if (!qv::files::CheckMpegFile(mpegFileName, system, &why))
    QuorvaneI_Throw(entry, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): %s", entry, why.c_str());
}

void RecordVideoCd(CQuorvane_CdvdBurnerGrabber& g, Disc disc, bool sessionAtOnce, const char* mpegFileName,
                   const char* album, uint16_t volumes, uint16_t volumeNumber, bool testWrite,
                   int32_t progressInterval, int32_t bufferInterval) {
  const std::string path = TemplatePath(disc == Disc::VideoCd ? kVideoCdName : kSuperVideoCdName);
  std::unique_ptr<CQuorvane_VCDDATATrack> data;
  if (disc == Disc::VideoCd)
    data = std::make_unique<CQuorvane_VCDDATATrack>(mpegFileName, album, volumes, volumeNumber, path.c_str(),
                                                    kQuorvaneVcdMpegRecordOffset);
  else
    data = std::make_unique<CQuorvane_SVCDDATATrack>(mpegFileName, album, volumes, volumeNumber, path.c_str(),
                                                     kQuorvaneSvcdMpegRecordOffset);
  if (!sessionAtOnce) {
    CQuorvane_MPEG12Track mpeg(mpegFileName);
    // The data track's sectors carry the data submode; the stream's sectors
    // carry their own subheaders.
    g.TrackAtOnce(data->GetChain(), true, testWrite, true, progressInterval, bufferInterval, 1, 0x00, 0x00, 0x08,
                  0x00);
    g.TrackAtOnce(mpeg.GetChain(), true, testWrite, false, progressInterval, bufferInterval, 3, 0, 0, 0, 0);
    return;
  }
  // One CD-ROM XA session: both tracks send whole 2336-byte Mode 2 blocks
  // with their subheaders, each after a pause of 150 blocks, so the MPEG
  // track begins where track-at-once puts it too.
  CQuorvane_MPEG12Track mpeg(mpegFileName, kXaSector);
  QuorvaneI_SaoLayout layout;
  layout.tracks.resize(2);
  layout.tracks[0].mode2 = layout.tracks[1].mode2 = true;
  layout.tracks[0].source = data->GetXaChain();
  layout.tracks[1].source = mpeg.GetChain();
  layout.tracks[1].pauseBlock.assign(kXaSector, 0);
  std::memcpy(layout.tracks[1].pauseBlock.data(), kPauseSubheader, 4);
  std::memcpy(layout.tracks[1].pauseBlock.data() + 4, kPauseSubheader, 4);
  QuorvaneI_SaoRequest request;
  request.xa = true;
  request.testWrite = testWrite;
  request.progressInterval = progressInterval;
  request.bufferInterval = bufferInterval;
  g.SessionAtOnce(layout, request);
}

QV_ULONG VideoCdEntry(const char* entry, Disc disc, QV_HANDLE handle, char* text, QV_ULONG textSize,
                      QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure, QV_ULONG mode, const char* mpegFileName,
                      const char* album, QV_USHORT volumes, QV_USHORT volumeNumber, QV_BOOLEAN testWrite,
                      QV_LONG progressInterval, QV_LONG bufferInterval) {
  return QuorvaneI_Call(entry, text, textSize, systemError, failure, [&] {
    auto& g = *CQuorvane_CdvdBurnerGrabber::FromDrive(&QuorvaneI_DriveOf(entry, handle));
    if (mode != QVX_VIDEO_CD_TRACK_AT_ONCE && mode != QVX_VIDEO_CD_SESSION_AT_ONCE) return;
    // A stream the disc cannot carry is refused before the drive hears of it.
    RefuseWrongStream(entry, disc, mpegFileName);
    struct TrayLock {
      CQuorvane_CdvdBurnerGrabber& g;
      ~TrayLock() { g.UnlockTrayAfterRecording(); }
    } tray{g};
    g.WaitForSpinUp();
    g.LockTrayForRecording();
    RecordVideoCd(g, disc, mode == QVX_VIDEO_CD_SESSION_AT_ONCE, mpegFileName, album == nullptr ? "" : album, volumes, volumeNumber, testWrite != 0,
                  progressInterval, bufferInterval);
  });
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_VideoCD(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* mpegFileName, const char* album, QV_USHORT volumes, QV_USHORT volumeNumber, QV_BOOLEAN testWrite,
    QV_LONG progressInterval, QV_LONG bufferInterval) {
  return VideoCdEntry("Quorvane_CdvdBurnerGrabber_VideoCD", Disc::VideoCd, handle, text, textSize, systemError,
                      failure, QVX_VIDEO_CD_TRACK_AT_ONCE, mpegFileName, album, volumes, volumeNumber, testWrite,
                      progressInterval, bufferInterval);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_VideoCDEx(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_ULONG mode, const char* mpegFileName, const char* album, QV_USHORT volumes, QV_USHORT volumeNumber,
    QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  return VideoCdEntry("Quorvane_CdvdBurnerGrabber_VideoCDEx", Disc::VideoCd, handle, text, textSize, systemError,
                      failure, mode, mpegFileName, album, volumes, volumeNumber, testWrite, progressInterval,
                      bufferInterval);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SuperVideoCD(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const char* mpegFileName, const char* album, QV_USHORT volumes, QV_USHORT volumeNumber, QV_BOOLEAN testWrite,
    QV_LONG progressInterval, QV_LONG bufferInterval) {
  return VideoCdEntry("Quorvane_CdvdBurnerGrabber_SuperVideoCD", Disc::SuperVideoCd, handle, text, textSize,
                      systemError, failure, QVX_VIDEO_CD_TRACK_AT_ONCE, mpegFileName, album, volumes, volumeNumber,
                      testWrite, progressInterval, bufferInterval);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SuperVideoCDEx(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_ULONG mode, const char* mpegFileName, const char* album, QV_USHORT volumes, QV_USHORT volumeNumber,
    QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval) {
  return VideoCdEntry("Quorvane_CdvdBurnerGrabber_SuperVideoCDEx", Disc::SuperVideoCd, handle, text, textSize,
                      systemError, failure, mode, mpegFileName, album, volumes, volumeNumber, testWrite,
                      progressInterval, bufferInterval);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_VideoCD_CheckStream(const char* mpegFileName, QV_BOOLEAN superVideoCd,
                                                                 char* text, QV_ULONG textSize) {
  constexpr const char* kEntry = "Quorvane_VideoCD_CheckStream";
  return QuorvaneI_Call(kEntry, text, textSize, nullptr, nullptr, [&] {
    RefuseWrongStream(kEntry, superVideoCd != 0 ? Disc::SuperVideoCd : Disc::VideoCd, mpegFileName);
  });
}
