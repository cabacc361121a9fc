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
  // Its text goes into the R-W of a raw P-W lead-in of a session without
  // data; nullptr: none.
  CQuorvane_CDText* cdText = nullptr;
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

// The one track of a raw disc-at-once recording: each cooked block of the
// source (2352 bytes of audio or 2048 of Mode 1 data) as a raw sector with
// its subchannel (track 1, index 1, relative time from 0, P off); data
// sectors get sync, header and EDC/ECC and are scrambled. The source is
// read front to back as the sectors are asked for.
class CQuorvane_RawTrackFile : public CQuorvane_File {
 public:
  CQuorvane_RawTrackFile(CQuorvane_FileChain* cooked, QuorvaneI_SubchannelForm form, bool audio);
  uint32_t GetSectorCount() const { return m__ULONG__Sectors; }
  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override;

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  void BuildSector(uint32_t n);

  CQuorvane_FileChain* m__PCQuorvane_FileChain__Cooked;
  QuorvaneI_SubchannelForm m__Form;
  bool m__BOOLEAN__Audio;
  uint32_t m__ULONG__Sectors;
  uint32_t m__ULONG__NextCooked = 0;  // the source's next block
  int64_t m__LONGLONG__Built = -1;   // the sector in m__Sector
  std::vector<uint8_t> m__Cooked, m__Sector;
};
