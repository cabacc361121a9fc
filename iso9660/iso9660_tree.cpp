// The ISO9660 and Joliet trees: name checks, the boot image, and building
// the image.
#include "iso9660/iso9660_tree.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/exception.h"
#include "core/log.h"
#include "core/settings.h"
#include "files/file_time.h"
#include "iso9660/iso9660_names.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace {

using Node = CQuorvane_ISO9660FileTreeNode;

Node* AsIso(CQuorvane_FileTreeNode* node) { return static_cast<Node*>(node); }
const Node* AsIso(const CQuorvane_FileTreeNode* node) { return static_cast<const Node*>(node); }

uint64_t Sectors(uint64_t bytes) { return (bytes + kQuorvaneSectorSize - 1) / kQuorvaneSectorSize; }

// --- Numbers as ECMA-119 stores them ---

void PutLE16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void PutBE16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v >> 8);
  at[1] = static_cast<uint8_t>(v);
}
void PutLE32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBE32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
void PutBoth16(uint8_t* at, uint16_t v) {
  PutLE16(at, v);
  PutBE16(at + 2, v);
}
void PutBoth32(uint8_t* at, uint32_t v) {
  PutLE32(at, v);
  PutBE32(at + 4, v);
}

// A directory record: 33 bytes, the identifier, a pad byte to even length.
size_t RecordLength(size_t nameLength) { return 33 + nameLength + ((nameLength & 1) ? 0 : 1); }

void PutRecord(uint8_t* at, uint32_t extent, uint32_t length, const uint8_t date[7], uint8_t flags,
               std::string_view name) {
  at[0] = static_cast<uint8_t>(RecordLength(name.size()));
  PutBoth32(at + 2, extent);
  PutBoth32(at + 10, length);
  std::memcpy(at + 18, date, 7);
  at[25] = flags;
  PutBoth16(at + 28, 1);
  at[32] = static_cast<uint8_t>(name.size());
  std::memcpy(at + 33, name.data(), name.size());
}

size_t PathRecordLength(size_t nameLength) { return 8 + nameLength + (nameLength & 1); }

void PutPathRecord(uint8_t* at, bool bigEndian, uint32_t extent, uint16_t parent, std::string_view name) {
  at[0] = static_cast<uint8_t>(name.size());
  if (bigEndian) {
    PutBE32(at + 2, extent);
    PutBE16(at + 6, parent);
  } else {
    PutLE32(at + 2, extent);
    PutLE16(at + 6, parent);
  }
  std::memcpy(at + 8, name.data(), name.size());
}

// An 8-bit text field, padded with spaces; a text that does not fit is
// left out whole (limit: the longest text written).
void PutText(uint8_t* at, size_t field, const std::string& text, size_t limit) {
  std::memset(at, ' ', field);
  if (text.size() <= limit) std::memcpy(at, text.data(), std::min(text.size(), field));
}

// The same field of the Joliet descriptor: big-endian UCS-2 padded with
// spaces (an odd last byte stays zero). A text that is not convertible or
// holds more characters than the field is logged and left out.
void PutWideText(uint8_t* at, size_t field, const std::string& text) {
  for (size_t i = 0; i + 1 < field; i += 2) PutBE16(at + i, 0x20);
  std::u16string wide;
  uint32_t error = 0;
  if (!qv::plat::NarrowToWide(text, &wide, &error) || wide.size() > field / 2) {
    if (error == 0) error = qv::plat::kErrInsufficientBuffer;
    QuorvaneI_Log("\nCQuorvane_JolietFileTree::FormatVolumeDescriptors(): MultiByteToWideChar() failed, status == %ld\n",
                  static_cast<long>(error));
    return;
  }
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t u = wide[i] >= 0xD800 && wide[i] <= 0xDFFF ? u'_' : wide[i];
    PutBE16(at + 2 * i, u);
  }
}

void PutDateText(uint8_t* at, const std::string& text) {
  // "Not specified": sixteen '0' digits and a zero offset.
  if (text.empty()) {
    std::memset(at, '0', 16);
    at[16] = 0;
    return;
  }
  std::memcpy(at, text.data(), 16);
  at[16] = 0;
}

void CheckDateText(const char* field, const std::string& text) {
  bool ok = text.empty() || text.size() == 16;
  for (char c : text) ok = ok && c >= '0' && c <= '9';
  if (!ok)
    QuorvaneI_Throw("CQuorvane_ISO9660FileTree::BuildImage", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_ISO9660FileTree::BuildImage(): %s date '%s' is not 16 digits YYYYMMDDhhmmsscc!!!",
                    field, text.c_str());
}

// 7-byte date of the current UTC time.
void UtcNow(uint8_t date[7]) {
  QV_SYSTEMTIME st{};
  std::memset(date, 0, 7);
  if (!QuorvaneI_FileTimeToSystemTime(QuorvaneI_FileTimeNow(), &st) || st.wYear < 1900) return;
  date[0] = static_cast<uint8_t>(std::min(st.wYear - 1900, 255));
  date[1] = static_cast<uint8_t>(st.wMonth);
  date[2] = static_cast<uint8_t>(st.wDay);
  date[3] = static_cast<uint8_t>(st.wHour);
  date[4] = static_cast<uint8_t>(st.wMinute);
  date[5] = static_cast<uint8_t>(st.wSecond);
}

uint64_t FloppySize(uint8_t mediaType) {
  switch (mediaType) {
    case 1: return 1228800;
    case 2: return 1474560;
    case 3: return 2949120;
    default: return 0;
  }
}

// A disk file read as a member of the file area: opened when its data is
// reached, closed when it has been read, and read as the size it had when
// it was added; a change of size (found by its last read, which spares a
// tree of small files one system call per file) goes to the listener.
class QuorvaneI_ISO9660NodeFile : public CQuorvane_DiskFile {
 public:
  QuorvaneI_ISO9660NodeFile(const char* path, uint64_t recordedSize, uint64_t streamSize,
                            CQuorvane_FileChangeListener* listener)
      : CQuorvane_DiskFile(Deferred{}, path, streamSize) {
    SetChangeListener(listener);
    OpenByNameSized("CQuorvane_ISO9660FileTree::Read", static_cast<int64_t>(recordedSize));
  }
};

// The data of every file of the image, in block order, as one source:
// files are opened one at a time, so a tree of any size holds one handle
// while it is read.
class QuorvaneI_ISO9660FileArea : public CQuorvane_File {
 public:
  QuorvaneI_ISO9660FileArea(std::vector<Node*> files, uint64_t sizeInUCHARs, CQuorvane_FileChangeListener* listener)
      : CQuorvane_File(sizeInUCHARs), m__Files(std::move(files)), m__PListener(listener) {
    for (Node* n : m__Files)
      if (auto* disk = dynamic_cast<CQuorvane_DiskFile*>(n->GetContentSource())) disk->SetChangeListener(listener);
  }

  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override {
    m__Open.reset();
    m__Index = 0;
    m__Offset = 0;
    for (Node* n : m__Files) {
      if (CQuorvane_File* source = n->GetContentSource()) {
        uint32_t one = 1;
        source->SeekToBeginUnsafe(&one);
      }
    }
    return CQuorvane_File::SeekToBeginUnsafe(budget);
  }

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override {
    while (length != 0) {
      Node* n = m__Files[m__Index];
      const uint64_t stream = n->GetSizeInSectors() * kQuorvaneSectorSize;
      const uint64_t part = std::min(length, stream - m__Offset);
      CQuorvane_File* source = n->GetContentSource();
      if (source == nullptr) {
        if (!m__Open)
          m__Open = std::make_unique<QuorvaneI_ISO9660NodeFile>(n->GetAbsolutePath(), n->GetSizeInUCHARs(), stream,
                                                                 m__PListener);
        source = m__Open.get();
      }
      source->Read(part, buffer);
      buffer += part;
      length -= part;
      m__Offset += part;
      if (m__Offset == stream) {
        m__Open.reset();
        ++m__Index;
        m__Offset = 0;
      }
    }
  }

 private:
  std::vector<Node*> m__Files;
  CQuorvane_FileChangeListener* m__PListener;
  size_t m__Index = 0;
  uint64_t m__Offset = 0;
  std::unique_ptr<CQuorvane_File> m__Open;
};

}  // namespace

// One directory hierarchy (primary or Joliet) while an image is built:
// its folders breadth first in record order, each folder's kids in record
// order (hidden kids last, primary hierarchy only).
struct CQuorvane_ISO9660FileTree::Hierarchy {
  struct Folder {
    Node* node;
    uint32_t parentNumber;  // 1-based, in the path table
    uint32_t firstKid;
    uint32_t kidCount;  // with record
    uint32_t allKids;   // also those without
  };
  unsigned kind;  // 0 ISO9660, 1 Joliet
  std::vector<Folder> folders;
  std::vector<Node*> kids;
  uint64_t pathTableSize = 0;
  uint64_t directorySectors = 0;

  std::string_view Name(const Node* n) const { return kind == 0 ? n->GetISOName() : n->GetJolietName(); }
  uint32_t Extent(const Node* n) const { return kind == 0 ? n->m__ULONG__StartAddress : n->m__ULONG__JolietStartAddress; }
  uint32_t& ExtentRef(Node* n) const { return kind == 0 ? n->m__ULONG__StartAddress : n->m__ULONG__JolietStartAddress; }
  uint32_t& SectorsRef(Node* n) const {
    return kind == 0 ? n->m__ULONG__DirectorySectors : n->m__ULONG__JolietDirectorySectors;
  }
};

CQuorvane_ISO9660FileTree::CQuorvane_ISO9660FileTree(PQUORVANE_CALLBACK callback, void* callbackContext,
                                                     bool ignoreErrors, bool lockFiles, bool longNames)
    : CQuorvane_FileTree(callback, callbackContext, ignoreErrors),
      m__BOOLEAN__LockFiles(lockFiles ? 1 : 0),
      m__BOOLEAN__LongNames(longNames ? 1 : 0) {
  QuorvaneI_RegisterImageHandle(static_cast<void*>(this), this);
}

CQuorvane_ISO9660FileTree::~CQuorvane_ISO9660FileTree() { QuorvaneI_UnregisterImageHandle(static_cast<void*>(this)); }

CQuorvane_JolietFileTree::CQuorvane_JolietFileTree(PQUORVANE_CALLBACK callback, void* callbackContext,
                                                   bool ignoreErrors, bool lockFiles, bool longNames)
    : CQuorvane_ISO9660FileTree(callback, callbackContext, ignoreErrors, lockFiles, longNames) {
  m__BOOLEAN__Joliet = 1;
}

// --- Nodes ---

CQuorvane_FileTreeNode* CQuorvane_ISO9660FileTree::NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs,
                                                                       const char* longName, const char* shortName,
                                                                       CQuorvane_FileTreeNode* parent,
                                                                       uint32_t userValue, uint64_t fileTime) {
  return new (std::nothrow) CQuorvane_ISO9660FileTreeNode(handle, sizeInUCHARs, longName, shortName, parent,
                                                          userValue, fileTime, m__BOOLEAN__LongNames != 0);
}

CQuorvane_FileTreeNode* CQuorvane_ISO9660FileTree::NewFileTreeNodeItem(const char* absolutePath, const char* longName,
                                                                       const char* shortName, uint32_t attributes,
                                                                       uint64_t sizeInUCHARs,
                                                                       CQuorvane_FileTreeNode* parent,
                                                                       uint32_t userValue, uint64_t fileTime) {
  return new (std::nothrow)
      CQuorvane_ISO9660FileTreeNode(absolutePath, longName, shortName, attributes, sizeInUCHARs, parent, userValue,
                                    fileTime, m__BOOLEAN__LongNames != 0, m__BOOLEAN__LockFiles != 0, 0u,
                                    KnownReadable());
}

CQuorvane_FileTreeNode* CQuorvane_JolietFileTree::NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs,
                                                                      const char* longName, const char* shortName,
                                                                      CQuorvane_FileTreeNode* parent,
                                                                      uint32_t userValue, uint64_t fileTime) {
  return new (std::nothrow) CQuorvane_JolietFileTreeNode(handle, sizeInUCHARs, longName, shortName, parent, userValue,
                                                         fileTime, UsesLongNames());
}

CQuorvane_FileTreeNode* CQuorvane_JolietFileTree::NewFileTreeNodeItem(const char* absolutePath, const char* longName,
                                                                      const char* shortName, uint32_t attributes,
                                                                      uint64_t sizeInUCHARs,
                                                                      CQuorvane_FileTreeNode* parent,
                                                                      uint32_t userValue, uint64_t fileTime) {
  return new (std::nothrow) CQuorvane_JolietFileTreeNode(absolutePath, longName, shortName, attributes, sizeInUCHARs,
                                                         parent, userValue, fileTime, UsesLongNames(),
                                                         LocksFiles(), 0u, KnownReadable());
}

void CQuorvane_ISO9660FileTree::OnNodeRemoved(CQuorvane_FileTreeNode* node) {
  if (node == m__PCQuorvane_ISO9660FileTreeNode__Boot) {
    QuorvaneI_Log("\nCQuorvane_ISO9660FileTree::OnNodeRemoved(): the boot image '%s' was removed, no boot entry\n",
                  node->GetReportName());
    m__PCQuorvane_ISO9660FileTreeNode__Boot = nullptr;
  }
  CQuorvane_FileTree::OnNodeRemoved(node);
}

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
      const std::u16string units = QuorvaneI_UnitsFromBigEndian(full);
      for (size_t i = 0; i < units.size() && 2 * i + 3 < sizeof record.m__UCHAR__Name; ++i)
        PutLE16(record.m__UCHAR__Name + 2 * i, units[i]);
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
          node->SetJolietName(QuorvaneI_BigEndianUnits(QuorvaneI_JolietUnits(chosen, true, kQuorvaneJolietMaxUnits)));
          std::string narrow;
          uint32_t error = 0;
          qv::plat::WideToNarrow(QuorvaneI_UnitsFromBigEndian(node->GetJolietName()), &narrow, &error);
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

// --- Boot image ---

void CQuorvane_ISO9660FileTree::SetBootImage(const char* path, uint64_t sizeInUCHARs, uint8_t systemType,
                                             uint8_t mediaType, uint8_t sectorsToLoad, bool hide) {
  static const char* const kMethod = "CQuorvane_ISO9660FileTree::SetBootImage";
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (m__BOOLEAN__IsImageBuild)
    QuorvaneI_Throw(kMethod, EN_INVALID_STATE, 0, "%s(): m__BOOLEAN__IsImageBuild is TRUE already", kMethod);
  if (path == nullptr || *path == '\0')
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0, "%s(): the boot image path is empty!!!", kMethod);
  if (mediaType > kQuorvaneBootMediaHardDisk)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0, "%s(): media type %u is not an El Torito media type (0-4)!!!",
                    kMethod, static_cast<unsigned>(mediaType));
  if (const uint64_t floppy = FloppySize(mediaType); floppy != 0 && sizeInUCHARs != floppy)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0,
                    "%s(): a floppy boot image of media type %u must hold %llu UCHARs, '%s' holds %llu!!!", kMethod,
                    static_cast<unsigned>(mediaType), static_cast<unsigned long long>(floppy), path,
                    static_cast<unsigned long long>(sizeInUCHARs));
  if (sizeInUCHARs == 0)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0, "%s(): the boot image '%s' is empty!!!", kMethod, path);
  CQuorvane_FileTreeNode* root = EnsureRoot();
  if (m__PCQuorvane_ISO9660FileTreeNode__Boot) {
    CQuorvane_FileTreeNode* previous = m__PCQuorvane_ISO9660FileTreeNode__Boot;
    DestroyNodeAndKids(&previous);
  }
  ++m__LONG__NodeCount;
  CQuorvane_FileTreeNode* made = nullptr;
  try {
    // A visible boot image is an ordinary file; only a hidden one carries
    // the existence bit, which checkers flag on a record that is shown.
    made = NewFileTreeNodeItem(path, "boot.img", "boot.img", hide ? qv::plat::kAttrHidden : qv::plat::kAttrNormal,
                               sizeInUCHARs, root,
                               static_cast<uint32_t>(m__LONG__NodeCount), QuorvaneI_FileTimeNow());
  } catch (...) {
    --m__LONG__NodeCount;
    throw;
  }
  if (made == nullptr) {
    --m__LONG__NodeCount;
    QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): NewFileTreeNodeItem() for Current failed",
                    kMethod);
  }
  Node* node = AsIso(made);
  node->SetHidden(hide);
  m__PCQuorvane_ISO9660FileTreeNode__Boot = node;
  m__UCHAR__BootSystemType = systemType;
  m__UCHAR__BootMediaType = mediaType;
  m__UCHAR__BootSectorCount = sectorsToLoad;
  OnNodeAdded(node);
  if (hide) {
    LinkKid(root, node);
    OnKidLinked(root, node);
  } else {
    AddKid(root, node);  // a clash hides the boot image's record, never drops it
  }
}

CQuorvane_ISO9660FileTreeNode* CQuorvane_ISO9660FileTree::GetBootNode() {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return m__PCQuorvane_ISO9660FileTreeNode__Boot;
}

void CQuorvane_ISO9660FileTree::SetImportedBootDescriptor(const uint8_t descriptor[2048]) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  m__PUCHAR__ImportedBootDescriptor = std::make_unique<uint8_t[]>(kQuorvaneSectorSize);
  std::memcpy(m__PUCHAR__ImportedBootDescriptor.get(), descriptor, kQuorvaneSectorSize);
}

void CQuorvane_ISO9660FileTree::OnFileChanged(const char* fileName) {
  Notify(CN_FILE_TREE_NODE_CHANGED, fileName);
}

void CQuorvane_ISO9660FileTree::SetCallbackContext(void* context) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  m__PVOID__CallbackContext = context;
}

// --- Queries ---

bool CQuorvane_ISO9660FileTree::IsImageBuild() {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return m__BOOLEAN__IsImageBuild != 0;
}

uint32_t CQuorvane_ISO9660FileTree::GetVolumeSpaceSize() {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return m__ULONG__VolumeSpaceSize;
}

uint64_t CQuorvane_ISO9660FileTree::GetNodePower(const CQuorvane_FileTreeNode* node) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (node == nullptr) return 0;
  uint64_t total = 0;
  for (const CQuorvane_FileTreeNode* n = node; n;) {
    total += n->GetSizeInUCHARs();
    if (n->GetFirstKid()) {
      n = n->GetFirstKid();
      continue;
    }
    while (n != node && n->GetNextKid() == nullptr) n = n->GetParent();
    n = n == node ? nullptr : n->GetNextKid();
  }
  return total;
}

void CQuorvane_ISO9660FileTree::Read(uint64_t length, void* buffer) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (!m__BOOLEAN__IsImageBuild)
    QuorvaneI_Throw("CQuorvane_ISO9660FileTree::Read", EN_INVALID_STATE, 0,
                    "CQuorvane_ISO9660FileTree::Read(): m__BOOLEAN__IsImageBuild is FALSE");
  CQuorvane_FileChain::Read(length, buffer);
}

// --- Building ---

void CQuorvane_ISO9660FileTree::Collect(Hierarchy& h) {
  const bool primary = h.kind == 0;
  const auto less = [&h](const Node* a, const Node* b) {
    if (a->IsHidden() != b->IsHidden()) return b->IsHidden();
    return h.kind == 0 ? QuorvaneI_ISO9660Compare(a->GetISOName(), b->GetISOName()) < 0
                       : QuorvaneI_JolietCompare(a->GetJolietName(), b->GetJolietName()) < 0;
  };
  h.folders.push_back({AsIso(m__PCQuorvane_FileTreeNode__Root), 1, 0, 0, 0});
  for (size_t i = 0; i < h.folders.size(); ++i) {
    Node* folder = h.folders[i].node;
    const auto first = static_cast<uint32_t>(h.kids.size());
    for (auto* k = folder->GetFirstKid(); k; k = k->GetNextKid())
      if (primary || !AsIso(k)->IsHidden()) h.kids.push_back(AsIso(k));
    std::stable_sort(h.kids.begin() + first, h.kids.end(), less);
    uint64_t fill = 68;  // "." and ".."
    uint32_t visible = 0;
    for (size_t k = first; k < h.kids.size(); ++k) {
      Node* kid = h.kids[k];
      if (kid->IsHidden()) continue;
      ++visible;
      const size_t length = RecordLength(h.Name(kid).size());
      if (fill % kQuorvaneSectorSize + length > kQuorvaneSectorSize) fill = Sectors(fill) * kQuorvaneSectorSize;
      fill += length;
      if (kid->IsFolder()) {
        if (h.folders.size() >= kQuorvaneISO9660MaxFolders)
          QuorvaneI_Throw("CQuorvane_ISO9660FileTree::BuildImage", EN_INVALID_RANGE, 0,
                          "CQuorvane_ISO9660FileTree::BuildImage(): more than %lu folders, the path table numbers "
                          "them in 16 bits!!!",
                          static_cast<unsigned long>(kQuorvaneISO9660MaxFolders));
        h.folders.push_back({kid, static_cast<uint32_t>(i + 1), 0, 0, 0});
      }
    }
    h.folders[i].firstKid = first;
    h.folders[i].kidCount = visible;
    h.folders[i].allKids = static_cast<uint32_t>(h.kids.size() - first);
    h.SectorsRef(folder) = static_cast<uint32_t>(Sectors(fill));
    h.directorySectors += Sectors(fill);
    h.pathTableSize += PathRecordLength(i == 0 ? 1 : h.Name(folder).size());
  }
}

void CQuorvane_ISO9660FileTree::WritePathTables(const Hierarchy& h, uint8_t* tableL, uint8_t* tableM) {
  for (size_t i = 0; i < h.folders.size(); ++i) {
    const Hierarchy::Folder& f = h.folders[i];
    const std::string_view name = i == 0 ? std::string_view("\0", 1) : h.Name(f.node);
    const uint32_t extent = h.Extent(f.node);
    PutPathRecord(tableL, false, extent, static_cast<uint16_t>(f.parentNumber), name);
    PutPathRecord(tableM, true, extent, static_cast<uint16_t>(f.parentNumber), name);
    tableL += PathRecordLength(name.size());
    tableM += PathRecordLength(name.size());
  }
}

void CQuorvane_ISO9660FileTree::WriteDirectory(const Hierarchy& h, size_t i, uint8_t* dir) {
  const Hierarchy::Folder& f = h.folders[i];
  Node* folder = f.node;
  Node* up = i == 0 ? folder : h.folders[f.parentNumber - 1].node;
  PutRecord(dir, h.Extent(folder), h.SectorsRef(folder) * kQuorvaneSectorSize, folder->GetRecordingDate(), 2,
            std::string_view("\0", 1));
  PutRecord(dir + 34, h.Extent(up), h.SectorsRef(up) * kQuorvaneSectorSize, up->GetRecordingDate(), 2,
            std::string_view("\1", 1));
  uint64_t fill = 68;
  for (uint32_t k = f.firstKid; k < f.firstKid + f.allKids; ++k) {
    Node* kid = h.kids[k];
    if (kid->IsHidden()) continue;
    const std::string_view kidName = h.Name(kid);
    const size_t length = RecordLength(kidName.size());
    if (fill % kQuorvaneSectorSize + length > kQuorvaneSectorSize) fill = Sectors(fill) * kQuorvaneSectorSize;
    const bool isFolder = kid->IsFolder();
    const uint32_t kidExtent = isFolder ? h.Extent(kid) : kid->GetStartAddress();
    const uint32_t kidLength = isFolder ? h.SectorsRef(kid) * kQuorvaneSectorSize
                                        : static_cast<uint32_t>(kid->GetSizeInUCHARs());
    const uint8_t flags = static_cast<uint8_t>((isFolder ? 2 : 0) | ((kid->GetAttributes() & qv::plat::kAttrHidden) ? 1 : 0));
    PutRecord(dir + fill, kidExtent, kidLength, kid->GetRecordingDate(), flags, kidName);
    fill += length;
  }
}

// The system area, the volume descriptors, the path tables and the
// directories, as one source. All but the directories are made at once (a
// few sectors); each folder's directory extent is made when the stream
// reaches it, so the records of a million files are never all in memory.
// The extents follow one another: the primary folders in order, then the
// Joliet ones.
class CQuorvane_ISO9660FileTree::Structures : public CQuorvane_File {
 public:
  Structures(std::unique_ptr<uint8_t[]> head, uint64_t headSize, Hierarchy primary, Hierarchy joliet,
             uint64_t sizeInUCHARs)
      : CQuorvane_File(sizeInUCHARs),
        m__PUCHAR__Head(std::move(head)),
        m__ULONGLONG__HeadSize(headSize),
        m__Hierarchies{std::move(primary), std::move(joliet)} {}

  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override {
    m__Current = {0, 0};
    m__Directory.clear();
    m__DirectoryOffset = 0;
    return CQuorvane_File::SeekToBeginUnsafe(budget);
  }

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override {
    uint64_t at = m__ULONGLONG__PositionInUCHARs;
    if (at < m__ULONGLONG__HeadSize) {
      const uint64_t part = std::min(length, m__ULONGLONG__HeadSize - at);
      std::memcpy(buffer, m__PUCHAR__Head.get() + at, part);
      buffer += part;
      length -= part;
    }
    while (length != 0) {
      if (m__DirectoryOffset == m__Directory.size()) NextDirectory();
      const uint64_t part = std::min<uint64_t>(length, m__Directory.size() - m__DirectoryOffset);
      std::memcpy(buffer, m__Directory.data() + m__DirectoryOffset, part);
      m__DirectoryOffset += part;
      buffer += part;
      length -= part;
    }
  }

 private:
  // Makes the next folder's extent, in the order the extents lie.
  void NextDirectory() {
    for (;;) {
      auto& [kind, folder] = m__Current;
      const Hierarchy& h = m__Hierarchies[kind];
      if (folder < h.folders.size()) {
        m__Directory.assign(uint64_t{h.SectorsRef(h.folders[folder].node)} * kQuorvaneSectorSize, 0);
        WriteDirectory(h, folder, m__Directory.data());
        m__DirectoryOffset = 0;
        ++folder;
        return;
      }
      if (kind == 1)
        QuorvaneI_Throw("CQuorvane_ISO9660FileTree::Read", EN_INVALID_STATE, 0,
                        "CQuorvane_ISO9660FileTree::Read(): read past the last directory");
      m__Current = {1, 0};
    }
  }

  std::unique_ptr<uint8_t[]> m__PUCHAR__Head;
  uint64_t m__ULONGLONG__HeadSize;
  Hierarchy m__Hierarchies[2];
  std::pair<unsigned, size_t> m__Current{0, 0};  // hierarchy, next folder
  std::vector<uint8_t> m__Directory;
  size_t m__DirectoryOffset = 0;
};

void CQuorvane_ISO9660FileTree::FormatDescriptors(uint8_t* block, const QuorvaneI_VolumeTexts& t, uint8_t xaFlag,
                                                  const Hierarchy& primary, const Hierarchy* joliet, uint32_t pathL,
                                                  uint32_t pathM, uint32_t jolietL, uint32_t jolietM) {
  const uint32_t s = m__ULONG__StartAddress;
  uint8_t* pvd = block + 16 * kQuorvaneSectorSize;
  pvd[0] = 1;
  std::memcpy(pvd + 1, "CD001", 5);
  pvd[6] = 1;
  PutText(pvd + 8, 32, t.systemIdentifier, 31);
  // The label is cut to the 32 bytes of the volume identifier, never into
  // the fields behind it.
  PutText(pvd + 40, 32, t.label.substr(0, QuorvaneI_Utf8Prefix(t.label.c_str(), 32)), 32);
  PutBoth32(pvd + 80, m__ULONG__VolumeSpaceSize);
  PutBoth16(pvd + 120, 1);
  PutBoth16(pvd + 124, 1);
  PutBoth16(pvd + 128, static_cast<uint16_t>(kQuorvaneSectorSize));
  PutBoth32(pvd + 132, static_cast<uint32_t>(primary.pathTableSize));
  PutLE32(pvd + 140, pathL);
  PutBE32(pvd + 148, pathM);
  Node* root = primary.folders[0].node;
  uint8_t now[7];
  UtcNow(now);
  PutRecord(pvd + 156, root->m__ULONG__StartAddress, root->m__ULONG__DirectorySectors * kQuorvaneSectorSize, now, 2,
            std::string_view("\0", 1));
  PutText(pvd + 190, 128, t.label, 127);
  PutText(pvd + 318, 128, t.publisher, 127);
  PutText(pvd + 446, 128, t.publisher, 127);
  PutText(pvd + 574, 128, t.application, 127);
  PutText(pvd + 702, 37, t.copyrightFile, 36);
  PutText(pvd + 739, 37, "", 0);
  PutText(pvd + 776, 37, t.bibliographicFile, 36);
  PutDateText(pvd + 813, t.creationDate);
  PutDateText(pvd + 830, t.modificationDate);
  PutDateText(pvd + 847, t.expirationDate);
  PutDateText(pvd + 864, t.effectiveDate);
  pvd[881] = 1;
  if (xaFlag == 1) std::memcpy(pvd + 1024, "CD-XA001", 8);

  uint32_t next = 17;
  Node* boot = m__PCQuorvane_ISO9660FileTreeNode__Boot;
  if (boot != nullptr) {
    uint8_t* record = block + next++ * kQuorvaneSectorSize;
    record[0] = 0;
    std::memcpy(record + 1, "CD001", 5);
    record[6] = 1;
    std::memcpy(record + 7, "EL TORITO SPECIFICATION", 23);
    PutLE32(record + 71, s + 20);
    uint8_t* catalog = block + 20 * kQuorvaneSectorSize;
    catalog[0] = 1;  // validation entry, platform 0 (80x86)
    std::memcpy(catalog + 4, "Quorva", 6);
    catalog[30] = 0x55;
    catalog[31] = 0xAA;
    uint16_t sum = 0;
    for (int i = 0; i < 32; i += 2) sum = static_cast<uint16_t>(sum + (catalog[i] | (catalog[i + 1] << 8)));
    PutLE16(catalog + 28, static_cast<uint16_t>(0x10000 - sum));
    uint8_t* entry = catalog + 32;
    entry[0] = 0x88;
    entry[1] = m__UCHAR__BootMediaType;
    PutLE16(entry + 2, 0x07C0);
    entry[4] = m__UCHAR__BootSystemType;
    PutLE16(entry + 6, m__UCHAR__BootSectorCount);
    PutLE32(entry + 8, boot->GetStartAddress());
  } else if (m__PUCHAR__ImportedBootDescriptor && m__PUCHAR__ImportedBootDescriptor[0] == 0 &&
             std::memcmp(m__PUCHAR__ImportedBootDescriptor.get() + 1, "CD001", 5) == 0) {
    QuorvaneI_Log("\nCQuorvane_ISO9660FileTree::FormatVolumeDescriptors(): Found imported BOOT Desriptor\n");
    std::memcpy(block + next++ * kQuorvaneSectorSize, m__PUCHAR__ImportedBootDescriptor.get(), kQuorvaneSectorSize);
  }

  if (joliet != nullptr) {
    uint8_t* svd = block + next++ * kQuorvaneSectorSize;
    std::memcpy(svd, pvd, kQuorvaneSectorSize);
    svd[0] = 2;
    svd[88] = 0x25;
    svd[89] = 0x2F;
    svd[90] = 0x40;
    PutBoth32(svd + 132, static_cast<uint32_t>(joliet->pathTableSize));
    PutLE32(svd + 140, jolietL);
    PutBE32(svd + 148, jolietM);
    PutRecord(svd + 156, root->m__ULONG__JolietStartAddress,
              root->m__ULONG__JolietDirectorySectors * kQuorvaneSectorSize, now, 2, std::string_view("\0", 1));
    // Every text of a Joliet descriptor is UCS-2.
    PutWideText(svd + 8, 32, t.systemIdentifier);
    PutWideText(svd + 40, 32, t.label);
    PutWideText(svd + 190, 128, t.label);
    PutWideText(svd + 318, 128, t.publisher);
    PutWideText(svd + 446, 128, t.publisher);
    PutWideText(svd + 574, 128, t.application);
    PutWideText(svd + 702, 37, t.copyrightFile);
    PutWideText(svd + 739, 37, "");
    PutWideText(svd + 776, 37, t.bibliographicFile);
  }
  uint8_t* terminator = block + next * kQuorvaneSectorSize;
  terminator[0] = 255;
  std::memcpy(terminator + 1, "CD001", 5);
  terminator[6] = 1;
}

void CQuorvane_ISO9660FileTree::BuildImage(uint32_t startAddress, uint8_t xaFlag, const QuorvaneI_VolumeTexts& texts) {
  static const char* const kMethod = "CQuorvane_ISO9660FileTree::BuildImage";
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
  if (m__PCQuorvane_FileTreeNode__Root == nullptr)
    QuorvaneI_Throw(kMethod, EN_INVALID_STATE, 0, "%s(): m__PCQuorvane_FileTreeNode__Root is NULL", kMethod);
  if (m__BOOLEAN__IsImageBuild)
    QuorvaneI_Throw(kMethod, EN_INVALID_STATE, 0, "%s(): m__BOOLEAN__IsImageBuild is TRUE already", kMethod);
  CheckDateText("creation", texts.creationDate);
  CheckDateText("modification", texts.modificationDate);
  CheckDateText("expiration", texts.expirationDate);
  CheckDateText("effective", texts.effectiveDate);
  m__ULONG__StartAddress = startAddress;

  DropKidIndexes();
  Hierarchy primary{0, {}, {}, 0, 0};
  Collect(primary);
  Hierarchy joliet{1, {}, {}, 0, 0};
  if (IsJoliet()) Collect(joliet);

  const uint64_t s = startAddress;
  const uint64_t gap = IsJoliet() ? 1 : 0;
  const uint64_t p = Sectors(primary.pathTableSize);
  const uint64_t j = Sectors(joliet.pathTableSize);
  const uint64_t pathL = s + 21 + gap, pathM = pathL + p;
  const uint64_t jolietL = pathM + p, jolietM = jolietL + j;
  const uint64_t directories = jolietM + j;
  uint64_t next = directories;
  for (auto& f : primary.folders) {
    f.node->m__ULONG__StartAddress = static_cast<uint32_t>(next);
    next += f.node->m__ULONG__DirectorySectors;
  }
  for (auto& f : joliet.folders) {
    f.node->m__ULONG__JolietStartAddress = static_cast<uint32_t>(next);
    next += f.node->m__ULONG__JolietDirectorySectors;
  }
  const uint64_t structures = next - s;

  // File data: breadth first in record order, as the folders.
  std::vector<Node*> files;
  uint64_t dataSectors = 0;
  for (const auto& f : primary.folders) {
    for (uint32_t k = f.firstKid; k < f.firstKid + f.allKids; ++k) {
      Node* kid = primary.kids[k];
      if (kid->IsFolder() || kid->HasPresetAddress()) continue;
      kid->m__ULONG__StartAddress = static_cast<uint32_t>(std::min<uint64_t>(next, UINT32_MAX));
      next += kid->GetSizeInSectors();
      dataSectors += kid->GetSizeInSectors();
      if (kid->GetSizeInSectors() != 0) files.push_back(kid);
    }
  }
  if (next > UINT32_MAX)
    QuorvaneI_Throw(kMethod, EN_INVALID_RANGE, 0, "%s(): the image ends at block %llu, past 32-bit addresses!!!",
                    kMethod, static_cast<unsigned long long>(next));
  m__ULONG__VolumeSpaceSize = static_cast<uint32_t>(next);

  // Descriptors and path tables now; directories as they are read.
  const uint64_t headSize = (directories - s) * kQuorvaneSectorSize;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[headSize]);
  if (!block)
    QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): m__PUCHAR__SystemStructures is NULL", kMethod);
  std::memset(block.get(), 0, headSize);
  const auto table = [&](uint64_t at) { return block.get() + (at - s) * kQuorvaneSectorSize; };
  WritePathTables(primary, table(pathL), table(pathM));
  if (IsJoliet()) WritePathTables(joliet, table(jolietL), table(jolietM));
  FormatDescriptors(block.get(), texts, xaFlag, primary, IsJoliet() ? &joliet : nullptr, static_cast<uint32_t>(pathL),
                    static_cast<uint32_t>(pathM), static_cast<uint32_t>(jolietL), static_cast<uint32_t>(jolietM));

  m__PCQuorvane_File__SystemStructures = std::make_unique<Structures>(
      std::move(block), headSize, std::move(primary), std::move(joliet), structures * kQuorvaneSectorSize);
  AddChainTail(m__PCQuorvane_File__SystemStructures.get());
  if (!files.empty()) {
    m__PCQuorvane_File__FileArea =
        std::make_unique<QuorvaneI_ISO9660FileArea>(std::move(files), dataSectors * kQuorvaneSectorSize, this);
    AddChainTail(m__PCQuorvane_File__FileArea.get());
  }
  CQuorvane_FileChain::SeekToBegin();
  m__BOOLEAN__IsImageBuild = 1;
  QuorvaneI_Log("\n%s(): EXITing with success, %lu blocks from block %lu\n", kMethod,
                static_cast<unsigned long>(next - s), static_cast<unsigned long>(s));
}
