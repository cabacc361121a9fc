// The table of contents: the CD full TOC turned into tracks with true
// ends and sector formats, or for DVD media the tracks the drive reports,
// bounded by the file system on random-access media.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "device/drive.h"
#include "device/guarded.h"

namespace {

constexpr const char* kGetToc = "CQuorvane_CdvdBurnerGrabber::GetTOCInformation";
constexpr const char* kForCD = "CQuorvane_CdvdBurnerGrabber::ReadTOCForCD";
constexpr const char* kForDVD = "CQuorvane_CdvdBurnerGrabber::ReadTOCForDVD";
constexpr const char* kLookup = "CQuorvane_CdvdBurnerGrabber::LookupTrueTrackEndingLBA";

constexpr uint32_t kFullTocBufferSize = 16384;
constexpr uint32_t kEntrySize = 11;
constexpr uint8_t kPointLeadOut = 0xA2, kPointNextProgramArea = 0xB0;
constexpr int32_t kPregapBlocks = 150;  // the 2-second pause before a track
constexpr uint32_t kRawSectorSize = 2352, kQSubChannelSize = 16;

int32_t LbaOfMsf(uint8_t m, uint8_t s, uint8_t f) { return (int32_t{m} * 60 + s) * 75 + f - 150; }

// Minute, second and frame of an address. Addresses below the CD's first
// block wrap as on the disc (lead-in); DVD addresses beyond 255 minutes
// keep 255:59:74.
void MsfOfLba(int32_t lba, uint8_t msf[3]) {
  int64_t x = int64_t{lba} + 150;
  if (x < 0) x += 450000;
  if (x > 255 * 4500 + 59 * 75 + 74) x = 255 * 4500 + 59 * 75 + 74;
  msf[0] = static_cast<uint8_t>(x / 4500);
  msf[1] = static_cast<uint8_t>((x / 75) % 60);
  msf[2] = static_cast<uint8_t>(x % 75);
}

void SetAddresses(QUORVANE_TOC_TRACK& t, int32_t start, int32_t end) {
  uint8_t msf[3];
  t.m__LONG__StartAddress = start;
  MsfOfLba(start, msf);
  std::memcpy(t.m__UCHAR__StartMSF, msf, 3);
  t.m__LONG__EndAddress = end;
  MsfOfLba(end, msf);
  std::memcpy(t.m__UCHAR__EndMSF, msf, 3);
}

QUORVANE_TOC_ENTRY EntryOf(const uint8_t* b) {
  QUORVANE_TOC_ENTRY e;
  static_assert(sizeof e == kEntrySize);
  std::memcpy(&e, b, sizeof e);
  return e;
}

}  // namespace

void CQuorvane_CdvdDrive::GetTOCInformation(QUORVANE_TOC_INFORMATION* record) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  std::memset(record, 0, sizeof *record);
  // The table read last is given again while nothing sent since can have
  // changed the disc; a TEST UNIT READY first brings a swap to light.
  if (m__TocCache && m__TocCacheGeneration == GetTransport()->MediumGeneration() &&
      QuorvaneI_Guarded(kGetToc, [&] { TestUnitReady(); }) &&
      m__TocCacheGeneration == GetTransport()->MediumGeneration()) {
    *record = *m__TocCache;
    QuorvaneI_Log("\n%s(): The disc is unchanged since its TOC was read\n", kGetToc);
    return;
  }
  m__TocCache.reset();
  const uint64_t generation = GetTransport()->MediumGeneration();
  QuorvaneI_Traced(kGetToc, [&] {
    // Only DVD media answer the physical format structure.
    const bool dvd = QuorvaneI_Guarded(kGetToc, [&] {
      auto buffer = std::make_unique<uint8_t[]>(4096);
      ReadDVDStructure(buffer.get(), 4096, 0, 0, 0x00, 0);
    });
    if (dvd)
      ReadTOCForDVD(record);
    else
      ReadTOCForCD(record);
  });
  if (generation == GetTransport()->MediumGeneration()) {
    m__TocCache = std::make_unique<QUORVANE_TOC_INFORMATION>(*record);
    m__TocCacheGeneration = generation;
  }
}

void CQuorvane_CdvdDrive::ReadTOCForCD(QUORVANE_TOC_INFORMATION* record) {
  auto buffer = std::make_unique<uint8_t[]>(kFullTocBufferSize);
  std::memset(buffer.get(), 0, kFullTocBufferSize);
  ReadTOC(buffer.get(), kFullTocBufferSize, true, 2, 0);
  const CQuorvane_DriveAnswer all = Answer(kForCD, "READ TOC", buffer.get(), kFullTocBufferSize);
  const uint16_t length = all.Be16(0);
  if (length < 6)
    QuorvaneI_Throw(kForCD, EN_UNEXPECTED_RESULT, 0, "%s(): TOC size %ld UCHARs, expected at least %ld UCHARs", kForCD,
                    static_cast<long>(length), 6L);
  const CQuorvane_DriveAnswer toc = all.Declared(2 + uint64_t{length});
  const uint8_t firstSession = toc.U8(2), lastSession = toc.U8(3);
  const int32_t count = (int32_t{length} - 13) / 11 + 1;
  record->m__UCHAR__NumberOfEntries = static_cast<uint8_t>(std::min(count, 255));

  // First every entry, checked, with the lead-out and the next program
  // area of each session, whatever order the drive lists them in.
  std::vector<QUORVANE_TOC_ENTRY> entries;
  std::map<uint8_t, int32_t> leadOut, nextProgramArea;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* b = toc.Bytes(4 + static_cast<uint32_t>(i) * kEntrySize, kEntrySize);
    if (std::all_of(b, b + kEntrySize, [](uint8_t v) { return v == 0; }))
      QuorvaneI_Throw(kForCD, EN_UNEXPECTED_RESULT, 0, "%s(): Entry %ld all zeroes", kForCD, static_cast<long>(i));
    const QUORVANE_TOC_ENTRY e = EntryOf(b);
    QuorvaneI_Log("\n%s(): Entry %ld: session %d, ADR/CONTROL 0x%02X, TNO %d, POINT 0x%02X, %02d:%02d:%02d, "
                  "%02d:%02d:%02d\n",
                  kForCD, static_cast<long>(i), e.m__UCHAR__SessionNumber, e.m__UCHAR__AdrControl, e.m__UCHAR__TNO,
                  e.m__UCHAR__POINT, e.m__UCHAR__Min, e.m__UCHAR__Sec, e.m__UCHAR__Frame, e.m__UCHAR__PMin,
                  e.m__UCHAR__PSec, e.m__UCHAR__PFrame);
    if (e.m__UCHAR__SessionNumber < firstSession || e.m__UCHAR__SessionNumber > lastSession)
      toc.Fail("entry %ld names session %d outside %d-%d", static_cast<long>(i), e.m__UCHAR__SessionNumber,
               firstSession, lastSession);
    if (i < QUORVANE_TOC_MAXIMUM) record->m__ENTRY__Entries[i] = e;
    record->m__UCHAR__LastSession = std::max(record->m__UCHAR__LastSession, e.m__UCHAR__SessionNumber);
    if (e.m__UCHAR__POINT == kPointLeadOut)
      leadOut[e.m__UCHAR__SessionNumber] = LbaOfMsf(e.m__UCHAR__PMin, e.m__UCHAR__PSec, e.m__UCHAR__PFrame);
    if (e.m__UCHAR__POINT == kPointNextProgramArea)
      nextProgramArea[e.m__UCHAR__SessionNumber] = LbaOfMsf(e.m__UCHAR__Min, e.m__UCHAR__Sec, e.m__UCHAR__Frame);
    entries.push_back(e);
  }

  const bool fast = QuorvaneI_FastReadTOC();
  const bool fastLast = fast || QuorvaneI_FastReadTOCLastTrack();
  int tracks = 0;
  for (size_t i = 0; i < entries.size() && tracks < QUORVANE_TOC_MAXIMUM; ++i) {
    const QUORVANE_TOC_ENTRY& e = entries[i];
    const uint8_t point = e.m__UCHAR__POINT, session = e.m__UCHAR__SessionNumber;
    if (point < 1 || point > 100) continue;
    QUORVANE_TOC_TRACK& t = record->m__TRACK__Tracks[tracks];
    const int32_t start = LbaOfMsf(e.m__UCHAR__PMin, e.m__UCHAR__PSec, e.m__UCHAR__PFrame);

    int32_t areaStart = -kPregapBlocks;
    if (tracks > 0) {
      const QUORVANE_TOC_TRACK& previous = record->m__TRACK__Tracks[tracks - 1];
      areaStart = previous.m__LONG__EndAddress + 1;
      // The first track of a later session starts where the session
      // before it said the next program area would.
      if (previous.m__UCHAR__SessionNumber != session) {
        const auto b0 = nextProgramArea.find(static_cast<uint8_t>(session - 1));
        if (b0 != nextProgramArea.end()) areaStart = b0->second;
      }
    }

    // The end the TOC gives, moved back over the pause the Q sub-channel
    // shows before it unless fast reading skips that search.
    auto refine = [&](int32_t end, bool skip, const char* kind) {
      if (skip) return end;
      const int32_t refined = LookupTrueTrackEndingLBA(start, end);
      if (refined != end)
        QuorvaneI_Log("\n%s(): %s, Track: 0x%02X, old ending LBA %d, new ending LBA %d\n", kForCD, kind, point, end,
                      refined);
      return refined;
    };
    int32_t end;
    const bool nextInSession = i + 1 < entries.size() && entries[i + 1].m__UCHAR__POINT == point + 1 &&
                               entries[i + 1].m__UCHAR__SessionNumber == session;
    if (nextInSession) {
      const QUORVANE_TOC_ENTRY& n = entries[i + 1];
      end = refine(LbaOfMsf(n.m__UCHAR__PMin, n.m__UCHAR__PSec, n.m__UCHAR__PFrame), fast, "Generic");
    } else {
      const auto a2 = leadOut.find(session);
      if (a2 == leadOut.end()) toc.Fail("no lead-out entry (A2h) for session %d of track %d", session, point);
      end = refine(a2->second, fastLast, "Lead-Out");
    }
    end -= 1;

    const uint8_t control = e.m__UCHAR__AdrControl & 0x0F, adr = e.m__UCHAR__AdrControl >> 4;
    const bool data = (control & 0x04) != 0;
    t.m__UCHAR__IsValid = 1;
    t.m__UCHAR__TrackNumber = point;
    t.m__UCHAR__SessionNumber = session;
    SetAddresses(t, start, end);
    std::memcpy(t.m__UCHAR__StartMSF, &e.m__UCHAR__PMin, 3);
    t.m__UCHAR__IsAdr2 = adr == 2;
    t.m__UCHAR__IsAdr3 = adr == 3;
    t.m__UCHAR__IsFourChannel = !data && (control & 0x08) != 0;
    t.m__UCHAR__IsPreEmphasis = !data && (control & 0x01) != 0;
    t.m__UCHAR__IsData = data;
    t.m__UCHAR__IsAudio = !data;
    t.m__UCHAR__IsDigitalCopyPermitted = (control & 0x02) != 0;
    t.m__LONG__AreaStartAddress = areaStart;
    if (data) {
      uint8_t mode = 1, form = 0;
      QuorvaneI_Guarded(kForCD, [&] {
        uint8_t sector[4096] = {};
        ReadCD(0, static_cast<uint32_t>(start), 1, 0, true, true, 3, true, QV_SUBCHANNEL_NONE, sector, sizeof sector);
        const CQuorvane_DriveAnswer raw = Answer(kForCD, "READ CD", sector, sizeof sector);
        const uint8_t found = raw.U8(15) & 0x03;
        mode = found == 0 ? 1 : found;
        QuorvaneI_Log("\n%s(): Track mode %d, assigned %d\n", kForCD, found, mode);
        if (mode == 2) form = raw.Bit(18, 5) ? 2 : 1;
      });
      t.m__UCHAR__TrackMode = mode;
      t.m__UCHAR__Form = form;
      t.m__ULONG__BlockSize = mode == 1 || form == 1 ? 2048 : form == 2 ? 2324 : 0;
    } else {
      t.m__ULONG__BlockSize = kRawSectorSize;
    }
    record->m__ENTRY__TrackEntries[tracks] = e;
    ++tracks;
  }
  record->m__UCHAR__NumberOfTracks = static_cast<uint8_t>(tracks);
  record->m__UCHAR__IsValid = 1;
}

int32_t CQuorvane_CdvdDrive::LookupTrueTrackEndingLBA(int32_t start, int32_t nextStart) {
  const int32_t from = nextStart - kPregapBlocks;
  if (from < start) {
    QuorvaneI_Log("\n%s(): Current LBA %d is less then track starting LBA %d\n", kLookup, from, start);
    return nextStart;
  }
  // The blocks go in as few commands as the system passes whole, each
  // block's Q after its sector. A stretch that fails is read again block
  // by block, so the search still ends at the first block that fails:
  // the answer is the same as one command per block, at a fraction of
  // the round trips (the last track of a session never finds a pause and
  // reads all 150).
  constexpr uint32_t kEntry = kRawSectorSize + kQSubChannelSize;
  const int32_t most = std::min<int32_t>(
      static_cast<int32_t>(QuorvaneI_ChunkBlocks(GetTransport()->GetHostTransferLimit(), kEntry)), kPregapBlocks);
  std::vector<uint8_t> buffer(static_cast<size_t>(most) * kEntry);
  int32_t blocks = most;
  for (int32_t lba = from; lba < nextStart;) {
    const int32_t n = std::min(blocks, nextStart - lba);
    const auto bytes = static_cast<uint32_t>(n) * kEntry;
    int32_t pause = -1;
    const bool read = QuorvaneI_Guarded(kLookup, [&] {
      ReadCD(0, static_cast<uint32_t>(lba), static_cast<uint32_t>(n), 0, true, true, 3, true, QV_SUBCHANNEL_Q,
             buffer.data(), bytes);
      const CQuorvane_DriveAnswer all = Answer(kLookup, "READ CD", buffer.data(), bytes);
      for (int32_t i = 0; i < n && pause < 0; ++i) {
        const CQuorvane_DriveAnswer q =
            all.Window(static_cast<uint32_t>(i) * kEntry + kRawSectorSize, kQSubChannelSize, "Q sub-channel");
        // Only a position frame (ADR 1) carries the index.
        if ((q.U8(0) & 0x0F) == 1 && q.U8(2) == 0) pause = lba + i;
      }
    });
    if (!read && n > 1) {
      blocks = 1;
      continue;
    }
    if (!read) {
      QuorvaneI_Log("%s(): ReadCD( %d ) failed\n", kLookup, lba);
      break;
    }
    if (pause >= 0) return pause;
    lba += n;
  }
  return nextStart;
}

void CQuorvane_CdvdDrive::ReadTOCForDVD(QUORVANE_TOC_INFORMATION* record) {
  const uint32_t discType = GetDiscTypeSafe();
  uint8_t info[4096] = {};
  ReadDiscInformation(info, sizeof info);
  const CQuorvane_DriveAnswer infoAll = Answer(kForDVD, "READ DISC INFORMATION", info, sizeof info);
  const uint8_t sessions = infoAll.Declared(2 + uint64_t{infoAll.Be16(0)}).U8(4);
  record->m__UCHAR__LastSession = record->m__UCHAR__NumberOfTracks = record->m__UCHAR__NumberOfEntries = sessions;
  const bool readTrackInfo = QuorvaneI_Guarded(kForDVD, [&] {
    uint8_t track[4096] = {};
    CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(track, sizeof track, 1, 1);
  });

  // Random-access media report their whole capacity as one track; the file
  // system on them says how much of it holds data.
  std::optional<uint32_t> udfLimit, isoLimit;
  if (discType == DISC_TYPE_DVDRAM || discType == DISC_TYPE_DVDPLUSRW) {
    QuorvaneI_Log("\n%s(): Disc type is DVD-RAM or DVD+RW, check for UDF file system\n", kForDVD);
    auto block = std::make_unique<uint8_t[]>(2048);
    bool inSequence = false, udf = false;
    for (uint32_t lba = 16; lba < 64; ++lba) {
      if (!QuorvaneI_Guarded(kForDVD, [&] { ReadBlockSafe(lba, block.get()); })) break;
      const uint8_t* b = block.get();
      if (b[2] == b[1] && b[3] == b[1] && b[4] == b[1] && b[5] == b[1]) break;
      const CQuorvane_DriveAnswer d(kForDVD, "volume descriptor", b, 2048);
      if (d.Spells(1, "BEA01")) {
        inSequence = true;
      } else if (inSequence && d.Spells(1, "TEA01")) {
        break;
      } else if (inSequence && d.Spells(1, "NSR02")) {
        QuorvaneI_Log("\n%s(): UDF file system recognized\n", kForDVD);
        udf = true;
      }
    }
    if (udf) {
      QuorvaneI_Guarded(kForDVD, [&] {
        ReadBlockSafe(34, block.get());
        const CQuorvane_DriveAnswer d(kForDVD, "partition descriptor", block.get(), 2048);
        const uint16_t tag = d.Le16(0);
        if (tag == 5)
          udfLimit = d.Le32(192);
        else
          QuorvaneI_Log("\n%s(): UDF partition descriptor tag identifier 0x%02X is bad\n", kForDVD, tag);
      });
    }
    if (!udfLimit) {
      QuorvaneI_Log("\n%s(): Disc doesn't containt UDF file system\n", kForDVD);
      QuorvaneI_Guarded(kForDVD, [&] {
        ReadBlockSafe(16, block.get());
        const CQuorvane_DriveAnswer d(kForDVD, "volume descriptor", block.get(), 2048);
        if (d.Spells(1, "CD001")) {
          isoLimit = d.Le32(80);
        } else {
          const uint8_t* s = d.Bytes(1, 5);
          QuorvaneI_Log("\n%s(): PVD signature 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X is bad\n", kForDVD, s[0], s[1], s[2],
                        s[3], s[4]);
        }
      });
    }
  }
  // A limit of zero blocks bounds nothing.
  auto bounded = [&](uint32_t size) {
    if (udfLimit && *udfLimit != 0 && *udfLimit < size) {
      QuorvaneI_Log("%s(): UDF track size corrected to %d\n", kForDVD, static_cast<int>(*udfLimit));
      return *udfLimit;
    }
    if (isoLimit && *isoLimit != 0 && *isoLimit < size) {
      QuorvaneI_Log("%s(): ISO9660 track size corrected to %d\n", kForDVD, static_cast<int>(*isoLimit));
      return *isoLimit;
    }
    return size;
  };
  auto addTrack = [&](int index, int32_t start, uint32_t size) {
    QUORVANE_TOC_TRACK& t = record->m__TRACK__Tracks[index];
    const auto number = static_cast<uint8_t>(index + 1);
    const int32_t end = static_cast<int32_t>(static_cast<int64_t>(start) + size - 1);
    t.m__UCHAR__IsValid = 1;
    t.m__UCHAR__TrackNumber = t.m__UCHAR__SessionNumber = number;
    SetAddresses(t, start, end);
    t.m__LONG__AreaStartAddress = start;
    t.m__UCHAR__IsData = 1;
    t.m__UCHAR__IsDigitalCopyPermitted = 1;
    t.m__UCHAR__TrackMode = 1;
    t.m__ULONG__BlockSize = 2048;
    QUORVANE_TOC_ENTRY e{};
    e.m__UCHAR__SessionNumber = number;
    e.m__UCHAR__AdrControl = 0x14;
    e.m__UCHAR__POINT = number;
    std::memcpy(&e.m__UCHAR__Min, t.m__UCHAR__EndMSF, 3);
    std::memcpy(&e.m__UCHAR__PMin, t.m__UCHAR__StartMSF, 3);
    record->m__ENTRY__TrackEntries[index] = e;
    record->m__ENTRY__Entries[index] = e;
  };

  if (readTrackInfo) {
    const int tracks = std::min<int>(sessions, QUORVANE_TOC_MAXIMUM);
    for (int i = 0; i < tracks; ++i) {
      uint8_t answer[4096] = {};
      CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer, sizeof answer, 1, static_cast<uint32_t>(i + 1));
      const CQuorvane_DriveAnswer all = Answer(kForDVD, "READ TRACK INFORMATION", answer, sizeof answer);
      const CQuorvane_DriveAnswer a = all.Declared(2 + uint64_t{all.Be16(0)});
      const uint32_t size = bounded(a.Be32(24));
      addTrack(i, i == 0 ? 0 : static_cast<int32_t>(a.Be32(8)), size);
    }
  } else {
    const uint32_t lastLba = ReadLastLba(kForDVD);
    // READ CAPACITY names the last block; the medium holds one more.
    addTrack(0, 0, bounded(lastLba + 1));
    record->m__UCHAR__LastSession = record->m__UCHAR__NumberOfTracks = record->m__UCHAR__NumberOfEntries = 1;
  }
  record->m__UCHAR__IsValid = 1;
  record->m__UCHAR__IsDVD = 1;
}
