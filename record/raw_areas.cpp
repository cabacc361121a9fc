#include "record/raw_areas.h"

#include <algorithm>
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
  const uint8_t control = contents.data ? 4 : 0;
  for (uint32_t n = 0; n < count; ++n) {
    uint8_t* sector = out + n * SectorSize(form);
    const int32_t address = start + static_cast<int32_t>(n);
    MainData(builder, address, contents.data, contents.xa, sector);
    const uint32_t entry = n % cycle / 3;  // 0 A0, 1 A1, 2 A2, then the tracks
    uint8_t point, time[3] = {};
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
                    : contents.data                        ? "Data track present"
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

// ---- The raw track ---------------------------------------------------------------------

CQuorvane_RawTrackFile::CQuorvane_RawTrackFile(CQuorvane_FileChain* cooked, Form form, bool audio)
    : CQuorvane_File(0),
      m__PCQuorvane_FileChain__Cooked(cooked),
      m__Form(form),
      m__BOOLEAN__Audio(audio),
      m__ULONG__Sectors(0),
      m__Cooked(audio ? kQuorvaneRawSectorSize : 2048),
      m__Sector(SectorSize(form)) {
  uint64_t bytes = 0;
  cooked->GetSizeInUCHARs(&bytes);
  m__ULONG__Sectors = static_cast<uint32_t>(bytes / m__Cooked.size());
  m__ULONGLONG__SizeInUCHARs = uint64_t{m__ULONG__Sectors} * SectorSize(form);
  m__BOOLEAN__IsAudioStuff = audio ? 1 : 0;
}

CQuorvane_File* CQuorvane_RawTrackFile::SeekToBeginUnsafe(uint32_t* budget) {
  m__PCQuorvane_FileChain__Cooked->SeekToBegin();
  m__ULONG__NextCooked = 0;
  m__LONGLONG__Built = -1;
  return CQuorvane_File::SeekToBeginUnsafe(budget);
}

void CQuorvane_RawTrackFile::BuildSector(uint32_t n) {
  // The pipeline reads forward; a jump ahead skips source blocks.
  while (m__ULONG__NextCooked <= n) {
    m__PCQuorvane_FileChain__Cooked->Read(m__Cooked.size(), m__Cooked.data());
    ++m__ULONG__NextCooked;
  }
  uint8_t* sector = m__Sector.data();
  const auto address = static_cast<int32_t>(n);
  if (m__BOOLEAN__Audio) {
    std::memcpy(sector, m__Cooked.data(), kQuorvaneRawSectorSize);
  } else {
    CQuorvane_RawSectorBuilder(Encoder()).Build(QuorvaneI_SectorLayout::Mode1, address, m__Cooked.data(), nullptr,
                                                sector);
    QuorvaneI_Scramble(sector);
  }
  uint8_t q[12];
  QuorvaneI_QPosition(m__BOOLEAN__Audio ? 0 : 4, 1, 1, n, address, q);
  Subchannel(m__Form, q, false, sector);
  m__LONGLONG__Built = n;
}

void CQuorvane_RawTrackFile::RealRead(uint64_t length, uint8_t* buffer) {
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
