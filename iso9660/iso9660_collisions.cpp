// Name checks of ISO9660 and Joliet trees: which names may live side by
// side in a folder, and what the caller chooses when two clash.
#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "core/exception.h"
#include "core/log.h"
#include "core/settings.h"
#include "iso9660/iso9660_names.h"
#include "iso9660/iso9660_tree.h"
#include "platform/text.h"

namespace {

using Node = CQuorvane_ISO9660FileTreeNode;

Node* AsIso(CQuorvane_FileTreeNode* node) { return static_cast<Node*>(node); }
const Node* AsIso(const CQuorvane_FileTreeNode* node) { return static_cast<const Node*>(node); }

}  // namespace

// Names clash as readers show them: without the version and, in the
// ISO9660 hierarchy, without the dot of a file that has no extension. So
// a folder "NAME" and a file "NAME.;1" (Joliet "name" and "name;1") are
// one name, as they would be once extracted.
std::string_view CQuorvane_ISO9660FileTree::KidKey(const CQuorvane_FileTreeNode* node, unsigned kind) const {
  std::string_view name = kind == 0 ? AsIso(node)->GetISOName() : AsIso(node)->GetJolietName();
  if (kind == 0) {
    if (name.size() >= 2 && name.substr(name.size() - 2) == kQuorvaneISO9660Version) name.remove_suffix(2);
    if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  } else if (name.size() >= 4 && name.substr(name.size() - 4) == std::string_view("\0;\0" "1", 4)) {
    name.remove_suffix(4);
  }
  return name;
}

bool CQuorvane_ISO9660FileTree::RenameNode(CQuorvane_FileTreeNode* node, const char* longName, const char* shortName) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (m__BOOLEAN__IsImageBuild)
    QuorvaneI_Throw("CQuorvane_ISO9660FileTree::RenameNode", EN_INVALID_STATE, 0,
                    "CQuorvane_ISO9660FileTree::RenameNode(): m__BOOLEAN__IsImageBuild is TRUE already");
  // A Joliet name that cannot be made fails the rename before anything
  // changes.
  if (IsJoliet() && node != nullptr) QuorvaneI_JolietName(longName ? longName : "", node->IsFolder());
  return CQuorvane_FileTree::RenameNode(node, longName, shortName);
}

// --- Name checks ---

CQuorvane_FileTreeNode* CQuorvane_ISO9660FileTree::CheckName(CQuorvane_FileTreeNode* parent,
                                                             CQuorvane_FileTreeNode* node) {
  if (QuorvaneI_SkipNameCheck()) return node;
  if (m__BOOLEAN__IsImageBuild)
    QuorvaneI_Throw("CQuorvane_ISO9660FileTree::CheckName", EN_INVALID_STATE, 0,
                    "CQuorvane_ISO9660FileTree::CheckName(): m__BOOLEAN__IsImageBuild is TRUE already");
  Node* n = AsIso(node);
  if (n->IsHidden()) return node;  // no record, so no name to clash
  CQuorvane_FileTreeNode* kept = CheckKind(parent, n, 0);
  // A boot image that lost its record in the first check has no Joliet
  // record either.
  if (kept != node || !IsJoliet() || n->IsHidden()) return kept;
  return CheckKind(parent, n, 1);
}

CQuorvane_FileTreeNode* CQuorvane_ISO9660FileTree::CheckKind(CQuorvane_FileTreeNode* parent, Node* node,
                                                             unsigned kind) {
  static const char* const kMethod = "CQuorvane_ISO9660FileTree::CheckName";
  const CQuorvane_FileTreeNode* after = nullptr;
  uint64_t renames = 0;
  for (;;) {
    const std::string key(KidKey(node, kind));
    Node* existing = AsIso(FindKid(parent, key, kind, after));
    if (existing == nullptr) return node;
    if (existing == node || existing->IsHidden()) {
      after = existing;
      continue;
    }
    const bool bothFolders = existing->IsFolder() && node->IsFolder();
    QUORVANE_NAME_COLLISION record{};
    record.m__UCHAR__IsWide = static_cast<QV_UCHAR>(kind);
    const std::string_view full = kind == 0 ? node->GetISOName() : node->GetJolietName();
    if (kind == 0) {
      std::memcpy(record.m__UCHAR__Name, full.data(), std::min(full.size(), sizeof record.m__UCHAR__Name - 1));
    } else {
      const std::u16string units = SecondNameUnits(node);
      for (size_t i = 0; i < units.size() && 2 * i + 3 < sizeof record.m__UCHAR__Name; ++i)
        QuorvaneI_PutLE16(record.m__UCHAR__Name + 2 * i, units[i]);
    }
    record.m__PCHAR__ExistingPath = existing->GetReportName();
    record.m__ULONG__ExistingAttributes = existing->GetAttributes();
    record.m__PCHAR__NewPath = node->GetReportName();
    record.m__ULONG__NewAttributes = node->GetAttributes();
    record.m__ULONG__Solution = bothFolders ? QVX_NAME_COLLISION_MERGE_FOLDERS : QVX_NAME_COLLISION_REPLACE_OLD;
    Notify(CN_FILE_TREE_NAME_COLLISION, &record);
    uint32_t solution = record.m__ULONG__Solution;
    if (solution == QVX_NAME_COLLISION_MERGE_FOLDERS && !bothFolders) solution = QVX_NAME_COLLISION_REPLACE_OLD;
    // Names in a folder must be unique (ECMA-119 9.3): an answer that is
    // none of the four takes the default rather than keep both.
    if (solution > QVX_NAME_COLLISION_MERGE_FOLDERS)
      solution = bothFolders ? QVX_NAME_COLLISION_MERGE_FOLDERS : QVX_NAME_COLLISION_REPLACE_OLD;
    QuorvaneI_Log("\n%s(): '%s' collides with '%s' (%s name), solution %lu\n", kMethod, node->GetReportName(),
                  existing->GetReportName(), kind == 0 ? "ISO9660" : "Joliet", static_cast<unsigned long>(solution));
    switch (solution) {
      case QVX_NAME_COLLISION_SKIP_NEW:
        // The boot image stays on the disc, only without a record.
        if (node == m__PCQuorvane_ISO9660FileTreeNode__Boot) {
          node->SetHidden(true);
          return node;
        }
        return nullptr;
      case QVX_NAME_COLLISION_REPLACE_OLD:
        if (existing == m__PCQuorvane_ISO9660FileTreeNode__Boot) {
          existing->SetHidden(true);
        } else {
          CQuorvane_FileTreeNode* old = existing;
          DestroyNodeAndKids(&old);
        }
        return node;
      case QVX_NAME_COLLISION_RENAME_NEW: {
        record.m__UCHAR__Name[sizeof record.m__UCHAR__Name - 1] = 0;
        record.m__UCHAR__Name[sizeof record.m__UCHAR__Name - 2] = 0;
        if (kind == 0) {
          std::string chosen(reinterpret_cast<const char*>(record.m__UCHAR__Name));
          if (const size_t semicolon = chosen.find(';'); semicolon != std::string::npos) chosen.resize(semicolon);
          const bool version = !node->IsFolder() && !UsesLongNames();
          node->SetISOName(
              QuorvaneI_ISO9660Identifier(chosen, node->IsFolder(), kQuorvaneISO9660ShortChars, version));
        } else {
          std::u16string chosen;
          for (size_t i = 0; 2 * i + 1 < sizeof record.m__UCHAR__Name; ++i) {
            const char16_t u = static_cast<char16_t>(record.m__UCHAR__Name[2 * i] | (record.m__UCHAR__Name[2 * i + 1] << 8));
            if (u == 0) break;
            chosen.push_back(u);
          }
          if (chosen.empty()) chosen.push_back(u'_');
          RenameSecondName(node, chosen);
          std::string narrow;
          uint32_t error = 0;
          qv::plat::WideToNarrow(SecondNameUnits(node), &narrow, &error);
          QuorvaneI_Log("\nJolietCollision() : resulting <%s>\nJolietCollision() : resulting size = %d\n",
                        narrow.c_str(), static_cast<int>(node->GetJolietName().size()));
        }
        // An answer that changes nothing would ask the same question for
        // ever.
        if (KidKey(node, kind) == key)
          QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0,
                          "%s(): the new name chosen for '%s' is the name it collides with!!!", kMethod,
                          node->GetReportName());
        if (++renames > 1000000)
          QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0, "%s(): no free name found for '%s'!!!", kMethod,
                          node->GetReportName());
        after = nullptr;
        continue;
      }
      default:  // QVX_NAME_COLLISION_MERGE_FOLDERS
        MergeFolders(existing, node);
        return nullptr;
    }
  }
}


void CQuorvane_ISO9660FileTree::RenameSecondName(Node* node, const std::u16string& chosen) {
  node->SetJolietName(QuorvaneI_BigEndianUnits(QuorvaneI_JolietUnits(chosen, true, kQuorvaneJolietMaxUnits)));
}

std::u16string CQuorvane_ISO9660FileTree::SecondNameUnits(const Node* node) const {
  return QuorvaneI_UnitsFromBigEndian(node->GetJolietName());
}
