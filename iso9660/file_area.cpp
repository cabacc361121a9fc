#include "iso9660/file_area.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "iso9660/iso9660_tree.h"

namespace {

using Node = CQuorvane_ISO9660FileTreeNode;

// Threads that read small files ahead of the stream: opening and reading
// many small files is system time that overlaps well.
constexpr unsigned kReadAheadThreads = 2;
constexpr size_t kReadAheadFrom = 64;

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

}  // namespace

QuorvaneI_FileArea::QuorvaneI_FileArea(CQuorvane_FileChangeListener* listener) : m__PListener(listener) {}
QuorvaneI_FileArea::~QuorvaneI_FileArea() = default;

void QuorvaneI_FileArea::Place(QuorvaneI_ImageLayout& layout, const std::vector<Node*>& files) {
  uint64_t blocks = 0;
  for (const Node* n : files)
    if (!n->IsFolder() && !n->HasPresetAddress()) blocks += n->GetSizeInSectors();
  uint64_t next = layout.Reserve(blocks, this, 0);
  m__ULONGLONG__FirstBlock = next;
  m__ULONGLONG__Blocks = blocks;
  m__Files.clear();
  for (Node* n : files) {
    if (n->IsFolder() || n->HasPresetAddress()) continue;
    n->SetStartAddress(static_cast<uint32_t>(std::min<uint64_t>(next, UINT32_MAX)));
    next += n->GetSizeInSectors();
    if (n->GetSizeInSectors() != 0) m__Files.push_back(n);
    if (auto* disk = dynamic_cast<CQuorvane_DiskFile*>(n->GetContentSource())) disk->SetChangeListener(m__PListener);
  }
}

// Disk files the node reads itself (named by path, no source of their
// own) may be read ahead; the rest keep their place in the order.
void QuorvaneI_FileArea::StartReadAhead() {
  std::vector<QuorvaneI_ReadAhead::Wanted> wanted;
  wanted.reserve(m__Files.size());
  size_t small = 0;
  for (const Node* n : m__Files) {
    const bool disk = n->GetContentSource() == nullptr && n->GetSizeInUCHARs() <= QuorvaneI_ReadAhead::kMaxSize;
    wanted.push_back({disk ? n->GetAbsolutePath() : "", n->GetSizeInUCHARs()});
    small += disk ? 1 : 0;
  }
  // A few small files are not worth the threads.
  if (small < kReadAheadFrom) return;
  m__Ahead = std::make_unique<QuorvaneI_ReadAhead>(std::move(wanted), kReadAheadThreads);
}

void QuorvaneI_FileArea::Rewind() {
  m__Ahead.reset();
  m__Bytes = nullptr;
  m__Open.reset();
  m__Index = 0;
  m__Offset = 0;
  for (Node* n : m__Files) {
    if (CQuorvane_File* source = n->GetContentSource()) {
      uint32_t one = 1;
      source->SeekToBeginUnsafe(&one);
    }
  }
}

// Files are opened one at a time here, and a few at a time by the
// read-ahead, so a tree of any size holds a few handles while it is read.
void QuorvaneI_FileArea::Emit(uint32_t, uint64_t, uint64_t length, uint8_t* buffer) {
  if (!m__Ahead && m__Index == 0 && m__Offset == 0) StartReadAhead();
  while (length != 0) {
    Node* n = m__Files[m__Index];
    const uint64_t stream = n->GetSizeInSectors() * kQuorvaneSectorSize;
    const uint64_t part = std::min(length, stream - m__Offset);
    CQuorvane_File* source = n->GetContentSource();
    if (m__Offset == 0 && m__Ahead) m__Bytes = m__Ahead->Next();
    if (m__Bytes != nullptr) {
      const uint64_t size = n->GetSizeInUCHARs();
      const uint64_t held = m__Offset < size ? std::min(part, size - m__Offset) : 0;
      std::memcpy(buffer, m__Bytes + m__Offset, held);
      std::memset(buffer + held, 0, part - held);
    } else if (source == nullptr) {
      if (!m__Open)
        m__Open = std::make_unique<QuorvaneI_ISO9660NodeFile>(n->GetAbsolutePath(), n->GetSizeInUCHARs(), stream,
                                                               m__PListener);
      m__Open->Read(part, buffer);
    } else {
      source->Read(part, buffer);
    }
    buffer += part;
    length -= part;
    m__Offset += part;
    if (m__Offset == stream) {
      m__Open.reset();
      m__Bytes = nullptr;
      ++m__Index;
      m__Offset = 0;
    }
  }
}
