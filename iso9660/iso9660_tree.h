// ISO9660 images of a file tree, streamed.
//
// Building lays out the whole image before the first byte is read, through
// the writers of image_writers.h over one layout (image_layout.h): every
// folder gets its directory extent and number, every file its first block.
// The image is then a file chain read straight from the files, with the
// file-system structures made as the stream reaches them. Nothing is
// written to a temporary file and the bytes do not depend on how the chain
// is read. Folders are numbered, and folders and files placed, breadth
// first in record order, which is also the order the path tables need.
//
// Limits, each refused with a clear exception when a node is made or the
// image is built: files of 4 GiB or more (exception 18; their size does not
// fit a directory record), more than 65535 folders (exception 20; the path
// table numbers them in 16 bits).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_chain.h"
#include "files/file_tree.h"
#include "files/image_handles.h"
#include "iso9660/image_layout.h"

class QuorvaneI_FileArea;
// Files must be smaller than this.
inline constexpr uint64_t kQuorvaneISO9660MaxFileSize = uint64_t{1} << 32;
inline constexpr uint32_t kQuorvaneISO9660MaxFolders = 65535;

// El Torito media types and the defaults of a tree's boot settings.
inline constexpr uint8_t kQuorvaneBootMediaNone = 0;
inline constexpr uint8_t kQuorvaneBootMediaHardDisk = 4;
inline constexpr uint8_t kQuorvaneBootDefaultSystemType = 6;
inline constexpr uint8_t kQuorvaneBootDefaultSectors = 1;
inline constexpr uint8_t kQuorvaneBootDefaultMedia = 2;

class CQuorvane_ISO9660FileTree;

class CQuorvane_ISO9660FileTreeNode : public CQuorvane_FileTreeNode {
 public:
  // A node from a path (or without one). With lockFiles a file keeps its
  // file open from now until the tree goes; without it the file is opened
  // now only to see that it can be read (unless knownReadable says its
  // permission bits settle that). presetAddress (imported nodes)
  // places a file at an existing extent with no data to write. Without
  // isoRecords (a tree with no ISO9660 hierarchy) files may be 4 GiB or
  // more.
  CQuorvane_ISO9660FileTreeNode(const char* absolutePath, const char* longName, const char* shortName,
                                uint32_t attributes, uint64_t sizeInUCHARs, CQuorvane_FileTreeNode* parent,
                                uint32_t userValue, uint64_t fileTime, bool longNames, bool lockFiles,
                                uint32_t presetAddress = 0, bool knownReadable = false, bool isoRecords = true);
  // A file whose contents come from the caller's open handle (duplicated).
  CQuorvane_ISO9660FileTreeNode(QV_HANDLE handle, uint64_t sizeInUCHARs, const char* longName, const char* shortName,
                                CQuorvane_FileTreeNode* parent, uint32_t userValue, uint64_t fileTime, bool longNames,
                                bool isoRecords = true);
  // A file whose contents come from source, which the node keeps.
  CQuorvane_ISO9660FileTreeNode(std::unique_ptr<CQuorvane_File> source, uint64_t sizeInUCHARs, const char* longName,
                                const char* shortName, CQuorvane_FileTreeNode* parent, uint32_t userValue,
                                uint64_t fileTime, bool isoRecords);
  ~CQuorvane_ISO9660FileTreeNode() override;

  void RebuildName() override;
  // The ISO9660 identifier, and the Joliet identifier as UTF-16 in machine
  // order (260 bytes each); returns the Joliet identifier's length in bytes.
  uint32_t GetImageNames(char* name, char16_t* wideName) override;

  std::string_view GetISOName() const;
  // Joliet identifier, big-endian UCS-2 bytes (empty in plain trees).
  std::string_view GetJolietName() const;
  void SetISOName(std::string_view name);
  void SetJolietName(std::string_view bigEndianUnits);
  // The second image name as it is stored (at most 255 bytes): Joliet
  // trees keep their Joliet identifier there, UDF trees their UDF one.
  std::string_view GetSecondName() const { return GetJolietName(); }
  void SetSecondName(std::string_view bytes);

  const uint8_t* GetRecordingDate() const { return m__UCHAR__RecordingDate; }
  void SetRecordingDate(const uint8_t date[7]);
  uint32_t GetStartAddress() const { return m__ULONG__StartAddress; }
  void SetStartAddress(uint32_t address) { m__ULONG__StartAddress = address; }
  // A folder's directory extent in one hierarchy (0 primary, 1 Joliet),
  // while an image is built.
  uint32_t GetDirectoryAddress(unsigned kind) const {
    return kind == 0 ? m__ULONG__StartAddress : m__ULONG__JolietStartAddress;
  }
  uint32_t GetDirectorySectors(unsigned kind) const {
    return kind == 0 ? m__ULONG__DirectorySectors : m__ULONG__JolietDirectorySectors;
  }
  void SetDirectoryAddress(unsigned kind, uint32_t address) {
    (kind == 0 ? m__ULONG__StartAddress : m__ULONG__JolietStartAddress) = address;
  }
  void SetDirectorySectors(unsigned kind, uint32_t sectors) {
    (kind == 0 ? m__ULONG__DirectorySectors : m__ULONG__JolietDirectorySectors) = sectors;
  }
  uint64_t GetSizeInSectors() const { return (GetSizeInUCHARs() + kQuorvaneSectorSize - 1) / kQuorvaneSectorSize; }
  // Left out of its folder's records (its data is still written).
  bool IsHidden() const { return m__BOOLEAN__Hidden != 0; }
  void SetHidden(bool hidden) { m__BOOLEAN__Hidden = hidden ? 1 : 0; }
  bool HasPresetAddress() const { return m__BOOLEAN__PresetAddress != 0; }
  // The source that holds the file open (lock-files option, caller's
  // handle), or nullptr.
  CQuorvane_File* GetContentSource() const { return m__PCQuorvane_File__Content.get(); }
  bool UsesLongNames() const { return m__BOOLEAN__LongNames != 0; }

 protected:
  friend class CQuorvane_ISO9660FileTree;
  void MakeISOName();

 private:
  void StoreImageNames(std::string_view iso, std::string_view joliet);

  // Smallest members first: they fill the padding at the end of the base
  // node, which keeps a node of a million-file tree in a smaller block.
  uint8_t m__UCHAR__RecordingDate[7] = {};
  uint8_t m__BOOLEAN__Hidden = 0;
  uint8_t m__BOOLEAN__PresetAddress = 0;
  uint8_t m__BOOLEAN__LongNames = 0;
  uint32_t m__ULONG__StartAddress = 0;
  // Folders, while an image is built: extent sectors of each hierarchy,
  // and the Joliet extent's first block.
  uint32_t m__ULONG__DirectorySectors = 0;
  uint32_t m__ULONG__JolietStartAddress = 0;
  uint32_t m__ULONG__JolietDirectorySectors = 0;
  // ISO9660 and Joliet identifiers in one block: [n][n bytes][m][m bytes].
  std::unique_ptr<uint8_t[]> m__PUCHAR__ImageNames;
  std::unique_ptr<CQuorvane_File> m__PCQuorvane_File__Content;
};

class CQuorvane_ISO9660FileTree : public CQuorvane_FileTree,
                                  public CQuorvane_FileChain,
                                  public CQuorvane_ImageSource,
                                  public CQuorvane_FileChangeListener {
 public:
  CQuorvane_ISO9660FileTree(PQUORVANE_CALLBACK callback, void* callbackContext, bool ignoreErrors, bool lockFiles,
                            bool longNames);
  ~CQuorvane_ISO9660FileTree() override;

  using CQuorvane_FileTree::NewFileTreeNodeItem;
  CQuorvane_FileTreeNode* NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs, const char* longName,
                                              const char* shortName, CQuorvane_FileTreeNode* parent,
                                              uint32_t userValue, uint64_t fileTime) override;
  CQuorvane_FileTreeNode* NewFileTreeNodeItem(const char* absolutePath, const char* longName, const char* shortName,
                                              uint32_t attributes, uint64_t sizeInUCHARs,
                                              CQuorvane_FileTreeNode* parent, uint32_t userValue,
                                              uint64_t fileTime) override;
  void OnNodeRemoved(CQuorvane_FileTreeNode* node) override;
  CQuorvane_FileTreeNode* CheckName(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) override;
  bool RenameNode(CQuorvane_FileTreeNode* node, const char* longName, const char* shortName) override;
  // Kind 0: the ISO9660 identifier; kind 1: the Joliet identifier.
  std::string_view KidKey(const CQuorvane_FileTreeNode* node, unsigned kind) const override;

  // The El Torito boot image: a file node "boot.img" at the root, hidden
  // (no record) when hide is set. A second call replaces the first image.
  // mediaType 0-4; a floppy image must have the floppy's exact size.
  void SetBootImage(const char* path, uint64_t sizeInUCHARs, uint8_t systemType, uint8_t mediaType,
                    uint8_t sectorsToLoad, bool hide);
  CQuorvane_ISO9660FileTreeNode* GetBootNode();
  // A boot record of an earlier session, written when no boot image is set.
  void SetImportedBootDescriptor(const uint8_t descriptor[2048]);
  // A node of an earlier session at its old extent (folders get new
  // directories when the image is built); named, checked and linked like
  // a new node. nullptr when the name check dropped it. See import.h.
  CQuorvane_FileTreeNode* ImportFileTreeNode(const char* absolutePath, const char* name, uint32_t attributes,
                                             const uint8_t date[7], uint32_t startAddress, uint32_t sizeInUCHARs,
                                             CQuorvane_FileTreeNode* parent);
  // Something of an earlier session left out: logged with why, and told
  // to the callback (CN_FILE_TREE_NODE_SKIPPED) with its path.
  void ReportImportSkipped(const char* path, const char* why);
  void ClearCancel() { m__BOOLEAN__IsCancelCreation.store(0, std::memory_order_relaxed); }

  // Lays out and generates the image; the chain is then complete and
  // rewound. Exception 3 without a root or when built already.
  void BuildImage(uint32_t startAddress, uint8_t xaFlag, const QuorvaneI_VolumeTexts& texts);
  bool IsImageBuild();
  CQuorvane_FileChain* BuiltImage() override { return IsImageBuild() ? this : nullptr; }
  // Volume space size: the block after the image's last.
  uint32_t GetVolumeSpaceSize();

  // The image, read under the tree's lock as well as the chain's.
  void Read(uint64_t length, void* buffer) override;

  // Size of a file, or of everything below a folder.
  uint64_t GetNodePower(const CQuorvane_FileTreeNode* node);
  bool IsJoliet() const { return m__BOOLEAN__Joliet != 0; }
  bool LocksFiles() const { return m__BOOLEAN__LockFiles != 0; }
  void SetCallbackContext(void* context);
  // A file changed size after it was added: the callback hears of it
  // (CN_FILE_TREE_NODE_CHANGED) while the image goes on as it was laid out.
  void OnFileChanged(const char* fileName) override;
  // The tree's lock, for callers that combine several queries.
  std::recursive_mutex& Lock() { return m__CriticalSection; }
  bool UsesLongNames() const { return m__BOOLEAN__LongNames != 0; }

 protected:
  // The node being made from disk is one anyone may read: a file whose
  // folder we could list and whose bits say so opens without a trial.
  bool KnownReadable() const { return m__PFileInfo__Creating && m__PFileInfo__Creating->readableByAll; }
  // The writers of the image, in the order their descriptors go; those
  // that order the file data place it in files.
  using Writers = std::vector<std::unique_ptr<QuorvaneI_ImageWriter>>;
  virtual void AddWriters(Writers& writers, QuorvaneI_FileArea& files);
  // The check of one kind of name (0 ISO9660, 1 Joliet); nullptr when the
  // new node is dropped.
  CQuorvane_FileTreeNode* CheckKind(CQuorvane_FileTreeNode* parent, CQuorvane_ISO9660FileTreeNode* node,
                                    unsigned kind);
  // A kind-1 name as UTF-16 for a collision record, and the one the
  // collision callback chose instead.
  virtual std::u16string SecondNameUnits(const CQuorvane_ISO9660FileTreeNode* node) const;
  virtual void RenameSecondName(CQuorvane_ISO9660FileTreeNode* node, const std::u16string& chosen);
  // Joliet trees set this in their constructor.
  uint8_t m__BOOLEAN__Joliet = 0;

 private:

  const uint8_t m__BOOLEAN__LockFiles;
  const uint8_t m__BOOLEAN__LongNames;
  uint8_t m__BOOLEAN__IsImageBuild = 0;
  uint32_t m__ULONG__StartAddress = 0;
  uint32_t m__ULONG__VolumeSpaceSize = 0;
  CQuorvane_ISO9660FileTreeNode* m__PCQuorvane_ISO9660FileTreeNode__Boot = nullptr;
  uint8_t m__UCHAR__BootSystemType = kQuorvaneBootDefaultSystemType;
  uint8_t m__UCHAR__BootSectorCount = kQuorvaneBootDefaultSectors;
  uint8_t m__UCHAR__BootMediaType = kQuorvaneBootDefaultMedia;
  std::unique_ptr<uint8_t[]> m__PUCHAR__ImportedBootDescriptor;
  Writers m__Writers;
  std::unique_ptr<QuorvaneI_FileArea> m__FileArea;
  std::unique_ptr<CQuorvane_File> m__PCQuorvane_File__Image;
};

// The Joliet tree: the same image with a second hierarchy of Unicode names
// (see iso9660_names.h), pointing at the same file data.
class CQuorvane_JolietFileTree : public CQuorvane_ISO9660FileTree {
 public:
  CQuorvane_JolietFileTree(PQUORVANE_CALLBACK callback, void* callbackContext, bool ignoreErrors, bool lockFiles,
                           bool longNames);
  using CQuorvane_ISO9660FileTree::NewFileTreeNodeItem;
  CQuorvane_FileTreeNode* NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs, const char* longName,
                                              const char* shortName, CQuorvane_FileTreeNode* parent,
                                              uint32_t userValue, uint64_t fileTime) override;
  CQuorvane_FileTreeNode* NewFileTreeNodeItem(const char* absolutePath, const char* longName, const char* shortName,
                                              uint32_t attributes, uint64_t sizeInUCHARs,
                                              CQuorvane_FileTreeNode* parent, uint32_t userValue,
                                              uint64_t fileTime) override;
};

// A node of a Joliet tree: the ISO9660 node with its Joliet identifier made
// from the long name (which must be shorter than 108 bytes, exception 2).
class CQuorvane_JolietFileTreeNode : public CQuorvane_ISO9660FileTreeNode {
 public:
  template <class... Args>
  explicit CQuorvane_JolietFileTreeNode(Args&&... args)
      : CQuorvane_ISO9660FileTreeNode(static_cast<Args&&>(args)...) {
    MakeJolietName();
  }
  void RebuildName() override;

 private:
  void MakeJolietName();
};

// The Joliet identifier of a long name: big-endian UCS-2 bytes.
// Exception 2 for a long name of 108 bytes or more, 5 when it is not text.
std::string QuorvaneI_JolietName(const char* longName, bool folder);
