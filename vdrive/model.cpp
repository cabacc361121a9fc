#include "vdrive/model.h"

#include <algorithm>

#include "vdrive/json_util.h"
#include "vdrive/media_types.h"

namespace qv::vdrive {

namespace {

using nlohmann::json;

// A host writes up to 64 KiB at once.
constexpr uint32_t kSmallestWriterBufferKiB = 64;

// The profiles a media type name stands for in a model: a DVD-RW drive
// handles both of the disc's recording modes.
std::vector<uint16_t> ProfilesOf(const MediaType& type) {
  if (type.profile == kProfileDvdRwSequential) return {kProfileDvdRwRestricted, kProfileDvdRwSequential};
  return {type.profile};
}

json ProfileNames(const std::vector<uint16_t>& profiles) {
  json names = json::array();
  for (const auto& t : MediaTypes())
    if (std::find(profiles.begin(), profiles.end(), t.profile) != profiles.end()) names.push_back(t.name);
  return names;
}

std::vector<uint16_t> ReadProfiles(const json& object, const char* key, std::vector<uint16_t> fallback) {
  const json* v = Member(object, key);
  if (v == nullptr) return fallback;
  if (!v->is_array()) throw BadJson(std::string("\"") + key + "\" must be a list of media types");
  std::vector<uint16_t> profiles;
  for (const auto& item : *v) {
    const MediaType* type = item.is_string() ? FindMediaType(item.get<std::string>()) : nullptr;
    if (type == nullptr)
      throw BadJson(std::string("\"") + key + "\" holds " + item.dump() + ", not one of " + MediaTypeNames());
    for (uint16_t p : ProfilesOf(*type))
      if (std::find(profiles.begin(), profiles.end(), p) == profiles.end()) profiles.push_back(p);
  }
  std::sort(profiles.begin(), profiles.end());
  return profiles;
}

// Speeds in kB/s, from 1x of the family (slower drives do not exist) to
// what MMC's 16-bit fields carry.
std::vector<uint32_t> ReadSpeeds(const json& object, const char* key, uint32_t slowest, std::vector<uint32_t> fallback) {
  const json* v = Member(object, key);
  if (v == nullptr) return fallback;
  if (!v->is_array() || v->size() > 16) throw BadJson(std::string("\"") + key + "\" must be a list of up to 16 speeds");
  std::vector<uint32_t> speeds;
  for (const auto& item : *v) {
    if (!item.is_number_unsigned() || item.get<uint64_t>() < slowest || item.get<uint64_t>() > 0xFFFF)
      throw BadJson(std::string("\"") + key + "\" speeds are kB/s from " + std::to_string(slowest) + " (1x) to 65535");
    speeds.push_back(item.get<uint32_t>());
  }
  std::sort(speeds.rbegin(), speeds.rend());
  return speeds;
}

struct QuirkName {
  uint32_t bit;
  const char* name;
};
constexpr QuirkName kQuirkNames[] = {
    {kQuirkNoGetConfiguration, "no-get-configuration"},
    {kQuirkEjectNeedsTaoImmed, "eject-needs-tao-immediate"},
    {kQuirkRejectsBufe, "rejects-bufe"},
    {kQuirkZeroPerformanceEnd, "zero-performance-end"},
};

}  // namespace

uint32_t QuirkByName(const std::string& name) {
  for (const auto& q : kQuirkNames)
    if (name == q.name) return q.bit;
  return 0;
}

std::vector<std::string> QuirkNames(uint32_t quirks) {
  std::vector<std::string> names;
  for (const auto& q : kQuirkNames)
    if (quirks & q.bit) names.push_back(q.name);
  return names;
}

uint32_t PickWriteSpeed(const std::vector<uint32_t>& speeds, uint32_t requested) {
  if (speeds.empty()) return 0;
  if (requested >= 0xFFFF) return speeds.front();
  for (uint32_t s : speeds)  // fastest first
    if (s <= requested) return s;
  return speeds.back();
}

uint32_t PickReadSpeed(uint32_t maximum, uint32_t requested) {
  return std::min(maximum, std::max<uint32_t>(requested, 1));
}

bool DriveModel::Reads(uint16_t profile) const {
  return std::find(readProfiles.begin(), readProfiles.end(), profile) != readProfiles.end();
}

bool DriveModel::Writes(uint16_t profile) const {
  return std::find(writeProfiles.begin(), writeProfiles.end(), profile) != writeProfiles.end();
}

DriveModel DefaultModel() {
  DriveModel m;
  for (const auto& t : MediaTypes()) {
    for (uint16_t p : ProfilesOf(t)) {
      m.readProfiles.push_back(p);
      if (!t.pressed) m.writeProfiles.push_back(p);
    }
  }
  std::sort(m.readProfiles.begin(), m.readProfiles.end());
  std::sort(m.writeProfiles.begin(), m.writeProfiles.end());
  for (uint32_t x : {48, 40, 32, 24, 16, 8, 4}) m.cdWriteSpeeds.push_back(x * 1764 / 10);
  for (uint32_t x10 : {160, 80, 40, 24}) m.dvdWriteSpeeds.push_back(x10 * kDvdSpeed1x / 10);
  return m;
}

json ModelToJson(const DriveModel& m) {
  return json{
      {"vendor", m.vendor},
      {"product", m.product},
      {"revision", m.revision},
      {"serial", m.serial},
      {"deviceName", m.deviceName},
      {"address", {m.address[0], m.address[1], m.address[2], m.address[3]}},
      {"deviceType", m.deviceType},
      {"physicalInterface", m.physicalInterface},
      {"reads", ProfileNames(m.readProfiles)},
      {"writes", ProfileNames(m.writeProfiles)},
      {"testWrite", m.testWrite},
      {"bufferUnderrunFree", m.bufferUnderrunFree},
      {"trackAtOnce", m.trackAtOnce},
      {"sessionAtOnce", m.sessionAtOnce},
      {"rawPq", m.rawPq},
      {"rawPw", m.rawPw},
      {"bufferKiB", m.bufferKiB},
      {"cdReadSpeed", m.cdReadSpeed},
      {"dvdReadSpeed", m.dvdReadSpeed},
      {"cdWriteSpeeds", m.cdWriteSpeeds},
      {"dvdWriteSpeeds", m.dvdWriteSpeeds},
      {"loadingMechanism", m.loadingMechanism},
      {"page30", m.page30},
      {"rpc", {{"typeCode", m.rpcTypeCode}, {"vendorResets", m.rpcVendorResets}, {"userChanges", m.rpcUserChanges},
               {"regionMask", m.rpcRegionMask}, {"scheme", m.rpcScheme}}},
      {"becomingReadyMs", m.becomingReadyMs},
      {"quirks", QuirkNames(m.quirks)},
  };
}

DriveModel ModelFromJson(const json& j) {
  if (!j.is_object()) throw BadJson("the model must be a JSON object");
  DriveModel m = DefaultModel();
  ReadText(j, "vendor", 8, &m.vendor);
  ReadText(j, "product", 16, &m.product);
  ReadText(j, "revision", 4, &m.revision);
  ReadText(j, "serial", 32, &m.serial);
  ReadText(j, "deviceName", 64, &m.deviceName);
  if (m.deviceName.empty()) throw BadJson("\"deviceName\" must not be empty");
  if (const json* a = Member(j, "address")) {
    if (!a->is_array() || a->size() != 4) throw BadJson("\"address\" must be four numbers");
    for (size_t i = 0; i < 4; ++i) {
      if (!(*a)[i].is_number_unsigned() || (*a)[i].get<uint64_t>() > 255)
        throw BadJson("\"address\" numbers must be from 0 to 255");
      m.address[i] = (*a)[i].get<uint8_t>();
    }
  }
  ReadUnsigned(j, "deviceType", 0, 0x1F, &m.deviceType);
  ReadUnsigned(j, "physicalInterface", 0, 0xFFFF, &m.physicalInterface);
  m.readProfiles = ReadProfiles(j, "reads", m.readProfiles);
  m.writeProfiles = ReadProfiles(j, "writes", m.writeProfiles);
  ReadBool(j, "testWrite", &m.testWrite);
  ReadBool(j, "bufferUnderrunFree", &m.bufferUnderrunFree);
  ReadBool(j, "trackAtOnce", &m.trackAtOnce);
  ReadBool(j, "sessionAtOnce", &m.sessionAtOnce);
  ReadBool(j, "rawPq", &m.rawPq);
  ReadBool(j, "rawPw", &m.rawPw);
  ReadUnsigned(j, "bufferKiB", 0, 0xFFFF, &m.bufferKiB);
  ReadUnsigned(j, "cdReadSpeed", kCdSpeed1x, 0xFFFF, &m.cdReadSpeed);
  ReadUnsigned(j, "dvdReadSpeed", kDvdSpeed1x, 0xFFFF, &m.dvdReadSpeed);
  m.cdWriteSpeeds = ReadSpeeds(j, "cdWriteSpeeds", kCdSpeed1x, m.cdWriteSpeeds);
  m.dvdWriteSpeeds = ReadSpeeds(j, "dvdWriteSpeeds", kDvdSpeed1x, m.dvdWriteSpeeds);
  ReadUnsigned(j, "loadingMechanism", 0, 7, &m.loadingMechanism);
  ReadBool(j, "page30", &m.page30);
  if (const json* rpc = Member(j, "rpc")) {
    ReadUnsigned(*rpc, "typeCode", 0, 3, &m.rpcTypeCode);
    ReadUnsigned(*rpc, "vendorResets", 0, 7, &m.rpcVendorResets);
    ReadUnsigned(*rpc, "userChanges", 0, 7, &m.rpcUserChanges);
    ReadUnsigned(*rpc, "regionMask", 0, 255, &m.rpcRegionMask);
    ReadUnsigned(*rpc, "scheme", 0, 255, &m.rpcScheme);
  }
  ReadUnsigned(j, "becomingReadyMs", 0, 60000, &m.becomingReadyMs);
  if (const json* q = Member(j, "quirks")) {
    if (!q->is_array()) throw BadJson("\"quirks\" must be a list of names");
    m.quirks = 0;
    for (const auto& item : *q) {
      const uint32_t bit = item.is_string() ? QuirkByName(item.get<std::string>()) : 0;
      if (bit == 0) throw BadJson("\"quirks\" holds " + item.dump() + ", not a known quirk");
      m.quirks |= bit;
    }
  }
  // A drive writes only what it reads, at a speed it lists, through a
  // buffer that holds at least one write of the largest size a host sends.
  for (uint16_t p : m.writeProfiles) {
    if (!m.Reads(p)) throw BadJson("\"writes\" names a media type that \"reads\" does not");
    const bool dvd = FindMediaTypeByProfile(p)->family == MediaFamily::Dvd;
    if ((dvd ? m.dvdWriteSpeeds : m.cdWriteSpeeds).empty())
      throw BadJson(std::string("\"") + (dvd ? "dvdWriteSpeeds" : "cdWriteSpeeds") +
                    "\" lists no speed, yet \"writes\" names such media");
  }
  if (m.WritesAny() && m.bufferKiB < kSmallestWriterBufferKiB)
    throw BadJson("\"bufferKiB\" of a drive that writes is at least " + std::to_string(kSmallestWriterBufferKiB));
  return m;
}

}  // namespace qv::vdrive
