// Helpers of the file source and tree tests: a tree with a simple name
// rule, a file system that fails where a test tells it to, and readers of
// whole chains.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/exception.h"
#include "files/file_chain.h"
#include "files/file_tree.h"
#include "platform/filesystem.h"
#include "support/test_support.h"

namespace qvtest {

// Runs body, expecting an engine exception; returns it (owned).
QuorvaneI_Caught CatchEngine(const std::function<void()>& body);

// Bytes of a whole chain read in pieces of chunk bytes.
std::string ReadChain(CQuorvane_FileChain& chain, uint64_t chunk);

// A tree whose names must be unique per folder by long name (a clash
// drops the new node), or any names with Clash::Allow.
class TestTree : public CQuorvane_FileTree {
 public:
  enum class Clash { SkipNew, Allow };
  struct Event {
    uint32_t reason;
    std::string name;
  };

  explicit TestTree(bool ignoreErrors = false, Clash clash = Clash::SkipNew);

  CQuorvane_FileTreeNode* NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs, const char* longName,
                                              const char* shortName, CQuorvane_FileTreeNode* parent,
                                              uint32_t userValue, uint64_t fileTime) override;
  using CQuorvane_FileTree::NewFileTreeNodeItem;
  CQuorvane_FileTreeNode* CheckName(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) override;

  // CreateFromRoot with the usual arguments: under the root, disk name,
  // dates by write time.
  CQuorvane_FileTreeNode* Add(const std::string& path, const char* name = nullptr,
                              CQuorvane_FileTreeNode* parent = nullptr, uint32_t dateChoice = 2) {
    return CreateFromRoot(path.c_str(), name, dateChoice, &parent);
  }
  // The engine exception an Add throws.
  QuorvaneI_Caught AddFails(const std::string& path);

  // "name" of each kid of node, folders as "name/{...}", in list order.
  std::string Dump(const CQuorvane_FileTreeNode* node = nullptr);
  std::vector<std::string> Names(uint32_t reason) const;

  Clash clash;
  std::vector<Event> events;

 private:
  static void Callback(QV_ULONG reason, void* context, void* parameter1, void* parameter2);
};

// The real file system, with faults where a test asks for them. Installed
// for its lifetime.
class FaultyFileSystem : public qv::plat::FileSystem {
 public:
  FaultyFileSystem();
  ~FaultyFileSystem() override;
  bool Stat(const std::string& path, qv::plat::FileInfo* info, uint32_t* error) override;
  bool ReadDirectory(const std::string& path, std::vector<qv::plat::DirEntry>* entries, uint32_t* error) override;

  std::map<std::string, uint32_t> listErrors;   // folder that cannot be listed
  std::map<std::string, uint32_t> entryErrors;  // entry that cannot be looked up
  std::function<void(const std::string&)> onList;   // runs before each listing
  int listings = 0;

 private:
  qv::plat::FileSystem* previous_;
};

}  // namespace qvtest
