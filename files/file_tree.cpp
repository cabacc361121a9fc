#include "files/file_tree.h"

#include <cstring>
#include <functional>
#include <new>

#include "core/exception.h"
#include "core/log.h"
#include "files/file_time.h"
#include "platform/dynlib.h"
#include "platform/errors.h"

namespace {

// A folder gets an index once a lookup has had to pass this many kids.
constexpr size_t kIndexThreshold = 32;

CQuorvane_FileTreeNode* const kDeleted = reinterpret_cast<CQuorvane_FileTreeNode*>(uintptr_t{1});

bool IsSeparator(char c) { return c == qv::plat::PathSeparator() || c == '/'; }

std::string JoinPath(const std::string& folder, const std::string& name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path = folder;
  if (path.empty() || !IsSeparator(path.back())) path += qv::plat::PathSeparator();
  path += name;
  return path;
}

std::string BaseName(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1])) --end;
  size_t begin = end;
  while (begin > 0 && !IsSeparator(path[begin - 1])) --begin;
  return path.substr(begin, end - begin);
}

// The short name a disk without 8.3 names gives: the long name's first
// 12 bytes, never splitting a character.
std::string ShortNameOf(const char* longName) {
  return std::string(longName, QuorvaneI_Utf8Prefix(longName, kQuorvaneShortNameSize - 1));
}

uint64_t ChosenTime(const qv::plat::FileInfo& info, uint32_t timeChoice) {
  if (timeChoice == kQuorvaneTimeCreation) return info.creationTime;
  if (timeChoice == kQuorvaneTimeLastAccess) return info.accessTime;
  return info.writeTime;
}

}  // namespace

// Open-addressing sets of a folder's kids, one per kind of key, built the
// first time a lookup of that kind passes many kids.
class QuorvaneI_KidIndex {
 public:
  struct Table {
    std::vector<CQuorvane_FileTreeNode*> slots;  // nullptr: empty; kDeleted: was used
    size_t live = 0;
    size_t deleted = 0;
    bool built = false;
  };
  Table tables[CQuorvane_FileTree::kKidKeyKinds];
};

namespace {

size_t HashKey(std::string_view key) { return std::hash<std::string_view>{}(key); }

void TableInsert(const CQuorvane_FileTree& tree, QuorvaneI_KidIndex::Table& t, CQuorvane_FileTreeNode* node,
                 unsigned kind);

// Linear probing stays short below 70 % load; a rehash leaves at most half
// the slots in use.
bool TableTooFull(const QuorvaneI_KidIndex::Table& t, size_t used) { return used * 10 > t.slots.size() * 7; }

void TableRehash(const CQuorvane_FileTree& tree, QuorvaneI_KidIndex::Table& t, unsigned kind, size_t live) {
  size_t capacity = 64;
  while (capacity < live * 2) capacity *= 2;
  std::vector<CQuorvane_FileTreeNode*> old;
  old.swap(t.slots);
  t.slots.assign(capacity, nullptr);
  t.live = 0;
  t.deleted = 0;
  for (auto* n : old)
    if (n != nullptr && n != kDeleted) TableInsert(tree, t, n, kind);
}

void TableInsert(const CQuorvane_FileTree& tree, QuorvaneI_KidIndex::Table& t, CQuorvane_FileTreeNode* node,
                 unsigned kind) {
  if (TableTooFull(t, t.live + t.deleted + 1)) TableRehash(tree, t, kind, t.live + 1);
  const size_t mask = t.slots.size() - 1;
  size_t i = HashKey(tree.KidKey(node, kind)) & mask;
  while (t.slots[i] != nullptr && t.slots[i] != kDeleted) i = (i + 1) & mask;
  if (t.slots[i] == kDeleted) --t.deleted;
  t.slots[i] = node;
  ++t.live;
}

void TableErase(const CQuorvane_FileTree& tree, QuorvaneI_KidIndex::Table& t, const CQuorvane_FileTreeNode* node,
                unsigned kind) {
  const size_t mask = t.slots.size() - 1;
  for (size_t i = HashKey(tree.KidKey(node, kind)) & mask; t.slots[i] != nullptr; i = (i + 1) & mask) {
    if (t.slots[i] == node) {
      t.slots[i] = kDeleted;
      --t.live;
      ++t.deleted;
      return;
    }
  }
  // The key changed behind the index's back; never keep a pointer that is
  // about to dangle.
  for (auto& slot : t.slots) {
    if (slot == node) {
      slot = kDeleted;
      --t.live;
      ++t.deleted;
      return;
    }
  }
}

}  // namespace

CQuorvane_FileTree::CQuorvane_FileTree(PQUORVANE_CALLBACK callback, void* callbackContext, bool ignoreErrors)
    : m__BOOLEAN__IsIgnoreErrors(ignoreErrors ? 1 : 0),
      m__PQUORVANE_CALLBACK__Callback(callback),
      m__PVOID__CallbackContext(callbackContext) {}

CQuorvane_FileTree::~CQuorvane_FileTree() {
  // The derived tree is gone already: no callbacks from here.
  if (m__PCQuorvane_FileTreeNode__Root) DestroySubtree(m__PCQuorvane_FileTreeNode__Root, false);
}

// --- Virtual operations of the base ---

CQuorvane_FileTreeNode* CQuorvane_FileTree::NewFileTreeNodeItem(const char* absolutePath, const char* longName,
                                                                const char* shortName, uint32_t attributes,
                                                                uint64_t sizeInUCHARs, CQuorvane_FileTreeNode* parent,
                                                                uint32_t userValue, uint64_t fileTime) {
  return new (std::nothrow) CQuorvane_FileTreeNode(absolutePath, longName, shortName, attributes, sizeInUCHARs,
                                                   parent, userValue, fileTime);
}

void CQuorvane_FileTree::OnNodeAdded(CQuorvane_FileTreeNode* node) {
  Notify(CN_FILE_TREE_NODE_ADDED, node->GetReportName());
  if (node->GetLevel() > m__LONG__DeepestLevel) m__LONG__DeepestLevel = node->GetLevel();
  node->m__BOOLEAN__IsCounted = 1;
}

void CQuorvane_FileTree::OnNodeRemoved(CQuorvane_FileTreeNode* node) {
  Notify(CN_FILE_TREE_NODE_REMOVED, node->GetReportName());
}

void CQuorvane_FileTree::OnKidLinked(CQuorvane_FileTreeNode*, CQuorvane_FileTreeNode*) {}

bool CQuorvane_FileTree::RenameNode(CQuorvane_FileTreeNode* node, const char* longName, const char* shortName) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (node == nullptr || !node->IsLinked()) return false;
  if (longName == nullptr) longName = "";
  if (shortName == nullptr) shortName = "";
  const size_t longLength = std::strlen(longName);
  if (longLength >= kQuorvaneMaxPath)
    QuorvaneI_Throw("CQuorvane_FileTree::RenameNode", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileTree::RenameNode(): strlen( p__PCHAR__LongFileName ) == %ld exceeds (>=) %ld!!!",
                    static_cast<long>(longLength), static_cast<long>(kQuorvaneMaxPath));
  std::string shortKept(shortName);
  if (shortKept.size() >= kQuorvaneShortNameSize)
    shortKept.resize(QuorvaneI_Utf8Prefix(shortName, kQuorvaneRenamedShortNameMax));
  OnNodeRemoved(node);
  KidKeysChanging(node);
  node->SetNames(longName, shortKept.c_str());
  node->RebuildName();
  KidKeysChanged(node);
  OnNodeAdded(node);
  OnKidLinked(node->GetParent(), node);
  return true;
}

std::string_view CQuorvane_FileTree::KidKey(const CQuorvane_FileTreeNode* node, unsigned kind) const {
  return kind == 0 ? std::string_view(node->GetLongName()) : std::string_view();
}

// --- Helpers ---

void CQuorvane_FileTree::Notify(uint32_t reason, const void* argument) {
  if (m__PQUORVANE_CALLBACK__Callback)
    m__PQUORVANE_CALLBACK__Callback(reason, m__PVOID__CallbackContext, const_cast<void*>(argument), nullptr);
}

void CQuorvane_FileTree::ReportSkipped(const char* path, const char* why) {
  QuorvaneI_Log("\nCQuorvane_FileTree::CreateFileTreeNodeAndKids(): '%s' %s, skipped\n", path, why);
  Notify(CN_FILE_TREE_NODE_SKIPPED, path);
}

void CQuorvane_FileTree::RequireFolder(const char* method, const CQuorvane_FileTreeNode* parent) {
  if (!parent->IsFolder())
    QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): parent '%s' is not a folder!!!", method,
                    parent->GetReportName());
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::EnsureRoot() {
  if (m__PCQuorvane_FileTreeNode__Root) return m__PCQuorvane_FileTreeNode__Root;
  ++m__LONG__NodeCount;
  CQuorvane_FileTreeNode* root = nullptr;
  try {
    root = NewFileTreeNodeItem("/", "/", "/", qv::plat::kAttrDirectory, 0, nullptr,
                               static_cast<uint32_t>(m__LONG__NodeCount), QuorvaneI_FileTimeNow());
  } catch (...) {
    --m__LONG__NodeCount;
    throw;
  }
  if (root == nullptr) {
    --m__LONG__NodeCount;
    QuorvaneI_Throw("CQuorvane_FileTree::EnsureRoot", EN_MEMORY_ALLOCATION_FAILED, 0,
                    "CQuorvane_FileTree::EnsureRoot(): NewFileTreeNodeItem() for Root failed!!!");
  }
  root->SetNodeType(kQuorvaneNodeNoPath);
  m__PCQuorvane_FileTreeNode__Root = root;
  OnNodeAdded(root);
  return root;
}

void CQuorvane_FileTree::DropKidIndexes() { m__KidIndexes.clear(); }

QuorvaneI_KidIndex* CQuorvane_FileTree::IndexOf(const CQuorvane_FileTreeNode* folder) {
  if (m__KidIndexes.empty()) return nullptr;
  auto it = m__KidIndexes.find(folder);
  return it == m__KidIndexes.end() ? nullptr : it->second.get();
}

void CQuorvane_FileTree::LinkKid(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) {
  node->m__PCQuorvane_FileTreeNode__Parent = parent;
  node->m__PCQuorvane_FileTreeNode__Next = nullptr;
  node->m__PCQuorvane_FileTreeNode__Previous = parent->m__PCQuorvane_FileTreeNode__LastKid;
  if (parent->m__PCQuorvane_FileTreeNode__LastKid)
    parent->m__PCQuorvane_FileTreeNode__LastKid->m__PCQuorvane_FileTreeNode__Next = node;
  else
    parent->m__PCQuorvane_FileTreeNode__FirstKid = node;
  parent->m__PCQuorvane_FileTreeNode__LastKid = node;
  node->m__ULONGLONG__LinkOrder = ++m__ULONGLONG__LinkCounter;
  node->m__BOOLEAN__IsLinked = 1;
  if (auto* index = IndexOf(parent))
    for (unsigned kind = 0; kind < kKidKeyKinds; ++kind)
      if (index->tables[kind].built) TableInsert(*this, index->tables[kind], node, kind);
}

void CQuorvane_FileTree::UnlinkKid(CQuorvane_FileTreeNode* node) {
  if (!node->IsLinked()) return;
  CQuorvane_FileTreeNode* parent = node->m__PCQuorvane_FileTreeNode__Parent;
  if (auto* index = IndexOf(parent))
    for (unsigned kind = 0; kind < kKidKeyKinds; ++kind)
      if (index->tables[kind].built) TableErase(*this, index->tables[kind], node, kind);
  if (node->m__PCQuorvane_FileTreeNode__Previous)
    node->m__PCQuorvane_FileTreeNode__Previous->m__PCQuorvane_FileTreeNode__Next = node->m__PCQuorvane_FileTreeNode__Next;
  else
    parent->m__PCQuorvane_FileTreeNode__FirstKid = node->m__PCQuorvane_FileTreeNode__Next;
  if (node->m__PCQuorvane_FileTreeNode__Next)
    node->m__PCQuorvane_FileTreeNode__Next->m__PCQuorvane_FileTreeNode__Previous =
        node->m__PCQuorvane_FileTreeNode__Previous;
  else
    parent->m__PCQuorvane_FileTreeNode__LastKid = node->m__PCQuorvane_FileTreeNode__Previous;
  node->m__PCQuorvane_FileTreeNode__Next = nullptr;
  node->m__PCQuorvane_FileTreeNode__Previous = nullptr;
  node->m__BOOLEAN__IsLinked = 0;
}

void CQuorvane_FileTree::DestroySubtree(CQuorvane_FileTreeNode* top, bool report) {
  UnlinkKid(top);
  // Post-order without recursion: virtual folders may nest without limit.
  CQuorvane_FileTreeNode* current = top;
  for (;;) {
    if (current->m__PCQuorvane_FileTreeNode__FirstKid) {
      current = current->m__PCQuorvane_FileTreeNode__FirstKid;
      continue;
    }
    CQuorvane_FileTreeNode* up = current == top ? nullptr : current->m__PCQuorvane_FileTreeNode__Parent;
    UnlinkKid(current);
    if (!m__KidIndexes.empty()) m__KidIndexes.erase(current);
    if (report) {
      OnNodeRemoved(current);
      --m__LONG__NodeCount;
    }
    delete current;
    if (up == nullptr) break;
    current = up;
  }
  if (top == m__PCQuorvane_FileTreeNode__Root) m__PCQuorvane_FileTreeNode__Root = nullptr;
}

// --- Lookups by name ---

CQuorvane_FileTreeNode* CQuorvane_FileTree::FindKid(const CQuorvane_FileTreeNode* parent, std::string_view key,
                                                    unsigned kind, const CQuorvane_FileTreeNode* after) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (parent == nullptr || kind >= kKidKeyKinds) return nullptr;
  QuorvaneI_KidIndex* index = IndexOf(parent);
  if (index && index->tables[kind].built) {
    auto& t = index->tables[kind];
    const uint64_t floor = after ? after->m__ULONGLONG__LinkOrder : 0;
    CQuorvane_FileTreeNode* best = nullptr;
    const size_t mask = t.slots.size() - 1;
    for (size_t i = HashKey(key) & mask; t.slots[i] != nullptr; i = (i + 1) & mask) {
      CQuorvane_FileTreeNode* n = t.slots[i];
      if (n == kDeleted || n->m__ULONGLONG__LinkOrder <= floor) continue;
      if ((best == nullptr || n->m__ULONGLONG__LinkOrder < best->m__ULONGLONG__LinkOrder) && KidKey(n, kind) == key)
        best = n;
    }
    return best;
  }
  size_t passed = 0;
  for (auto* k = after ? after->GetNextKid() : parent->GetFirstKid(); k; k = k->GetNextKid(), ++passed)
    if (KidKey(k, kind) == key) return k;
  if (passed >= kIndexThreshold) {
    auto& slot = m__KidIndexes[parent];
    if (!slot) slot = std::make_unique<QuorvaneI_KidIndex>();
    auto& t = slot->tables[kind];
    size_t kids = 0;
    for (auto* k = parent->GetFirstKid(); k; k = k->GetNextKid()) ++kids;
    TableRehash(*this, t, kind, kids);
    for (auto* k = parent->GetFirstKid(); k; k = k->GetNextKid()) TableInsert(*this, t, k, kind);
    t.built = true;
  }
  return nullptr;
}

void CQuorvane_FileTree::KidKeysChanging(CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (!node->IsLinked()) return;
  if (auto* index = IndexOf(node->GetParent()))
    for (unsigned kind = 0; kind < kKidKeyKinds; ++kind)
      if (index->tables[kind].built) TableErase(*this, index->tables[kind], node, kind);
}

void CQuorvane_FileTree::KidKeysChanged(CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (!node->IsLinked()) return;
  if (auto* index = IndexOf(node->GetParent()))
    for (unsigned kind = 0; kind < kKidKeyKinds; ++kind)
      if (index->tables[kind].built) TableInsert(*this, index->tables[kind], node, kind);
}

// --- Changes ---

CQuorvane_FileTreeNode* CQuorvane_FileTree::AddKid(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  node->m__PCQuorvane_FileTreeNode__Parent = parent;
  if (node->m__LONG__Level != parent->m__LONG__Level + 1) {
    // Moved to another depth: the whole subtree follows.
    for (CQuorvane_FileTreeNode* n = node; n;) {
      n->m__LONG__Level = n->m__PCQuorvane_FileTreeNode__Parent->m__LONG__Level + 1;
      if (n->m__LONG__Level > m__LONG__DeepestLevel) m__LONG__DeepestLevel = n->m__LONG__Level;
      if (n->m__PCQuorvane_FileTreeNode__FirstKid) {
        n = n->m__PCQuorvane_FileTreeNode__FirstKid;
        continue;
      }
      while (n != node && n->m__PCQuorvane_FileTreeNode__Next == nullptr) n = n->m__PCQuorvane_FileTreeNode__Parent;
      n = n == node ? nullptr : n->m__PCQuorvane_FileTreeNode__Next;
    }
  }
  CQuorvane_FileTreeNode* accepted = nullptr;
  try {
    accepted = CheckName(parent, node);
  } catch (...) {
    DestroyNodeAndKids(&node);
    throw;
  }
  if (accepted == nullptr) {
    DestroyNodeAndKids(&node);
    return nullptr;
  }
  LinkKid(parent, accepted);
  OnKidLinked(parent, accepted);
  return accepted;
}

void CQuorvane_FileTree::DestroyNodeAndKids(CQuorvane_FileTreeNode** node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (node == nullptr || *node == nullptr) return;
  DestroySubtree(*node, true);
  *node = nullptr;
}

bool CQuorvane_FileTree::RemoveNode(CQuorvane_FileTreeNode** node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (node == nullptr || *node == nullptr || m__PCQuorvane_FileTreeNode__Root == nullptr) return false;
  for (const CQuorvane_FileTreeNode* n = *node; n != m__PCQuorvane_FileTreeNode__Root; n = n->GetParent())
    if (n == nullptr || !n->IsLinked()) return false;
  QuorvaneI_Log("\nCQuorvane_FileTree::RemoveNode(): removing '%s'\n", (*node)->GetReportName());
  DestroyNodeAndKids(node);
  return true;
}

void CQuorvane_FileTree::MergeFolders(CQuorvane_FileTreeNode* existing, CQuorvane_FileTreeNode* newFolder) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  while (CQuorvane_FileTreeNode* kid = newFolder->GetFirstKid()) {
    UnlinkKid(kid);
    AddKid(existing, kid);
  }
}

// --- Additions ---

CQuorvane_FileTreeNode* CQuorvane_FileTree::CreateFileTreeNodeAndKids(const char* absolutePath, const char* longName,
                                                                      const char* shortName,
                                                                      const qv::plat::FileInfo& info,
                                                                      CQuorvane_FileTreeNode* parent,
                                                                      uint32_t timeChoice) {
  static const char* const kMethod = "CQuorvane_FileTree::CreateFileTreeNodeAndKids";
  if (IsCancelled())
    QuorvaneI_Throw(kMethod, EN_USER_EXCEPTION, 0,
                    "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): m__BOOLEAN__IsCancelCreation == TRUE!!!");
  // The node refuses such a path too, but only this message names it.
  if (const size_t length = std::strlen(absolutePath); length >= kQuorvaneMaxPath)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): the path '%s' has %ld UCHARs, paths must be "
                    "shorter than %ld!!!",
                    absolutePath, static_cast<long>(length), static_cast<long>(kQuorvaneMaxPath));
  ++m__LONG__NodeCount;
  CQuorvane_FileTreeNode* node = nullptr;
  try {
    m__PFileInfo__Creating = &info;
    node = NewFileTreeNodeItem(absolutePath, longName, shortName, info.attributes, info.size, parent,
                               static_cast<uint32_t>(m__LONG__NodeCount), ChosenTime(info, timeChoice));
    m__PFileInfo__Creating = nullptr;
  } catch (...) {
    m__PFileInfo__Creating = nullptr;
    --m__LONG__NodeCount;
    throw;
  }
  if (node == nullptr) {
    --m__LONG__NodeCount;
    QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0,
                    "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): NewFileTreeNodeItem() for Current failed!!!");
  }
  try {
    OnNodeAdded(node);
    const char* path = node->GetAbsolutePath();
    const bool isRoot = path[0] == '/' && node->GetLongName()[0] == '/' && node->GetShortName()[0] == '/';
    if (!node->IsFolder() || isRoot || path[0] == ':' || path[0] == '\0') return node;

    const std::pair<uint64_t, uint64_t> identity{info.device, info.inode};
    for (const auto& inside : m__WalkStack)
      if (inside == identity)
        QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, qv::plat::kErrCantResolveFilename,
                        "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): '%s' leads back to a folder above it, "
                        "status %ld!!!",
                        path, static_cast<long>(qv::plat::kErrCantResolveFilename));
    m__WalkStack.push_back(identity);
    struct Pop {
      std::vector<std::pair<uint64_t, uint64_t>>& stack;
      ~Pop() { stack.pop_back(); }
    } pop{m__WalkStack};

    std::vector<qv::plat::DirEntry> entries;
    uint32_t error = 0;
    const std::string folder = path;
    if (!qv::plat::GetFileSystem().ReadDirectory(folder, &entries, &error))
      QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error,
                      "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): FindFirstFile( '%s' ) failed, status %ld!!!",
                      path, static_cast<long>(error));
    for (const auto& entry : entries) {
      const std::string kidPath = JoinPath(folder, entry.name);
      if (entry.error == 0 && entry.info.kind == qv::plat::FileKind::Other) {
        ReportSkipped(kidPath.c_str(), "is neither a file nor a folder");
        continue;
      }
      try {
        if (entry.error != 0)
          QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, entry.error,
                          "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): GetFileAttributes( '%s' ) failed, status "
                          "%ld!!!",
                          kidPath.c_str(), static_cast<long>(entry.error));
        const std::string kidLong = QuorvaneI_SanitizeUtf8(entry.name);
        const std::string kidShort = ShortNameOf(kidLong.c_str());
        CQuorvane_FileTreeNode* kid =
            CreateFileTreeNodeAndKids(kidPath.c_str(), kidLong.c_str(), kidShort.c_str(), entry.info, node, timeChoice);
        AddKid(node, kid);
      } catch (CQuorvane_Exception* e) {
        if (e != nullptr && e->Number() == EN_USER_EXCEPTION) throw;
        if (!m__BOOLEAN__IsIgnoreErrors) {
          QuorvaneI_Log("\n%s(): CreateFileTreeNodeAndKids() failed, ignore == FALSE\n", kMethod);
          throw;
        }
        QuorvaneI_Log("\n%s(): CreateFileTreeNodeAndKids() failed, ignore == TRUE\n", kMethod);
        if (e != nullptr)
          QuorvaneI_Log("%s(): WARNING! Exception number 0x%08X, exception text '%s'\n", kMethod,
                        static_cast<unsigned>(e->Number()), e->Text());
        delete e;
        Notify(CN_FILE_TREE_NODE_SKIPPED, kidPath.c_str());
      }
    }
  } catch (...) {
    DestroyNodeAndKids(&node);
    throw;
  }
  return node;
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::CreateFromRootChecked(const char* absolutePath, const char* newName,
                                                                  const qv::plat::FileInfo& info, uint32_t timeChoice,
                                                                  CQuorvane_FileTreeNode* parent) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  EnsureRoot();
  if (parent == nullptr) parent = m__PCQuorvane_FileTreeNode__Root;
  RequireFolder("CQuorvane_FileTree::CreateFromRootChecked", parent);
  if (info.kind == qv::plat::FileKind::Other) {
    ReportSkipped(absolutePath, "is neither a file nor a folder");
    return nullptr;
  }
  const std::string longName = newName ? std::string(newName) : QuorvaneI_SanitizeUtf8(BaseName(absolutePath));
  const std::string shortName = ShortNameOf(longName.c_str());
  CQuorvane_FileTreeNode* node = nullptr;
  try {
    node = CreateFileTreeNodeAndKids(absolutePath, longName.c_str(), shortName.c_str(), info, parent, timeChoice);
  } catch (CQuorvane_Exception* e) {
    if (e != nullptr && e->Number() == EN_USER_EXCEPTION) throw;
    Notify(CN_FILE_TREE_NODE_SKIPPED, absolutePath);
    QuorvaneI_Log("\nCQuorvane_FileTree::CreateFromRootChecked(): CreateFileTreeNodeAndKids( '%s' ) failed, ignore == %s\n",
                  absolutePath, m__BOOLEAN__IsIgnoreErrors ? "TRUE" : "FALSE");
    if (!m__BOOLEAN__IsIgnoreErrors) throw;
    QuorvaneI_LogCaught("CQuorvane_FileTree::CreateFromRootChecked", e);
    delete e;
    return nullptr;
  }
  return AddKid(parent, node);
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::AddMadeNode(const char* method, const char* name,
                                                        CQuorvane_FileTreeNode* parent, const NodeMaker& make) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  EnsureRoot();
  if (parent == nullptr) parent = m__PCQuorvane_FileTreeNode__Root;
  RequireFolder(method, parent);
  if (name == nullptr)
    QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): p__PCHAR__NewName == NULL!!!", method);
  CQuorvane_FileTreeNode* node = nullptr;
  ++m__LONG__NodeCount;
  try {
    node = make(parent, ShortNameOf(name), static_cast<uint32_t>(m__LONG__NodeCount));
    if (node == nullptr)
      QuorvaneI_Throw(method, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): NewFileTreeNodeItem() for Current failed!!!",
                      method);
  } catch (CQuorvane_Exception* e) {
    --m__LONG__NodeCount;
    Notify(CN_FILE_TREE_NODE_SKIPPED, name);
    if (!m__BOOLEAN__IsIgnoreErrors) throw;
    QuorvaneI_LogCaught(method, e);
    delete e;
    return nullptr;
  }
  OnNodeAdded(node);
  return AddKid(parent, node);
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::CreateFromRootVirtual(const char* name, CQuorvane_FileTreeNode* parent,
                                                                  const uint64_t* fileTime) {
  return AddMadeNode("CQuorvane_FileTree::CreateFromRootVirtual", name, parent,
                     [&](CQuorvane_FileTreeNode* at, const std::string& shortName, uint32_t count) {
                       return NewFileTreeNodeItem(":", name, shortName.c_str(), qv::plat::kAttrDirectory, 0, at, count,
                                                  fileTime ? *fileTime : QuorvaneI_FileTimeNow());
                     });
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::CreateFromRootMemoryChecked(QV_HANDLE handle, uint64_t sizeInUCHARs,
                                                                        const char* name, uint32_t userValue,
                                                                        CQuorvane_FileTreeNode* parent) {
  return AddMadeNode("CQuorvane_FileTree::CreateFromRootMemoryChecked", name, parent,
                     [&](CQuorvane_FileTreeNode* at, const std::string& shortName, uint32_t) {
                       return NewFileTreeNodeItem(handle, sizeInUCHARs, name, shortName.c_str(), at, userValue,
                                                  QuorvaneI_FileTimeNow());
                     });
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::CreateFromRoot(const char* absolutePath, const char* newName,
                                                           uint32_t timeChoice, CQuorvane_FileTreeNode** parent) {
  static const char* const kMethod = "CQuorvane_FileTree::CreateFromRoot";
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
  m__BOOLEAN__IsCancelCreation.store(0, std::memory_order_relaxed);
  if (absolutePath == nullptr && newName == nullptr)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileTree::CreateFromRoot(): Both absolute and new names are NULL - this is illegal!!!");
  const bool rootIsNew = m__PCQuorvane_FileTreeNode__Root == nullptr;
  CQuorvane_FileTreeNode* base = parent && *parent ? *parent : EnsureRoot();
  RequireFolder(kMethod, base);
  if (parent && *parent == nullptr) *parent = base;
  const uint64_t linkedBefore = m__ULONGLONG__LinkCounter;
  CQuorvane_FileTreeNode* added = nullptr;
  try {
    if (absolutePath == nullptr) {
      added = CreateFromRootVirtual(newName, base);
    } else {
      const std::string path = absolutePath;
      qv::plat::FileInfo info;
      uint32_t error = 0;
      const bool trailing = !path.empty() && IsSeparator(path.back());
      if (!trailing && qv::plat::GetFileSystem().Stat(path, &info, &error)) {
        added = CreateFromRootChecked(path.c_str(), newName, info, timeChoice, base);
      } else {
        // A folder named with a trailing separator, or nothing by that
        // name: what is inside is added, each entry under its own name.
        std::string folder = path;
        while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
        std::vector<qv::plat::DirEntry> entries;
        if (!qv::plat::GetFileSystem().ReadDirectory(folder, &entries, &error))
          QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error,
                          "CQuorvane_FileTree::CreateFromRoot(): FindFirstFile( '%s' ) failed, status %ld!!!",
                          folder.c_str(), static_cast<long>(error));
        for (const auto& entry : entries) {
          const std::string kidPath = JoinPath(folder, entry.name);
          if (entry.error != 0) {
            Notify(CN_FILE_TREE_NODE_SKIPPED, kidPath.c_str());
            if (!m__BOOLEAN__IsIgnoreErrors)
              QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, entry.error,
                              "CQuorvane_FileTree::CreateFromRoot(): GetFileAttributes( '%s' ) failed, status %ld!!!",
                              kidPath.c_str(), static_cast<long>(entry.error));
            QuorvaneI_Log("\n%s(): GetFileAttributes( '%s' ) failed, status %ld, ignore == TRUE\n", kMethod,
                          kidPath.c_str(), static_cast<long>(entry.error));
            continue;
          }
          CreateFromRootChecked(kidPath.c_str(), nullptr, entry.info, timeChoice, base);
        }
      }
    }
  } catch (CQuorvane_Exception* e) {
    // Undo this addition: what it linked under base, and a root it made.
    if (rootIsNew && m__PCQuorvane_FileTreeNode__Root) {
      if (parent && *parent == m__PCQuorvane_FileTreeNode__Root) *parent = nullptr;
      DestroyNodeAndKids(&m__PCQuorvane_FileTreeNode__Root);
    } else {
      while (CQuorvane_FileTreeNode* last = base->GetLastKid()) {
        if (last->m__ULONGLONG__LinkOrder <= linkedBefore) break;
        DestroyNodeAndKids(&last);
      }
    }
    QuorvaneI_Rethrow(kMethod, e);
  }
  QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
  return added;
}

// --- Queries ---

CQuorvane_FileTreeNode* CQuorvane_FileTree::GetRoot() {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return m__PCQuorvane_FileTreeNode__Root;
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::GetFirstKid(const CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return node ? node->GetFirstKid() : nullptr;
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::GetNextKid(const CQuorvane_FileTreeNode* kid) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return kid ? kid->GetNextKid() : nullptr;
}

CQuorvane_FileTreeNode* CQuorvane_FileTree::GetParent(const CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return node ? node->GetParent() : nullptr;
}

uint32_t CQuorvane_FileTree::GetAttributes(const CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return node->GetAttributes();
}

void CQuorvane_FileTree::SetAttributes(CQuorvane_FileTreeNode* node, uint32_t attributes) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  node->SetAttributes(attributes);
}

int32_t CQuorvane_FileTree::GetNodeType(const CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return node->GetNodeType();
}

void CQuorvane_FileTree::GetNames(const CQuorvane_FileTreeNode* node, char* path, char* longName, char* shortName) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  // Every name is shorter than the buffers by construction.
  if (path) std::strcpy(path, node->GetAbsolutePath());
  if (longName) std::strcpy(longName, node->GetLongName());
  if (shortName) std::strcpy(shortName, node->GetShortName());
}

QV_SYSTEMTIME CQuorvane_FileTree::GetDate(const CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return node->GetDate();
}

int32_t CQuorvane_FileTree::GetDepth() {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return m__LONG__DeepestLevel;
}

int32_t CQuorvane_FileTree::GetNodeCount() {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return m__LONG__NodeCount;
}
