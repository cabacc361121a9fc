#include "files_support.h"

#include <new>

namespace qvtest {

QuorvaneI_Caught CatchEngine(const std::function<void()>& body) {
  try {
    body();
  } catch (CQuorvane_Exception* e) {
    return QuorvaneI_Caught(e);
  }
  ADD_FAILURE() << "no engine exception";
  return nullptr;
}

std::string ReadChain(CQuorvane_FileChain& chain, uint64_t chunk) {
  uint64_t total = 0;
  chain.GetSizeInUCHARs(&total);
  std::string out(total, '\0');
  for (uint64_t at = 0; at < total; at += chunk) chain.Read(std::min(chunk, total - at), out.data() + at);
  return out;
}

TestTree::TestTree(bool ignoreErrors, Clash clashPolicy)
    : CQuorvane_FileTree(&TestTree::Callback, this, ignoreErrors), clash(clashPolicy) {}

void TestTree::Callback(QV_ULONG reason, void* context, void* parameter1, void*) {
  auto* self = static_cast<TestTree*>(context);
  self->events.push_back({reason, parameter1 ? static_cast<const char*>(parameter1) : ""});
}

CQuorvane_FileTreeNode* TestTree::NewFileTreeNodeItem(QV_HANDLE, uint64_t sizeInUCHARs, const char* longName,
                                                      const char* shortName, CQuorvane_FileTreeNode* parent,
                                                      uint32_t userValue, uint64_t fileTime) {
  return new (std::nothrow)
      CQuorvane_FileTreeNode("", longName, shortName, qv::plat::kAttrNormal, sizeInUCHARs, parent, userValue, fileTime);
}

CQuorvane_FileTreeNode* TestTree::CheckName(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) {
  if (clash == Clash::Allow || FindKid(parent, node->GetLongName(), 0) == nullptr) return node;
  Notify(CN_FILE_TREE_NAME_COLLISION, node->GetLongName());
  return nullptr;
}

QuorvaneI_Caught TestTree::AddFails(const std::string& path) {
  return CatchEngine([&] { Add(path); });
}

std::string TestTree::Dump(const CQuorvane_FileTreeNode* node) {
  if (node == nullptr) node = GetRoot();
  if (node == nullptr) return "<empty>";
  std::string out;
  for (auto* k = node->GetFirstKid(); k; k = k->GetNextKid()) {
    if (!out.empty()) out += ' ';
    out += k->GetLongName();
    if (k->IsFolder()) out += "/{" + Dump(k) + "}";
  }
  return out;
}

std::vector<std::string> TestTree::Names(uint32_t reason) const {
  std::vector<std::string> names;
  for (const auto& e : events)
    if (e.reason == reason) names.push_back(e.name);
  return names;
}

FaultyFileSystem::FaultyFileSystem() : previous_(qv::plat::SetFileSystem(this)) {}
FaultyFileSystem::~FaultyFileSystem() { qv::plat::SetFileSystem(previous_); }

bool FaultyFileSystem::Stat(const std::string& path, qv::plat::FileInfo* info, uint32_t* error) {
  if (auto it = entryErrors.find(path); it != entryErrors.end()) {
    *error = it->second;
    return false;
  }
  return FileSystem::Stat(path, info, error);
}

bool FaultyFileSystem::ReadDirectory(const std::string& path, std::vector<qv::plat::DirEntry>* entries,
                                     uint32_t* error) {
  ++listings;
  if (onList) onList(path);
  if (auto it = listErrors.find(path); it != listErrors.end()) {
    *error = it->second;
    return false;
  }
  if (!FileSystem::ReadDirectory(path, entries, error)) return false;
  for (auto& e : *entries)
    if (auto it = entryErrors.find(path + "/" + e.name); it != entryErrors.end()) e.error = it->second;
  return true;
}

}  // namespace qvtest
