#include "record/cd_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/log.h"
#include "core/subcode_crc.h"
#include "device/raw_sector.h"

namespace {

constexpr uint32_t kStatusNoMemory = 14;
constexpr uint32_t kStatusInvalidParameter = 87;
constexpr uint8_t kPackTitle = 0x80;
constexpr uint8_t kPackPerformer = 0x81;
constexpr uint8_t kPackSongwriter = 0x82;
constexpr uint8_t kPackSize = 0x8F;
constexpr size_t kTextBytesPerPack = 12;
// One block's sequence numbers run 0-255.
constexpr size_t kMaxPacks = 256;
constexpr uint8_t kLanguageEnglish = 0x09;

}  // namespace

uint32_t CQuorvane_CDText::AddTrackInfo(int32_t track, const char* title, const char* performer) {
  if (track < 0 || track > 100) {
    QuorvaneI_Log("\nCQuorvane_CDText::AddTrackInfo() : Invalid track number value %d\n", static_cast<int>(track));
    return kStatusInvalidParameter;
  }
  const std::string t = title != nullptr ? title : "", p = performer != nullptr ? performer : "";
  if (t.size() > kMaxTextBytes || p.size() > kMaxTextBytes) {
    QuorvaneI_Log("\nCQuorvane_CDText::AddTrackInfo() : Text of track %d is longer than %u characters\n",
                  static_cast<int>(track), static_cast<unsigned>(kMaxTextBytes));
    return kStatusInvalidParameter;
  }
  try {
    auto& info = m__TrackInfos[static_cast<size_t>(track)];
    if (!info) info = std::make_unique<TrackInfo>();
    info->title = t;
    info->performer = p;
  } catch (const std::bad_alloc&) {
    QuorvaneI_Log("\nCQuorvane_CDText::AddTrackInfo() : Can't allocate memory\n");
    return kStatusNoMemory;
  }
  if (track > 0) {
    if (m__CHAR__FirstTrack == 0 || track < m__CHAR__FirstTrack) m__CHAR__FirstTrack = static_cast<int8_t>(track);
    if (track > m__CHAR__LastTrack) m__CHAR__LastTrack = static_cast<int8_t>(track);
  }
  return 0;
}

uint32_t CQuorvane_CDText::AddSongwriter(int32_t track, const char* songwriter) {
  if (track < 0 || track > 100 || !m__TrackInfos[static_cast<size_t>(track)]) return kStatusInvalidParameter;
  const std::string text = songwriter != nullptr ? songwriter : "";
  if (text.size() > kMaxTextBytes) return kStatusInvalidParameter;
  m__TrackInfos[static_cast<size_t>(track)]->songwriter = text;
  return 0;
}

bool CQuorvane_CDText::IsCDTextPresent() const {
  if (!m__GivenPacks.empty()) return true;
  for (const auto& info : m__TrackInfos)
    if (info) return true;
  return false;
}

void CQuorvane_CDText::AppendPack(const uint8_t* pack16) {
  uint8_t pack[kQuorvaneCDTextPackSize];
  std::memcpy(pack, pack16, 16);
  const uint16_t crc = static_cast<uint16_t>(~QuorvaneI_SubcodeCrc(pack, 16));
  pack[16] = static_cast<uint8_t>(crc >> 8);
  pack[17] = static_cast<uint8_t>(crc);
  char hex[2 * kQuorvaneCDTextPackSize + 1];
  for (size_t i = 0; i < kQuorvaneCDTextPackSize; ++i) std::snprintf(hex + 2 * i, 3, "%02X", pack[i]);
  QuorvaneI_Log("\nQuorvane:CDText : %s\n", hex);
  m__PackData.insert(m__PackData.end(), pack, pack + kQuorvaneCDTextPackSize);
}

// The strings of one pack type run on from pack to pack, each ended by its
// NUL: readers join a type's packs and split at the NULs, so padding a
// string out to a pack boundary would read as empty texts for the next
// tracks. A pack names the track and character position of its first byte.
size_t CQuorvane_CDText::AppendStrings(uint8_t type, const std::vector<std::pair<uint8_t, std::string>>& strings) {
  std::vector<uint8_t> bytes, tracks, positions;
  for (const auto& [track, text] : strings)
    for (size_t i = 0; i <= text.size(); ++i) {
      bytes.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
      tracks.push_back(track);
      positions.push_back(static_cast<uint8_t>(i < 15 ? i : 15));
    }
  size_t packs = 0;
  for (size_t at = 0; at < bytes.size(); at += kTextBytesPerPack, ++packs) {
    uint8_t pack[16] = {type, tracks[at], static_cast<uint8_t>(m__PackData.size() / kQuorvaneCDTextPackSize),
                        positions[at]};
    std::memcpy(pack + 4, bytes.data() + at, std::min(kTextBytesPerPack, bytes.size() - at));
    AppendPack(pack);
  }
  return packs;
}

uint32_t CQuorvane_CDText::SetPacks(const uint8_t* packs, size_t size) {
  m__GivenPacks.clear();
  for (size_t at = 0; at + kQuorvaneCDTextPackSize <= size; at += kQuorvaneCDTextPackSize) {
    const uint8_t* pack = packs + at;
    const uint16_t crc = static_cast<uint16_t>(~QuorvaneI_SubcodeCrc(pack, 16));
    if (pack[16] == (crc >> 8) && pack[17] == (crc & 0xFF)) m__GivenPacks.insert(m__GivenPacks.end(), pack, pack + 18);
  }
  if (m__GivenPacks.empty() || m__GivenPacks.size() > kMaxPacks * kQuorvaneCDTextPackSize) {
    m__GivenPacks.clear();
    return kStatusInvalidParameter;
  }
  return 0;
}

uint32_t CQuorvane_CDText::GetData() {
  m__PackData.clear();
  if (!m__GivenPacks.empty()) {
    m__PackData = m__GivenPacks;
    return 0;
  }
  if (!IsCDTextPresent()) return 0;
  // The disc's entry comes first and every track from the first to the
  // last has one, empty where nothing was given: a reader counts strings.
  std::vector<int> entries{0};
  for (int t = m__CHAR__FirstTrack; t > 0 && t <= m__CHAR__LastTrack; ++t) entries.push_back(t);
  const TrackInfo empty;
  const auto text = [](const TrackInfo& info, uint8_t type) -> const std::string& {
    return type == kPackTitle ? info.title : type == kPackPerformer ? info.performer : info.songwriter;
  };
  std::vector<uint8_t> types{kPackTitle, kPackPerformer};
  for (int t : entries)
    if (m__TrackInfos[t] && !m__TrackInfos[t]->songwriter.empty() && types.size() == 2) types.push_back(kPackSongwriter);
  std::vector<std::vector<std::pair<uint8_t, std::string>>> strings(types.size());
  size_t packs = 3;
  for (size_t k = 0; k < types.size(); ++k) {
    size_t bytes = 0;
    for (int t : entries) {
      strings[k].emplace_back(static_cast<uint8_t>(t), text(m__TrackInfos[t] ? *m__TrackInfos[t] : empty, types[k]));
      bytes += strings[k].back().second.size() + 1;
    }
    packs += (bytes + kTextBytesPerPack - 1) / kTextBytesPerPack;
  }
  if (packs > kMaxPacks) {
    QuorvaneI_Log("\nCQuorvane_CDText::GetData() : %u packs do not fit one block of %u\n",
                  static_cast<unsigned>(packs), static_cast<unsigned>(kMaxPacks));
    return kStatusInvalidParameter;
  }
  try {
    m__PackData.reserve(packs * kQuorvaneCDTextPackSize);
  } catch (const std::bad_alloc&) {
    QuorvaneI_Log("\nCQuorvane_CDText::GetData() : No memory\n");
    return kStatusNoMemory;
  }
  uint8_t counts[16] = {};
  for (size_t k = 0; k < types.size(); ++k)
    counts[types[k] & 0x0F] = static_cast<uint8_t>(AppendStrings(types[k], strings[k]));
  counts[kPackSize & 0x0F] = 3;
  // Size information, 36 bytes over three packs.
  uint8_t size[36] = {};
  size[1] = static_cast<uint8_t>(m__CHAR__FirstTrack > 0 ? m__CHAR__FirstTrack : 1);
  size[2] = static_cast<uint8_t>(m__CHAR__LastTrack > 0 ? m__CHAR__LastTrack : 1);
  std::memcpy(size + 4, counts, sizeof counts);
  size[20] = static_cast<uint8_t>(packs - 1);  // the last sequence number of block 0
  size[28] = kLanguageEnglish;
  for (uint8_t i = 0; i < 3; ++i) {
    uint8_t pack[16] = {kPackSize, i, static_cast<uint8_t>(m__PackData.size() / kQuorvaneCDTextPackSize), 0};
    std::memcpy(pack + 4, size + 12 * i, kTextBytesPerPack);
    AppendPack(pack);
  }
  return 0;
}

uint32_t CQuorvane_CDText::PrepareSubChannels() {
  m__LONG__SubChannelGroupCount = 0;
  m__PCHAR__SubChannelsData.reset();
  if (const uint32_t status = GetData()) {
    QuorvaneI_Log("\nCQuorvane_CDText::PrepareSubChannels() : GetData() failed with status = %d\n",
                  static_cast<int>(status));
    return status;
  }
  if (m__PackData.empty()) {
    QuorvaneI_Log("\nCQuorvane_CDText::PrepareSubChannels() : no data to proces!\n");
    return 0;
  }
  const size_t packs = m__PackData.size() / kQuorvaneCDTextPackSize;
  // Whole repetitions of the pack list, four packs a group.
  const size_t groups = packs % 4 == 0 ? packs / 4 : packs % 4 == 2 ? packs / 2 : packs;
  m__PCHAR__SubChannelsData.reset(new (std::nothrow) uint8_t[groups * kQuorvaneCDTextGroupSize]());
  if (!m__PCHAR__SubChannelsData) {
    QuorvaneI_Log("\nCQuorvane_CDText::PrepareSubChannels() : no memory for m__PCHAR__SubChannelsData.\n");
    return kStatusNoMemory;
  }
  for (size_t g = 0; g < groups; ++g) {
    uint8_t bytes[4 * kQuorvaneCDTextPackSize];
    for (size_t k = 0; k < 4; ++k)
      std::memcpy(bytes + k * kQuorvaneCDTextPackSize,
                  m__PackData.data() + (g * 4 + k) % packs * kQuorvaneCDTextPackSize, kQuorvaneCDTextPackSize);
    // Three bytes make four six-bit symbols, most significant bits first.
    uint8_t* group = m__PCHAR__SubChannelsData.get() + g * kQuorvaneCDTextGroupSize;
    for (size_t i = 0; i < sizeof bytes / 3; ++i) {
      const uint32_t v = uint32_t{bytes[3 * i]} << 16 | uint32_t{bytes[3 * i + 1]} << 8 | bytes[3 * i + 2];
      for (size_t s = 0; s < 4; ++s) group[4 * i + s] = static_cast<uint8_t>(v >> (18 - 6 * s) & 0x3F);
    }
  }
  m__LONG__SubChannelGroupCount = static_cast<int32_t>(groups);
  return 0;
}
