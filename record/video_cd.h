// Video CD and Super Video CD: a Mode 2 Form 1 data track made from a
// template image (the file system and the discs' control files, patched for
// the MPEG file and the album), then a Mode 2 Form 2 track of the MPEG
// stream with an empty margin of 30 sectors before and after it.
#pragma once
#include <cstdint>
#include <memory>

#include "files/file.h"
#include "files/file_chain.h"

inline constexpr uint64_t kQuorvaneVcdDataTrackBytes = 1224704;  // 598 blocks of 2048
inline constexpr uint32_t kQuorvaneVcdMpegRecordOffset = 43104;  // AVSEQ01.DAT's record in /MPEGAV
inline constexpr uint32_t kQuorvaneSvcdMpegRecordOffset = 41056;  // AVSEQ01.MPG's record in /MPEG2
inline constexpr uint32_t kQuorvaneMpegMarginSectors = 30;

// The patches of a template held in memory (kQuorvaneVcdDataTrackBytes):
// the MPEG file's extent length, the album in the information file and in
// the primary volume descriptor.
void QuorvaneI_PatchVideoCdImage(uint8_t* image, uint64_t mpegSize, const char* album, uint16_t volumes,
                                 uint16_t volumeNumber, uint32_t mpegRecordOffset);
// What a Super Video CD adds: the playing time in TRACKS.SVD.
void QuorvaneI_PatchSuperVideoCdImage(uint8_t* image, uint64_t mpegSize);

class CQuorvane_VCDDATATrack {
 public:
  CQuorvane_VCDDATATrack(const char* mpegFileName, const char* album, uint16_t volumes, uint16_t volumeNumber,
                         const char* templatePath, uint32_t mpegRecordOffset);
  virtual ~CQuorvane_VCDDATATrack();
  CQuorvane_VCDDATATrack(const CQuorvane_VCDDATATrack&) = delete;
  CQuorvane_VCDDATATrack& operator=(const CQuorvane_VCDDATATrack&) = delete;

  CQuorvane_FileChain* GetChain() { return &m__Chain; }
  // The same blocks as 2336-byte Mode 2 Form 1 sectors (the data subheader
  // twice, the block, room for the EDC/ECC the recorder computes), as a
  // session-at-once cue sheet's XA form takes them. Made on first use,
  // after every patch.
  CQuorvane_FileChain* GetXaChain();
  const uint8_t* GetImage() const { return m__PUCHAR__Memory; }
  uint64_t GetMpegSizeInUCHARs() const { return m__ULONGLONG__MpegSizeInUCHARs; }

 protected:
  // Replaces a block with the first 2048 bytes of "ARCHIVE.dat" in the
  // current folder, when there is one; the text is logged otherwise.
  void PatchArchiveBlock(uint32_t block, const char* method, bool logMissing);

  // The chain goes first when the track is destroyed: its sources outlive it.
  std::unique_ptr<CQuorvane_MemoryFile> m__PCQuorvane_MemoryFile__DATATrack;
  std::unique_ptr<CQuorvane_MemoryFile> m__PCQuorvane_MemoryFile__XaTrack;
  CQuorvane_FileChain m__Chain;
  CQuorvane_FileChain m__XaChain;
  uint8_t* m__PUCHAR__Memory = nullptr;  // the memory file's block
  uint64_t m__ULONGLONG__MpegSizeInUCHARs = 0;
};

class CQuorvane_SVCDDATATrack : public CQuorvane_VCDDATATrack {
 public:
  CQuorvane_SVCDDATATrack(const char* mpegFileName, const char* album, uint16_t volumes, uint16_t volumeNumber,
                          const char* templatePath, uint32_t mpegRecordOffset);
};

// The MPEG stream as Form 2 sectors of 2332 bytes (subheader and pack),
// between two margins of empty sectors; of 2336 bytes (the EDC's room
// added) for a session-at-once recording.
class CQuorvane_MPEG12Track {
 public:
  explicit CQuorvane_MPEG12Track(const char* mpegFileName, uint32_t sectorBytes = kQuorvaneMpegSectorSize);
  CQuorvane_FileChain* GetChain() { return &m__Chain; }

 private:
  std::unique_ptr<CQuorvane_MPEG12ZeroFile> m__PCQuorvane_MPEG12ZeroFile__FrontSide;
  std::unique_ptr<CQuorvane_MPEG12DiskFile> m__PCQuorvane_MPEG12DiskFile;
  std::unique_ptr<CQuorvane_MPEG12ZeroFile> m__PCQuorvane_MPEG12ZeroFile__BackSide;
  CQuorvane_FileChain m__Chain;
};
