// Import of an earlier session's hierarchy (import.h).
#include "iso9660/import.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <typeinfo>
#include <unordered_set>
#include <vector>

#include "core/bytes.h"
#include "core/exception.h"
#include "core/log.h"
#include "files/file_time.h"
#include "platform/file.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kBlock = kQuorvaneSectorSize;
constexpr uint32_t kDescriptorBlocks = 5;
constexpr uint8_t kFlagHidden = 0x01, kFlagDirectory = 0x02, kFlagAssociated = 0x04, kFlagMultiExtent = 0x80;
constexpr uint32_t kRecordFixed = 33;

bool IsDescriptor(const uint8_t* d, uint8_t type) { return d[0] == type && std::memcmp(d + 1, "CD001", 5) == 0; }

// A supplementary descriptor is Joliet when it names one of the three
// UCS-2 levels among its escape sequences.
bool IsJolietDescriptor(const uint8_t* d) {
  if (!IsDescriptor(d, 2)) return false;
  for (int i = 88; i + 2 < 120; ++i)
    if (d[i] == '%' && d[i + 1] == '/' && (d[i + 2] == '@' || d[i + 2] == 'C' || d[i + 2] == 'E')) return true;
  return false;
}

// The record's name as the tree takes it, or "" when it must be left out.
std::string RecordName(const uint8_t* id, uint32_t length, bool joliet, bool folder) {
  std::string name;
  if (joliet) {
    if (length % 2 != 0) return {};
    std::u16string units;
    for (uint32_t i = 0; i < length; i += 2) {
      char16_t u = static_cast<char16_t>(id[i] << 8 | id[i + 1]);
      // A surrogate without its pair cannot be converted.
      const bool high = u >= 0xD800 && u < 0xDC00, low = u >= 0xDC00 && u < 0xE000;
      const bool paired = high && i + 3 < length && id[i + 2] >= 0xDC && id[i + 2] < 0xE0;
      if ((high && !paired) || (low && !(i >= 2 && id[i - 2] >= 0xD8 && id[i - 2] < 0xDC))) u = u'_';
      if (u < 0x20 || u == 0x7F || u == u'/' || u == u'\\') return {};
      units.push_back(u);
    }
    uint32_t error = 0;
    if (!qv::plat::WideToNarrow(units, &name, &error)) return {};
  } else {
    for (uint32_t i = 0; i < length; ++i)
      if (id[i] < 0x20 || id[i] == 0x7F || id[i] == '/' || id[i] == '\\') return {};
    name = QuorvaneI_SanitizeUtf8(std::string_view(reinterpret_cast<const char*>(id), length));
  }
  if (name.size() > 2 && name[name.size() - 2] == ';') name.resize(name.size() - 2);
  // "NAME.;1": a file without an extension keeps no dot.
  if (!joliet && !folder && name.size() > 1 && name.back() == '.') name.pop_back();
  if (name.empty() || name == "." || name == "..") return {};
  return name;
}

// 100 ns ticks since 1601 (UTC) of a record's 7-byte date; 0 when it
// holds no valid date.
uint64_t RecordFileTime(const uint8_t* date) {
  QV_SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(1900 + date[0]);
  t.wMonth = date[1];
  t.wDay = date[2];
  t.wHour = date[3];
  t.wMinute = date[4];
  t.wSecond = date[5];
  uint64_t ticks = 0;
  if (t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 || !QuorvaneI_SystemTimeToFileTime(t, &ticks)) return 0;
  const int64_t offset = int64_t{static_cast<int8_t>(date[6])} * 15 * 60 * 10000000;
  return offset > 0 && static_cast<uint64_t>(offset) > ticks ? 0 : ticks - offset;
}

// The walk of one hierarchy.
class Walk {
 public:
  Walk(CQuorvane_ISO9660FileTree* tree, QuorvaneI_ImportSource& source, bool joliet)
      : tree_(tree), source_(source), joliet_(joliet) {}

  void Directory(const std::string& path, uint32_t extent, uint32_t length, CQuorvane_FileTreeNode* parent,
                 uint32_t depth) {
    static const char* const kMethod = "CQuorvane_CdvdBurnerGrabber::ImportDirectory";
    if (tree_->IsCancelled())
      QuorvaneI_Throw(kMethod, EN_USER_EXCEPTION, 0, "%s(): m__BOOLEAN__IsCancelCreation == TRUE!!!", kMethod);
    const uint32_t blocks = static_cast<uint32_t>((uint64_t{length} + kBlock - 1) / kBlock);
    if (length > kQuorvaneImportMaxDirectory) return Skip(path, "has a directory of absurd size");
    if (extent < source_.First() || extent > source_.End() || blocks > source_.End() - extent)
      return Skip(path, "has a directory outside the track");
    if (depth > kQuorvaneImportMaxDepth) return Skip(path, "lies too deep");
    if (!seen_.insert(extent).second) return Skip(path, "is a directory met before (a loop)");
    std::vector<uint8_t> data;
    try {
      data.assign(size_t{blocks} * kBlock, 0);
    } catch (const std::bad_alloc&) {
      QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): Not enought memory for directory", kMethod);
    }
    if (blocks != 0) source_.Read(extent, blocks, data.data());

    std::string multiExtent;  // a file in pieces, left out with all of them
    for (uint32_t at = 0; at < length;) {
      const uint8_t* r = data.data() + at;
      const uint32_t inSector = at % kBlock;
      if (r[0] == 0) {  // the unused end of a sector
        at += kBlock - inSector;
        continue;
      }
      const uint32_t size = r[0], nameLength = r[32];
      if (size < kRecordFixed + 1 || inSector + size > kBlock || at + size > length || nameLength == 0 ||
          kRecordFixed + nameLength > size) {
        Skip(path, ("has a damaged record at block " + std::to_string(extent + at / kBlock) + " byte " +
                          std::to_string(inSector) + "; the rest of that block")
                             .c_str());
        at += kBlock - inSector;
        continue;
      }
      at += size;
      if (nameLength == 1 && (r[33] == 0 || r[33] == 1)) continue;  // "." and ".."
      const uint8_t flags = r[25];
      if (flags & kFlagAssociated) continue;
      const bool folder = (flags & kFlagDirectory) != 0;
      const std::string name = RecordName(r + 33, nameLength, joliet_, folder);
      const std::string raw(reinterpret_cast<const char*>(r + 33), nameLength);
      const std::string kidPath = path + "/" + (name.empty() ? QuorvaneI_SanitizeUtf8(raw) : name);
      if (name.empty()) {
        Skip(kidPath, "has a name that cannot be a file's name");
        continue;
      }
      if ((flags & kFlagMultiExtent) || (!multiExtent.empty() && name == multiExtent)) {
        if (flags & kFlagMultiExtent) {
          if (multiExtent != name) Skip(kidPath, "is a file in several extents");
          multiExtent = name;
        } else {
          multiExtent.clear();
        }
        continue;
      }
      const uint32_t kidExtent = QuorvaneI_LE32(r + 2), kidLength = QuorvaneI_LE32(r + 10);
      const uint64_t kidBlocks = (uint64_t{kidLength} + kBlock - 1) / kBlock;
      if (!folder && kidLength != 0 && kidExtent + kidBlocks > source_.End()) {
        Skip(kidPath, "has data past the end of the track");
        continue;
      }
      uint32_t attributes = (folder ? qv::plat::kAttrDirectory : 0) | (flags & kFlagHidden ? qv::plat::kAttrHidden : 0);
      if (attributes == 0) attributes = qv::plat::kAttrNormal;
      // An empty file at extent 0 is still placed: it adds no data.
      const uint32_t start = !folder && kidLength == 0 && kidExtent == 0 ? 1 : kidExtent;
      CQuorvane_FileTreeNode* node = nullptr;
      try {
        node = tree_->ImportFileTreeNode(StoredPath(kidPath).c_str(), name.c_str(), attributes, r + 18,
                                         folder ? std::max(kidExtent, 1u) : start, folder ? 0 : kidLength, parent);
      } catch (CQuorvane_Exception* e) {
        if (e->Number() == EN_USER_EXCEPTION) throw;
        QuorvaneI_Log("\n%s(): '%s' was not imported: %s\n", kMethod, kidPath.c_str(), e->Text());
        delete e;
        Skip(kidPath, "cannot be a node of the tree");
        continue;
      }
      if (folder && node != nullptr) Directory(kidPath, kidExtent, kidLength, node, depth + 1);
    }
  }

  void MarkSeen(uint32_t extent) { seen_.insert(extent); }

 private:
  void Skip(const std::string& path, const char* why) { tree_->ReportImportSkipped(path.c_str(), why); }

  // The node's path identifies it in collision records only: a deep one
  // is cut to what a node holds, the walk keeps it whole.
  static std::string StoredPath(const std::string& path) {
    return path.substr(0, QuorvaneI_Utf8Prefix(path.c_str(), kQuorvaneMaxPath - 1));
  }

  CQuorvane_ISO9660FileTree* tree_;
  QuorvaneI_ImportSource& source_;
  const bool joliet_;
  std::unordered_set<uint32_t> seen_;
};

// An image file: block n at byte n x 2048.
class FileSource : public QuorvaneI_ImportSource {
 public:
  FileSource(qv::plat::File file, uint32_t blocks) : file_(std::move(file)), end_(blocks) {}
  uint32_t First() const override { return 0; }
  uint32_t End() const override { return end_; }
  void Read(uint32_t lba, uint32_t count, uint8_t* buffer) override {
    static const char* const kMethod = "CQuorvane_CdvdBurnerGrabber::ImportFile";
    const size_t want = size_t{count} * kBlock;
    uint32_t error = 0;
    const int64_t got = file_.ReadAt(uint64_t{lba} * kBlock, buffer, want, &error);
    if (got != static_cast<int64_t>(want))
      QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error ? error : 996,
                      "%s(): ReadFile( 0x%x, 0x%p, %d, 0x%p, 0x%p ) failed, read %d instead of %d, status %d ( 0x%x )",
                      kMethod, 0u, static_cast<void*>(buffer), static_cast<int>(want), nullptr, nullptr,
                      static_cast<int>(got < 0 ? 0 : got), static_cast<int>(want), static_cast<int>(error ? error : 996),
                      error ? error : 996u);
  }
  void ReadDescriptors(uint8_t* buffer) override {
    // Read as a whole, even from an image too short to hold them.
    Read(16, kDescriptorBlocks, buffer);
  }

 private:
  qv::plat::File file_;
  uint32_t end_;
};

}  // namespace

void QuorvaneI_ImportSource::ReadDescriptors(uint8_t* buffer) {
  const uint64_t from = uint64_t{First()} + 16;
  const uint32_t count = from >= End() ? 0 : static_cast<uint32_t>(std::min<uint64_t>(kDescriptorBlocks, End() - from));
  std::memset(buffer, 0, size_t{kDescriptorBlocks} * kBlock);
  if (count != 0) Read(static_cast<uint32_t>(from), count, buffer);
}

void QuorvaneI_Import(CQuorvane_ISO9660FileTree* tree, QuorvaneI_ImportSource& source, bool joliet,
                      const std::string& prefix, const char* method) {
  const std::type_info& kind = typeid(*tree);
  if (kind != typeid(CQuorvane_ISO9660FileTree) && kind != typeid(CQuorvane_JolietFileTree))
    QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): an earlier session imports into ISO9660/Joliet trees only!",
                    method);
  std::vector<uint8_t> descriptors(size_t{kDescriptorBlocks} * kBlock);
  source.ReadDescriptors(descriptors.data());
  const uint8_t* main = nullptr;
  const uint8_t* boot = nullptr;
  for (uint32_t i = 0; i < kDescriptorBlocks; ++i) {
    const uint8_t* d = descriptors.data() + size_t{i} * kBlock;
    if (joliet ? IsJolietDescriptor(d) : IsDescriptor(d, 1)) {
      QuorvaneI_Log("\n%s(): INFORMATION! Main descriptor was found...\n", method);
      main = d;
    } else if (IsDescriptor(d, 0)) {
      QuorvaneI_Log("\n%s(): INFORMATION! Boot descriptor was found...\n", method);
      boot = d;
    }
  }
  if (main == nullptr) QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): Volume descriptor was not found!", method);
  if (boot != nullptr) tree->SetImportedBootDescriptor(boot);
  std::lock_guard<std::recursive_mutex> lock(tree->Lock());
  tree->ClearCancel();
  const uint32_t extent = QuorvaneI_LE32(main + 158), length = QuorvaneI_LE32(main + 166);
  Walk walk(tree, source, joliet);
  walk.Directory(prefix, extent, length, nullptr, 1);
}

void QuorvaneI_ImportFile(CQuorvane_ISO9660FileTree* tree, const char* fileName, bool joliet) {
  static const char* const kMethod = "CQuorvane_CdvdBurnerGrabber::ImportFile";
  uint32_t error = 0;
  int64_t size = 0;
  qv::plat::File file = qv::plat::File::OpenSized(fileName, &size, &error);
  if (!file.IsOpen())
    QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error,
                    "%s(): CreateFile( '%s', 0x%x, 0x%x, 0x%p, %d, 0x%p ) failed, status %d ( 0x%x )", kMethod,
                    fileName, 0x80000000u, 1u, nullptr, 3, nullptr, static_cast<int>(error), error);
  const uint64_t blocks = static_cast<uint64_t>(size < 0 ? 0 : size) / kBlock;
  FileSource source(std::move(file), static_cast<uint32_t>(std::min<uint64_t>(blocks, UINT32_MAX)));
  QuorvaneI_Import(tree, source, joliet, std::string("ImportingFile( ") + fileName + " ):", kMethod);
}

// --- The tree's side ---

CQuorvane_FileTreeNode* CQuorvane_ISO9660FileTree::ImportFileTreeNode(const char* absolutePath, const char* name,
                                                                      uint32_t attributes, const uint8_t date[7],
                                                                      uint32_t startAddress, uint32_t sizeInUCHARs,
                                                                      CQuorvane_FileTreeNode* parent) {
  static const char* const kMethod = "CQuorvane_ISO9660FileTree::ImportFileTreeNode";
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  if (m__BOOLEAN__IsImageBuild)
    QuorvaneI_Throw(kMethod, EN_INVALID_STATE, 0, "%s(): m__BOOLEAN__IsImageBuild is TRUE already", kMethod);
  if (parent == nullptr) parent = EnsureRoot();
  // The short name: the first 12 characters, a long file name keeping
  // its extension when that lies within its last four.
  std::string shortName(name, QuorvaneI_Utf8Prefix(name, kQuorvaneShortNameSize - 1));
  const bool folder = (attributes & qv::plat::kAttrDirectory) != 0;
  if (const std::string_view whole(name); !folder && whole.size() > shortName.size()) {
    const size_t dot = whole.rfind('.');
    if (dot != std::string_view::npos && dot + 4 >= whole.size()) {
      const std::string_view extension = whole.substr(dot);
      shortName = std::string(name, QuorvaneI_Utf8Prefix(name, kQuorvaneShortNameSize - 1 - extension.size()));
      shortName += extension;
    }
  }
  ++m__LONG__NodeCount;
  const uint64_t fileTime = RecordFileTime(date);
  const auto count = static_cast<uint32_t>(m__LONG__NodeCount);
  CQuorvane_ISO9660FileTreeNode* node = nullptr;
  try {
    node = IsJoliet() ? new (std::nothrow) CQuorvane_JolietFileTreeNode(
                            absolutePath, name, shortName.c_str(), attributes, uint64_t{sizeInUCHARs}, parent, count,
                            fileTime, UsesLongNames(), false, startAddress)
                      : new (std::nothrow) CQuorvane_ISO9660FileTreeNode(
                            absolutePath, name, shortName.c_str(), attributes, uint64_t{sizeInUCHARs}, parent, count,
                            fileTime, UsesLongNames(), false, startAddress);
  } catch (...) {
    --m__LONG__NodeCount;
    throw;
  }
  if (node == nullptr) {
    --m__LONG__NodeCount;
    QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): NewFileTreeNodeItem() for Current failed", kMethod);
  }
  // The date as the disc has it, with its offset from UTC.
  node->SetRecordingDate(date);
  OnNodeAdded(node);
  CQuorvane_FileTreeNode* kept = AddKid(parent, node);
  if (kept == nullptr)
    QuorvaneI_Log("\n%s(): EXITing with success, but with %p. Removing new node\n", kMethod, static_cast<void*>(kept));
  return kept;
}

void CQuorvane_ISO9660FileTree::ReportImportSkipped(const char* path, const char* why) {
  QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::ImportDirectory(): '%s' %s, skipped\n", path, why);
  Notify(CN_FILE_TREE_NODE_SKIPPED, path);
}
