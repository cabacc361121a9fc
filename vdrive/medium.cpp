#include "vdrive/medium.h"

#include "vdrive/json_util.h"

namespace qv::vdrive {

using nlohmann::json;

Medium Medium::New(const MediaType& type) {
  Medium m;
  m.type = &type;
  m.profile = type.profile;
  m.capacity = type.capacity;
  if (type.pressed) {
    m.status = DiscStatus::Complete;
    m.sessions.push_back(Session{{Track{0, type.capacity, true}}, true});
  } else {
    m.status = DiscStatus::Blank;
    // DVD-RAM leaves the factory formatted; DVD+RW needs a format first.
    m.formatted = type.profile == kProfileDvdRam;
  }
  return m;
}

Medium Medium::WithImage(const MediaType& type, uint32_t blocks, const std::string& image) {
  Medium m;
  m.type = &type;
  m.profile = type.profile;
  m.capacity = type.capacity;
  m.image = image;
  if (type.randomAccess) {
    m.formatted = true;
    m.status = DiscStatus::Complete;
  } else {
    m.status = DiscStatus::Complete;
    m.sessions.push_back(Session{{Track{0, blocks, true}}, true});
    if (type.pressed) m.capacity = blocks;
  }
  return m;
}

uint32_t Medium::ReadableBlocks() const {
  if (type != nullptr && type->randomAccess) return formatted ? capacity : 0;
  uint32_t end = 0;
  for (const auto& s : sessions)
    for (const auto& t : s.tracks) end = std::max(end, t.start + t.blocks);
  return end;
}

uint32_t Medium::LastCapacityBlock() const {
  if (type != nullptr && type->randomAccess) return formatted && capacity > 0 ? capacity - 1 : 0;
  uint32_t end = 0;
  for (const auto& s : sessions)
    if (s.closed)
      for (const auto& t : s.tracks) end = std::max(end, t.start + t.blocks);
  return end > 0 ? end - 1 : 0;
}

bool Medium::Writable() const {
  if (type == nullptr || type->pressed) return false;
  if (type->randomAccess) return true;
  return status != DiscStatus::Complete || type->rewritable;
}

const char* DiscStatusName(DiscStatus status) {
  switch (status) {
    case DiscStatus::Blank: return "blank";
    case DiscStatus::Appendable: return "appendable";
    case DiscStatus::Complete: return "complete";
  }
  return "blank";
}

json MediumToJson(const Medium& m) {
  json sessions = json::array();
  for (const auto& s : m.sessions) {
    json tracks = json::array();
    for (const auto& t : s.tracks) tracks.push_back({{"start", t.start}, {"blocks", t.blocks}, {"data", t.data}});
    sessions.push_back({{"closed", s.closed}, {"tracks", tracks}});
  }
  return json{{"type", m.type ? m.type->name : ""},
              {"profile", m.profile},
              {"status", DiscStatusName(m.status)},
              {"capacity", m.capacity},
              {"formatted", m.formatted},
              {"sessions", sessions},
              {"image", m.image}};
}

Medium MediumFromJson(const json& j) {
  if (!j.is_object()) throw BadJson("the disc must be a JSON object");
  Medium m;
  std::string name;
  if (!ReadText(j, "type", 16, &name) || (m.type = FindMediaType(name)) == nullptr)
    throw BadJson("\"type\" must be one of " + MediaTypeNames());
  m.profile = m.type->profile;
  ReadUnsigned(j, "profile", 0, 0xFFFF, &m.profile);
  if (FindMediaTypeByProfile(m.profile) != m.type) throw BadJson("\"profile\" does not belong to the disc's type");
  std::string status = "blank";
  ReadText(j, "status", 16, &status);
  if (status == "blank") m.status = DiscStatus::Blank;
  else if (status == "appendable") m.status = DiscStatus::Appendable;
  else if (status == "complete") m.status = DiscStatus::Complete;
  else throw BadJson("\"status\" must be blank, appendable or complete");
  m.capacity = m.type->capacity;
  // A pressed disc is as long as its content; nothing is longer than a DVD+R DL.
  ReadUnsigned(j, "capacity", 0, 0x7FFFFFFF, &m.capacity);
  ReadBool(j, "formatted", &m.formatted);
  ReadText(j, "image", 4096, &m.image);
  if (const json* sessions = Member(j, "sessions")) {
    if (!sessions->is_array() || sessions->size() > 99) throw BadJson("\"sessions\" must be a list of up to 99");
    size_t trackCount = 0;
    uint32_t next = 0;
    for (const auto& sj : *sessions) {
      Session s;
      ReadBool(sj, "closed", &s.closed);
      const json* tracks = Member(sj, "tracks");
      if (tracks == nullptr || !tracks->is_array()) throw BadJson("each session needs a list of \"tracks\"");
      for (const auto& tj : *tracks) {
        Track t;
        if (!ReadUnsigned(tj, "start", 0, 0x7FFFFFFF, &t.start) || !ReadUnsigned(tj, "blocks", 1, 0x7FFFFFFF, &t.blocks))
          throw BadJson("each track needs \"start\" and \"blocks\"");
        ReadBool(tj, "data", &t.data);
        if (t.start < next || uint64_t{t.start} + t.blocks > m.capacity)
          throw BadJson("tracks must follow one another within the disc's capacity");
        next = t.start + t.blocks;
        s.tracks.push_back(t);
        if (++trackCount > 99) throw BadJson("a disc holds at most 99 tracks");
      }
      m.sessions.push_back(std::move(s));
    }
  }
  if (m.status == DiscStatus::Blank && !m.sessions.empty()) throw BadJson("a blank disc has no sessions");
  return m;
}

}  // namespace qv::vdrive
