#include "udf/udf_writer.h"

#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "iso9660/iso9660_tree.h"
#include "platform/errors.h"
#include "udf/udf_descriptors.h"

namespace {

constexpr uint32_t kBlock = kQuorvaneSectorSize;
constexpr uint64_t kVolumeFirst = 32;     // the main sequence; the region runs to the anchor
constexpr uint64_t kVolumeBlocks = 225;   // S+32 to S+256
constexpr uint64_t kReserveAt = 16;       // from S+32: S+48
constexpr uint64_t kIntegrityAt = 32;     // S+64
constexpr uint64_t kAnchorAt = 224;       // S+256
constexpr uint64_t kPartitionAt = 262;    // the partition's first block, at the earliest
constexpr uint64_t kTailBlocks = 256;
constexpr uint32_t kSequenceBytes = 16 * kBlock;
constexpr uint64_t kFirstUniqueId = 16;   // 0 to 15 are the root's and reserved
constexpr size_t kEntryFixed = 176;
constexpr size_t kAttributesLength = 132;
constexpr char kCreator[] = "*UDF Image Creator";
constexpr char kDomain[] = "*OSTA UDF Compliant";
const std::string_view kDomainSuffix("\x02\x01\x03", 3);  // UDF 1.02, hard and soft write protection
const std::string_view kUdfSuffix("\x02\x01", 2);         // UDF 1.02

// Blocks of the volume region that hold a descriptor, in the order they
// are kept.
constexpr uint64_t kVolumeSlots[] = {0, 1, 2, 3, 4, 5, 16, 17, 18, 19, 20, 21, 32, 33, 224};

int SlotOf(uint64_t block) {
  for (size_t i = 0; i < std::size(kVolumeSlots); ++i)
    if (kVolumeSlots[i] == block) return static_cast<int>(i);
  return -1;
}

// UDF trees keep a node's identifier as CS0 bytes.
std::string_view UdfName(const CQuorvane_ISO9660FileTreeNode* node) { return node->GetSecondName(); }

uint32_t IdentifierLength(const CQuorvane_ISO9660FileTreeNode* node) {
  return static_cast<uint32_t>((38 + UdfName(node).size() + 3) & ~size_t{3});
}

void PutLongAd(uint8_t* at, uint32_t length, uint32_t block, uint64_t uniqueId) {
  QuorvaneI_PutLE32(at, length);
  QuorvaneI_PutLE32(at + 4, block);
  QuorvaneI_PutLE16(at + 8, 0);  // partition reference
  // Implementation use: flags, then the entry's unique id (UDF 2.3.4.3).
  QuorvaneI_PutLE32(at + 12, static_cast<uint32_t>(uniqueId));
}

// An implementation use extended attribute (UDF 3.3.4.5): its header, a
// checksum of the header, the rest zero.
void PutImplementationAttribute(uint8_t* at, std::string_view identifier, uint32_t useLength) {
  QuorvaneI_PutLE32(at, 2048);  // attribute type
  at[4] = 1;                    // subtype
  QuorvaneI_PutLE32(at + 8, 48 + useLength);
  QuorvaneI_PutLE32(at + 12, useLength);
  QuorvaneI_PutRegid(at + 16, 0, identifier, kUdfSuffix);
  uint16_t sum = 0;
  for (int i = 0; i < 48; ++i) sum = static_cast<uint16_t>(sum + at[i]);
  QuorvaneI_PutLE16(at + 48, sum);
}

// A volume structure descriptor of the recognition sequence, or the part
// of it a read asks for.
void PutRecognition(uint8_t* out, uint64_t offset, uint64_t length, const char* identifier) {
  uint8_t d[7] = {0, 0, 0, 0, 0, 0, 1};
  std::memcpy(d + 1, identifier, 5);
  if (offset < sizeof d) std::memcpy(out, d + offset, std::min<uint64_t>(length, sizeof d - offset));
}

}  // namespace

QuorvaneI_UdfWriter::QuorvaneI_UdfWriter(Node* root, QuorvaneI_FileArea* files, bool bridge)
    : m__Bridge(bridge), m__Files(files) {
  // Records breadth first, so each folder's subfolders are consecutive...
  m__Folders.push_back({root, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0});
  for (size_t r = 0; r < m__Folders.size(); ++r) {
    const auto first = static_cast<uint32_t>(m__Kids.size());
    uint32_t bytes = 40;  // the parent's identifier
    const auto firstSubfolder = static_cast<uint32_t>(m__Folders.size());
    for (auto* k = m__Folders[r].node->GetFirstKid(); k; k = k->GetNextKid()) {
      auto* kid = static_cast<Node*>(k);
      if (kid->IsHidden()) continue;
      m__Kids.push_back(kid);
      bytes += IdentifierLength(kid);
      if (kid->IsFolder()) m__Folders.push_back({kid, static_cast<uint32_t>(r), 0, 0, 0, 0, 0, 0, 0, 0, 0});
      else ++m__FileCount;
    }
    Folder& f = m__Folders[r];
    f.firstKid = first;
    f.kidCount = static_cast<uint32_t>(m__Kids.size() - first);
    f.firstSubfolder = firstSubfolder;
    f.subfolders = static_cast<uint32_t>(m__Folders.size() - firstSubfolder);
    f.dataBytes = bytes;
  }
  // ...and laid out depth first.
  std::vector<uint32_t> stack{0};
  while (!stack.empty()) {
    const uint32_t r = stack.back();
    stack.pop_back();
    m__Order.push_back(r);
    for (uint32_t s = m__Folders[r].subfolders; s-- > 0;) stack.push_back(m__Folders[r].firstSubfolder + s);
  }
  uint32_t counter = bridge ? 1 : 0;  // the file set descriptor (and its terminator)
  uint64_t uniqueId = kFirstUniqueId;
  m__Folders[0].entryBlock = ++counter;
  for (uint32_t r : m__Order) {
    Folder& f = m__Folders[r];
    f.dataBlock = counter + 1;
    counter += DataBlocks(f);
    f.firstKidId = uniqueId + 1;
    uint32_t sub = f.firstSubfolder;
    for (uint32_t k = 0; k < f.kidCount; ++k) {
      ++counter;
      ++uniqueId;
      if (m__Kids[f.firstKid + k]->IsFolder()) {
        m__Folders[sub].entryBlock = counter;
        m__Folders[sub++].uniqueId = uniqueId;
      }
    }
  }
  m__LastBlock = counter;
  m__NextUniqueId = uniqueId + 1;
}

QuorvaneI_UdfWriter::~QuorvaneI_UdfWriter() = default;

uint32_t QuorvaneI_UdfWriter::DataBlocks(const Folder& f) const {
  return static_cast<uint32_t>(QuorvaneI_Sectors(f.dataBytes));
}

void QuorvaneI_UdfWriter::Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) {
  switch (step) {
    case QuorvaneI_LayoutStep::kTerminators:
      layout.ReserveDescriptor(this, kBeginning);
      layout.ReserveDescriptor(this, kNsr);
      layout.ReserveDescriptor(this, kEnd);
      break;
    case QuorvaneI_LayoutStep::kSystemArea:
      m__Start = layout.Start();
      layout.ReserveAt(m__Start + kVolumeFirst, kVolumeBlocks, this, kVolume);
      layout.SkipTo(m__Start + kVolumeFirst + kVolumeBlocks);
      break;
    case QuorvaneI_LayoutStep::kStructures:
      layout.SkipTo(m__Start + kPartitionAt);
      m__PartitionStart = layout.Reserve(m__Bridge ? 2 : 1, this, kFileSet);
      layout.Reserve(m__LastBlock - (m__Bridge ? 1 : 0), this, kStructures);
      break;
    case QuorvaneI_LayoutStep::kFiles: {
      if (m__Files != nullptr) {
        std::vector<Node*> files;
        for (uint32_t r : m__Order)
          for (uint32_t k = 0; k < m__Folders[r].kidCount; ++k)
            if (!m__Kids[m__Folders[r].firstKid + k]->IsFolder()) files.push_back(m__Kids[m__Folders[r].firstKid + k]);
        m__Files->Place(layout, files);
      }
      m__PartitionLength = layout.Cursor() - m__PartitionStart;
      break;
    }
    case QuorvaneI_LayoutStep::kTail: m__TailStart = layout.Reserve(kTailBlocks, this, kTail); break;
    default: break;
  }
}

void QuorvaneI_UdfWriter::WriteAnchor(uint8_t* d, uint32_t location) const {
  QuorvaneI_PutLE32(d + 16, kSequenceBytes);
  QuorvaneI_PutLE32(d + 20, static_cast<uint32_t>(m__Start + kVolumeFirst));
  QuorvaneI_PutLE32(d + 24, kSequenceBytes);
  QuorvaneI_PutLE32(d + 28, static_cast<uint32_t>(m__Start + kVolumeFirst + kReserveAt));
  QuorvaneI_PutUdfTag(d, kQuorvaneUdfAnchor, location, 512);
}

void QuorvaneI_UdfWriter::WriteVolumeDescriptors(const QuorvaneI_ImageContext& c) {
  m__Volume = std::make_unique<uint8_t[]>(std::size(kVolumeSlots) * kBlock);
  const std::string& label = c.texts.label;
  const bool wide = !m__Bridge;
  for (uint64_t sequence : {uint64_t{0}, kReserveAt}) {
    const auto at = [&](uint64_t i) { return m__Volume.get() + SlotOf(sequence + i) * kBlock; };
    const auto location = [&](uint64_t i) { return static_cast<uint32_t>(m__Start + kVolumeFirst + sequence + i); };
    uint8_t* d = at(0);  // primary volume descriptor
    QuorvaneI_PutDString(d + 24, 32, label, wide);
    QuorvaneI_PutLE16(d + 56, 1);
    QuorvaneI_PutLE16(d + 58, 1);
    QuorvaneI_PutLE16(d + 60, 2);
    QuorvaneI_PutLE16(d + 62, 2);
    QuorvaneI_PutLE32(d + 64, 1);
    QuorvaneI_PutLE32(d + 68, 1);
    QuorvaneI_PutDString(d + 72, 128, label, wide);
    QuorvaneI_PutCharspec(d + 200);
    QuorvaneI_PutCharspec(d + 264);
    QuorvaneI_PutTimestamp(d + 376, m__Date);
    QuorvaneI_PutRegid(d + 388, 0, kCreator);
    QuorvaneI_PutUdfTag(d, kQuorvaneUdfPrimaryVolume, location(0), 512);

    d = at(1);  // implementation use: the logical volume information
    QuorvaneI_PutLE32(d + 16, 1);
    QuorvaneI_PutRegid(d + 20, 0, "*UDF LV Info", kUdfSuffix);
    QuorvaneI_PutCharspec(d + 52);
    QuorvaneI_PutDString(d + 116, 128, label, wide);
    QuorvaneI_PutRegid(d + 352, 0, kCreator);
    QuorvaneI_PutUdfTag(d, kQuorvaneUdfImplementationUse, location(1), 512);

    d = at(2);  // partition
    QuorvaneI_PutLE32(d + 16, 2);
    QuorvaneI_PutLE16(d + 20, 1);  // allocated
    QuorvaneI_PutRegid(d + 24, m__Bridge ? 2 : 0, "+NSR02");
    QuorvaneI_PutLE32(d + 184, 1);  // read only
    QuorvaneI_PutLE32(d + 188, static_cast<uint32_t>(m__PartitionStart));
    QuorvaneI_PutLE32(d + 192, static_cast<uint32_t>(m__PartitionLength));
    QuorvaneI_PutRegid(d + 196, 0, kCreator);
    QuorvaneI_PutUdfTag(d, kQuorvaneUdfPartition, location(2), 512);

    d = at(3);  // logical volume
    QuorvaneI_PutLE32(d + 16, 3);
    QuorvaneI_PutCharspec(d + 20);
    QuorvaneI_PutDString(d + 84, 128, label, wide);
    QuorvaneI_PutLE32(d + 212, kBlock);
    QuorvaneI_PutRegid(d + 216, 0, kDomain, kDomainSuffix);
    QuorvaneI_PutLE32(d + 248, (m__Bridge ? 2 : 1) * kBlock);  // the file set descriptor's extent, at block 0
    QuorvaneI_PutLE32(d + 264, 6);
    QuorvaneI_PutLE32(d + 268, 1);
    QuorvaneI_PutRegid(d + 272, 0, kCreator);
    QuorvaneI_PutLE32(d + 432, 2 * kBlock);
    QuorvaneI_PutLE32(d + 436, static_cast<uint32_t>(m__Start + kVolumeFirst + kIntegrityAt));
    d[440] = 1;  // partition map type 1: volume 1, partition 0
    d[441] = 6;
    QuorvaneI_PutLE16(d + 442, 1);
    QuorvaneI_PutUdfTag(d, kQuorvaneUdfLogicalVolume, location(3), 446);

    d = at(4);  // unallocated space: none
    QuorvaneI_PutLE32(d + 16, 4);
    QuorvaneI_PutUdfTag(d, kQuorvaneUdfUnallocatedSpace, location(4), 24);

    QuorvaneI_PutUdfTag(at(5), kQuorvaneUdfTerminating, location(5), 512);
  }

  uint8_t* d = m__Volume.get() + SlotOf(kIntegrityAt) * kBlock;
  QuorvaneI_PutTimestamp(d + 16, m__Date);
  QuorvaneI_PutLE32(d + 28, 1);  // closed
  QuorvaneI_PutLE64(d + 40, m__NextUniqueId);
  QuorvaneI_PutLE32(d + 72, 1);   // one partition
  QuorvaneI_PutLE32(d + 76, 46);  // implementation use
  QuorvaneI_PutLE32(d + 80, 0);   // free space
  QuorvaneI_PutLE32(d + 84, static_cast<uint32_t>(m__PartitionLength));
  QuorvaneI_PutRegid(d + 88, 0, kCreator);
  QuorvaneI_PutLE32(d + 120, static_cast<uint32_t>(m__FileCount));
  QuorvaneI_PutLE32(d + 124, static_cast<uint32_t>(m__Folders.size()));
  for (int i = 0; i < 3; ++i) QuorvaneI_PutLE16(d + 128 + 2 * i, 0x0102);  // read, write, maximum write revision
  const uint32_t integrity = static_cast<uint32_t>(m__Start + kVolumeFirst + kIntegrityAt);
  QuorvaneI_PutUdfTag(d, kQuorvaneUdfIntegrity, integrity, 134);
  QuorvaneI_PutUdfTag(m__Volume.get() + SlotOf(kIntegrityAt + 1) * kBlock, kQuorvaneUdfTerminating, integrity + 1,
                      512);
  WriteAnchor(m__Volume.get() + SlotOf(kAnchorAt) * kBlock, static_cast<uint32_t>(m__Start + kVolumeFirst + kAnchorAt));
}

void QuorvaneI_UdfWriter::Prepare(const QuorvaneI_ImageLayout&, const QuorvaneI_ImageContext& c) {
  QuorvaneI_LocalDate(c.now, m__Date);
  WriteVolumeDescriptors(c);
  m__FileSet = std::make_unique<uint8_t[]>(2 * kBlock);
  uint8_t* d = m__FileSet.get();
  QuorvaneI_PutTimestamp(d + 16, m__Date);
  QuorvaneI_PutLE16(d + 28, 3);
  QuorvaneI_PutLE16(d + 30, 3);
  QuorvaneI_PutLE32(d + 32, 1);
  QuorvaneI_PutLE32(d + 36, 1);
  QuorvaneI_PutCharspec(d + 48);
  QuorvaneI_PutDString(d + 112, 128, c.texts.label, !m__Bridge);
  QuorvaneI_PutCharspec(d + 240);
  QuorvaneI_PutDString(d + 304, 32, c.texts.label, !m__Bridge);
  PutLongAd(d + 400, kBlock, m__Folders[0].entryBlock, 0);
  QuorvaneI_PutRegid(d + 416, 0, kDomain, kDomainSuffix);
  QuorvaneI_PutUdfTag(d, kQuorvaneUdfFileSet, 0, 512);
  if (m__Bridge) QuorvaneI_PutUdfTag(d + kBlock, kQuorvaneUdfTerminating, 1, 512);
}

void QuorvaneI_UdfWriter::WriteIdentifiers(const Folder& f, std::vector<uint8_t>& data) const {
  data.assign(uint64_t{DataBlocks(f)} * kBlock, 0);
  const Folder& up = m__Folders[f.parent];
  uint8_t* d = data.data();
  d[16] = 1;  // file version
  d[18] = 0x0A;  // a folder: the parent
  PutLongAd(d + 20, kBlock, up.entryBlock, up.uniqueId);
  QuorvaneI_PutUdfTag(d, kQuorvaneUdfFileIdentifier, f.dataBlock, 40);
  size_t at = 40;
  const uint32_t firstEntry = f.dataBlock + DataBlocks(f);
  for (uint32_t k = 0; k < f.kidCount; ++k) {
    const Node* kid = m__Kids[f.firstKid + k];
    const std::string_view name = UdfName(kid);
    const uint32_t length = IdentifierLength(kid);
    d = data.data() + at;
    d[16] = 1;
    d[18] = static_cast<uint8_t>((kid->IsFolder() ? 2 : 0) | ((kid->GetAttributes() & qv::plat::kAttrHidden) ? 1 : 0));
    d[19] = static_cast<uint8_t>(name.size());
    PutLongAd(d + 20, kBlock, firstEntry + k, f.firstKidId + k);
    std::memcpy(d + 38, name.data(), name.size());
    QuorvaneI_PutUdfTag(d, kQuorvaneUdfFileIdentifier, static_cast<uint32_t>(f.dataBlock + at / kBlock), length);
    at += length;
  }
}

void QuorvaneI_UdfWriter::WriteEntry(uint8_t* d, const Node* node, const Folder* folder, uint32_t block,
                                     uint64_t uniqueId) const {
  std::memset(d, 0, kBlock);
  const uint64_t size = folder ? folder->dataBytes : node->GetSizeInUCHARs();
  QuorvaneI_PutLE16(d + 20, 4);  // strategy
  QuorvaneI_PutLE16(d + 24, 1);  // maximum entries
  d[27] = folder ? 4 : 5;
  QuorvaneI_PutLE16(d + 34, 0x230);  // short allocation descriptors, non-relocatable, archive, contiguous
  QuorvaneI_PutLE32(d + 36, 0xFFFFFFFF);
  QuorvaneI_PutLE32(d + 40, 0xFFFFFFFF);
  QuorvaneI_PutLE32(d + 44, 0x14A5);  // read and execute for owner, group and others
  QuorvaneI_PutLE16(d + 48, static_cast<uint16_t>(folder ? folder->subfolders + 1 : 1));
  QuorvaneI_PutLE64(d + 56, size);
  QuorvaneI_PutLE64(d + 64, QuorvaneI_Sectors(size));
  for (int t = 0; t < 3; ++t) QuorvaneI_PutTimestamp(d + 72 + 12 * t, node->GetRecordingDate());
  QuorvaneI_PutLE32(d + 108, 1);  // checkpoint
  QuorvaneI_PutRegid(d + 128, 0, kCreator);
  QuorvaneI_PutLE64(d + 160, uniqueId);
  QuorvaneI_PutLE32(d + 168, kAttributesLength);
  uint8_t* ea = d + kEntryFixed;
  QuorvaneI_PutLE32(ea + 16, 24);                  // implementation attributes
  QuorvaneI_PutLE32(ea + 20, kAttributesLength);  // application attributes: none
  QuorvaneI_PutUdfTag(ea, kQuorvaneUdfExtendedAttributes, block, 24);
  PutImplementationAttribute(ea + 24, "*UDF FreeEASpace", 4);
  PutImplementationAttribute(ea + 76, "*UDF DVD CGMS Info", 8);
  uint8_t* ad = ea + kAttributesLength;
  uint32_t start = folder ? folder->dataBlock : static_cast<uint32_t>(node->GetStartAddress() - m__PartitionStart);
  size_t ads = 0;
  for (uint64_t left = size; left != 0; ++ads) {
    const uint64_t part = std::min(left, kQuorvaneUdfExtentBytes);
    QuorvaneI_PutLE32(ad + 8 * ads, static_cast<uint32_t>(part));
    QuorvaneI_PutLE32(ad + 8 * ads + 4, start);
    start += static_cast<uint32_t>(kQuorvaneUdfExtentBytes / kBlock);
    left -= part;
  }
  QuorvaneI_PutLE32(d + 172, static_cast<uint32_t>(8 * ads));
  QuorvaneI_PutUdfTag(d, kQuorvaneUdfFileEntry, block, kEntryFixed + kAttributesLength + 8 * ads);
}

void QuorvaneI_UdfWriter::Rewind() {
  m__OrderAt = 0;
  m__Part = 0;
  m__PartBlock = 0;
  m__SubfolderAt = 0;
  m__BlockOffset = kBlock;
}

// The root's entry, then per folder depth first: its identifiers, its
// kids' entries.
void QuorvaneI_UdfWriter::NextStructureBlock() {
  if (m__Part == 0) {
    WriteEntry(m__Block, m__Folders[0].node, &m__Folders[0], m__Folders[0].entryBlock, 0);
    m__Part = 1;
    return;
  }
  const Folder& f = m__Folders[m__Order[m__OrderAt]];
  if (m__Part == 1) {
    if (m__PartBlock == 0) WriteIdentifiers(f, m__Data);
    std::memcpy(m__Block, m__Data.data() + uint64_t{m__PartBlock} * kBlock, kBlock);
    if (++m__PartBlock == DataBlocks(f)) {
      m__Part = 2;
      m__PartBlock = 0;
      m__SubfolderAt = f.firstSubfolder;
    }
  } else {
    const Node* kid = m__Kids[f.firstKid + m__PartBlock];
    const Folder* sub = kid->IsFolder() ? &m__Folders[m__SubfolderAt++] : nullptr;
    WriteEntry(m__Block, kid, sub, f.dataBlock + DataBlocks(f) + m__PartBlock, f.firstKidId + m__PartBlock);
    ++m__PartBlock;
  }
  if (m__Part == 2 && m__PartBlock == f.kidCount) {
    ++m__OrderAt;
    m__Part = 1;
    m__PartBlock = 0;
  }
}

void QuorvaneI_UdfWriter::Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) {
  switch (region) {
    case kBeginning: PutRecognition(out, offset, length, "BEA01"); break;
    case kNsr: PutRecognition(out, offset, length, "NSR02"); break;
    case kEnd: PutRecognition(out, offset, length, "TEA01"); break;
    case kFileSet: std::memcpy(out, m__FileSet.get() + offset, length); break;
    case kVolume:
      for (uint64_t at = offset; at < offset + length;) {
        const uint64_t end = std::min(offset + length, (at / kBlock + 1) * kBlock);
        if (const int slot = SlotOf(at / kBlock); slot >= 0)
          std::memcpy(out + (at - offset), m__Volume.get() + slot * kBlock + at % kBlock, end - at);
        at = end;
      }
      break;
    case kTail:
      for (uint64_t at = offset; at < offset + length;) {
        uint8_t anchor[kBlock] = {};
        WriteAnchor(anchor, static_cast<uint32_t>(m__TailStart + at / kBlock));
        const uint64_t end = std::min(offset + length, (at / kBlock + 1) * kBlock);
        std::memcpy(out + (at - offset), anchor + at % kBlock, end - at);
        at = end;
      }
      break;
    default:  // kStructures
      while (length != 0) {
        if (m__BlockOffset == kBlock) {
          NextStructureBlock();
          m__BlockOffset = 0;
        }
        const uint64_t part = std::min<uint64_t>(length, kBlock - m__BlockOffset);
        std::memcpy(out, m__Block + m__BlockOffset, part);
        m__BlockOffset += static_cast<uint32_t>(part);
        out += part;
        length -= part;
      }
  }
}
