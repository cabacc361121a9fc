// A hierarchy of ISO9660 directory records and its path tables, shared by
// the primary hierarchy and Joliet's.
#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "core/exception.h"
#include "files/file_time.h"
#include "iso9660/image_writers.h"
#include "iso9660/iso9660_names.h"
#include "iso9660/iso9660_tree.h"
#include "platform/errors.h"

namespace {

size_t PathRecordLength(size_t nameLength) { return 8 + nameLength + (nameLength & 1); }

void PutPathRecord(uint8_t* at, bool bigEndian, uint32_t extent, uint16_t parent, std::string_view name) {
  at[0] = static_cast<uint8_t>(name.size());
  if (bigEndian) {
    QuorvaneI_PutBE32(at + 2, extent);
    QuorvaneI_PutBE16(at + 6, parent);
  } else {
    QuorvaneI_PutLE32(at + 2, extent);
    QuorvaneI_PutLE16(at + 6, parent);
  }
  std::memcpy(at + 8, name.data(), name.size());
}

const std::string_view kSelf("\0", 1);
const std::string_view kParent("\1", 1);

}  // namespace

size_t QuorvaneI_RecordLength(size_t nameLength) { return 33 + nameLength + ((nameLength & 1) ? 0 : 1); }

void QuorvaneI_PutRecord(uint8_t* at, uint32_t extent, uint32_t length, const uint8_t date[7], uint8_t flags,
                         std::string_view name) {
  at[0] = static_cast<uint8_t>(QuorvaneI_RecordLength(name.size()));
  QuorvaneI_PutBoth32(at + 2, extent);
  QuorvaneI_PutBoth32(at + 10, length);
  std::memcpy(at + 18, date, 7);
  at[25] = flags;
  QuorvaneI_PutBoth16(at + 28, 1);
  at[32] = static_cast<uint8_t>(name.size());
  std::memcpy(at + 33, name.data(), name.size());
}

void QuorvaneI_PutText(uint8_t* at, size_t field, const std::string& text, size_t limit) {
  std::memset(at, ' ', field);
  if (text.size() <= limit) std::memcpy(at, text.data(), std::min(text.size(), field));
}

void QuorvaneI_PutDateText(uint8_t* at, const std::string& text) {
  if (text.empty()) {
    std::memset(at, '0', 16);
    at[16] = 0;
    return;
  }
  std::memcpy(at, text.data(), 16);
  at[16] = 0;
}

void QuorvaneI_PutDate(const QV_SYSTEMTIME& st, int8_t quarterHours, uint8_t date[7]) {
  std::memset(date, 0, 7);
  if (st.wYear < 1900) return;
  date[0] = static_cast<uint8_t>(std::min(st.wYear - 1900, 255));
  date[1] = static_cast<uint8_t>(st.wMonth);
  date[2] = static_cast<uint8_t>(st.wDay);
  date[3] = static_cast<uint8_t>(st.wHour);
  date[4] = static_cast<uint8_t>(st.wMinute);
  date[5] = static_cast<uint8_t>(st.wSecond);
  date[6] = static_cast<uint8_t>(quarterHours);
}

void QuorvaneI_UtcDate(uint64_t fileTime, uint8_t date[7]) {
  QV_SYSTEMTIME st{};
  if (!QuorvaneI_FileTimeToSystemTime(fileTime, &st)) st = {};
  QuorvaneI_PutDate(st, 0, date);
}

QuorvaneI_HierarchyWriter::QuorvaneI_HierarchyWriter(unsigned kind, Node* root) : m__Kind(kind) {
  const bool primary = kind == 0;
  const auto less = [kind](const Node* a, const Node* b) {
    if (a->IsHidden() != b->IsHidden()) return b->IsHidden();
    return kind == 0 ? QuorvaneI_ISO9660Compare(a->GetISOName(), b->GetISOName()) < 0
                     : QuorvaneI_JolietCompare(a->GetJolietName(), b->GetJolietName()) < 0;
  };
  m__Folders.push_back({root, 1, 0, 0});
  for (size_t i = 0; i < m__Folders.size(); ++i) {
    Node* folder = m__Folders[i].node;
    const auto first = static_cast<uint32_t>(m__Kids.size());
    for (auto* k = folder->GetFirstKid(); k; k = k->GetNextKid()) {
      auto* kid = static_cast<Node*>(k);
      if (primary || !kid->IsHidden()) m__Kids.push_back(kid);
    }
    std::stable_sort(m__Kids.begin() + first, m__Kids.end(), less);
    uint64_t fill = 68;  // "." and ".."
    for (size_t k = first; k < m__Kids.size(); ++k) {
      Node* kid = m__Kids[k];
      if (kid->IsHidden()) continue;
      const size_t length = QuorvaneI_RecordLength(Name(kid).size());
      if (fill % kQuorvaneSectorSize + length > kQuorvaneSectorSize)
        fill = QuorvaneI_Sectors(fill) * kQuorvaneSectorSize;
      fill += length;
      if (kid->IsFolder()) {
        if (m__Folders.size() >= kQuorvaneISO9660MaxFolders)
          QuorvaneI_Throw("CQuorvane_ISO9660FileTree::BuildImage", EN_INVALID_RANGE, 0,
                          "CQuorvane_ISO9660FileTree::BuildImage(): more than %lu folders, the path table numbers "
                          "them in 16 bits!!!",
                          static_cast<unsigned long>(kQuorvaneISO9660MaxFolders));
        m__Folders.push_back({kid, static_cast<uint32_t>(i + 1), 0, 0});
      }
    }
    m__Folders[i].firstKid = first;
    m__Folders[i].allKids = static_cast<uint32_t>(m__Kids.size() - first);
    folder->SetDirectorySectors(kind, static_cast<uint32_t>(QuorvaneI_Sectors(fill)));
    m__DirectorySectors += QuorvaneI_Sectors(fill);
    m__PathTableSize += PathRecordLength(i == 0 ? 1 : Name(folder).size());
  }
}

std::string_view QuorvaneI_HierarchyWriter::Name(const Node* n) const {
  return m__Kind == 0 ? n->GetISOName() : n->GetJolietName();
}

void QuorvaneI_HierarchyWriter::Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) {
  if (step == QuorvaneI_LayoutStep::kPathTables) {
    const uint64_t sectors = QuorvaneI_Sectors(m__PathTableSize);
    m__PathL = static_cast<uint32_t>(layout.Reserve(sectors, this, kPathL));
    m__PathM = static_cast<uint32_t>(layout.Reserve(sectors, this, kPathM));
  } else if (step == QuorvaneI_LayoutStep::kDirectories) {
    uint64_t next = layout.Reserve(m__DirectorySectors, this, kDirectories);
    for (const Folder& f : m__Folders) {
      f.node->SetDirectoryAddress(m__Kind, static_cast<uint32_t>(next));
      next += f.node->GetDirectorySectors(m__Kind);
    }
  }
}

void QuorvaneI_HierarchyWriter::Prepare(const QuorvaneI_ImageLayout&, const QuorvaneI_ImageContext&) {
  const uint64_t size = QuorvaneI_Sectors(m__PathTableSize) * kQuorvaneSectorSize;
  m__PathTables = std::make_unique<uint8_t[]>(2 * size);
  WritePathTable(false, m__PathTables.get());
  WritePathTable(true, m__PathTables.get() + size);
}

void QuorvaneI_HierarchyWriter::WritePathTable(bool bigEndian, uint8_t* table) const {
  for (size_t i = 0; i < m__Folders.size(); ++i) {
    const Folder& f = m__Folders[i];
    const std::string_view name = i == 0 ? kSelf : Name(f.node);
    PutPathRecord(table, bigEndian, f.node->GetDirectoryAddress(m__Kind), static_cast<uint16_t>(f.parentNumber),
                  name);
    table += PathRecordLength(name.size());
  }
}

void QuorvaneI_HierarchyWriter::PutRootRecord(uint8_t* at, const uint8_t date[7]) const {
  const Node* root = m__Folders[0].node;
  QuorvaneI_PutRecord(at, root->GetDirectoryAddress(m__Kind), root->GetDirectorySectors(m__Kind) * kQuorvaneSectorSize,
                      date, 2, kSelf);
}

std::vector<QuorvaneI_HierarchyWriter::Node*> QuorvaneI_HierarchyWriter::FilesInOrder() const {
  std::vector<Node*> files;
  for (const Folder& f : m__Folders)
    for (uint32_t k = f.firstKid; k < f.firstKid + f.allKids; ++k)
      if (!m__Kids[k]->IsFolder()) files.push_back(m__Kids[k]);
  return files;
}

void QuorvaneI_HierarchyWriter::WriteDirectory(size_t i, uint8_t* dir) const {
  const Folder& f = m__Folders[i];
  const Node* folder = f.node;
  const Node* up = i == 0 ? folder : m__Folders[f.parentNumber - 1].node;
  const auto extent = [this](const Node* n) { return n->GetDirectoryAddress(m__Kind); };
  const auto length = [this](const Node* n) { return n->GetDirectorySectors(m__Kind) * kQuorvaneSectorSize; };
  QuorvaneI_PutRecord(dir, extent(folder), length(folder), folder->GetRecordingDate(), 2, kSelf);
  QuorvaneI_PutRecord(dir + 34, extent(up), length(up), up->GetRecordingDate(), 2, kParent);
  uint64_t fill = 68;
  for (uint32_t k = f.firstKid; k < f.firstKid + f.allKids; ++k) {
    const Node* kid = m__Kids[k];
    if (kid->IsHidden()) continue;
    const std::string_view kidName = Name(kid);
    const size_t size = QuorvaneI_RecordLength(kidName.size());
    if (fill % kQuorvaneSectorSize + size > kQuorvaneSectorSize) fill = QuorvaneI_Sectors(fill) * kQuorvaneSectorSize;
    const bool isFolder = kid->IsFolder();
    const uint32_t kidExtent = isFolder ? extent(kid) : kid->GetStartAddress();
    const uint32_t kidLength = isFolder ? length(kid) : static_cast<uint32_t>(kid->GetSizeInUCHARs());
    const uint8_t flags =
        static_cast<uint8_t>((isFolder ? 2 : 0) | ((kid->GetAttributes() & qv::plat::kAttrHidden) ? 1 : 0));
    QuorvaneI_PutRecord(dir + fill, kidExtent, kidLength, kid->GetRecordingDate(), flags, kidName);
    fill += size;
  }
}

void QuorvaneI_HierarchyWriter::Rewind() {
  m__NextFolder = 0;
  m__Directory.clear();
  m__DirectoryOffset = 0;
}

void QuorvaneI_HierarchyWriter::Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) {
  if (region != kDirectories) {
    const uint64_t table = region == kPathL ? 0 : QuorvaneI_Sectors(m__PathTableSize) * kQuorvaneSectorSize;
    std::memcpy(out, m__PathTables.get() + table + offset, length);
    return;
  }
  // Each folder's extent is made when the stream reaches it.
  while (length != 0) {
    if (m__DirectoryOffset == m__Directory.size()) {
      if (m__NextFolder == m__Folders.size())
        QuorvaneI_Throw("CQuorvane_ISO9660FileTree::Read", EN_INVALID_STATE, 0,
                        "CQuorvane_ISO9660FileTree::Read(): read past the last directory");
      m__Directory.assign(
          uint64_t{m__Folders[m__NextFolder].node->GetDirectorySectors(m__Kind)} * kQuorvaneSectorSize, 0);
      WriteDirectory(m__NextFolder++, m__Directory.data());
      m__DirectoryOffset = 0;
    }
    const uint64_t part = std::min<uint64_t>(length, m__Directory.size() - m__DirectoryOffset);
    std::memcpy(out, m__Directory.data() + m__DirectoryOffset, part);
    m__DirectoryOffset += part;
    out += part;
    length -= part;
  }
}
