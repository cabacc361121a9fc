#include "files/cue_sheet_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "quorvane.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFramesPerSecond = 75;
constexpr int kLastTrack = 99;
constexpr size_t kLargestSheet = 1 << 20;

struct ModeInfo {
  const char* name;
  QuorvaneI_CueMode mode;
  uint32_t blockSize;
};
constexpr ModeInfo kModes[] = {{"AUDIO", QuorvaneI_CueMode::kAudio, 2352},
                               {"MODE1/2048", QuorvaneI_CueMode::kMode1_2048, 2048},
                               {"MODE1/2352", QuorvaneI_CueMode::kMode1_2352, 2352},
                               {"MODE2/2336", QuorvaneI_CueMode::kMode2_2336, 2336},
                               {"MODE2/2352", QuorvaneI_CueMode::kMode2_2352, 2352}};

struct FileTypeInfo {
  const char* name;
  QuorvaneI_CueFileType type;
};
constexpr FileTypeInfo kFileTypes[] = {{"BINARY", QuorvaneI_CueFileType::kBinary},
                                       {"MOTOROLA", QuorvaneI_CueFileType::kMotorola},
                                       {"WAVE", QuorvaneI_CueFileType::kWave}};

struct SheetFile {
  std::string path;
  QuorvaneI_CueFileType type;
  int line;
};

// A track while the sheet is read: index times count from its file's start.
struct Pending {
  QuorvaneI_CueSheetTrack track;
  size_t file = 0;
  std::vector<uint32_t> times;  // of track.indexes, from the file's start
  bool pregapSeen = false, postgapSeen = false, flagsSeen = false;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The words of a line; a quoted word keeps its spaces. False for an
// unterminated quote.
bool Split(const std::string& line, std::vector<std::string>* words) {
  for (size_t i = 0; i < line.size();) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
    } else if (line[i] == '"') {
      const size_t end = line.find('"', i + 1);
      if (end == std::string::npos) return false;
      words->push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = i;
      while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
      words->push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return true;
}

bool ParseTime(const std::string& s, uint32_t* frames) {
  unsigned m = 0, sec = 0, f = 0;
  char tail = 0;
  if (s.size() > 9 || std::sscanf(s.c_str(), "%u:%u:%u%c", &m, &sec, &f, &tail) != 3) return false;
  if (sec >= 60 || f >= kFramesPerSecond || m > 99) return false;
  *frames = (m * 60 + sec) * kFramesPerSecond + f;
  return true;
}

bool ParseNumber(const std::string& s, int low, int high, int* value) {
  if (s.empty() || s.size() > 2 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  *value = std::stoi(s);
  return *value >= low && *value <= high;
}

std::string Time(uint32_t frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / (60 * kFramesPerSecond),
                frames / kFramesPerSecond % 60, frames % kFramesPerSecond);
  return text;
}

std::string TwoDigits(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

// ISRC: country and owner (5 letters or digits), year and serial (7 digits).
bool ValidIsrc(const std::string& s) {
  if (s.size() != 12) return false;
  for (size_t i = 0; i < 12; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (i < 5 ? !std::isalnum(c) : !std::isdigit(c)) return false;
  }
  return true;
}

class Reader {
 public:
  Reader(const std::string& folder, QuorvaneI_CueFiles& files, QuorvaneI_CueSheet* sheet)
      : folder_(folder), files_(files), sheet_(sheet) {}

  bool Line(int number, const std::string& raw, std::string* error) {
    line_ = number;
    error_ = error;
    std::vector<std::string> w;
    if (!Split(raw, &w)) return Fail("a quote is not closed");
    if (w.empty()) return true;
    const std::string keyword = Upper(w[0]);
    if (keyword == "REM") return true;
    if (keyword == "FILE") return File(w);
    if (keyword == "TRACK") return Track(w);
    if (keyword == "INDEX") return Index(w);
    if (keyword == "PREGAP" || keyword == "POSTGAP") return Gap(keyword, w);
    if (keyword == "ISRC") return Isrc(w);
    if (keyword == "CATALOG") return Catalog(w);
    if (keyword == "FLAGS") return Flags(w);
    if (keyword == "CDTEXTFILE") return CdTextFile(w);
    if (keyword == "TITLE" || keyword == "PERFORMER" || keyword == "SONGWRITER") return Text(keyword, w);
    return Fail("unknown keyword " + w[0]);
  }

  bool Finish(std::string* error) {
    error_ = error;
    if (pending_.empty()) {
      line_ = line_ + 1;
      return Fail("the sheet has no TRACK");
    }
    if (!EndTrack()) return false;
    for (size_t f = 0; f < files_seen_.size(); ++f)
      if (!Lay(f)) return false;
    if (!sheet_->cdTextFile.empty()) {
      std::vector<QuorvaneI_CdTextStrings> text;
      std::string why;
      line_ = cdTextLine_;
      if (!files_.CdText(sheet_->cdTextFile, &text, &why)) return Fail(why);
      Merge(text.empty() ? QuorvaneI_CdTextStrings{} : text[0], &sheet_->text);
      for (Pending& p : pending_)
        if (static_cast<size_t>(p.track.number) < text.size()) Merge(text[p.track.number], &p.track.text);
    }
    for (Pending& p : pending_) sheet_->tracks.push_back(std::move(p.track));
    return true;
  }

 private:
  bool Fail(const std::string& why) {
    *error_ = "line " + std::to_string(line_) + ": " + why;
    return false;
  }

  static void Merge(const QuorvaneI_CdTextStrings& from, QuorvaneI_CdTextStrings* into) {
    if (into->title.empty()) into->title = from.title;
    if (into->performer.empty()) into->performer = from.performer;
    if (into->songwriter.empty()) into->songwriter = from.songwriter;
  }

  std::string Resolve(const std::string& name) const {
    const fs::path p(name);
    return p.is_absolute() || folder_.empty() ? p.string() : (fs::path(folder_) / p).string();
  }

  Pending* Current() { return pending_.empty() ? nullptr : &pending_.back(); }

  bool File(const std::vector<std::string>& w) {
    if (w.size() != 3) return Fail("FILE takes a name and a type");
    const std::string type = Upper(w[2]);
    const auto* info = std::find_if(std::begin(kFileTypes), std::end(kFileTypes),
                                    [&](const FileTypeInfo& t) { return type == t.name; });
    if (info == std::end(kFileTypes))
      return Fail("file type " + w[2] + " is not supported (BINARY, MOTOROLA or WAVE)");
    if (Pending* p = Current(); p != nullptr && p->times.empty())
      return Fail("track " + TwoDigits(p->track.number) + " has no INDEX in its file");
    files_seen_.push_back({Resolve(w[1]), info->type, line_});
    return true;
  }

  bool Track(const std::vector<std::string>& w) {
    int number = 0;
    if (w.size() != 3 || !ParseNumber(w[1], 1, kLastTrack, &number)) return Fail("TRACK takes a number 01-99 and a mode");
    if (files_seen_.empty()) return Fail("TRACK before any FILE");
    const std::string mode = Upper(w[2]);
    const auto* info =
        std::find_if(std::begin(kModes), std::end(kModes), [&](const ModeInfo& m) { return mode == m.name; });
    if (info == std::end(kModes))
      return Fail("track mode " + w[2] + " is not supported (AUDIO, MODE1/2048, MODE1/2352, MODE2/2336, MODE2/2352)");
    if (files_seen_.back().type == QuorvaneI_CueFileType::kWave && info->mode != QuorvaneI_CueMode::kAudio)
      return Fail("a " + mode + " track in a WAVE file, which holds audio");
    if (!pending_.empty()) {
      if (number != pending_.back().track.number + 1)
        return Fail("TRACK " + TwoDigits(number) + " follows track " + TwoDigits(pending_.back().track.number));
      if (!EndTrack()) return false;
    }
    Pending p;
    p.track.number = number;
    p.track.line = line_;
    p.track.mode = info->mode;
    p.track.blockSize = info->blockSize;
    p.file = files_seen_.size() - 1;
    p.track.file = files_seen_.back().path;
    p.track.fileType = files_seen_.back().type;
    pending_.push_back(std::move(p));
    return true;
  }

  // Checks the track that ends here (its INDEX 01 is needed).
  bool EndTrack() {
    const Pending& p = pending_.back();
    if (std::none_of(p.track.indexes.begin(), p.track.indexes.end(), [](const QuorvaneI_CueIndex& i) { return i.number == 1; })) {
      line_ = p.track.line;
      return Fail("track " + TwoDigits(p.track.number) + " has no INDEX 01");
    }
    return true;
  }

  bool Index(const std::vector<std::string>& w) {
    Pending* p = Current();
    int number = 0;
    uint32_t time = 0;
    if (p == nullptr) return Fail("INDEX before any TRACK");
    if (w.size() != 3 || !ParseNumber(w[1], 0, 99, &number)) return Fail("INDEX takes a number 00-99 and a time");
    if (!ParseTime(w[2], &time)) return Fail(w[2] + " is no time mm:ss:ff (seconds below 60, frames below 75)");
    if (p->postgapSeen) return Fail("INDEX after the POSTGAP of track " + TwoDigits(p->track.number));
    std::vector<QuorvaneI_CueIndex>& ix = p->track.indexes;
    if (!ix.empty() && p->file != files_seen_.size() - 1)
      return Fail("track " + TwoDigits(p->track.number) + " continues in another FILE, which is not supported");
    if (ix.empty() ? number > 1 : number != ix.back().number + 1) {
      if (!ix.empty() && number == 0) return Fail("INDEX 00 after INDEX " + TwoDigits(ix.back().number) + " of the same track");
      return Fail("INDEX " + TwoDigits(number) + " follows " +
                  (ix.empty() ? std::string("no INDEX 00 or 01") : "INDEX " + TwoDigits(ix.back().number)));
    }
    // An INDEX 00 at the time of INDEX 01 (as some tools write it) is an
    // empty pre-gap.
    if (number == 1 && !ix.empty() && time == p->times.back()) {
      ix.pop_back();
      p->times.pop_back();
    }
    // Times grow within a file, across tracks too.
    if (p->file == files_seen_.size() - 1) {
      if (!p->times.empty() && time <= p->times.back())
        return Fail("INDEX " + TwoDigits(number) + " at " + w[2] + " does not come after the index before it (" +
                    Time(p->times.back()) + ")");
      if (p->times.empty() && pending_.size() > 1) {
        const Pending& before = pending_[pending_.size() - 2];
        if (before.file == p->file && time <= before.times.back())
          return Fail("INDEX " + TwoDigits(number) + " at " + w[2] + " does not come after the last index of track " +
                      TwoDigits(before.track.number) + " (" + Time(before.times.back()) + ")");
      }
    }
    ix.push_back({number, 0});
    p->times.push_back(time);
    return true;
  }

  bool Gap(const std::string& keyword, const std::vector<std::string>& w) {
    Pending* p = Current();
    uint32_t time = 0;
    if (p == nullptr) return Fail(keyword + " before any TRACK");
    if (w.size() != 2 || !ParseTime(w[1], &time)) return Fail(keyword + " takes a time mm:ss:ff");
    if (keyword == "PREGAP") {
      if (p->pregapSeen) return Fail("a second PREGAP for track " + TwoDigits(p->track.number));
      if (!p->times.empty()) return Fail("PREGAP after an INDEX of track " + TwoDigits(p->track.number));
      p->pregapSeen = true;
      p->track.pregapBlocks = time;
    } else {
      if (p->postgapSeen) return Fail("a second POSTGAP for track " + TwoDigits(p->track.number));
      if (p->times.empty()) return Fail("POSTGAP before the INDEX 01 of track " + TwoDigits(p->track.number));
      p->postgapSeen = true;
      p->track.postgapBlocks = time;
    }
    return true;
  }

  bool Isrc(const std::vector<std::string>& w) {
    Pending* p = Current();
    if (p == nullptr) return Fail("ISRC before any TRACK");
    if (w.size() != 2 || !ValidIsrc(w[1]))
      return Fail("ISRC takes 12 characters: 5 letters or digits, then 7 digits");
    if (!p->track.isrc.empty()) return Fail("a second ISRC for track " + TwoDigits(p->track.number));
    p->track.isrc = Upper(w[1]);
    return true;
  }

  bool Catalog(const std::vector<std::string>& w) {
    if (w.size() != 2 || w[1].size() != 13 ||
        !std::all_of(w[1].begin(), w[1].end(), [](char c) { return c >= '0' && c <= '9'; }))
      return Fail("CATALOG takes 13 digits");
    if (!sheet_->catalog.empty()) return Fail("a second CATALOG");
    sheet_->catalog = w[1];
    return true;
  }

  bool Flags(const std::vector<std::string>& w) {
    Pending* p = Current();
    if (p == nullptr) return Fail("FLAGS before any TRACK");
    if (p->flagsSeen) return Fail("a second FLAGS for track " + TwoDigits(p->track.number));
    p->flagsSeen = true;
    for (size_t i = 1; i < w.size(); ++i) {
      const std::string flag = Upper(w[i]);
      bool* field = flag == "DCP"    ? &p->track.dcp
                    : flag == "4CH"  ? &p->track.fourChannel
                    : flag == "PRE"  ? &p->track.preEmphasis
                    : flag == "SCMS" ? &p->track.scms
                                     : nullptr;
      if (field == nullptr) return Fail("unknown flag " + w[i] + " (DCP, 4CH, PRE or SCMS)");
      *field = true;
    }
    if (p->track.mode != QuorvaneI_CueMode::kAudio && (p->track.fourChannel || p->track.preEmphasis))
      return Fail("4CH and PRE are for audio tracks; track " + TwoDigits(p->track.number) + " holds data");
    return true;
  }

  bool CdTextFile(const std::vector<std::string>& w) {
    if (w.size() != 2) return Fail("CDTEXTFILE takes a name");
    if (!sheet_->cdTextFile.empty()) return Fail("a second CDTEXTFILE");
    sheet_->cdTextFile = Resolve(w[1]);
    cdTextLine_ = line_;
    return true;
  }

  bool Text(const std::string& keyword, const std::vector<std::string>& w) {
    if (w.size() < 2) return Fail(keyword + " takes a text");
    std::string value = w[1];
    for (size_t i = 2; i < w.size(); ++i) value += " " + w[i];  // unquoted words
    QuorvaneI_CdTextStrings& text = pending_.empty() ? sheet_->text : pending_.back().track.text;
    (keyword == "TITLE" ? text.title : keyword == "PERFORMER" ? text.performer : text.songwriter) = value;
    return true;
  }

  // Places the tracks of one file: each runs from its first index to the
  // next track's first index, the last one to the end of the file.
  bool Lay(size_t f) {
    std::vector<Pending*> tracks;
    for (Pending& p : pending_)
      if (p.file == f) tracks.push_back(&p);
    line_ = files_seen_[f].line;
    const std::string name = fs::path(files_seen_[f].path).filename().string();
    if (tracks.empty()) return Fail("FILE " + name + " holds no track");
    uint64_t size = 0;
    std::string why;
    if (!files_.Size(files_seen_[f].path, files_seen_[f].type, &size, &why)) return Fail(why);
    if (tracks.front()->times.front() != 0) {
      line_ = tracks.front()->track.line;
      return Fail("track " + TwoDigits(tracks.front()->track.number) + " starts at " +
                  Time(tracks.front()->times.front()) + " of " + name +
                  "; the blocks before it would belong to no track");
    }
    uint64_t offset = 0;
    for (size_t k = 0; k < tracks.size(); ++k) {
      QuorvaneI_CueSheetTrack& t = tracks[k]->track;
      line_ = t.line;
      t.offset = offset;
      const uint32_t start = tracks[k]->times.front();
      const bool last = k + 1 == tracks.size();
      if (offset > size) return Fail("track " + TwoDigits(t.number) + " starts beyond the end of " + name);
      if (last) {
        const uint64_t rest = size - offset;
        if (rest % t.blockSize != 0 && t.mode != QuorvaneI_CueMode::kAudio)
          return Fail(name + " ends in " + std::to_string(rest % t.blockSize) + " bytes that are not a whole " +
                      std::to_string(t.blockSize) + "-byte block of track " + TwoDigits(t.number));
        const uint64_t blocks = (rest + t.blockSize - 1) / t.blockSize;
        if (blocks > 100 * 60 * kFramesPerSecond) return Fail(name + " is longer than a CD");
        t.blocks = static_cast<uint32_t>(blocks);
        t.bytes = rest;
      } else {
        t.blocks = tracks[k + 1]->times.front() - start;
        t.bytes = static_cast<uint64_t>(t.blocks) * t.blockSize;
        if (offset + t.bytes > size)
          return Fail("track " + TwoDigits(t.number) + " runs beyond the end of " + name + " (" +
                      std::to_string(size) + " bytes)");
      }
      for (size_t i = 0; i < t.indexes.size(); ++i) {
        t.indexes[i].block = tracks[k]->times[i] - start;
        if (t.indexes[i].block >= t.blocks)
          return Fail("INDEX " + TwoDigits(t.indexes[i].number) + " of track " + TwoDigits(t.number) +
                      " lies beyond the end of " + name);
      }
      offset += t.bytes;
    }
    return true;
  }

  std::string folder_;
  QuorvaneI_CueFiles& files_;
  QuorvaneI_CueSheet* sheet_;
  std::vector<SheetFile> files_seen_;
  std::vector<Pending> pending_;
  int line_ = 0, cdTextLine_ = 0;
  std::string* error_ = nullptr;
};

}  // namespace

uint32_t QuorvaneI_CueSheetTrack::FilePregapBlocks() const {
  for (const QuorvaneI_CueIndex& i : indexes)
    if (i.number == 1) return i.block;
  return 0;
}

bool QuorvaneI_CueFiles::Size(const std::string& path, QuorvaneI_CueFileType type, uint64_t* bytes,
                              std::string* why) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *why = "no such file: " + path;
    return false;
  }
  if (type != QuorvaneI_CueFileType::kWave) {
    *bytes = fs::file_size(path, ec);
    if (ec) *why = "cannot read the size of " + path + ": " + ec.message();
    return !ec;
  }
  // Measured as an audio track of the file would be fed.
  QV_ULONG size = 0, system = 0;
  const uint32_t status = Quorvane_GetAudioFileStreamSizeInUCHARs(path.c_str(), &size, &system);
  if (status != 0) {
    *why = path + " is no audio file that decodes to CD audio (exception " + std::to_string(status) + ", status " +
           std::to_string(system) + ")";
    return false;
  }
  *bytes = size;
  return true;
}

bool QuorvaneI_CueFiles::CdText(const std::string& path, std::vector<QuorvaneI_CdTextStrings>* text,
                                std::string* why) {
  return QuorvaneI_ReadCdTextFile(path, text, why);
}

bool QuorvaneI_ParseCueSheet(const std::string& text, const std::string& folder, QuorvaneI_CueFiles& files,
                             QuorvaneI_CueSheet* sheet, std::string* error) {
  *sheet = QuorvaneI_CueSheet{};
  Reader reader(folder, files, sheet);
  std::string body = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
  std::istringstream in(body);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('\0') != std::string::npos) {
      *error = "line " + std::to_string(number) + ": a NUL byte; this is no cue sheet";
      return false;
    }
    if (!reader.Line(number, line, error)) return false;
  }
  return reader.Finish(error);
}

bool QuorvaneI_ReadCueSheet(const std::string& path, QuorvaneI_CueSheet* sheet, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  std::string text(kLargestSheet + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kLargestSheet) {
    *error = path + " is too large for a cue sheet";
    return false;
  }
  QuorvaneI_CueFiles files;
  if (!QuorvaneI_ParseCueSheet(text, fs::path(path).parent_path().string(), files, sheet, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

const char* QuorvaneI_CueModeName(QuorvaneI_CueMode mode) {
  for (const ModeInfo& m : kModes)
    if (m.mode == mode) return m.name;
  return "?";
}

const char* QuorvaneI_CueFileTypeName(QuorvaneI_CueFileType type) {
  for (const FileTypeInfo& t : kFileTypes)
    if (t.type == type) return t.name;
  return "?";
}
