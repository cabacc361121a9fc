// The file tree: the folders and files a caller wants on a disc, before any
// file-system layout exists. Nodes come from disk paths (a file, a folder
// with everything below it, the contents of a folder), from virtual folders
// and from open handles of the caller. The image builders derive their trees
// and nodes from these two classes: they decide which names may live side
// by side (CheckName), what a node carries beyond the generic data
// (NewFileTreeNodeItem) and keep their totals current (OnKidLinked).
//
// Nodes are compact so that trees of a million files stay small: the three
// names share one allocation, kids form an intrusive list, and a folder
// gets a hash index of its kids only when it is large and someone looks a
// kid up by name.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/filesystem.h"
#include "quorvane.h"

// A path, and a long name, must be shorter than this.
inline constexpr size_t kQuorvaneMaxPath = 260;
// A short name at creation must be shorter than this...
inline constexpr size_t kQuorvaneShortNameSize = 13;
// ...and a renamed one is cut to this many bytes.
inline constexpr size_t kQuorvaneRenamedShortNameMax = 31;

// Node types.
inline constexpr int32_t kQuorvaneNodeImported = 1;  // preset disc location, no content
inline constexpr int32_t kQuorvaneNodeFromDisk = 2;  // made from a disk path
inline constexpr int32_t kQuorvaneNodeNoPath = 3;    // root, virtual folder, caller's handle

// Time choices of an addition.
inline constexpr uint32_t kQuorvaneTimeCreation = 0;
inline constexpr uint32_t kQuorvaneTimeLastAccess = 1;
inline constexpr uint32_t kQuorvaneTimeLastWrite = 2;  // and any other value

class CQuorvane_FileTree;

class CQuorvane_FileTreeNode {
 public:
  // Raises exception 2 when the path or the long name has 260 bytes or
  // more, or the short name 13 or more. The date is fileTime in local time;
  // a time that cannot be converted is logged and leaves the date zero.
  CQuorvane_FileTreeNode(const char* absolutePath, const char* longName, const char* shortName, uint32_t attributes,
                         uint64_t sizeInUCHARs, CQuorvane_FileTreeNode* parent, uint32_t userValue, uint64_t fileTime);
  virtual ~CQuorvane_FileTreeNode();
  CQuorvane_FileTreeNode(const CQuorvane_FileTreeNode&) = delete;
  CQuorvane_FileTreeNode& operator=(const CQuorvane_FileTreeNode&) = delete;

  // Recomputes names derived from the long and short names (image nodes).
  virtual void RebuildName();
  // The node's names in the image: clears both 260-byte buffers here.
  virtual uint32_t GetImageNames(char* name, char16_t* wideName);

  const char* GetAbsolutePath() const { return m__PCHAR__Names; }
  const char* GetLongName() const { return m__PCHAR__Names + m__USHORT__LongNameAt; }
  const char* GetShortName() const { return m__PCHAR__Names + m__USHORT__ShortNameAt; }
  // The absolute path, or the long name when the node has no disk path.
  const char* GetReportName() const {
    return m__PCHAR__Names[0] == '\0' || (m__PCHAR__Names[0] == ':' && m__PCHAR__Names[1] == '\0') ? GetLongName()
                                                                                               : m__PCHAR__Names;
  }
  uint64_t GetSizeInUCHARs() const { return m__ULONGLONG__SizeInUCHARs; }
  uint32_t GetAttributes() const { return m__ULONG__Attributes; }
  void SetAttributes(uint32_t attributes) { m__ULONG__Attributes = attributes; }
  bool IsFolder() const { return (m__ULONG__Attributes & qv::plat::kAttrDirectory) != 0; }
  int32_t GetLevel() const { return m__LONG__Level; }
  int32_t GetNodeType() const { return m__LONG__NodeType; }
  uint32_t GetUserValue() const { return m__ULONG__UserValue; }
  const QV_SYSTEMTIME& GetDate() const { return m__SYSTEMTIME__Date; }
  bool IsCounted() const { return m__BOOLEAN__IsCounted != 0; }
  // True while the node is in its parent's list of kids.
  bool IsLinked() const { return m__BOOLEAN__IsLinked != 0; }

  CQuorvane_FileTreeNode* GetParent() const { return m__PCQuorvane_FileTreeNode__Parent; }
  CQuorvane_FileTreeNode* GetFirstKid() const { return m__PCQuorvane_FileTreeNode__FirstKid; }
  CQuorvane_FileTreeNode* GetLastKid() const { return m__PCQuorvane_FileTreeNode__LastKid; }
  CQuorvane_FileTreeNode* GetNextKid() const { return m__PCQuorvane_FileTreeNode__Next; }
  CQuorvane_FileTreeNode* GetPreviousKid() const { return m__PCQuorvane_FileTreeNode__Previous; }

 protected:
  friend class CQuorvane_FileTree;
  // Replaces the long and short names; the path stays.
  void SetNames(const char* longName, const char* shortName);
  void SetNodeType(int32_t type) { m__LONG__NodeType = type; }

 private:
  void StoreNames(const char* path, const char* longName, const char* shortName);

  // This node's place among its parent's kids.
  CQuorvane_FileTreeNode* m__PCQuorvane_FileTreeNode__Next = nullptr;
  CQuorvane_FileTreeNode* m__PCQuorvane_FileTreeNode__Previous = nullptr;
  CQuorvane_FileTreeNode* m__PCQuorvane_FileTreeNode__Parent;
  CQuorvane_FileTreeNode* m__PCQuorvane_FileTreeNode__FirstKid = nullptr;
  CQuorvane_FileTreeNode* m__PCQuorvane_FileTreeNode__LastKid = nullptr;
  // Path, long and short name, each terminated, in one block; a name that
  // ends the path or equals the other name is not stored twice.
  char* m__PCHAR__Names = nullptr;
  uint64_t m__ULONGLONG__SizeInUCHARs;
  // When the node was linked; list order among a folder's kids.
  uint64_t m__ULONGLONG__LinkOrder = 0;
  QV_SYSTEMTIME m__SYSTEMTIME__Date{};
  uint32_t m__ULONG__UserValue;
  uint32_t m__ULONG__Attributes;
  int32_t m__LONG__Level;
  int32_t m__LONG__NodeType;
  uint16_t m__USHORT__LongNameAt = 0;
  uint16_t m__USHORT__ShortNameAt = 0;
  uint8_t m__BOOLEAN__IsCounted = 0;
  uint8_t m__BOOLEAN__IsLinked = 0;
};

class QuorvaneI_KidIndex;

class CQuorvane_FileTree {
 public:
  // A tree used only as a file chain may have no callback; every other tree
  // needs one.
  CQuorvane_FileTree(PQUORVANE_CALLBACK callback, void* callbackContext, bool ignoreErrors);
  virtual ~CQuorvane_FileTree();
  CQuorvane_FileTree(const CQuorvane_FileTree&) = delete;
  CQuorvane_FileTree& operator=(const CQuorvane_FileTree&) = delete;

  // --- What a derived tree decides ---
  // A file node over a caller's open handle.
  virtual CQuorvane_FileTreeNode* NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs, const char* longName,
                                                      const char* shortName, CQuorvane_FileTreeNode* parent,
                                                      uint32_t userValue, uint64_t fileTime) = 0;
  // A node from a path (empty for nodes without one). nullptr when memory
  // runs out.
  virtual CQuorvane_FileTreeNode* NewFileTreeNodeItem(const char* absolutePath, const char* longName,
                                                      const char* shortName, uint32_t attributes,
                                                      uint64_t sizeInUCHARs, CQuorvane_FileTreeNode* parent,
                                                      uint32_t userValue, uint64_t fileTime);
  virtual void OnNodeAdded(CQuorvane_FileTreeNode* node);
  virtual void OnNodeRemoved(CQuorvane_FileTreeNode* node);
  virtual void OnKidLinked(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node);
  // node if it may be linked under parent, nullptr if it must be dropped.
  virtual CQuorvane_FileTreeNode* CheckName(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) = 0;
  // Renames a node that is among its parent's kids (no name check).
  virtual bool RenameNode(CQuorvane_FileTreeNode* node, const char* longName, const char* shortName);
  // The name by which FindKid finds a node, per kind of name (0 to
  // kKidKeyKinds - 1). Kind 0 is the long name here.
  virtual std::string_view KidKey(const CQuorvane_FileTreeNode* node, unsigned kind) const;
  static constexpr unsigned kKidKeyKinds = 2;

  // --- Additions ---
  // Adds a path, the contents of a folder (a path ending in a separator) or
  // a virtual folder (no path, a new name). *parent defaults to the root.
  // Returns the node added, or nullptr when it was dropped or when the
  // contents of a folder were added.
  CQuorvane_FileTreeNode* CreateFromRoot(const char* absolutePath, const char* newName, uint32_t timeChoice,
                                         CQuorvane_FileTreeNode** parent);
  CQuorvane_FileTreeNode* CreateFromRootChecked(const char* absolutePath, const char* newName,
                                                const qv::plat::FileInfo& info, uint32_t timeChoice,
                                                CQuorvane_FileTreeNode* parent);
  // An empty folder that exists only in the image, dated fileTime (or now).
  CQuorvane_FileTreeNode* CreateFromRootVirtual(const char* name, CQuorvane_FileTreeNode* parent,
                                                const uint64_t* fileTime = nullptr);
  CQuorvane_FileTreeNode* CreateFromRootMemoryChecked(QV_HANDLE handle, uint64_t sizeInUCHARs, const char* name,
                                                      uint32_t userValue, CQuorvane_FileTreeNode* parent);

  // --- Changes ---
  // Destroys a node with everything below it, leaves *node null.
  void DestroyNodeAndKids(CQuorvane_FileTreeNode** node);
  // Unlinks and destroys; false when the node is not in this tree.
  bool RemoveNode(CQuorvane_FileTreeNode** node);
  // Moves every kid of newFolder into existing, each through CheckName.
  void MergeFolders(CQuorvane_FileTreeNode* existing, CQuorvane_FileTreeNode* newFolder);
  // Links node at the tail of parent's kids if CheckName lets it, else
  // destroys it; returns the node linked or nullptr.
  CQuorvane_FileTreeNode* AddKid(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node);
  // Stops a running walk at its next node; callable from any thread.
  void Cancel() { m__BOOLEAN__IsCancelCreation.store(1, std::memory_order_relaxed); }

  // --- Queries ---
  CQuorvane_FileTreeNode* GetRoot();
  CQuorvane_FileTreeNode* GetFirstKid(const CQuorvane_FileTreeNode* node);
  CQuorvane_FileTreeNode* GetNextKid(const CQuorvane_FileTreeNode* kid);
  CQuorvane_FileTreeNode* GetParent(const CQuorvane_FileTreeNode* node);
  uint32_t GetAttributes(const CQuorvane_FileTreeNode* node);
  void SetAttributes(CQuorvane_FileTreeNode* node, uint32_t attributes);
  int32_t GetNodeType(const CQuorvane_FileTreeNode* node);
  // Copies the three names into buffers of 260 bytes each (any may be null).
  void GetNames(const CQuorvane_FileTreeNode* node, char* path, char* longName, char* shortName);
  QV_SYSTEMTIME GetDate(const CQuorvane_FileTreeNode* node);
  int32_t GetDepth();
  int32_t GetNodeCount();
  bool IsCancelled() const { return m__BOOLEAN__IsCancelCreation.load(std::memory_order_relaxed) != 0; }

  // The first kid of parent, in list order after `after` (or from the
  // first), whose key of the given kind equals key. Large folders answer
  // from a hash index, so checking every name of a big folder is linear.
  CQuorvane_FileTreeNode* FindKid(const CQuorvane_FileTreeNode* parent, std::string_view key, unsigned kind,
                                  const CQuorvane_FileTreeNode* after = nullptr);
  // A derived tree that changes what KidKey returns for a linked node calls
  // these around the change.
  void KidKeysChanging(CQuorvane_FileTreeNode* node);
  void KidKeysChanged(CQuorvane_FileTreeNode* node);

 protected:
  // Makes one node and, for a folder on disk, everything below it.
  CQuorvane_FileTreeNode* CreateFileTreeNodeAndKids(const char* absolutePath, const char* longName,
                                                    const char* shortName, const qv::plat::FileInfo& info,
                                                    CQuorvane_FileTreeNode* parent, uint32_t timeChoice);
  // Calls the callback (when there is one).
  void Notify(uint32_t reason, const void* argument);
  // Creates the root when there is none; returns it.
  CQuorvane_FileTreeNode* EnsureRoot();
  // Puts node at the tail of parent's kids, without any check.
  void LinkKid(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node);
  void UnlinkKid(CQuorvane_FileTreeNode* node);
  // Frees the name indexes of large folders (they come back on the next
  // lookup), so that building an image does not hold them as well.
  void DropKidIndexes();

  // While CreateFileTreeNodeAndKids makes a node: what the disk said of it.
  const qv::plat::FileInfo* m__PFileInfo__Creating = nullptr;
  std::recursive_mutex m__CriticalSection;
  std::atomic<uint8_t> m__BOOLEAN__IsCancelCreation{0};
  const uint8_t m__BOOLEAN__IsIgnoreErrors;
  PQUORVANE_CALLBACK m__PQUORVANE_CALLBACK__Callback;
  void* m__PVOID__CallbackContext;
  int32_t m__LONG__DeepestLevel = 0;
  int32_t m__LONG__NodeCount = 0;
  CQuorvane_FileTreeNode* m__PCQuorvane_FileTreeNode__Root = nullptr;

 private:
  using NodeMaker =
      std::function<CQuorvane_FileTreeNode*(CQuorvane_FileTreeNode* parent, const std::string& shortName, uint32_t count)>;
  // Makes one node without disk contents, reports it and links it.
  CQuorvane_FileTreeNode* AddMadeNode(const char* method, const char* name, CQuorvane_FileTreeNode* parent,
                                      const NodeMaker& make);
  void ReportSkipped(const char* path, const char* why);
  // Kids go into folders only.
  void RequireFolder(const char* method, const CQuorvane_FileTreeNode* parent);
  // Destroys top and everything below it, reporting each node when asked.
  void DestroySubtree(CQuorvane_FileTreeNode* top, bool report);
  QuorvaneI_KidIndex* IndexOf(const CQuorvane_FileTreeNode* folder);

  uint64_t m__ULONGLONG__LinkCounter = 0;
  // Identities of the folders the running walk is inside, to catch links
  // that lead back up.
  std::vector<std::pair<uint64_t, uint64_t>> m__WalkStack;
  std::unordered_map<const CQuorvane_FileTreeNode*, std::unique_ptr<QuorvaneI_KidIndex>> m__KidIndexes;
};

// Cuts a UTF-8 name to at most maxBytes bytes without splitting a character.
size_t QuorvaneI_Utf8Prefix(const char* name, size_t maxBytes);
// A name made valid UTF-8: every byte that does not belong to a well-formed
// sequence becomes '_'.
std::string QuorvaneI_SanitizeUtf8(std::string_view name);
