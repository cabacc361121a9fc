#include "iso_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

namespace qviso {

namespace {

// Joliet names go to the checkers as hex UTF-16BE, decoded there.
std::string Hex(const std::u16string& units) {
  std::string out;
  char unit[5];
  for (char16_t u : units) out.append(unit, std::snprintf(unit, sizeof unit, "%04X", unsigned{u}));
  return out;
}

}  // namespace

void StartEngine() {
  static const bool started = [] { return Quorvane_UpStartEx() == 0; }();
  ASSERT_TRUE(started);
}

uint16_t LE16(const std::string& image, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(image.at(at)) | static_cast<uint8_t>(image.at(at + 1)) << 8);
}
uint32_t LE32(const std::string& image, size_t at) { return LE16(image, at) | uint32_t{LE16(image, at + 2)} << 16; }

std::string RecordName(const QUORVANE_NAME_COLLISION& r) {
  std::string out;
  for (size_t i = 0; r.m__UCHAR__Name[i] != 0; i += r.m__UCHAR__IsWide ? 2 : 1) out += static_cast<char>(r.m__UCHAR__Name[i]);
  return out;
}

void Answer(QUORVANE_NAME_COLLISION& r, uint32_t solution, const std::string& name) {
  r.m__ULONG__Solution = solution;
  if (name.empty()) return;
  std::memset(r.m__UCHAR__Name, 0, sizeof r.m__UCHAR__Name);
  for (size_t i = 0; i < name.size(); ++i) r.m__UCHAR__Name[r.m__UCHAR__IsWide ? 2 * i : i] = static_cast<QV_UCHAR>(name[i]);
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
  return node;
}

uint32_t Tree::SetBoot(const std::string& path, QV_UCHAR systemType, QV_UCHAR media, QV_UCHAR sectors, bool hide) {
  char text[1024] = {};
  QV_ULONG system = 0;
  lastStatus = Quorvane_ISO9660JolietFileTree_SetBootImage(tree_, path.c_str(), systemType, media, sectors, hide, text,
                                                           sizeof text, &system);
  lastText = text;
  return lastStatus;
}

QV_ULONG Tree::Lba(QV_HANDLE node) {
  QV_ULONG lba = 0;
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA(tree_, node, &lba), 0u);
  return lba;
}

uint32_t Tree::Build(uint32_t startAddress, const char* label) {
  char text[4096] = {};
  QV_ULONG system = 0;
  lastStatus = Quorvane_ISO9660JolietFileTree_BuildImage(tree_, text, sizeof text, &system,
                                                         static_cast<QV_LONG>(startAddress), 0, 0, label, "PUBLISHER",
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

std::vector<std::string> Tree::Kids(QV_HANDLE node) {
  std::vector<std::string> out;
  for (QV_HANDLE k = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree_, node ? node : root()); k;
       k = Quorvane_ISO9660JolietFileTree_GetNextKid(tree_, k))
    out.push_back(IsoName(k));
  return out;
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
  std::vector<Walk> stack{{tree.root(), "", ""}};
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

std::string UdfProblems(const std::string& image, const std::string& folder) {
  std::string problems, out;
  if (qvtest::RunCommand("udfinfo '" + image + "'", &out) != 0 || out.find("udfrev=1.02") == std::string::npos)
    problems += "udfinfo refuses the image:\n" + out;
  if (qvtest::RunCommand("7z t -tudf '" + image + "'", &out) != 0 || out.find("Everything is Ok") == std::string::npos)
    problems += "7z t refuses the image:\n" + out;
  qvtest::TempDir x;
  if (qvtest::RunCommand("7z x -tudf -o'" + x.path().string() + "' '" + image + "'", &out) != 0)
    problems += "7z x fails:\n" + out;
  else if (qvtest::RunCommand("diff -r '" + folder + "' '" + x.path().string() + "'", &out) != 0)
    problems += "7z extracts something else:\n" + out;
  return problems;
}

std::string StructureProblems(const std::string& path) {
  std::string output;
  const int code = qvtest::RunCommand(
      "/usr/bin/python3 " + qvtest::SourceDir() + "/tests/iso9660/oracles.py --structure '" + path + "'", &output);
  return code == 0 ? std::string() : output;
}

}  // namespace qviso
