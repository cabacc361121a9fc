#include "vdrive/disc_description.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "platform/errors.h"
#include "platform/file.h"
#include "vdrive/cd_address.h"
#include "vdrive/disc_layout.h"
#include "vdrive/json_util.h"

namespace qv::vdrive {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A file to copy into the disc data file.
struct Copy {
  fs::path file;
  uint64_t offset = 0;       // in the source file
  uint32_t sectorBytes = 0;  // in the source file
  uint32_t storedBytes = 0;  // in the disc data file
  uint32_t skip = 0;         // bytes of each source sector before the stored part
  uint64_t sectors = 0;      // at most this many
  uint64_t to = 0;           // where in the disc data file
};

// Thrown for an I/O failure, with the system error.
struct IoFailure {
  uint32_t error;
  std::string text;
};

int32_t ReadMsf(const json& j, const char* key, int32_t fallback) {
  std::string text;
  if (!ReadText(j, key, 8, &text)) return fallback;
  unsigned m, s, f;
  char tail;
  if (std::sscanf(text.c_str(), "%u:%u:%u%c", &m, &s, &f, &tail) != 3 || m > 99 || s > 59 || f > 74)
    throw BadJson(std::string("\"") + key + "\" must be a time MM:SS:FF");
  return MsfToLba(m, s, f);
}

uint64_t FileSize(const fs::path& path) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) throw IoFailure{plat::kErrFileNotFound, "cannot read the source file " + path.string()};
  return size;
}

// Reads a track's "source": a pattern, or a file to copy. storedSectors is
// how many sectors the track's area stores (0 when "blocks" is still to
// come from the file's size).
void ReadSource(const json& tj, const fs::path& base, Track& t, std::vector<Copy>& copies, bool cd) {
  const json* src = Member(tj, "source");
  if (src == nullptr) return;
  if (src->is_string()) {
    const std::string name = src->get<std::string>();
    if (name == "zero") t.pattern = Pattern::Stored;
    else if (name == "counter") t.pattern = Pattern::Counter;
    else if (name == "tone" && t.mode == TrackMode::Audio) t.pattern = Pattern::Tone;
    else throw BadJson("\"source\" must be zero, counter, tone (audio) or {\"file\": ...}");
    return;
  }
  Copy c;
  std::string file;
  if (!ReadText(*src, "file", 4096, &file) || file.empty()) throw BadJson("a source needs a \"file\"");
  c.file = fs::path(file).is_absolute() ? fs::path(file) : base / file;
  ReadUnsigned(*src, "offset", 0, uint64_t{1} << 42, &c.offset);
  c.storedBytes = cd ? t.storedSectorBytes() : 2048;
  c.sectorBytes = c.storedBytes;
  ReadUnsigned(*src, "sectorBytes", 1, 2352, &c.sectorBytes);
  if (c.sectorBytes != c.storedBytes) {
    if (c.sectorBytes != 2352 || !t.data() || !cd)
      throw BadJson("\"sectorBytes\" is the mode's own size, or 2352 for raw data sectors");
    c.skip = 16;  // drop sync and header; the rest starts with what the drive stores
  }
  copies.push_back(c);
}

uint64_t SourceSectors(const Copy& c) {
  const uint64_t size = FileSize(c.file);
  return size <= c.offset ? 0 : (size - c.offset + c.sectorBytes - 1) / c.sectorBytes;
}

void CopySectors(plat::File& out, const Copy& c) {
  uint32_t err = 0;
  plat::File in = plat::File::Open(c.file.string(), plat::FileMode::Read, &err);
  if (!in.IsOpen()) throw IoFailure{err, "cannot open the source file " + c.file.string()};
  in.AdviseSequential();
  const int64_t size = in.Size(&err);
  if (size < 0) throw IoFailure{err, "cannot read the source file " + c.file.string()};
  constexpr uint64_t kChunkSectors = 256;
  std::vector<uint8_t> buffer(kChunkSectors * c.sectorBytes);
  for (uint64_t done = 0; done < c.sectors;) {
    // Whole sectors in a hole of the source are zeros: skip them unread.
    const uint64_t at = c.offset + done * c.sectorBytes;
    if (at >= static_cast<uint64_t>(size)) break;  // past the file's end: zeros
    const uint64_t holeSectors = (in.DataFrom(at, static_cast<uint64_t>(size)) - at) / c.sectorBytes;
    if (holeSectors > 0) {
      done += std::min(holeSectors, c.sectors - done);
      continue;
    }
    const uint64_t n = std::min(kChunkSectors, c.sectors - done);
    const int64_t got = in.ReadAt(c.offset + done * c.sectorBytes, buffer.data(), n * c.sectorBytes, &err);
    if (got < 0) throw IoFailure{err, "cannot read the source file " + c.file.string()};
    std::fill(buffer.begin() + got, buffer.end(), uint8_t{0});
    for (uint64_t i = 0; i < n; ++i) {
      const uint8_t* p = buffer.data() + i * c.sectorBytes + c.skip;
      const uint32_t len = std::min(c.storedBytes, c.sectorBytes - c.skip);
      if (std::all_of(p, p + len, [](uint8_t b) { return b == 0; })) continue;  // holes cost nothing
      if (!out.WriteAt(c.to + (done + i) * c.storedBytes, p, len, &err))
        throw IoFailure{err, "cannot write the disc's data"};
    }
    done += n;
  }
}

Medium Describe(const json& j, const fs::path& base, std::vector<Copy>& copies) {
  if (!j.is_object()) throw BadJson("a disc description is a JSON object");
  std::string media;
  const MediaType* type = nullptr;
  if (!ReadText(j, "media", 16, &media) || (type = FindMediaType(media)) == nullptr)
    throw BadJson("\"media\" must be one of " + MediaTypeNames());
  Medium m = Medium::New(*type);
  m.sessions.clear();
  bool restricted = false;
  ReadBool(j, "restrictedOverwrite", &restricted);
  if (restricted) {
    if (type->profile != kProfileDvdRwSequential) throw BadJson("\"restrictedOverwrite\" is for DVD-RW");
    m.profile = kProfileDvdRwRestricted;
  }
  ReadUnsigned(j, "capacity", 1, type->largest, &m.capacity);
  ReadBool(j, "formatted", &m.formatted);
  if (m.IsCd() && !type->pressed) {
    m.leadInStart = ReadMsf(j, "leadIn", m.leadInStart);
    if (m.leadInStart >= -150) throw BadJson("\"leadIn\" must lie in the lead-in (90:00:00 or later)");
    m.capacity = static_cast<uint32_t>(std::max(ReadMsf(j, "lastLeadOut", static_cast<int32_t>(m.capacity)), 1));
  }
  ReadUnsigned(j, "layerBreak", 0, 0x7FFFFFFF, &m.layerBreak);
  ReadBool(j, "layerBreakFixed", &m.layerBreakFixed);
  ReadUnsigned(j, "protection", 0, 255, &m.protection);
  ReadUnsigned(j, "regionMask", 0, 255, &m.regionMask);
  if (Member(j, "source") != nullptr) {
    if (!m.RandomAccess() || m.profile == kProfileDvdRwRestricted)
      throw BadJson("a disc-wide \"source\" is for DVD+RW and DVD-RAM; give tracks theirs");
    Track whole;
    ReadSource(j, base, whole, copies, false);
    if (copies.empty()) throw BadJson("a disc-wide \"source\" is a file");
    copies.back().sectors = m.capacity;
    m.formatted = true;
  }

  const json* sessions = Member(j, "sessions");
  if (sessions != nullptr && (!sessions->is_array() || sessions->size() > 99))
    throw BadJson("\"sessions\" must be a list of up to 99");
  uint64_t nextOffset = 0;
  for (size_t si = 0; sessions != nullptr && si < sessions->size(); ++si) {
    const json& sj = (*sessions)[si];
    Session s;
    ReadBool(sj, "closed", &s.closed);
    const json* tracks = Member(sj, "tracks");
    if (tracks == nullptr || !tracks->is_array() || tracks->empty())
      throw BadJson("each session needs a list of \"tracks\"");
    for (size_t ti = 0; ti < tracks->size(); ++ti) {
      const json& tj = (*tracks)[ti];
      const size_t copiesBefore = copies.size();
      Track t = TrackFromJson(tj);
      if (m.IsCd() && !ReadUnsigned(tj, "pregap", 0, 0x7FFFFFFF, &t.pregap)) t.pregap = kCdPauseBlocks;
      ReadSource(tj, base, t, copies, m.IsCd());
      // Where it starts: right after what comes before it.
      int64_t start;
      if (si == 0 && ti == 0) {
        start = m.IsCd() ? int64_t{t.pregap} - kCdPauseBlocks : 0;
      } else if (ti == 0 && m.IsCd()) {
        const DiscLayout layout(m);
        start = layout.NextProgramArea(static_cast<uint32_t>(m.sessions.size())) + t.pregap;
      } else {
        const Track& prev = ti > 0 ? s.tracks.back() : m.sessions.back().tracks.back();
        start = int64_t{prev.end()} + t.pregap;
      }
      if (!ReadUnsigned(tj, "start", 0, 0x7FFFFFFF, &t.start)) {
        if (start < 0) throw BadJson("a first track's pause is at least 150 blocks");
        t.start = static_cast<uint32_t>(start);
      }
      const int64_t firstStored = std::max<int64_t>(t.areaStart(), 0);
      const uint64_t lead = static_cast<uint64_t>(int64_t{t.start} - firstStored);  // stored pause sectors
      if (Member(tj, "blocks") == nullptr) {
        if (copies.size() == copiesBefore) throw BadJson("a track needs \"blocks\" unless a source file gives them");
        const uint64_t sectors = SourceSectors(copies.back());
        if (sectors <= lead) throw BadJson("the source file of a track holds no more than its pause");
        t.blocks = static_cast<uint32_t>(std::min<uint64_t>(sectors - lead, 0x7FFFFFFF));
      }
      if (Member(tj, "recorded") == nullptr) t.recorded = t.blocks;
      const uint64_t areaSectors = lead + t.blocks;
      if (m.IsCd()) {
        t.dataOffset = nextOffset;
        nextOffset += (areaSectors * t.storedSectorBytes() + 4095) / 4096 * 4096;
      } else {
        t.dataOffset = uint64_t{t.start} * 2048;
      }
      if (copies.size() > copiesBefore) {
        Copy& c = copies.back();
        if (SourceSectors(c) > areaSectors)
          throw BadJson("the source file of track " + std::to_string(m.TrackCount() + s.tracks.size() + 1) +
                        " holds more sectors than the track");
        c.sectors = areaSectors;
        c.to = t.dataOffset;
      }
      s.tracks.push_back(std::move(t));
    }
    m.sessions.push_back(std::move(s));
  }

  if (m.profile == kProfileDvdRwRestricted && !m.sessions.empty()) m.formatted = true;
  std::string status;
  if (ReadText(j, "status", 16, &status)) {
    if (status == "blank") m.status = DiscStatus::Blank;
    else if (status == "appendable") m.status = DiscStatus::Appendable;
    else if (status == "complete") m.status = DiscStatus::Complete;
    else throw BadJson("\"status\" must be blank, appendable or complete");
  } else if (m.RandomAccess()) {
    m.status = m.formatted ? DiscStatus::Complete : DiscStatus::Blank;
  } else {
    m.status = m.sessions.empty() ? DiscStatus::Blank
               : !m.sessions.back().closed ? DiscStatus::Appendable
                                            : DiscStatus::Complete;
  }
  if (m.profile == kProfileDvdPlusRDl && m.layerBreak == 0) m.layerBreak = m.capacity / 2 / 16 * 16;
  CheckLayout(m);
  return m;
}

}  // namespace

uint32_t LoadDiscDescription(const fs::path& description, const fs::path& dataFile, Medium* medium,
                             std::string* error) {
  const std::string where = "disc description " + description.string() + ": ";
  uint32_t err = 0;
  std::string text;
  {
    plat::File f = plat::File::Open(description.string(), plat::FileMode::Read, &err);
    if (!f.IsOpen()) {
      *error = "cannot open the " + where.substr(0, where.size() - 2) + " (system error " + std::to_string(err) + ")";
      return err;
    }
    const int64_t size = f.Size(&err);
    if (size < 0 || size > (1 << 20)) {
      *error = where + "not a small JSON file";
      return size < 0 ? err : plat::kErrInvalidData;
    }
    text.resize(static_cast<size_t>(size));
    if (f.Read(text.data(), text.size(), &err) != size) {
      *error = where + "cannot be read";
      return err != 0 ? err : plat::kErrInvalidData;
    }
  }
  try {
    std::vector<Copy> copies;
    const json j = ParseWhole(text);
    Medium m = Describe(j, description.parent_path(), copies);
    plat::File out = plat::File::Open(dataFile.string(), plat::FileMode::CreateAlways, &err);
    if (!out.IsOpen()) throw IoFailure{err, "cannot make the disc's data file"};
    for (const Copy& c : copies) CopySectors(out, c);
    m.image = description.string();
    *medium = std::move(m);
    return 0;
  } catch (const json::parse_error& e) {
    *error = where + "not valid JSON (" + e.what() + ")";
  } catch (const BadJson& e) {
    *error = where + e.what();
  } catch (const nlohmann::json::exception& e) {
    *error = where + e.what();
  } catch (const IoFailure& e) {
    *error = where + e.text + " (system error " + std::to_string(e.error) + ")";
    return e.error;
  }
  return plat::kErrInvalidData;
}

}  // namespace qv::vdrive
