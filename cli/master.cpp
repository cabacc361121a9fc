#include "master.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace qvcli {

namespace {

void QUORVANE_CALL TreeCallback(QV_ULONG reason, void* context, void* parameter1, void*) {
  static_cast<Mastering*>(context)->OnTreeEvent(reason, parameter1);
}

std::string Utf8(const std::u16string& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Units(const QV_UCHAR* name, size_t size) {
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char16_t u = static_cast<char16_t>(name[i] | (name[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  return units;
}

// Imported nodes' paths start so (the engine's prefixes).
bool IsImported(const char* path) {
  return path != nullptr && (std::strncmp(path, "ImportingTrack(", 15) == 0 || std::strncmp(path, "ImportingFile(", 14) == 0);
}

// An imported node's path as the disc shows it: after the prefix's "):".
std::string DiscPath(const char* path) {
  const char* at = std::strstr(path, "):");
  return at != nullptr ? std::string(at + 2) : std::string(path);
}

// Rename lines are written in pieces of about this size.
constexpr size_t kNotesPiece = 64 * 1024;

}  // namespace

Mastering::Mastering(std::string verb) : verb_(std::move(verb)) {}

Mastering::~Mastering() {
  if (tree_ != nullptr) Quorvane_ISO9660JolietFileTree_Destroy(&tree_);
}

int Mastering::Fail(const std::string& what, uint32_t n, const char* text, uint32_t system) const {
  return Report(what, FromEngine(n, text, system));
}

int Mastering::Create(bool joliet) {
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  const uint32_t n = Quorvane_ISO9660JolietFileTree_Create(&tree_, text, sizeof text, &system, &TreeCallback, this, 0,
                                                           0, 0, joliet ? 1 : 0);
  return n == 0 ? kExitOk : Fail(verb_, n, text, system);
}

int Mastering::CreateUdf(bool bridge) {
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  const uint32_t n = Quorvane_UDF_CreateFileTree(&tree_, text, sizeof text, &system, &TreeCallback, this, 0, 0,
                                                 bridge ? 1 : 0);
  return n == 0 ? kExitOk : Fail(verb_, n, text, system);
}

int Mastering::Add(const std::vector<std::string>& paths) {
  batching_ = true;
  struct Flush {
    Mastering* m;
    ~Flush() {
      m->batching_ = false;
      m->FlushNotes();
    }
  } flush{this};
  for (const std::string& path : paths) {
    std::vector<std::string> entries;
    std::string why;
    if (!RootEntries(path, &entries, &why)) {
      FlushNotes();
      return Report(verb_, {kExitSystemError, "cannot list " + path + ": " + why, ""});
    }
    for (const std::string& entry : entries) {
      QV_HANDLE parent = nullptr, node = nullptr;
      CallStatus s;
      s.number = Quorvane_ISO9660JolietFileTree_Add(tree_, s.text, sizeof s.text, &s.systemError, entry.c_str(), nullptr,
                                                    2, &parent, &node);
      if (s.number != 0) {
        FlushNotes();
        return skips_.Fail(verb_, entry, s);
      }
    }
  }
  FlushNotes();
  skips_.Warn(verb_);
  if (!clashes_.empty()) {
    for (const std::string& path : clashes_)
      std::fprintf(stderr, "quorvane: %s: %s is in the earlier session already\n", verb_.c_str(), path.c_str());
    return Report(verb_, {kExitUsage, "give --replace to put the new files in the old ones' place, or --remove the "
                                      "old ones; nothing was written", ""});
  }
  return kExitOk;
}

int Mastering::Import(const std::function<uint32_t(QV_BOOLEAN, CallStatus&)>& import, const std::string& what) {
  importing_ = true;
  CallStatus s;
  s.number = import(1, s);
  // A session without Joliet names has its ISO 9660 ones.
  if (s.number == 2 && std::strstr(s.text, "Volume descriptor was not found") != nullptr) {
    s = CallStatus{};
    s.number = import(0, s);
  }
  importing_ = false;
  for (const std::string& path : importSkips_)
    std::fprintf(stderr, "quorvane: %s: left out %s of %s: its record is damaged or unsafe (the debug log says how)\n",
                 verb_.c_str(), path.c_str(), what.c_str());
  if (s.number != 0) return Fail("importing " + what, s.number, s.text, s.systemError);
  return kExitOk;
}

int Mastering::ImportTrack(QV_HANDLE drive, QV_UCHAR track) {
  return Import([&](QV_BOOLEAN joliet, CallStatus& s) {
    return Quorvane_ISO9660JolietFileTree_ImportTrack(drive, tree_, track, joliet, s.text, sizeof s.text,
                                                      &s.systemError);
  }, "the earlier session (track " + std::to_string(track) + ")");
}

int Mastering::ImportFile(const std::string& image) {
  return Import([&](QV_BOOLEAN joliet, CallStatus& s) {
    return Quorvane_ISO9660JolietFileTree_ImportFile(nullptr, tree_, image.c_str(), joliet, s.text, sizeof s.text,
                                                     &s.systemError);
  }, image);
}

int Mastering::Remove(const std::string& path) {
  QV_HANDLE node = Quorvane_ISO9660JolietFileTree_GetRoot(tree_);
  size_t from = 0;
  while (node != nullptr && from < path.size()) {
    const size_t slash = path.find('/', from);
    const std::string part = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    from = slash == std::string::npos ? path.size() : slash + 1;
    if (part.empty()) continue;
    QV_HANDLE kid = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree_, node);
    for (; kid != nullptr; kid = Quorvane_ISO9660JolietFileTree_GetNextKid(tree_, kid)) {
      char name[260] = {};
      Quorvane_ISO9660JolietFileTree_GetNames(tree_, kid, nullptr, name, nullptr);
      if (part == name) break;
    }
    node = kid;
  }
  if (node == nullptr || node == Quorvane_ISO9660JolietFileTree_GetRoot(tree_))
    return Report(verb_, {kExitNotFound, "--remove " + path + ": no such folder or file in the earlier session", ""});
  const uint32_t n = Quorvane_ISO9660JolietFileTree_Remove(tree_, &node);
  return n == 0 ? kExitOk : Fail(verb_ + " --remove " + path, n, "", 0);
}

int Mastering::EnsureRoot() {
  if (Quorvane_ISO9660JolietFileTree_GetRoot(tree_) != nullptr) return kExitOk;
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  QV_HANDLE parent = nullptr, node = nullptr;
  uint32_t n = Quorvane_ISO9660JolietFileTree_Add(tree_, text, sizeof text, &system, nullptr, "x", 2, &parent, &node);
  if (n == 0) n = Quorvane_ISO9660JolietFileTree_Remove(tree_, &node);
  return n == 0 ? kExitOk : Fail(verb_, n, text, system);
}

void Mastering::Cancel() const {
  if (tree_ != nullptr) Quorvane_ISO9660JolietFileTree_Cancel(tree_);
}

std::vector<std::string> Mastering::changed() const {
  std::lock_guard<std::mutex> lock(changedLock_);
  return changed_;
}

int Mastering::Finish(int rc) const { return rc == kExitOk && !changed().empty() ? kExitDiffers : rc; }

void Mastering::OnChanged(const char* path) {
  {
    std::lock_guard<std::mutex> lock(changedLock_);
    changed_.emplace_back(path);
  }
  std::fprintf(stderr,
               "\nquorvane: warning: %s changed while it was read; the %s holds it as it was when added (a grown file "
               "cut to its size then, a shrunk one completed with zeros)\n",
               path, verb_ == "burn" ? "disc" : "image");
}

void Mastering::OnTreeEvent(QV_ULONG reason, void* parameter) {
  switch (reason) {
    case CN_FILE_TREE_NODE_SKIPPED:
      if (importing_)
        importSkips_.push_back(DiscPath(static_cast<const char*>(parameter)));
      else
        SkipNotes::OnTreeEvent(reason, &skips_, parameter, nullptr);
      break;
    case CN_FILE_TREE_NAME_COLLISION: Rename(static_cast<QUORVANE_NAME_COLLISION*>(parameter)); break;
    case CN_FILE_TREE_NODE_CHANGED: OnChanged(static_cast<const char*>(parameter)); break;
    default: break;
  }
}

// A clash gets a fresh name: "NAME_1.EXT" in the ISO9660 tree (whose names
// the engine keeps to 12 characters), "name (1).ext" in the Joliet tree.
// Counters per name keep a folder of many alike names linear.
void Mastering::Rename(QUORVANE_NAME_COLLISION* record) {
  if (record->m__ULONG__Solution == QVX_NAME_COLLISION_MERGE_FOLDERS) return;  // the same folder twice: merged
  // A new file meeting one of the earlier session: replaced when asked,
  // else kept out and refused once all are known.
  if (IsImported(record->m__PCHAR__ExistingPath) && !IsImported(record->m__PCHAR__NewPath)) {
    const std::string old = DiscPath(record->m__PCHAR__ExistingPath);
    if (replace_) {
      record->m__ULONG__Solution = QVX_NAME_COLLISION_REPLACE_OLD;
      replaced_.push_back(old);
    } else {
      record->m__ULONG__Solution = QVX_NAME_COLLISION_SKIP_NEW;
      clashes_.push_back(old);
    }
    return;
  }
  const bool quiet = importing_;  // two old names alike in 12 characters: renamed as before
  record->m__ULONG__Solution = QVX_NAME_COLLISION_RENAME_NEW;
  std::string shown;
  if (!record->m__UCHAR__IsWide) {
    std::string name(reinterpret_cast<const char*>(record->m__UCHAR__Name));
    name = name.substr(0, name.find(';'));
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string suffix = "_" + std::to_string(++next_["I" + base + ext]);
    const size_t room = 12 > ext.size() + suffix.size() ? 12 - ext.size() - suffix.size() : 0;
    shown = (base.substr(0, room) + suffix + ext).substr(0, 12);
    std::memset(record->m__UCHAR__Name, 0, sizeof record->m__UCHAR__Name);
    std::memcpy(record->m__UCHAR__Name, shown.data(), shown.size());
  } else {
    std::u16string units = Units(record->m__UCHAR__Name, sizeof record->m__UCHAR__Name);
    std::u16string version;
    if (const size_t semicolon = units.rfind(u';'); semicolon != std::u16string::npos) {
      version = units.substr(semicolon);
      units.resize(semicolon);
    }
    const size_t dot = units.rfind(u'.');
    const std::u16string ext = dot == std::u16string::npos || dot == 0 ? u"" : units.substr(dot);
    const std::u16string base = units.substr(0, units.size() - ext.size());
    std::u16string suffix;
    for (char c : " (" + std::to_string(++next_["J" + Utf8(units)]) + ")") suffix.push_back(static_cast<char16_t>(c));
    std::u16string chosen = base + suffix + ext;
    if (chosen.size() + version.size() > 100)
      chosen = base.substr(0, 100 - suffix.size() - ext.size() - version.size()) + suffix + ext;
    shown = Utf8(chosen);
    chosen += version;
    std::memset(record->m__UCHAR__Name, 0, sizeof record->m__UCHAR__Name);
    for (size_t i = 0; i < chosen.size(); ++i) {
      record->m__UCHAR__Name[2 * i] = static_cast<QV_UCHAR>(chosen[i] & 0xFF);
      record->m__UCHAR__Name[2 * i + 1] = static_cast<QV_UCHAR>(chosen[i] >> 8);
    }
  }
  // The record is packed: its fields are copied before use.
  if (!quiet) TellRename(record->m__PCHAR__NewPath, shown, record->m__UCHAR__IsWide != 0, record->m__PCHAR__ExistingPath);
}

void Mastering::TellRename(const std::string& path, const std::string& name, bool joliet, const std::string& existing) {
  renames_.push_back({path, name, joliet});
  for (const std::string_view piece : {std::string_view("quorvane: "), std::string_view(verb_), std::string_view(": "),
                                       std::string_view(path), std::string_view(" is named "), std::string_view(name),
                                       std::string_view(joliet ? " in the Joliet names, as " : " in the ISO 9660 names, as "),
                                       std::string_view(existing), std::string_view(" has its name\n")})
    notes_.append(piece);
  if (!batching_ || notes_.size() >= kNotesPiece) FlushNotes();
}

void Mastering::FlushNotes() {
  if (notes_.empty()) return;
  std::fwrite(notes_.data(), 1, notes_.size(), stderr);
  std::fflush(stderr);
  notes_.clear();
}

nlohmann::json Mastering::renames() const {
  nlohmann::json list = nlohmann::json::array();
  for (const RenameNote& r : renames_)
    list.push_back({{"path", r.path}, {"name", r.name}, {"tree", r.joliet ? "joliet" : "iso9660"}});
  return list;
}

}  // namespace qvcli
