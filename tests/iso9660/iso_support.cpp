#include "iso_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

namespace qviso {

namespace {

// Joliet names go to the checkers as hex UTF-16BE, decoded there.
std::string Hex(const std::u16string& units) {
  std::string out;
  char unit[5];
  for (char16_t u : units) out.append(unit, std::snprintf(unit, sizeof unit, "%04X", unsigned{u}));
  return out;
}

uint32_t BE32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

void StartEngine() {
  static const bool started = [] { return Quorvane_UpStartEx() == 0; }();
  ASSERT_TRUE(started);
}

uint32_t LE32(const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24); }
uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

const uint8_t* Sector(const std::string& image, uint32_t lba, uint32_t startAddress) {
  const uint64_t at = uint64_t{lba - startAddress} * 2048;
  if (lba < startAddress || at + 2048 > image.size()) return nullptr;
  return reinterpret_cast<const uint8_t*>(image.data()) + at;
}

// --- Tree ---

Tree::Tree() : Tree(Options{}) {}

Tree::Tree(Options o) {
  StartEngine();
  char text[512] = {};
  QV_ULONG system = 0;
  udf_ = o.udf != 0;
  const uint32_t n = udf_ ? Quorvane_UDF_CreateFileTree(&tree_, text, sizeof text, &system, &Tree::Callback, this,
                                                        o.ignoreErrors, o.lockFiles, o.udf == 2)
                          : Quorvane_ISO9660JolietFileTree_Create(&tree_, text, sizeof text, &system, &Tree::Callback,
                                                                  this, o.ignoreErrors, o.lockFiles, o.longNames,
                                                                  o.joliet);
  EXPECT_EQ(n, 0u) << text;
}

Tree::~Tree() {
  if (tree_) Quorvane_ISO9660JolietFileTree_Destroy(&tree_);
}

void QUORVANE_CALL Tree::Callback(QV_ULONG reason, void* context, void* parameter1, void*) {
  auto* self = static_cast<Tree*>(context);
  if (reason == CN_FILE_TREE_NAME_COLLISION) {
    auto* record = static_cast<QUORVANE_NAME_COLLISION*>(parameter1);
    self->defaults.push_back(record->m__ULONG__Solution);
    // The record as the callback saw it, with its answer; the paths kept,
    // as the nodes may be gone later.
    QUORVANE_NAME_COLLISION seen = *record;
    if (self->onCollision) self->onCollision(*record);
    seen.m__ULONG__Solution = record->m__ULONG__Solution;
    self->paths_.emplace_back(static_cast<const char*>(record->m__PCHAR__ExistingPath));
    self->paths_.emplace_back(static_cast<const char*>(record->m__PCHAR__NewPath));
    seen.m__PCHAR__ExistingPath = self->paths_[self->paths_.size() - 2].c_str();
    seen.m__PCHAR__NewPath = self->paths_.back().c_str();
    self->collisions.push_back(seen);
    self->events.emplace_back(reason, self->paths_.back());
    return;
  }
  self->events.emplace_back(reason, static_cast<const char*>(parameter1));
}

QV_HANDLE Tree::AddNode(const char* path, const char* newName, QV_HANDLE parent) {
  char text[4096] = {};
  QV_ULONG system = 0;
  QV_HANDLE node = nullptr;
  lastStatus = Quorvane_ISO9660JolietFileTree_Add(tree_, text, sizeof text, &system, path, newName, 2, &parent, &node);
  lastText = text;
  lastSystemStatus = system;
  return node;
}

uint32_t Tree::SetBoot(const std::string& path, QV_UCHAR systemType, QV_UCHAR media, QV_UCHAR sectors, bool hide) {
  char text[1024] = {};
  QV_ULONG system = 0;
  lastStatus = Quorvane_ISO9660JolietFileTree_SetBootImage(tree_, path.c_str(), systemType, media, sectors, hide, text,
                                                           sizeof text, &system);
  lastText = text;
  lastSystemStatus = system;
  return lastStatus;
}

QV_ULONG Tree::Lba(QV_HANDLE node) {
  QV_ULONG lba = 0;
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA(tree_, node, &lba), 0u);
  return lba;
}

uint32_t Tree::Build(uint32_t startAddress, const char* label, QV_UCHAR xa) {
  char text[4096] = {};
  QV_ULONG system = 0;
  lastStatus = Quorvane_ISO9660JolietFileTree_BuildImage(tree_, text, sizeof text, &system,
                                                         static_cast<QV_LONG>(startAddress), 0, xa, label, "PUBLISHER",
                                                         "QUORVANE TESTS");
  lastText = text;
  return lastStatus;
}

std::string Tree::Image(const std::vector<uint32_t>& chunks) {
  QV_ULONG high = 0;
  const uint64_t size = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree_, &high) | (uint64_t{high} << 32);
  std::string image(size, '\0');
  char text[4096] = {};
  QV_ULONG system = 0;
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_SeekToBegin(tree_, text, sizeof text, &system), 0u) << text;
  uint64_t done = 0;
  for (size_t i = 0; done < size; ++i) {
    const uint64_t part = std::min<uint64_t>(chunks[i % chunks.size()], size - done);
    lastStatus = Quorvane_ISO9660JolietFileTree_Read(tree_, text, sizeof text, &system, static_cast<QV_LONG>(part),
                                                     image.data() + done);
    lastText = text;
    lastSystemStatus = system;
    if (lastStatus != 0) return {};
    done += part;
  }
  return image;
}

std::string Tree::WriteImage(const qvtest::TempDir& dir, const std::string& name) {
  const std::string path = (dir / name).string();
  std::ofstream(path, std::ios::binary) << Image();
  return path;
}

std::string Tree::IsoName(QV_HANDLE node) const {
  char iso[260] = {};
  QV_WCHAR joliet[130] = {};
  Quorvane_ISO9660JolietFileTree_GetNamesEx(tree_, node, nullptr, nullptr, nullptr, iso, joliet);
  return iso;
}

std::u16string Tree::JolietName(QV_HANDLE node) const {
  char iso[260] = {};
  QV_WCHAR joliet[130] = {};
  Quorvane_ISO9660JolietFileTree_GetNamesEx(tree_, node, nullptr, nullptr, nullptr, iso, joliet);
  std::u16string out;
  for (QV_WCHAR* w = joliet; *w; ++w) out.push_back(static_cast<char16_t>(*w));
  return out;
}

// --- Outside checkers ---

bool HaveOutsideCheckers() {
  for (const char* tool : {"xorriso", "7z", "bsdtar", "isovfy"})
    if (!qvtest::HaveProgram(tool)) return false;
  return qvtest::RunCommand("/usr/bin/python3 -c 'import pycdlib'") == 0;
}

std::string OutsideProblems(Tree& tree, const std::string& image, bool boot, bool bootHidden) {
  nlohmann::json manifest = {{"joliet", false}, {"boot", boot}, {"boot_hidden", bootHidden},
                             {"files", nlohmann::json::array()}, {"folders", nlohmann::json::array()}};
  struct Walk {
    QV_HANDLE node;
    std::string iso, joliet;
  };
  std::vector<Walk> stack{{Quorvane_ISO9660JolietFileTree_GetRoot(tree.handle()), "", ""}};
  while (!stack.empty()) {
    const Walk w = stack.back();
    stack.pop_back();
    for (QV_HANDLE kid = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree.handle(), w.node); kid;
         kid = Quorvane_ISO9660JolietFileTree_GetNextKid(tree.handle(), kid)) {
      char path[260] = {};
      Quorvane_ISO9660JolietFileTree_GetNames(tree.handle(), kid, path, nullptr, nullptr);
      // A UDF tree's second name is its UDF one; the ISO9660 view has no Joliet.
      const std::string jolietName = tree.udf() ? std::string() : Hex(tree.JolietName(kid));
      if (!jolietName.empty()) manifest["joliet"] = true;
      const Walk k{kid, w.iso + (w.iso.empty() ? "" : "/") + tree.IsoName(kid),
                   w.joliet + (w.joliet.empty() ? "" : "/") + jolietName};
      // The hidden boot image has no record, so nothing shows it.
      if (bootHidden && k.iso == "BOOT.IMG;1") continue;
      if (Quorvane_ISO9660JolietFileTree_GetAttributes(tree.handle(), kid) & 0x10) {
        manifest["folders"].push_back({{"iso", k.iso}, {"joliet", k.joliet}});
        stack.push_back(k);
      } else {
        manifest["files"].push_back({{"iso", k.iso}, {"joliet", k.joliet}, {"source", path}});
      }
    }
  }
  std::ofstream(image + ".json") << manifest.dump();
  std::string output;
  const int code = qvtest::RunCommand("/usr/bin/python3 " + qvtest::SourceDir() + "/tests/iso9660/oracles.py '" + image +
                                          "' '" + image + ".json'",
                                      &output);
  return code == 0 ? std::string() : output;
}

// --- Our own structural checks ---

namespace {

struct Dir {
  uint32_t extent, length, parentNumber;
  std::string name;
};

// ECMA-119 9.3 order, written out plainly: name, then extension, each
// padded with spaces, then version, highest first.
int Order(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  struct Key {
    std::vector<uint32_t> name, ext;
    long version = 0;
  };
  auto key = [](std::vector<uint32_t> id) {
    Key k;
    if (auto semi = std::find(id.begin(), id.end(), uint32_t{';'}); semi != id.end()) {
      for (auto d = semi + 1; d != id.end(); ++d) k.version = k.version * 10 + static_cast<long>(*d - '0');
      id.erase(semi, id.end());
    }
    const auto dot = std::find(id.rbegin(), id.rend(), uint32_t{'.'}).base();  // past the last '.'
    k.name.assign(id.begin(), dot == id.begin() ? id.end() : dot - 1);
    if (dot != id.begin()) k.ext.assign(dot, id.end());
    return k;
  };
  auto padded = [](std::vector<uint32_t> x, std::vector<uint32_t> y) {
    x.resize(std::max(x.size(), y.size()), ' ');
    y.resize(x.size(), ' ');
    return x < y ? -1 : (y < x ? 1 : 0);
  };
  const Key ka = key(a), kb = key(b);
  if (int c = padded(ka.name, kb.name)) return c;
  if (int c = padded(ka.ext, kb.ext)) return c;
  return ka.version == kb.version ? 0 : (ka.version > kb.version ? -1 : 1);
}

std::vector<uint32_t> Units(const uint8_t* p, size_t n, bool wide) {
  std::vector<uint32_t> u;
  for (size_t i = 0; wide ? i + 1 < n : i < n; i += wide ? 2 : 1) u.push_back(wide ? BE16(p + i) : p[i]);
  return u;
}

std::string Show(const std::vector<uint32_t>& u) {
  std::string s;
  for (uint32_t c : u) s += c < 0x80 ? static_cast<char>(c) : '?';
  return s;
}

// What outside readers let pass: records out of the standard's order or
// repeated, and path tables that disagree with the directories they index
// (readers follow one or the other, never compare them).
void CheckHierarchy(const std::string& image, uint32_t start, const uint8_t* vd, bool wide,
                    std::vector<std::string>& problems) {
  const std::string who = wide ? "Joliet: " : "ISO9660: ";
  auto problem = [&](const std::string& text) { problems.push_back(who + text); };
  const uint8_t* root = vd + 156;
  std::vector<Dir> dirs{{LE32(root + 2), LE32(root + 10), 1, std::string(1, '\0')}};
  std::set<uint32_t> seen;
  for (size_t d = 0; d < dirs.size(); ++d) {
    const Dir dir = dirs[d];
    if (!seen.insert(dir.extent).second) return problem("directory loop at " + std::to_string(dir.extent));
    std::vector<uint32_t> previous;
    uint32_t count = 0;
    for (uint32_t offset = 0; offset < dir.length;) {
      const uint8_t* sector = Sector(image, dir.extent + offset / 2048, start);
      if (sector == nullptr) return problem("directory at " + std::to_string(dir.extent) + " runs past the image");
      const uint8_t* r = sector + offset % 2048;
      if (r[0] == 0) {
        offset = (offset / 2048 + 1) * 2048;
        continue;
      }
      if (count++ >= 2) {  // past "." and ".."
        const auto name = Units(r + 33, r[32], wide);
        const int c = previous.empty() ? -1 : Order(previous, name);
        if (c == 0) problem("duplicate name " + Show(name));
        if (c > 0) problem("unsorted: " + Show(previous) + " before " + Show(name));
        previous = name;
        if (r[25] & 2) dirs.push_back({LE32(r + 2), LE32(r + 10), static_cast<uint32_t>(d + 1), std::string(r + 33, r + 33 + r[32])});
      }
      offset += r[0];
    }
  }
  // The path tables must list exactly these folders in this order.
  const uint32_t tableSize = LE32(vd + 132);
  for (const bool bigEndian : {false, true}) {
    const uint32_t at = bigEndian ? BE32(vd + 148) : LE32(vd + 140);
    std::string table;
    for (uint32_t s = 0; s * 2048 < tableSize; ++s) {
      const uint8_t* sector = Sector(image, at + s, start);
      if (!sector) return problem("path table past the image");
      table.append(reinterpret_cast<const char*>(sector), 2048);
    }
    const auto* t = reinterpret_cast<const uint8_t*>(table.data());
    uint32_t offset = 0;
    for (const Dir& dir : dirs) {
      if (offset + 8 > tableSize) {
        problem("path table too short");
        break;
      }
      const uint8_t n = t[offset];
      const uint32_t extent = bigEndian ? BE32(t + offset + 2) : LE32(t + offset + 2);
      const uint16_t parent = bigEndian ? BE16(t + offset + 6) : LE16(t + offset + 6);
      if (extent != dir.extent || parent != dir.parentNumber ||
          std::string(t + offset + 8, t + offset + 8 + n) != dir.name)
        problem(std::string(bigEndian ? "M" : "L") + " path table record of " + std::to_string(dir.extent) +
                " does not match its directory");
      offset += 8 + n + (n & 1);
    }
    if (offset != tableSize) problem("path table size " + std::to_string(tableSize) + " != " + std::to_string(offset));
  }
}

}  // namespace

std::vector<std::string> StructureProblems(const std::string& image, uint32_t start) {
  std::vector<std::string> problems;
  for (uint32_t lba = start + 16;; ++lba) {
    const uint8_t* vd = Sector(image, lba, start);
    if (vd == nullptr || std::memcmp(vd + 1, "CD001", 5) != 0) return {"descriptor set without terminator"};
    if (vd[0] == 255) return problems;
    if (vd[0] == 1 || vd[0] == 2) CheckHierarchy(image, start, vd, vd[0] == 2, problems);
  }
}

}  // namespace qviso
