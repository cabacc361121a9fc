// libFuzzer target for names as a disk or a caller hands them over, and for
// the answers a collision callback gives. Checks that hold for every input:
//  - an ISO9660 identifier holds only d-characters, at most one '.', the
//    version only at the end, and no more characters than asked for;
//  - Joliet units hold no forbidden character and no surrogate;
//  - a Joliet name is made, or refused with exception 2 (too long) or 5
//    (not text), never anything else;
//  - a tree filled with those names and answered with those solutions and
//    renames builds (or refuses cleanly), and no folder of the built image
//    holds two records that readers would show under one name.
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/exception.h"
#include "iso9660/iso9660_names.h"
#include "iso9660/iso9660_tree.h"
#include "quorvane.h"

namespace {

bool DChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

void CheckIdentifier(std::string_view name, bool folder, size_t maxChars, bool version) {
  const std::string id = QuorvaneI_ISO9660Identifier(name, folder, maxChars, version);
  std::string_view body = id;
  if (version) {
    if (body.size() < 2 || body.substr(body.size() - 2) != ";1") std::abort();
    body.remove_suffix(2);
  }
  if (body.empty() || body.size() > maxChars + 1) std::abort();
  size_t dots = 0;
  for (char c : body) {
    if (c == '.') ++dots;
    else if (!DChar(c)) std::abort();
  }
  if (folder ? dots != 0 : dots != 1) std::abort();
}

void CheckJoliet(const std::string& name, bool folder) {
  try {
    const std::string be = QuorvaneI_JolietName(name.c_str(), folder);
    const std::u16string units = QuorvaneI_UnitsFromBigEndian(be);
    if (units.size() > kQuorvaneJolietMaxUnits) std::abort();
    const size_t body = folder ? units.size() : units.size() - 2;
    if (!folder && units.substr(body) != u";1") std::abort();
    for (size_t i = 0; i < body; ++i) {
      const char16_t u = units[i];
      if (u < 0x20 || u == u'*' || u == u'/' || u == u':' || u == u';' || u == u'?' || u == u'\\' ||
          (u >= 0xD800 && u <= 0xDFFF))
        std::abort();
    }
  } catch (CQuorvane_Exception* e) {
    if (e == nullptr || (e->Number() != EN_INVALID_PARAMETER && e->Number() != EN_SYSTEM_CALL_FAILED)) std::abort();
    delete e;
  }
}

// Answers collisions from the input: a solution byte and a name.
struct Answers {
  std::vector<std::string> names;
  size_t next = 0;
};

void QUORVANE_CALL OnEvent(QV_ULONG reason, void* context, void* parameter1, void*) {
  if (reason != CN_FILE_TREE_NAME_COLLISION) return;
  auto* answers = static_cast<Answers*>(context);
  auto* record = static_cast<QUORVANE_NAME_COLLISION*>(parameter1);
  if (answers->names.empty()) return;
  const std::string& from = answers->names[answers->next++ % answers->names.size()];
  record->m__ULONG__Solution = from.empty() ? 0 : static_cast<uint8_t>(from[0]) % 5;
  std::memset(record->m__UCHAR__Name, 0, sizeof record->m__UCHAR__Name);
  const std::string_view name = std::string_view(from).substr(from.empty() ? 0 : 1);
  for (size_t i = 0; i < name.size() && 2 * i + 2 < sizeof record->m__UCHAR__Name; ++i) {
    if (record->m__UCHAR__IsWide) record->m__UCHAR__Name[2 * i] = static_cast<QV_UCHAR>(name[i]);
    else record->m__UCHAR__Name[i] = static_cast<QV_UCHAR>(name[i]);
  }
}

// Names readers show, per folder, must be unique in the built image.
void CheckUnique(QV_HANDLE tree, QV_HANDLE folder, bool joliet) {
  std::set<std::string> iso;
  std::set<std::u16string> wide;
  for (QV_HANDLE k = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree, folder); k;
       k = Quorvane_ISO9660JolietFileTree_GetNextKid(tree, k)) {
    char isoName[260] = {};
    QV_WCHAR jolietName[130] = {};
    Quorvane_ISO9660JolietFileTree_GetNamesEx(tree, k, nullptr, nullptr, nullptr, isoName, jolietName);
    std::string shown(isoName);
    if (shown.size() >= 2 && shown.substr(shown.size() - 2) == ";1") shown.resize(shown.size() - 2);
    if (shown.size() > 1 && shown.back() == '.') shown.pop_back();
    if (!iso.insert(shown).second) std::abort();
    if (joliet) {
      std::u16string j(reinterpret_cast<const char16_t*>(jolietName));
      if (j.size() >= 2 && j.substr(j.size() - 2) == u";1") j.resize(j.size() - 2);
      if (!wide.insert(j).second) std::abort();
    }
    CheckUnique(tree, k, joliet);
  }
}

// Every node below folder, depth first.
void Collect(QV_HANDLE tree, QV_HANDLE folder, std::vector<QV_HANDLE>& nodes) {
  for (QV_HANDLE k = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree, folder); k;
       k = Quorvane_ISO9660JolietFileTree_GetNextKid(tree, k)) {
    nodes.push_back(k);
    Collect(tree, k, nodes);
  }
}

void CheckTree(const std::vector<std::string>& names, bool joliet, bool longNames) {
  static const bool started = Quorvane_UpStartEx() == 0;
  if (!started) std::abort();
  Answers answers{names};
  QV_HANDLE tree = nullptr;
  char text[512] = {};
  QV_ULONG system = 0;
  if (Quorvane_ISO9660JolietFileTree_Create(&tree, text, sizeof text, &system, &OnEvent, &answers, 0, 0, longNames,
                                            joliet) != 0)
    std::abort();
  // Folders and subfolders named by the input; a name's first byte picks
  // where it goes. A replace answer frees the node it replaces, so the
  // candidates are taken from the tree as it is before each addition.
  for (const std::string& name : names) {
    if (name.empty()) continue;
    std::vector<QV_HANDLE> nodes{nullptr};
    if (QV_HANDLE root = Quorvane_ISO9660JolietFileTree_GetRoot(tree)) Collect(tree, root, nodes);
    QV_HANDLE parent = nodes[static_cast<uint8_t>(name[0]) % nodes.size()];
    QV_HANDLE node = nullptr;
    const uint32_t n = Quorvane_ISO9660JolietFileTree_Add(tree, text, sizeof text, &system, nullptr, name.c_str() + 1,
                                                          2, &parent, &node);
    if (n != 0 && n != EN_INVALID_PARAMETER && n != EN_SYSTEM_CALL_FAILED) std::abort();
  }
  if (Quorvane_ISO9660JolietFileTree_GetRoot(tree) != nullptr) {
    CheckUnique(tree, Quorvane_ISO9660JolietFileTree_GetRoot(tree), joliet);
    if (Quorvane_ISO9660JolietFileTree_BuildImage(tree, text, sizeof text, &system, 0, 0, 0, "FUZZ", "", "") != 0)
      std::abort();
    QV_ULONG high = 0;
    const QV_ULONG low = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree, &high);
    if (high != 0 || low % 2048 != 0 || low < 24 * 2048) std::abort();
  }
  Quorvane_ISO9660JolietFileTree_Destroy(&tree);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t i = 0; i <= all.size(); ++i) {
    if (i == all.size() || all[i] == '/' || all[i] == '\0') {
      names.emplace_back(all.substr(start, i - start));
      start = i + 1;
    }
  }
  for (const std::string& name : names) {
    for (bool folder : {false, true}) {
      CheckIdentifier(name, folder, kQuorvaneISO9660ShortChars, !folder);
      CheckIdentifier(name, folder, kQuorvaneISO9660LongChars, false);
      CheckJoliet(name, folder);
    }
  }
  if (names.size() > 64) names.resize(64);
  CheckTree(names, true, size % 2 == 0);
  CheckTree(names, false, false);
  return 0;
}
