// The ISO9660 and Joliet trees: their nodes, the boot image, and building
// the image through its writers.
#include "iso9660/iso9660_tree.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/exception.h"
#include "core/log.h"
#include "files/file_time.h"
#include "iso9660/file_area.h"
#include "iso9660/image_writers.h"
#include "platform/errors.h"

namespace {

using Node = CQuorvane_ISO9660FileTreeNode;

Node* AsIso(CQuorvane_FileTreeNode* node) { return static_cast<Node*>(node); }

void CheckDateText(const char* field, const std::string& text) {
  bool ok = text.empty() || text.size() == 16;
  for (char c : text) ok = ok && c >= '0' && c <= '9';
  if (!ok)
    QuorvaneI_Throw("CQuorvane_ISO9660FileTree::BuildImage", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_ISO9660FileTree::BuildImage(): %s date '%s' is not 16 digits YYYYMMDDhhmmsscc!!!",
                    field, text.c_str());
}

// 7-byte date of the current UTC time.

uint64_t FloppySize(uint8_t mediaType) {
  switch (mediaType) {
    case 1: return 1228800;
    case 2: return 1474560;
    case 3: return 2949120;
    default: return 0;
  }
}

// A disk file read as a member of the file area: opened when its data is
// reached, closed when it has been read, and refused if its size is no
// longer the size it had when it was added (found by its last read, which

}  // namespace

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


void CQuorvane_ISO9660FileTree::AddWriters(Writers& writers, QuorvaneI_FileArea& files) {
  Node* root = AsIso(m__PCQuorvane_FileTreeNode__Root);
  auto primary = std::make_unique<QuorvaneI_ECMA119Writer>(root, &files);
  const QuorvaneI_ECMA119Writer* p = primary.get();
  writers.push_back(std::move(primary));
  const QuorvaneI_BootSettings boot{m__PCQuorvane_ISO9660FileTreeNode__Boot, m__UCHAR__BootSystemType,
                                    m__UCHAR__BootMediaType, m__UCHAR__BootSectorCount,
                                    m__PUCHAR__ImportedBootDescriptor.get()};
  if (QuorvaneI_ElToritoWriter::Wanted(boot)) writers.push_back(std::make_unique<QuorvaneI_ElToritoWriter>(boot));
  if (IsJoliet()) writers.push_back(std::make_unique<QuorvaneI_JolietWriter>(root, p));
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
  Writers writers;
  auto files = std::make_unique<QuorvaneI_FileArea>(this);
  AddWriters(writers, *files);
  QuorvaneI_ImageLayout layout(startAddress);
  for (QuorvaneI_LayoutStep step : kQuorvaneLayoutSteps)
    for (auto& w : writers) w->Reserve(layout, step);
  const uint64_t end = layout.End();
  if (end > UINT32_MAX)
    QuorvaneI_Throw(kMethod, EN_INVALID_RANGE, 0, "%s(): the image ends at block %llu, past 32-bit addresses!!!",
                    kMethod, static_cast<unsigned long long>(end));
  m__ULONG__VolumeSpaceSize = static_cast<uint32_t>(end);
  QuorvaneI_ImageContext context{texts, xaFlag, QuorvaneI_FileTimeNow()};
  for (auto& w : writers) w->Prepare(layout, context);

  m__Writers = std::move(writers);
  m__FileArea = std::move(files);
  m__PCQuorvane_File__Image = std::make_unique<QuorvaneI_ImageStream>(layout);
  AddChainTail(m__PCQuorvane_File__Image.get());
  CQuorvane_FileChain::SeekToBegin();
  m__BOOLEAN__IsImageBuild = 1;
  QuorvaneI_Log("\n%s(): EXITing with success, %lu blocks from block %lu\n", kMethod,
                static_cast<unsigned long>(end - startAddress), static_cast<unsigned long>(startAddress));
}
