#include "vdrive/medium.h"

#include <cctype>
#include <cstdio>

#include "vdrive/cd_address.h"
#include "vdrive/disc_layout.h"
#include "vdrive/json_util.h"

namespace qv::vdrive {

using nlohmann::json;

namespace {

std::string HexOf(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) s += {kDigits[b >> 4], kDigits[b & 15]};
  return s;
}

// Whole 18-byte packs only.
bool BytesOfHex(const std::string& hex, std::vector<uint8_t>* out) {
  if (hex.size() % 36 != 0) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned v = 0;
    if (std::sscanf(hex.c_str() + i, "%2x", &v) != 1 || !std::isxdigit(static_cast<unsigned char>(hex[i])) ||
        !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
      return false;
    out->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

// The names the drive folder's files use for a value, the first its
// fallback.
template <class E>
struct Named {
  E value;
  const char* name;
};
constexpr Named<TrackMode> kModeNames[] = {{TrackMode::Mode1, "mode1"},
                                           {TrackMode::Audio, "audio"},
                                           {TrackMode::Mode2, "mode2"},
                                           {TrackMode::Mode2Form1, "mode2-form1"},
                                           {TrackMode::Mode2Form2, "mode2-form2"}};
constexpr Named<Pattern> kPatternNames[] = {
    {Pattern::Stored, "stored"}, {Pattern::Counter, "counter"}, {Pattern::Tone, "tone"}};
constexpr Named<DiscStatus> kStatusNames[] = {
    {DiscStatus::Blank, "blank"}, {DiscStatus::Appendable, "appendable"}, {DiscStatus::Complete, "complete"}};

template <class E, size_t N>
const char* NameOf(const Named<E> (&names)[N], E value) {
  for (const auto& n : names)
    if (n.value == value) return n.name;
  return names[0].name;
}

// Reads an optional name at key into *value; a name not in the list is an
// error that says what the list holds.
template <class E, size_t N>
void ReadName(const json& j, const char* key, const Named<E> (&names)[N], const char* choices, E* value) {
  std::string text;
  if (!ReadText(j, key, 16, &text)) return;
  for (const auto& n : names)
    if (text == n.name) {
      *value = n.value;
      return;
    }
  throw BadJson(std::string("\"") + key + "\" must be " + choices);
}

const char* PatternName(Pattern p) { return NameOf(kPatternNames, p); }

}  // namespace

uint8_t Track::control() const {
  if (mode == TrackMode::Audio) return static_cast<uint8_t>((copy ? 0x02 : 0) | (preemphasis ? 0x01 : 0));
  return static_cast<uint8_t>(0x04 | (copy ? 0x02 : 0) | (incremental ? 0x01 : 0));
}

uint32_t Track::storedSectorBytes() const {
  switch (mode) {
    case TrackMode::Audio: return 2352;
    case TrackMode::Mode1: return 2048;
    case TrackMode::Mode2: return 2336;  // subheader and the rest of the sector's data field
    case TrackMode::Mode2Form1: return 2048;
    case TrackMode::Mode2Form2: return 2324;
  }
  return 2048;
}

Medium Medium::New(const MediaType& type) {
  Medium m;
  m.type = &type;
  m.profile = type.profile;
  m.capacity = type.capacity;
  if (type.pressed) {
    m.status = DiscStatus::Complete;
    Track t;
    t.start = 0;
    t.blocks = type.capacity;
    t.recorded = type.capacity;
    if (type.family == MediaFamily::Cd) t.pregap = 150;
    m.sessions.push_back(Session{{t}, true});
  } else {
    m.status = DiscStatus::Blank;
    // DVD-RAM leaves the factory formatted; DVD+RW needs a format first.
    m.formatted = type.profile == kProfileDvdRam;
  }
  if (type.profile == kProfileDvdPlusRDl) m.layerBreak = type.capacity / 2;
  return m;
}

Medium Medium::WithImage(const MediaType& type, uint32_t blocks, const std::string& image) {
  Medium m = New(type);
  m.image = image;
  m.sessions.clear();
  if (type.randomAccess) {
    m.formatted = true;
    m.status = DiscStatus::Complete;
  } else {
    m.status = DiscStatus::Complete;
    Track t;
    t.blocks = blocks;
    t.recorded = blocks;
    if (type.family == MediaFamily::Cd) t.pregap = 150;
    m.sessions.push_back(Session{{t}, true});
    if (type.pressed) m.capacity = blocks;
    if (type.profile == kProfileDvdPlusRDl) m.layerBreakFixed = true;
  }
  return m;
}

bool Medium::RandomAccess() const {
  return (type != nullptr && type->randomAccess) || profile == kProfileDvdRwRestricted;
}

uint32_t Medium::FormattedBlocks() const {
  if (!RandomAccess() || !formatted) return 0;
  if (profile == kProfileDvdRwRestricted && !sessions.empty() && !sessions.back().tracks.empty())
    return sessions.back().tracks.back().end();
  return capacity;
}

uint32_t Medium::ReadableBlocks() const {
  if (RandomAccess()) return FormattedBlocks();
  uint32_t end = 0;
  for (const auto& s : sessions)
    for (const auto& t : s.tracks) end = std::max(end, t.start + std::min(t.recorded, t.blocks));
  return end;
}

uint32_t Medium::LastCapacityBlock() const {
  if (RandomAccess()) return FormattedBlocks() > 0 ? FormattedBlocks() - 1 : 0;
  uint32_t end = 0;
  for (const auto& s : sessions)
    if (s.closed)
      for (const auto& t : s.tracks) end = std::max(end, t.end());
  return end > 0 ? end - 1 : 0;
}

bool Medium::Writable() const {
  if (type == nullptr || type->pressed) return false;
  if (RandomAccess()) return true;
  return status != DiscStatus::Complete || type->rewritable;
}

size_t Medium::TrackCount() const {
  size_t n = 0;
  for (const auto& s : sessions) n += s.tracks.size();
  return n;
}

void Medium::AddCodeFrame(int32_t lba, uint8_t adr) {
  // The catalogue number and the ISRC take turns: each extends its own last run.
  for (auto r = codeFrames.rbegin(); r != codeFrames.rend(); ++r) {
    if (r->adr != adr) continue;
    if (r->count == 1 && lba > r->first) {
      r->step = static_cast<uint32_t>(lba - r->first);
      r->count = 2;
      return;
    }
    if (lba == r->first + int64_t{r->step} * r->count) {
      ++r->count;
      return;
    }
    break;
  }
  codeFrames.push_back({lba, 1, 1, adr});
}

uint8_t Medium::QModeAt(int64_t lba) const {
  for (const CodeRun& r : codeFrames)
    if (lba >= r.first && (lba - r.first) % r.step == 0 && (lba - r.first) / r.step < r.count) return r.adr;
  return 1;
}

const char* DiscStatusName(DiscStatus status) { return NameOf(kStatusNames, status); }

const char* TrackModeName(TrackMode mode) { return NameOf(kModeNames, mode); }

json MediumToJson(const Medium& m) {
  json sessions = json::array();
  for (const auto& s : m.sessions) {
    json tracks = json::array();
    for (const auto& t : s.tracks) {
      json tj{{"start", t.start}, {"blocks", t.blocks}, {"mode", TrackModeName(t.mode)}, {"recorded", t.recorded},
              {"pattern", PatternName(t.pattern)}, {"dataOffset", t.dataOffset}};
      if (t.pregap != 0) tj["pregap"] = t.pregap;
      if (!t.indexes.empty()) tj["indexes"] = t.indexes;
      if (t.copy) tj["copy"] = true;
      if (t.preemphasis) tj["preemphasis"] = true;
      if (t.incremental) tj["incremental"] = true;
      if (t.reserved) tj["reserved"] = true;
      if (!t.isrc.empty()) tj["isrc"] = t.isrc;
      tracks.push_back(std::move(tj));
    }
    sessions.push_back({{"closed", s.closed}, {"tracks", tracks}});
  }
  json j{{"type", m.type ? m.type->name : ""},
         {"profile", m.profile},
         {"status", DiscStatusName(m.status)},
         {"capacity", m.capacity},
         {"formatted", m.formatted},
         {"sessions", sessions},
         {"image", m.image}};
  if (m.IsCd() && !m.type->pressed) j["leadInStart"] = m.leadInStart;
  if (m.layerBreak != 0) {
    j["layerBreak"] = m.layerBreak;
    j["layerBreakFixed"] = m.layerBreakFixed;
  }
  if (m.protection != 0 || m.regionMask != 0) {
    j["protection"] = m.protection;
    j["regionMask"] = m.regionMask;
  }
  if (m.opcSpeed != 0) j["opcSpeed"] = m.opcSpeed;
  if (m.rwOffset != 0) j["rwOffset"] = m.rwOffset;
  for (const Medium::CodeRun& r : m.codeFrames) j["codeFrames"].push_back({r.first, r.step, r.count, r.adr});
  if (!m.mcn.empty()) j["mcn"] = m.mcn;
  if (!m.cdText.empty()) j["cdText"] = HexOf(m.cdText);
  return j;
}

Track TrackFromJson(const json& tj) {
  if (!tj.is_object()) throw BadJson("each track must be an object");
  Track t;
  bool data = true;
  if (ReadBool(tj, "data", &data) && !data) t.mode = TrackMode::Audio;
  ReadName(tj, "mode", kModeNames, "audio, mode1, mode2, mode2-form1 or mode2-form2", &t.mode);
  ReadUnsigned(tj, "blocks", 1, 0x7FFFFFFF, &t.blocks);
  ReadUnsigned(tj, "pregap", 0, 99 * kFramesPerMinute, &t.pregap);
  if (const json* ix = Member(tj, "indexes")) {
    if (!ix->is_array() || ix->size() > 98) throw BadJson("\"indexes\" must be a list of up to 98 block offsets");
    for (const auto& v : *ix) {
      if (!v.is_number_unsigned() || v.get<uint64_t>() > 0x7FFFFFFF) throw BadJson("\"indexes\" must be block offsets");
      t.indexes.push_back(v.get<uint32_t>());
    }
  }
  ReadBool(tj, "copy", &t.copy);
  ReadBool(tj, "preemphasis", &t.preemphasis);
  ReadBool(tj, "incremental", &t.incremental);
  ReadBool(tj, "reserved", &t.reserved);
  t.recorded = t.blocks;
  ReadUnsigned(tj, "recorded", 0, 0x7FFFFFFF, &t.recorded);
  t.pattern = Pattern::Stored;
  ReadName(tj, "pattern", kPatternNames, "stored, counter or tone", &t.pattern);
  ReadUnsigned(tj, "dataOffset", 0, uint64_t{1} << 42, &t.dataOffset);
  if (ReadText(tj, "isrc", 12, &t.isrc) && t.isrc.size() != 12) throw BadJson("\"isrc\" must be 12 characters");
  return t;
}

Medium MediumFromJson(const json& j) {
  if (!j.is_object()) throw BadJson("the disc must be a JSON object");
  Medium m;
  std::string name;
  if (!ReadText(j, "type", 16, &name) || (m.type = FindMediaType(name)) == nullptr)
    throw BadJson("\"type\" must be one of " + MediaTypeNames());
  m = Medium::New(*m.type);
  m.sessions.clear();
  m.status = DiscStatus::Blank;
  ReadUnsigned(j, "profile", 0, 0xFFFF, &m.profile);
  if (FindMediaTypeByProfile(m.profile) != m.type) throw BadJson("\"profile\" does not belong to the disc's type");
  ReadName(j, "status", kStatusNames, "blank, appendable or complete", &m.status);
  // A pressed disc is as long as its content.
  ReadUnsigned(j, "capacity", 1, m.type->largest, &m.capacity);
  ReadBool(j, "formatted", &m.formatted);
  ReadText(j, "image", 4096, &m.image);
  if (ReadText(j, "mcn", 13, &m.mcn) && m.mcn.size() != 13) throw BadJson("\"mcn\" must be 13 digits");
  int64_t leadIn = m.leadInStart;
  if (const json* v = Member(j, "leadInStart")) {
    if (!v->is_number_integer() || v->get<int64_t>() < -45150 || v->get<int64_t>() > -151)
      throw BadJson("\"leadInStart\" must be a lead-in address from -45150 to -151");
    leadIn = v->get<int64_t>();
  }
  m.leadInStart = static_cast<int32_t>(leadIn);
  ReadUnsigned(j, "layerBreak", 0, 0x7FFFFFFF, &m.layerBreak);
  ReadBool(j, "layerBreakFixed", &m.layerBreakFixed);
  ReadUnsigned(j, "protection", 0, 255, &m.protection);
  ReadUnsigned(j, "regionMask", 0, 255, &m.regionMask);
  ReadUnsigned(j, "opcSpeed", 0, 0xFFFF, &m.opcSpeed);
  ReadUnsigned(j, "rwOffset", 0, uint64_t{1} << 42, &m.rwOffset);
  std::string packs;
  if (ReadText(j, "cdText", 2 * 18 * 256, &packs) && !BytesOfHex(packs, &m.cdText))
    throw BadJson("\"cdText\" must be CD-Text packs of 18 bytes in hexadecimal");
  if (const json* runs = Member(j, "codeFrames")) {
    if (!runs->is_array()) throw BadJson("\"codeFrames\" must be a list of [first, step, count, adr]");
    for (const auto& r : *runs) {
      if (!r.is_array() || r.size() != 4 || !r[0].is_number_integer() || !r[1].is_number_unsigned() ||
          !r[2].is_number_unsigned() || !r[3].is_number_unsigned() || r[1].get<uint64_t>() - 1 >= 0x7FFFFFFF ||
          r[2].get<uint64_t>() - 1 >= 0x7FFFFFFF || (r[3] != 2 && r[3] != 3) || r[0].get<int64_t>() < -150 ||
          r[0].get<int64_t>() > 0x7FFFFFFF)
        throw BadJson("\"codeFrames\" must be a list of [first, step, count, adr]");
      m.codeFrames.push_back({r[0].get<int32_t>(), r[1].get<uint32_t>(), r[2].get<uint32_t>(), r[3].get<uint8_t>()});
    }
  }
  if (const json* sessions = Member(j, "sessions")) {
    if (!sessions->is_array() || sessions->size() > 99) throw BadJson("\"sessions\" must be a list of up to 99");
    for (const auto& sj : *sessions) {
      Session s;
      ReadBool(sj, "closed", &s.closed);
      const json* tracks = Member(sj, "tracks");
      if (tracks == nullptr || !tracks->is_array()) throw BadJson("each session needs a list of \"tracks\"");
      for (const auto& tj : *tracks) {
        Track t = TrackFromJson(tj);
        if (!ReadUnsigned(tj, "start", 0, 0x7FFFFFFF, &t.start) || t.blocks == 0)
          throw BadJson("each track needs \"start\" and \"blocks\"");
        s.tracks.push_back(std::move(t));
      }
      m.sessions.push_back(std::move(s));
    }
  }
  CheckLayout(m);
  return m;
}

void CheckLayout(const Medium& m) {
  if (m.capacity == 0 || m.capacity > m.type->largest)
    throw BadJson("\"capacity\" of a " + std::string(m.type->name) + " disc is 1 to " + std::to_string(m.type->largest) +
                  " blocks, not " + std::to_string(m.capacity));
  if (m.status == DiscStatus::Blank && !m.sessions.empty()) throw BadJson("a blank disc has no sessions");
  if (m.status == DiscStatus::Appendable && m.sessions.empty() && !m.RandomAccess())
    throw BadJson("an appendable disc holds at least one session");
  if (m.type->pressed && m.status != DiscStatus::Complete) throw BadJson("a pressed disc is complete");
  if (m.TrackCount() > 99) throw BadJson("a disc holds at most 99 tracks");
  if (m.layerBreak != 0 && (m.profile != kProfileDvdPlusRDl || m.layerBreak >= m.capacity || m.layerBreak % 16 != 0))
    throw BadJson("\"layerBreak\" belongs to a DVD+R DL, as a multiple of 16 blocks inside its capacity");
  if (m.RandomAccess()) {
    if (m.sessions.size() > 1 || (!m.sessions.empty() && m.sessions[0].tracks.size() > 1))
      throw BadJson("a random-access disc has at most one track");
    if (!m.sessions.empty() && m.profile != kProfileDvdRwRestricted)
      throw BadJson("only a DVD-RW in restricted overwrite lists its formatted track");
  }
  int64_t next = m.IsCd() ? -150 : 0;  // where the next track's area may begin
  for (size_t si = 0; si < m.sessions.size(); ++si) {
    const Session& s = m.sessions[si];
    if (s.tracks.empty()) throw BadJson("a session holds at least one track");
    if (si + 1 < m.sessions.size() && !s.closed) throw BadJson("only the last session may be open");
    if (m.status == DiscStatus::Complete && !s.closed) throw BadJson("a complete disc has no open session");
    for (size_t ti = 0; ti < s.tracks.size(); ++ti) {
      const Track& t = s.tracks[ti];
      const std::string which = "track " + std::to_string(ti + 1) + " of session " + std::to_string(si + 1);
      // The track a recorder is writing now is the one partly recorded.
      const bool lastOpen = !s.closed && si + 1 == m.sessions.size() && ti + 1 == s.tracks.size();
      if (m.IsCd()) {
        // The first track's pause may reach back to -150, no further.
        if (t.areaStart() < next) throw BadJson(which + " must begin after what comes before it");
        for (size_t k = 0; k < t.indexes.size(); ++k)
          if (t.indexes[k] == 0 || t.indexes[k] >= t.blocks || (k > 0 && t.indexes[k] <= t.indexes[k - 1]))
            throw BadJson(which + ": \"indexes\" must rise inside the track");
        if ((!t.finished() && !lastOpen) || t.reserved) throw BadJson(which + ": CD tracks are recorded whole");
        if (t.mode == TrackMode::Audio ? t.incremental : (t.preemphasis || t.pattern == Pattern::Tone))
          throw BadJson(which + ": \"incremental\" is for data tracks, \"preemphasis\" and the tone for audio");
      } else {
        if (t.mode != TrackMode::Mode1 || t.pregap != 0 || !t.indexes.empty() || t.pattern == Pattern::Tone)
          throw BadJson(which + ": a DVD track is Mode 1 data with no pause or indexes");
        if (int64_t{t.start} < next) throw BadJson(which + " must begin after what comes before it");
        if (t.recorded > t.blocks) throw BadJson(which + ": \"recorded\" exceeds \"blocks\"");
        if (s.closed && !t.finished()) throw BadJson(which + ": a closed session holds finished tracks");
        if (!t.finished() && !t.reserved && !lastOpen)
          throw BadJson(which + ": only a reserved track or the last track of an open session is partly recorded");
      }
      if (uint64_t{t.end()} > m.capacity)
        throw BadJson(which + " ends at block " + std::to_string(t.end()) + ", beyond the disc's capacity of " +
                      std::to_string(m.capacity) + " blocks");
      next = t.end();
    }
    if (m.IsCd()) next += (si == 0 ? kCdFirstLeadOutBlocks : kCdLaterLeadOutBlocks) + kCdLeadInBlocks;
  }
}

}  // namespace qv::vdrive
