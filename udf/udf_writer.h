// The UDF 1.02 writer (ECMA-167 as OSTA UDF 1.02 profiles it), one of the
// image writers of iso9660/image_layout.h:
// - after any ISO9660 descriptors, the recognition sequence BEA01, NSR02,
//   TEA01;
// - the main volume descriptor sequence at S+32 and the reserve one at
//   S+48 (primary, implementation use, partition, logical volume,
//   unallocated space, terminating descriptor), the integrity descriptor
//   at S+64, an anchor at S+256;
// - one partition from S+262 (or the first block after the ISO9660
//   tables and directories): the file set descriptor (and, in a bridge, a
//   terminating descriptor), then for each folder depth first its
//   identifiers and its kids' file entries (the root's own entry first),
//   then the file data, each folder's files in list order before its
//   subfolders';
// - an anchor in each of the last 256 blocks.
// Files take one short allocation descriptor per started 0x3FFFF800 bytes,
// so a file may be as large as 128 of them. Identifiers are written with
// the UTF-16 names the tree keeps (CS0, 8 bits a character when every
// character allows it).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "iso9660/file_area.h"
#include "iso9660/image_layout.h"

class CQuorvane_ISO9660FileTreeNode;

// The largest file a UDF image holds: 128 extents of 0x3FFFF800 bytes.
inline constexpr uint64_t kQuorvaneUdfExtentBytes = 0x3FFFF800;
inline constexpr uint64_t kQuorvaneUdfMaxFileSize = 128 * kQuorvaneUdfExtentBytes;

class QuorvaneI_UdfWriter : public QuorvaneI_ImageWriter {
 public:
  using Node = CQuorvane_ISO9660FileTreeNode;
  // With files the writer places the file data; bridge: an ISO9660
  // hierarchy shares the image.
  QuorvaneI_UdfWriter(Node* root, QuorvaneI_FileArea* files, bool bridge);
  ~QuorvaneI_UdfWriter() override;

  void Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) override;
  void Prepare(const QuorvaneI_ImageLayout& layout, const QuorvaneI_ImageContext& context) override;
  void Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) override;
  void Rewind() override;

  // The partition, in absolute blocks.
  uint64_t PartitionStart() const { return m__PartitionStart; }
  uint64_t PartitionLength() const { return m__PartitionLength; }

 private:
  struct Folder {
    Node* node;
    uint32_t parent;  // record of the parent (the root's own)
    uint32_t firstKid, kidCount;
    uint32_t firstSubfolder, subfolders;  // their records, in kid order
    uint32_t entryBlock, dataBlock, dataBytes;
    uint64_t uniqueId, firstKidId;
  };
  enum Region : uint32_t { kBeginning, kNsr, kEnd, kVolume, kFileSet, kStructures, kTail };

  uint32_t DataBlocks(const Folder& f) const;
  void WriteIdentifiers(const Folder& f, std::vector<uint8_t>& data) const;
  void WriteEntry(uint8_t* d, const Node* node, const Folder* folder, uint32_t block, uint64_t uniqueId) const;
  void WriteVolumeDescriptors(const QuorvaneI_ImageContext& context);
  void WriteAnchor(uint8_t* d, uint32_t location) const;
  // The structures region, one block at a time.
  void NextStructureBlock();

  const bool m__Bridge;
  QuorvaneI_FileArea* const m__Files;
  std::vector<Folder> m__Folders;
  std::vector<uint32_t> m__Order;  // records depth first
  std::vector<Node*> m__Kids;
  uint64_t m__FileCount = 0;
  uint32_t m__LastBlock = 0;  // the last block of the structures, in the partition
  uint64_t m__NextUniqueId = 0;
  uint64_t m__Start = 0, m__PartitionStart = 0, m__PartitionLength = 0, m__TailStart = 0;
  uint8_t m__Date[7] = {};
  std::unique_ptr<uint8_t[]> m__Volume;   // the blocks of the volume region that hold descriptors
  std::unique_ptr<uint8_t[]> m__FileSet;  // the file set descriptor (and its terminator)
  // Where the structures stream is.
  size_t m__OrderAt = 0;
  int m__Part = 0;  // 0 the root's entry, 1 identifiers, 2 kids' entries
  uint32_t m__PartBlock = 0, m__SubfolderAt = 0;
  std::vector<uint8_t> m__Data;
  uint8_t m__Block[2048] = {};
  uint32_t m__BlockOffset = 2048;
};
