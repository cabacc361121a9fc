#include "record/raw_areas.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "core/log.h"
#include "record/cd_text.h"

namespace {

using Form = QuorvaneI_SubchannelForm;

size_t SectorSize(Form form) { return form == Form::PQ ? kQuorvaneRawPQSectorSize : kQuorvaneRawPWSectorSize; }

// The main data of one sector of a made-up area.
void MainData(const CQuorvane_RawSectorBuilder& builder, int32_t address, bool data, bool xa, uint8_t* sector) {
  if (!data) {
    std::memset(sector, 0, kQuorvaneRawSectorSize);
    return;
  }
  builder.Build(xa ? QuorvaneI_SectorLayout::Mode2 : QuorvaneI_SectorLayout::Mode1, address, nullptr, nullptr, sector);
  QuorvaneI_Scramble(sector);
}

// The subchannel after the main data, in the form of the area.
void Subchannel(Form form, const uint8_t* q, bool p, uint8_t* sector) {
  uint8_t* sub = sector + kQuorvaneRawSectorSize;
  if (form == Form::PQ) {
    QuorvaneI_FormatPQ(q, p, sub);
    return;
  }
  std::memset(sub, 0, 96);
  QuorvaneI_SpreadRawPW(q, p, sub);
}

}  // namespace

void QuorvaneI_SynthesizeLeadIn(const CQuorvane_EDCECC& edcecc, Form form, int32_t start, uint32_t count,
                                const QuorvaneI_LeadInContents& contents, uint8_t* out) {
  const CQuorvane_RawSectorBuilder builder(edcecc);
  const uint32_t tracks = static_cast<uint32_t>(contents.trackStarts.size());
  const uint32_t cycle = 3 * tracks + 9;
  const uint8_t all = contents.data ? 4 : 0;
  const auto controlOf = [&](uint32_t track) {  // 0-based
    return track < contents.controls.size() ? contents.controls[track] : all;
  };
  for (uint32_t n = 0; n < count; ++n) {
    uint8_t* sector = out + n * SectorSize(form);
    const int32_t address = start + static_cast<int32_t>(n);
    MainData(builder, address, contents.data, contents.xa, sector);
    const uint32_t entry = n % cycle / 3;  // 0 A0, 1 A1, 2 A2, then the tracks
    uint8_t point, time[3] = {};
    // A0 takes the first track's CONTROL, A1 and A2 the last's.
    uint8_t control = controlOf(entry == 0 ? 0 : entry < 3 ? (tracks ? tracks - 1 : 0) : entry - 3);
    if (entry == 0) {
      point = 0xA0;
      time[0] = QuorvaneI_Bcd(contents.firstTrack);
      time[1] = contents.xa ? 0x20 : 0x00;  // the disc type: CD-ROM XA, or CD-DA and CD-ROM
    } else if (entry == 1) {
      point = 0xA1;
      time[0] = QuorvaneI_Bcd(contents.firstTrack + (tracks ? tracks - 1 : 0));
    } else if (entry == 2) {
      point = 0xA2;
      QuorvaneI_AddressToMsf(contents.leadOutStart, time);
    } else {
      point = QuorvaneI_Bcd(contents.firstTrack + entry - 3);
      QuorvaneI_AddressToMsf(contents.trackStarts[entry - 3], time);
    }
    uint8_t q[12];
    QuorvaneI_QLeadIn(control, point, address, time, q);
    Subchannel(form, q, false, sector);
  }
}

void QuorvaneI_SynthesizePreGap(const CQuorvane_EDCECC& edcecc, Form form, int32_t start, uint32_t count,
                                uint8_t track, bool data, bool xa, uint8_t* out) {
  const CQuorvane_RawSectorBuilder builder(edcecc);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* sector = out + i * SectorSize(form);
    const int32_t address = start + static_cast<int32_t>(i);
    MainData(builder, address, data, xa, sector);
    uint8_t q[12];
    QuorvaneI_QPosition(data ? 4 : 0, track, 0, count - 1 - i, address, q);
    Subchannel(form, q, true, sector);
  }
}

void QuorvaneI_SynthesizeLeadOut(const CQuorvane_EDCECC& edcecc, Form form, int32_t start, uint32_t count, bool data,
                                 bool xa, uint8_t* out) {
  const CQuorvane_RawSectorBuilder builder(edcecc);
  for (uint32_t n = 0; n < count; ++n) {
    uint8_t* sector = out + n * SectorSize(form);
    const int32_t address = start + static_cast<int32_t>(n);
    MainData(builder, address, data, xa, sector);
    uint8_t q[12];
    QuorvaneI_QPosition(data ? 4 : 0, 0xAA, 1, n, address, q);
    Subchannel(form, q, n >= 150 && n % 150 < 75, sector);
  }
}

// ---- The chains ------------------------------------------------------------------------

CQuorvane_RawAreaChain::~CQuorvane_RawAreaChain() = default;

const uint8_t* CQuorvane_RawAreaChain::GetSectors() const { return m__PCQuorvane_MemoryFile->GetBlock(); }

uint8_t* CQuorvane_RawAreaChain::Allocate(const char* className, size_t bytes) {
  m__PUCHAR__Memory.reset(new (std::nothrow) uint8_t[bytes ? bytes : 1]);
  if (!m__PUCHAR__Memory) {
    const std::string method = std::string(className) + "::" + className;
    QuorvaneI_Throw(method.c_str(), EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PUCHAR__Memory == NULL",
                    method.c_str());
  }
  return m__PUCHAR__Memory.get();
}

void CQuorvane_RawAreaChain::Adopt(const char* className, const char* sourceName, size_t bytes) {
  m__PCQuorvane_MemoryFile.reset(new (std::nothrow) CQuorvane_MemoryFile(std::move(m__PUCHAR__Memory), bytes));
  if (!m__PCQuorvane_MemoryFile) {
    const std::string method = std::string(className) + "::" + className;
    QuorvaneI_Throw(method.c_str(), EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PCQuorvane_MemoryFile__%s == NULL",
                    method.c_str(), sourceName);
  }
  AddChainTail(m__PCQuorvane_MemoryFile.get());
  SeekToBegin();
}

namespace {

// The CD-Text groups ORed into R-W, one per sector, cycling.
void AddCDText(const QuorvaneI_LeadInContents& contents, uint32_t sectors, uint8_t* out) {
  constexpr const char* kFormat = "CQuorvane_ISO9660FileTreeLeadInRawRawPW::FormatLeadIn";
  const char* why = contents.cdText == nullptr             ? "pointer = NULL"
                    : !contents.cdText->IsCDTextPresent() ? "IsCDTextPresent() == false"
                                                           : nullptr;
  if (why != nullptr) {
    QuorvaneI_Log("\n%s(): No CD-Text because %s\n", kFormat, why);
    return;
  }
  if (const uint32_t status = contents.cdText->PrepareSubChannels())
    QuorvaneI_Throw(kFormat, EN_SYSTEM_CALL_FAILED, status, "%s(): PrepareSubChannels() failed!", kFormat);
  const auto groups = static_cast<uint32_t>(contents.cdText->GetSubChannelGroupCount());
  const uint8_t* data = contents.cdText->GetSubChannelsData();
  if (groups == 0) return;
  for (uint32_t n = 0; n < sectors; ++n) {
    uint8_t* sub = out + n * kQuorvaneRawPWSectorSize + kQuorvaneRawSectorSize;
    const uint8_t* group = data + n % groups * kQuorvaneCDTextGroupSize;
    for (size_t i = 0; i < kQuorvaneCDTextGroupSize; ++i) sub[i] |= group[i] & 0x3F;
  }
}

// Each area's one edcecc: the tables are the process's, the object is free.
const CQuorvane_EDCECC& Encoder() {
  static const CQuorvane_EDCECC encoder;
  return encoder;
}
}  // namespace

CQuorvane_ISO9660FileTreeLeadInRawPQ::CQuorvane_ISO9660FileTreeLeadInRawPQ(int32_t start, uint32_t sectors,
                                                                           const QuorvaneI_LeadInContents& contents)
    : CQuorvane_RawAreaChain("CQuorvane_ISO9660FileTreeLeadInRawPQ", "LeadIn", sectors, kQuorvaneRawPQSectorSize,
                             [&](uint8_t* out) {
                               QuorvaneI_SynthesizeLeadIn(Encoder(), Form::PQ, start, sectors, contents, out);
                             }) {}

CQuorvane_ISO9660FileTreePreGapRawPQ::CQuorvane_ISO9660FileTreePreGapRawPQ(int32_t start, uint32_t sectors,
                                                                           uint8_t track, bool data, bool xa)
    : CQuorvane_RawAreaChain("CQuorvane_ISO9660FileTreePreGapRawPQ", "PreGap", sectors, kQuorvaneRawPQSectorSize,
                             [&](uint8_t* out) {
                               QuorvaneI_SynthesizePreGap(Encoder(), Form::PQ, start, sectors, track, data, xa, out);
                             }) {}

CQuorvane_ISO9660FileTreeLeadOutRawPQ::CQuorvane_ISO9660FileTreeLeadOutRawPQ(int32_t trackBlocks, bool data, bool xa)
    : CQuorvane_RawAreaChain("CQuorvane_ISO9660FileTreeLeadOutRawPQ", "LeadOut", kQuorvaneLeadOutSectors,
                             kQuorvaneRawPQSectorSize, [&](uint8_t* out) {
                               QuorvaneI_SynthesizeLeadOut(Encoder(), Form::PQ, trackBlocks, kQuorvaneLeadOutSectors,
                                                           data, xa, out);
                             }) {}

CQuorvane_ISO9660FileTreeLeadInRawRawPW::CQuorvane_ISO9660FileTreeLeadInRawRawPW(
    int32_t start, uint32_t sectors, const QuorvaneI_LeadInContents& contents)
    : CQuorvane_RawAreaChain("CQuorvane_ISO9660FileTreeLeadInRawRawPW", "LeadIn", sectors, kQuorvaneRawPWSectorSize,
                             [&](uint8_t* out) {
                               QuorvaneI_SynthesizeLeadIn(Encoder(), Form::RawPW, start, sectors, contents, out);
                               AddCDText(contents, sectors, out);
                             }) {}

CQuorvane_ISO9660FileTreePreGapRawRawPW::CQuorvane_ISO9660FileTreePreGapRawRawPW(int32_t start, uint32_t sectors,
                                                                                 uint8_t track, bool data, bool xa)
    : CQuorvane_RawAreaChain("CQuorvane_ISO9660FileTreePreGapRawRawPW", "PreGap", sectors, kQuorvaneRawPWSectorSize,
                             [&](uint8_t* out) {
                               QuorvaneI_SynthesizePreGap(Encoder(), Form::RawPW, start, sectors, track, data, xa,
                                                          out);
                             }) {}

CQuorvane_ISO9660FileTreeLeadOutRawRawPW::CQuorvane_ISO9660FileTreeLeadOutRawRawPW(int32_t trackBlocks, bool data,
                                                                                   bool xa)
    : CQuorvane_RawAreaChain("CQuorvane_ISO9660FileTreeLeadOutRawRawPW", "LeadOut", kQuorvaneLeadOutSectors,
                             kQuorvaneRawPWSectorSize, [&](uint8_t* out) {
                               QuorvaneI_SynthesizeLeadOut(Encoder(), Form::RawPW, trackBlocks,
                                                           kQuorvaneLeadOutSectors, data, xa, out);
                             }) {}

// ---- The program area ------------------------------------------------------------------

bool QuorvaneI_RawDisc::AnyData() const {
  return std::any_of(tracks.begin(), tracks.end(), [](const QuorvaneI_RawDiscTrack& t) { return !t.audio; });
}

namespace {

constexpr int32_t kMinimumTrackBlocks = 300;  // four seconds
constexpr int32_t kMaximumBlocks = 100 * 60 * 75 - 150;

uint32_t CookedBlockSize(const QuorvaneI_RawDiscTrack& t) { return t.audio || t.rawData ? kQuorvaneRawSectorSize : 2048; }

// Mode 2 Q (ADR 2): the 13 digits of the catalogue number, BCD, and the
// absolute frame.
void QCatalog(uint8_t control, const std::string& digits, int32_t address, uint8_t* q) {
  std::memset(q, 0, 12);
  q[0] = static_cast<uint8_t>(control << 4 | 2);
  for (size_t i = 0; i < 13; ++i)
    q[1 + i / 2] |= static_cast<uint8_t>((digits[i] - '0') << (i % 2 ? 0 : 4));
  uint8_t msf[3];
  QuorvaneI_AddressToMsf(address, msf);
  q[9] = msf[2];
  QuorvaneI_SetQCrc(q);
}

// Mode 3 Q (ADR 3): the ISRC's country and owner as five 6-bit codes
// ('0'-'9' 00h-09h, 'A'-'Z' 11h-2Ah), its year and serial as seven BCD
// digits, and the absolute frame.
void QIsrc(uint8_t control, const char* isrc, int32_t address, uint8_t* q) {
  std::memset(q, 0, 12);
  q[0] = static_cast<uint8_t>(control << 4 | 3);
  uint64_t bits = 0;
  for (int i = 0; i < 5; ++i) {
    const char c = isrc[i];
    bits = bits << 6 | static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 0x11);
  }
  bits <<= 2;
  for (int i = 0; i < 4; ++i) q[1 + i] = static_cast<uint8_t>(bits >> (24 - 8 * i));
  for (int i = 0; i < 7; ++i) q[5 + i / 2] |= static_cast<uint8_t>((isrc[5 + i] - '0') << (i % 2 ? 0 : 4));
  uint8_t msf[3];
  QuorvaneI_AddressToMsf(address, msf);
  q[9] = msf[2];
  QuorvaneI_SetQCrc(q);
}

}  // namespace

int32_t QuorvaneI_AtipLeadInStart(const uint8_t* atip) {
  const int32_t frames = (atip[8] * 60 + atip[9]) * 75 + atip[10];
  return atip[8] >= 90 ? frames - 450150 : frames - 150;
}

const char* QuorvaneI_PlaceRawDisc(QuorvaneI_RawDisc& disc) {
  if (disc.tracks.empty() || disc.tracks.size() > 99) return "a disc holds 1 to 99 tracks";
  if (!disc.catalog.empty() &&
      (disc.catalog.size() != 13 || disc.catalog.find_first_not_of("0123456789") != std::string::npos))
    return "the catalogue number is not 13 digits";
  int64_t end = 0;
  for (size_t i = 0; i < disc.tracks.size(); ++i) {
    QuorvaneI_RawDiscTrack& t = disc.tracks[i];
    if (t.isrc[0] != 0) {
      bool ok = std::strlen(t.isrc) == 12;
      for (int k = 0; ok && k < 12; ++k)
        ok = std::isdigit(static_cast<unsigned char>(t.isrc[k])) ||
             (k < 5 && t.isrc[k] >= 'A' && t.isrc[k] <= 'Z');
      if (!ok) return "an ISRC is not 5 letters or digits and 7 digits";
    }
    if (disc.given != nullptr) {
      // Given tracks lie back to back in the image from LBA 0; the pauses
      // between them on the disc are made here.
      if (t.start < end || (i == 0 && t.start != 0) || t.blocks <= 0)
        return "the tracks do not follow each other from LBA 0";
      t.pregapBlocks = i == 0 ? 150 : static_cast<int32_t>(t.start - end);
    } else {
      if (t.source == nullptr) return "a track has no source";
      if ((i == 0 && t.pregapBlocks != 150) || t.pregapBlocks < 0) return "the first pause is not two seconds";
      uint64_t bytes = 0;
      t.source->GetSizeInUCHARs(&bytes);
      if (t.pauseInSource < 0 || t.pauseInSource > t.pregapBlocks) return "a pause holds more blocks of the source than it has";
      t.blocks = static_cast<int32_t>(std::min<uint64_t>(bytes / CookedBlockSize(t), kMaximumBlocks + 1)) - t.pauseInSource;
      if (t.blocks < kMinimumTrackBlocks) return "a track is shorter than four seconds";
      t.start = static_cast<int32_t>(end + (i == 0 ? 0 : t.pregapBlocks));
    }
    int32_t last = 0;
    for (int32_t at : t.indexes) {
      if (at <= last || at >= t.blocks) return "an index does not lie within its track, after the one before";
      last = at;
    }
    end = int64_t{t.start} + t.blocks;
    if (end > kMaximumBlocks) return "the tracks do not fit on a CD";
  }
  disc.leadOutStart = static_cast<int32_t>(end);
  return nullptr;
}

QuorvaneI_LeadInContents QuorvaneI_RawDiscContents(const QuorvaneI_RawDisc& disc) {
  QuorvaneI_LeadInContents contents;
  contents.data = disc.AnyData();
  contents.leadOutStart = disc.leadOutStart;
  for (const QuorvaneI_RawDiscTrack& t : disc.tracks) {
    contents.trackStarts.push_back(t.start);
    contents.controls.push_back(static_cast<uint8_t>((t.audio ? 0 : 4) | t.controlFlags));
  }
  return contents;
}

CQuorvane_RawProgramFile::CQuorvane_RawProgramFile(const QuorvaneI_RawDisc& disc, Form form)
    : CQuorvane_File(0),
      m__Disc(disc),
      m__Form(form),
      m__ULONG__Sectors(static_cast<uint32_t>(std::max(disc.leadOutStart, 0))),
      m__Cooked(kQuorvaneRawSectorSize),
      m__Sector(disc.given != nullptr ? kQuorvaneRawPWSectorSize : SectorSize(form)) {
  m__ULONGLONG__SizeInUCHARs = uint64_t{m__ULONG__Sectors} * m__Sector.size();
  m__BOOLEAN__IsAudioStuff = disc.AnyData() ? 0 : 1;
}

CQuorvane_File* CQuorvane_RawProgramFile::SeekToBeginUnsafe(uint32_t* budget) {
  if (m__Disc.given != nullptr) m__Disc.given->SeekToBegin();
  if (!m__Disc.tracks.empty() && m__Disc.tracks[0].source != nullptr) m__Disc.tracks[0].source->SeekToBegin();
  m__Track = 0;
  m__ULONG__NextCooked = 0;
  m__LONGLONG__Built = -1;
  return CQuorvane_File::SeekToBeginUnsafe(budget);
}

void CQuorvane_RawProgramFile::BuildSector(uint32_t n) {
  uint8_t* sector = m__Sector.data();
  const auto address = static_cast<int32_t>(n);
  m__LONGLONG__Built = n;
  // The track whose pause or blocks hold n; a new track reads its source from the start.
  while (m__Track + 1 < m__Disc.tracks.size() &&
         address >= m__Disc.tracks[m__Track + 1].start - m__Disc.tracks[m__Track + 1].pregapBlocks) {
    ++m__Track;
    if (m__Disc.given != nullptr) continue;
    m__Disc.tracks[m__Track].source->SeekToBegin();
    m__ULONG__NextCooked = 0;
  }
  const QuorvaneI_RawDiscTrack& t = m__Disc.tracks[m__Track];
  const auto control = static_cast<uint8_t>((t.audio ? 0 : 4) | t.controlFlags);
  const auto track = static_cast<uint8_t>(m__Track + 1);
  uint8_t q[12];
  const int32_t fromSource = t.start - (m__Disc.given != nullptr ? 0 : t.pauseInSource);
  if (address < t.start) {
    if (address >= fromSource) MainFromSource(t, static_cast<uint32_t>(address - fromSource), address, sector);
    else MainData(CQuorvane_RawSectorBuilder(Encoder()), address, !t.audio, false, sector);
    QuorvaneI_QPosition(control, track, 0, static_cast<uint32_t>(t.start - 1 - address), address, q);
    Subchannel(m__Form, q, true, sector);
    return;
  }
  if (m__Disc.given != nullptr) {
    // The pipeline reads forward: the image's next sector is this one.
    m__Disc.given->Read(m__Sector.size(), sector);
    QuorvaneI_ScrambleDataSector(sector);
    return;
  }
  const auto offset = static_cast<uint32_t>(address - t.start);
  MainFromSource(t, static_cast<uint32_t>(address - fromSource), address, sector);
  const auto index = static_cast<uint8_t>(
      1 + std::count_if(t.indexes.begin(), t.indexes.end(), [&](int32_t at) { return at <= int32_t(offset); }));
  // Once in every 100 sectors the catalogue number, once the ISRC, never
  // where a track or index begins: a reader finds those by their Q.
  const bool indexStart = offset == 0 || std::find(t.indexes.begin(), t.indexes.end(), int32_t(offset)) != t.indexes.end();
  if (!indexStart && !m__Disc.catalog.empty() && n % 100 == 50)
    QCatalog(control, m__Disc.catalog, address, q);
  else if (!indexStart && t.isrc[0] != 0 && n % 100 == 75)
    QIsrc(control, t.isrc, address, q);
  else
    QuorvaneI_QPosition(control, track, index, offset, address, q);
  Subchannel(m__Form, q, false, sector);
}

void CQuorvane_RawProgramFile::MainFromSource(const QuorvaneI_RawDiscTrack& t, uint32_t block, int32_t address,
                                              uint8_t* sector) {
  while (m__ULONG__NextCooked <= block) {
    t.source->Read(CookedBlockSize(t), m__Cooked.data());
    ++m__ULONG__NextCooked;
  }
  if (t.audio) {
    std::memcpy(sector, m__Cooked.data(), kQuorvaneRawSectorSize);
    return;
  }
  if (t.rawData) std::memcpy(sector, m__Cooked.data(), kQuorvaneRawSectorSize);
  else CQuorvane_RawSectorBuilder(Encoder()).Build(QuorvaneI_SectorLayout::Mode1, address, m__Cooked.data(), nullptr, sector);
  QuorvaneI_Scramble(sector);
}

void CQuorvane_RawProgramFile::RealRead(uint64_t length, uint8_t* buffer) {
  const size_t size = m__Sector.size();
  uint64_t at = m__ULONGLONG__PositionInUCHARs;
  while (length > 0) {
    const auto n = static_cast<uint32_t>(at / size);
    if (m__LONGLONG__Built != n) BuildSector(n);
    const size_t offset = at % size, part = std::min<uint64_t>(length, size - offset);
    std::memcpy(buffer, m__Sector.data() + offset, part);
    buffer += part, at += part, length -= part;
  }
}

const QuorvaneI_RawDisc& CQuorvane_RawTrackFile::OneTrack(QuorvaneI_RawDisc& disc, CQuorvane_FileChain* cooked,
                                                          bool audio) {
  QuorvaneI_RawDiscTrack t;
  t.audio = audio;
  t.source = cooked;
  uint64_t bytes = 0;
  cooked->GetSizeInUCHARs(&bytes);
  t.blocks = static_cast<int32_t>(bytes / CookedBlockSize(t));
  disc.tracks = {t};
  disc.leadOutStart = t.blocks;
  return disc;
}

CQuorvane_RawTrackFile::CQuorvane_RawTrackFile(CQuorvane_FileChain* cooked, Form form, bool audio)
    : CQuorvane_RawProgramFile(OneTrack(QuorvaneI_OneTrackDisc::disc, cooked, audio), form) {}
