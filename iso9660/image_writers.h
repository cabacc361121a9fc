// The writers of ISO9660 images: the ECMA-119 hierarchy with its path
// tables, Joliet's second hierarchy, and El Torito's boot record and
// catalog. See image_layout.h for how writers make an image together.
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "iso9660/file_area.h"
#include "iso9660/image_layout.h"

class CQuorvane_ISO9660FileTreeNode;

// The directory record of ECMA-119 9.1: 33 bytes, the identifier, a pad
// byte to even length.
size_t QuorvaneI_RecordLength(size_t nameLength);
void QuorvaneI_PutRecord(uint8_t* at, uint32_t extent, uint32_t length, const uint8_t date[7], uint8_t flags,
                         std::string_view name);
// An 8-bit text field padded with spaces; a text longer than limit is left
// out whole.
void QuorvaneI_PutText(uint8_t* at, size_t field, const std::string& text, size_t limit);
// "YYYYMMDDhhmmsscc" and a zero offset; empty: "not specified".
void QuorvaneI_PutDateText(uint8_t* at, const std::string& text);
// The 7-byte date of a moment (ticks since 1601, UTC), offset 0.
void QuorvaneI_UtcDate(uint64_t fileTime, uint8_t date[7]);
// The 7-byte date of a calendar time, with its offset from UTC in
// quarter hours; all zeros before 1900.
void QuorvaneI_PutDate(const QV_SYSTEMTIME& st, int8_t quarterHours, uint8_t date[7]);

// One hierarchy of directory records (0 the primary one, 1 Joliet's): its
// folders breadth first in record order, which is the order the path
// tables need, each folder's kids in record order (ECMA-119 9.3; hidden
// kids last, and only in the primary hierarchy, which counts them in its
// directory sizes without writing a record for them).
class QuorvaneI_HierarchyWriter : public QuorvaneI_ImageWriter {
 public:
  using Node = CQuorvane_ISO9660FileTreeNode;
  QuorvaneI_HierarchyWriter(unsigned kind, Node* root);

  void Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) override;
  void Prepare(const QuorvaneI_ImageLayout& layout, const QuorvaneI_ImageContext& context) override;
  void Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) override;
  void Rewind() override;

  uint64_t PathTableSize() const { return m__PathTableSize; }
  uint32_t PathTableL() const { return m__PathL; }
  uint32_t PathTableM() const { return m__PathM; }
  // The root's record in a volume descriptor.
  void PutRootRecord(uint8_t* at, const uint8_t date[7]) const;
  // Every file of the tree, breadth first in record order.
  std::vector<Node*> FilesInOrder() const;

 protected:
  enum Region : uint32_t { kPathL, kPathM, kDirectories, kFirstOwnRegion };
  std::string_view Name(const Node* n) const;

 private:
  struct Folder {
    Node* node;
    uint32_t parentNumber;  // 1-based, in the path table
    uint32_t firstKid;
    uint32_t allKids;
  };
  void WritePathTable(bool bigEndian, uint8_t* table) const;
  // One folder's directory extent into dir, zeroed and as long as the extent.
  void WriteDirectory(size_t folder, uint8_t* dir) const;

  const unsigned m__Kind;
  std::vector<Folder> m__Folders;
  std::vector<Node*> m__Kids;
  uint64_t m__PathTableSize = 0;
  uint64_t m__DirectorySectors = 0;
  uint32_t m__PathL = 0, m__PathM = 0;
  std::unique_ptr<uint8_t[]> m__PathTables;  // L, then M
  // The directory being streamed.
  size_t m__NextFolder = 0;
  std::vector<uint8_t> m__Directory;
  size_t m__DirectoryOffset = 0;
};

// The primary hierarchy, the primary volume descriptor and the set
// terminator; with files set it also places the file data, in its order.
class QuorvaneI_ECMA119Writer : public QuorvaneI_HierarchyWriter {
 public:
  QuorvaneI_ECMA119Writer(Node* root, QuorvaneI_FileArea* files);
  void Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) override;
  void Prepare(const QuorvaneI_ImageLayout& layout, const QuorvaneI_ImageContext& context) override;
  void Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) override;
  // The primary volume descriptor, prepared.
  const uint8_t* Primary() const { return m__Primary.get(); }

 private:
  enum : uint32_t { kPrimary = kFirstOwnRegion, kTerminator };
  QuorvaneI_FileArea* m__Files;
  std::unique_ptr<uint8_t[]> m__Primary;
};

// Joliet: the second hierarchy of UCS-2 names and its supplementary
// descriptor, a copy of the primary one with Joliet's own tables and texts.
class QuorvaneI_JolietWriter : public QuorvaneI_HierarchyWriter {
 public:
  QuorvaneI_JolietWriter(Node* root, const QuorvaneI_ECMA119Writer* primary);
  void Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) override;
  void Prepare(const QuorvaneI_ImageLayout& layout, const QuorvaneI_ImageContext& context) override;
  void Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) override;

 private:
  enum : uint32_t { kSupplementary = kFirstOwnRegion };
  const QuorvaneI_ECMA119Writer* m__Primary;
  std::unique_ptr<uint8_t[]> m__Supplementary;
};

// El Torito: the boot record and the boot catalog of one boot image, or a
// boot record imported from an earlier session, copied as it was.
struct QuorvaneI_BootSettings {
  CQuorvane_ISO9660FileTreeNode* node = nullptr;
  uint8_t systemType = 0, mediaType = 0, sectorsToLoad = 0;
  const uint8_t* importedDescriptor = nullptr;  // 2048 bytes
};

class QuorvaneI_ElToritoWriter : public QuorvaneI_ImageWriter {
 public:
  explicit QuorvaneI_ElToritoWriter(const QuorvaneI_BootSettings& settings);
  // Whether the settings give anything to write.
  static bool Wanted(const QuorvaneI_BootSettings& settings);
  void Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) override;
  void Prepare(const QuorvaneI_ImageLayout& layout, const QuorvaneI_ImageContext& context) override;
  void Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) override;

 private:
  enum : uint32_t { kRecord, kCatalog };
  QuorvaneI_BootSettings m__Settings;
  uint64_t m__CatalogBlock = 0;
  std::unique_ptr<uint8_t[]> m__Blocks;  // record, then catalog
};
