// The areas of a raw disc-at-once recording that the host makes up: the
// lead-in with the TOC in its Q subchannel, a pre-gap and the lead-out,
// each sector with its main data and its subchannel (formatted P-Q or raw
// P-W). Each object is a file chain over one memory source holding all its
// sectors, read by the write pipeline like any other source.
//
// Main data: for a data session, sync, header (the sector's address), mode
// 1 (or 2 in a CD-ROM XA session), zero user data, EDC/ECC for mode 1, then
// scrambled; audio sessions get zero sectors.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file.h"
#include "files/file_chain.h"
#include "device/raw_sector.h"

class CQuorvane_CDText;

// What the lead-in's TOC lists.
struct QuorvaneI_LeadInContents {
  bool data = true;            // control 4, or 0 for audio
  bool xa = false;             // CD-ROM XA: mode 2 main data, disc type 20h in A0
  uint8_t firstTrack = 1;
  std::vector<int32_t> trackStarts;  // the start address of each track, from the first
  int32_t leadOutStart = 0;
  // Its text goes into the R-W of a raw P-W lead-in, beside data tracks
  // too (a mixed-mode disc); nullptr: none.
  CQuorvane_CDText* cdText = nullptr;
  // Each track's CONTROL (4 data, 0 audio); empty: all as data says.
  std::vector<uint8_t> controls{};
};

enum class QuorvaneI_SubchannelForm : uint8_t { PQ, RawPW };

// Fill count sectors of 2368 (P-Q) or 2448 (raw P-W) bytes at out.
// Lead-in sector n (n from 0 at start, cycling every 3 x tracks + 9) lists
// A0 (first track, disc type), A1 (last track), A2 (lead-out start), then
// each track's start, each entry three times; bytes 3-5 run with the
// address.
void QuorvaneI_SynthesizeLeadIn(const CQuorvane_EDCECC& edcecc, QuorvaneI_SubchannelForm form, int32_t start,
                                uint32_t count, const QuorvaneI_LeadInContents& contents, uint8_t* out);
// Index 0 of a track, its relative time counting down to 0 at its last
// sector; the P channel on throughout.
void QuorvaneI_SynthesizePreGap(const CQuorvane_EDCECC& edcecc, QuorvaneI_SubchannelForm form, int32_t start,
                                uint32_t count, uint8_t track, bool data, bool xa, uint8_t* out);
// Track AAh from start; the P channel on for sectors n >= 150 with
// n mod 150 < 75 (one second on, one off after the first two).
void QuorvaneI_SynthesizeLeadOut(const CQuorvane_EDCECC& edcecc, QuorvaneI_SubchannelForm form, int32_t start,
                                 uint32_t count, bool data, bool xa, uint8_t* out);

inline constexpr uint32_t kQuorvaneLeadOutSectors = 6750;  // 90 seconds

// The ATIP's start of the lead-in (bytes 8-10, M:S:F) as an address:
// minutes of 90 and more lie before 00:00:00.
int32_t QuorvaneI_AtipLeadInStart(const uint8_t* atip);

// A file chain over the sectors of one area, made in the constructor.
class CQuorvane_RawAreaChain : public CQuorvane_FileChain {
 public:
  ~CQuorvane_RawAreaChain() override;
  uint32_t GetSectorCount() const { return m__ULONG__Sectors; }
  // The sectors themselves, for checks and for writers that send them whole.
  const uint8_t* GetSectors() const;

 protected:
  // fill writes the sectors into the block; failures throw exception 4 with
  // "<className>::<className>(): m__PUCHAR__Memory == NULL" or, when the
  // source cannot be made, "...: m__PCQuorvane_MemoryFile__<sourceName> == NULL".
  template <class Fill>
  CQuorvane_RawAreaChain(const char* className, const char* sourceName, uint32_t sectors, size_t sectorSize,
                         Fill&& fill);

 private:
  uint8_t* Allocate(const char* className, size_t bytes);
  void Adopt(const char* className, const char* sourceName, size_t bytes);

  std::unique_ptr<uint8_t[]> m__PUCHAR__Memory;
  std::unique_ptr<CQuorvane_MemoryFile> m__PCQuorvane_MemoryFile;
  uint32_t m__ULONG__Sectors;
};

template <class Fill>
CQuorvane_RawAreaChain::CQuorvane_RawAreaChain(const char* className, const char* sourceName, uint32_t sectors,
                                               size_t sectorSize, Fill&& fill)
    : m__ULONG__Sectors(sectors) {
  fill(Allocate(className, sectors * sectorSize));
  Adopt(className, sourceName, sectors * sectorSize);
}

class CQuorvane_ISO9660FileTreeLeadInRawPQ : public CQuorvane_RawAreaChain {
 public:
  CQuorvane_ISO9660FileTreeLeadInRawPQ(int32_t start, uint32_t sectors, const QuorvaneI_LeadInContents& contents);
};
class CQuorvane_ISO9660FileTreePreGapRawPQ : public CQuorvane_RawAreaChain {
 public:
  CQuorvane_ISO9660FileTreePreGapRawPQ(int32_t start, uint32_t sectors, uint8_t track, bool data, bool xa);
};
class CQuorvane_ISO9660FileTreeLeadOutRawPQ : public CQuorvane_RawAreaChain {
 public:
  CQuorvane_ISO9660FileTreeLeadOutRawPQ(int32_t trackBlocks, bool data, bool xa);
};
class CQuorvane_ISO9660FileTreeLeadInRawRawPW : public CQuorvane_RawAreaChain {
 public:
  CQuorvane_ISO9660FileTreeLeadInRawRawPW(int32_t start, uint32_t sectors, const QuorvaneI_LeadInContents& contents);
};
class CQuorvane_ISO9660FileTreePreGapRawRawPW : public CQuorvane_RawAreaChain {
 public:
  CQuorvane_ISO9660FileTreePreGapRawRawPW(int32_t start, uint32_t sectors, uint8_t track, bool data, bool xa);
};
class CQuorvane_ISO9660FileTreeLeadOutRawRawPW : public CQuorvane_RawAreaChain {
 public:
  CQuorvane_ISO9660FileTreeLeadOutRawRawPW(int32_t trackBlocks, bool data, bool xa);
};

// A whole disc written raw: its tracks in order, each with its pause
// before index 1 and its source. Either every track's sectors are made
// from cooked blocks (2352-byte audio frames, 2048-byte Mode 1 data) with
// the subchannel made from the layout, or (given != nullptr) the sectors
// from LBA 0 on come whole, 2448 bytes with their raw P-W, as a grab took
// them, and only the track starts and kinds are read from the layout.
struct QuorvaneI_RawDiscTrack {
  bool audio = true;
  // A data track whose source holds whole 2352-byte Mode 1 sectors (sync,
  // header, EDC/ECC made already), written as they are.
  bool rawData = false;
  uint8_t controlFlags = 0;      // CONTROL beyond data/audio: 8 four channels, 2 copy permitted, 1 pre-emphasis
  int32_t pregapBlocks = 150;    // index 0 before index 1; the first track's is 150
  // The last blocks of that pause come from the source, before the
  // track's own blocks (a pause stored with the track); the rest is made.
  int32_t pauseInSource = 0;
  std::vector<int32_t> indexes;  // index 2, 3, ...: blocks from index 1, rising
  char isrc[13] = {};            // 12 characters, or empty
  CQuorvane_FileChain* source = nullptr;
  int32_t start = 0;   // index 1; set by QuorvaneI_PlaceRawDisc unless given
  int32_t blocks = 0;  // blocks from index 1 to the next track's pause
};
struct QuorvaneI_RawDisc {
  std::vector<QuorvaneI_RawDiscTrack> tracks;
  std::string catalog;  // 13 digits, or empty
  CQuorvane_FileChain* given = nullptr;
  int32_t leadOutStart = 0;
  bool AnyData() const;
};
// Sizes each track from its source (whole blocks) and places it after the
// one before and its pause; the lead-out follows the last. A layout that
// cannot be a disc gives its reason, else nullptr.
const char* QuorvaneI_PlaceRawDisc(QuorvaneI_RawDisc& disc);
// What the lead-in's TOC of that disc lists.
QuorvaneI_LeadInContents QuorvaneI_RawDiscContents(const QuorvaneI_RawDisc& disc);

// The program area of a raw disc, LBA 0 to the lead-out, sector by sector
// as the pipeline asks for them (front to back). Made sectors carry the Q
// of their position (index 0 with P on in a pause; the catalogue number
// and ISRC in mode 2 and 3 Q once every 100 sectors) and data sectors are
// scrambled; given sectors keep their P-W and only get scrambled.
class CQuorvane_RawProgramFile : public CQuorvane_File {
 public:
  CQuorvane_RawProgramFile(const QuorvaneI_RawDisc& disc, QuorvaneI_SubchannelForm form);
  uint32_t GetSectorCount() const { return m__ULONG__Sectors; }
  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override;

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  void BuildSector(uint32_t n);
  // The main data of a sector from block (from 0) of the track's source.
  void MainFromSource(const QuorvaneI_RawDiscTrack& t, uint32_t block, int32_t address, uint8_t* sector);

  const QuorvaneI_RawDisc& m__Disc;
  QuorvaneI_SubchannelForm m__Form;
  uint32_t m__ULONG__Sectors;
  size_t m__Track = 0;                // the track of the last sector built
  uint32_t m__ULONG__NextCooked = 0;  // that track's source's next block
  int64_t m__LONGLONG__Built = -1;    // the sector in m__Sector
  std::vector<uint8_t> m__Cooked, m__Sector;
};

// The one track of a disc from a cooked source, as above. The layout is
// a base so that it exists before the program file that reads it.
struct QuorvaneI_OneTrackDisc {
  QuorvaneI_RawDisc disc;
};
class CQuorvane_RawTrackFile : private QuorvaneI_OneTrackDisc, public CQuorvane_RawProgramFile {
 public:
  CQuorvane_RawTrackFile(CQuorvane_FileChain* cooked, QuorvaneI_SubchannelForm form, bool audio);

 private:
  static const QuorvaneI_RawDisc& OneTrack(QuorvaneI_RawDisc& disc, CQuorvane_FileChain* cooked, bool audio);
};
