// The flat entry points of UDF images: UDF file trees, and volumes built
// from UDF tree items.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/exception.h"
#include "core/status.h"
#include "files/file_time.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/filesystem.h"
#include "udf/udf_items.h"
#include "udf/udf_tree.h"

namespace {

// A block of memory shared with the item it came from.
class QuorvaneI_SharedMemoryFile : public CQuorvane_File {
 public:
  QuorvaneI_SharedMemoryFile(std::shared_ptr<uint8_t[]> block, uint64_t sizeInUCHARs)
      : CQuorvane_File(sizeInUCHARs), m__Block(std::move(block)) {}

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override {
    std::memcpy(buffer, m__Block.get() + m__ULONGLONG__PositionInUCHARs, length);
  }

 private:
  std::shared_ptr<uint8_t[]> m__Block;
};

uint64_t StreamSize(uint64_t size) { return QuorvaneI_Sectors(size) * kQuorvaneSectorSize; }

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Gives item a name no sibling has, ignoring case: base, six hexadecimal
// digits of the parent's rename counter, extension.
uint32_t MakeNameUnique(QuorvaneI_UdfItem* item) {
  const size_t dot = item->name.rfind('.');
  std::string base = item->name.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : item->name.substr(dot + 1);
  if (base.size() + extension.size() + 7 > 255) {
    if (base.size() < 7) extension.resize(std::min<size_t>(extension.size(), 3));
    else base.resize(base.size() - 6);
  }
  for (const QuorvaneI_UdfItem* s = item->parent->firstKid; s != nullptr;) {
    if (s == item || !EqualIgnoringCase(s->name, item->name)) {
      s = s->next;
      continue;
    }
    if (++item->parent->renameCounter > 0xFFFFFF) {
      QuorvaneI_Log("\nCQuorvane_UDF_TreeNode::MakeNameUnique() : Invalid index value = %X.\n",
                    item->parent->renameCounter);
      return qv::plat::kErrInvalidParameter;
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06X", item->parent->renameCounter);
    item->name = base + digits + (dot == std::string::npos ? "" : "." + extension);
    s = item->parent->firstKid;
  }
  return qv::plat::kErrSuccess;
}

// Makes the item and links it at the tail of its parent's kids.
uint32_t FormatItem(const char* entryPoint, PQUORVANE_UDF_TREE_ITEM item, uint32_t number, const char* name,
                    PQUORVANE_UDF_TREE_ITEM parent, std::unique_ptr<QuorvaneI_UdfItem> made) {
  QuorvaneI_UdfItem* up = QuorvaneI_ItemOf(parent);
  if (item == nullptr || item->m__PVOID__Item != nullptr || (parent != nullptr && (up == nullptr || !up->folder))) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, the item is formatted already, or its parent is not a "
                  "folder\n",
                  entryPoint);
    return qv::plat::kErrInvalidParameter;
  }
  made->self = item;
  made->number = number;
  for (const char* c = name; c && *c; ++c) made->name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*c))));
  if (made->name.size() > 255 || (up != nullptr && made->name.empty())) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, the name '%s' is empty or longer than 255\n", entryPoint,
                  made->name.c_str());
    return qv::plat::kErrInvalidParameter;
  }
  if (up != nullptr) {
    made->parent = up;
    (up->lastKid ? up->lastKid->next : up->firstKid) = made.get();
    up->lastKid = made.get();
    if (const uint32_t status = MakeNameUnique(made.get()); status != 0) {
      // Unlink again: the item stays unformatted.
      QuorvaneI_UdfItem** at = &up->firstKid;
      QuorvaneI_UdfItem* previous = nullptr;
      while (*at != made.get()) previous = *at, at = &(*at)->next;
      *at = nullptr;
      up->lastKid = previous;
      return status;
    }
  }
  item->m__PVOID__Item = made.release();
  return qv::plat::kErrSuccess;
}

void DestroyItem(QuorvaneI_UdfItem* item) {
  if (item == nullptr) return;
  while (item->firstKid) DestroyItem(item->firstKid);
  if (QuorvaneI_UdfItem* up = item->parent) {
    QuorvaneI_UdfItem* previous = nullptr;
    for (QuorvaneI_UdfItem* s = up->firstKid; s != item; s = s->next) previous = s;
    (previous ? previous->next : up->firstKid) = item->next;
    if (up->lastKid == item) up->lastKid = previous;
  }
  item->self->m__PVOID__Item = nullptr;
  delete item;
}

}  // namespace

std::string QuorvaneI_UdfIdentifierText(const char* text, size_t limit) {
  std::string out;
  for (const char* c = text; c && *c && out.size() < limit; ++c) {
    const auto u = static_cast<unsigned char>(*c);
    out.push_back(std::isalnum(u) && u < 0x80 ? static_cast<char>(std::toupper(u)) : '_');
  }
  return out;
}

QuorvaneI_VolumeTexts QuorvaneI_ItemVolumeTexts(const char* label, const char* publisher, const char* application,
                                                uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                                                uint32_t minute, uint32_t second, uint32_t milliseconds) {
  QuorvaneI_VolumeTexts t;
  t.label = QuorvaneI_UdfIdentifierText(label, 15);
  t.publisher = QuorvaneI_UdfIdentifierText(publisher, 127);
  t.application = QuorvaneI_UdfIdentifierText(application, 127);
  char date[32];
  std::snprintf(date, sizeof date, "%04u%02u%02u%02u%02u%02u%02u", year % 10000, month % 100, day % 100, hour % 100,
                minute % 100, second % 100, (milliseconds / 10) % 100);
  t.creationDate = t.modificationDate = t.effectiveDate = date;
  return t;
}

std::unique_ptr<CQuorvane_UDFFileTree> QuorvaneI_BuildItems(QuorvaneI_UdfItem* root, bool bridge,
                                                            const QuorvaneI_VolumeTexts& texts) {
  auto tree = std::make_unique<CQuorvane_UDFFileTree>(nullptr, nullptr, false, false, bridge);
  std::vector<std::pair<QuorvaneI_UdfItem*, CQuorvane_FileTreeNode*>> stack{{root, tree->Root()}};
  while (!stack.empty()) {
    auto [folder, at] = stack.back();
    stack.pop_back();
    for (QuorvaneI_UdfItem* kid = folder->firstKid; kid; kid = kid->next) {
      CQuorvane_FileTreeNode* node = nullptr;
      if (kid->folder) {
        node = tree->LinkFolder(at, kid->name.c_str(), kid->fileTime);
        stack.emplace_back(kid, node);
      } else {
        std::unique_ptr<CQuorvane_File> source;
        if (kid->memory) source = std::make_unique<QuorvaneI_SharedMemoryFile>(kid->memory, StreamSize(kid->size));
        else source = std::make_unique<CQuorvane_DiskFile>(kid->path.c_str(), StreamSize(kid->size));
        node = tree->LinkFile(at, kid->name.c_str(), kid->size, kid->fileTime, std::move(source));
      }
      kid->node = static_cast<CQuorvane_ISO9660FileTreeNode*>(node);
    }
  }
  tree->BuildImage(0, 0, texts);
  return tree;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_CreateFileTree(QV_HANDLE* tree, char* text, QV_ULONG textSize,
                                                              QV_ULONG* systemStatus, PQUORVANE_CALLBACK callback,
                                                              void* callbackContext, QV_BOOLEAN ignoreErrors,
                                                              QV_BOOLEAN lockFiles, QV_BOOLEAN bridge) {
  if (tree == nullptr) return QuorvaneI_ReportNumber(EN_INVALID_PARAMETER, "the tree pointer is NULL", text, textSize);
  *tree = nullptr;
  uint32_t error = 0;
  const uint32_t n = QuorvaneI_CallCreate("Quorvane_UDF_CreateFileTree", text, textSize, &error, nullptr, [&] {
    *tree = static_cast<CQuorvane_ISO9660FileTree*>(
        new CQuorvane_UDFFileTree(callback, callbackContext, ignoreErrors != 0, lockFiles != 0, bridge != 0));
  });
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus) *systemStatus = error;
  return n;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_FormatTreeItemAsFile(PQUORVANE_UDF_TREE_ITEM item,
                                                                    QV_ULONG itemNumber, const char* name,
                                                                    const char* path,
                                                                    PQUORVANE_UDF_TREE_ITEM parent) {
  static const char* const kEntry = "Quorvane_UDF_FormatTreeItemAsFile";
  if (name == nullptr || path == nullptr || parent == nullptr) return qv::plat::kErrInvalidParameter;
  try {
    auto made = std::make_unique<QuorvaneI_UdfItem>();
    made->path = path;
    uint32_t error = 0;
    int64_t size = -1;
    qv::plat::File file = qv::plat::File::OpenSized(path, &size, &error);
    qv::plat::FileInfo info;
    if (!file.IsOpen() || !qv::plat::GetFileSystem().Stat(path, &info, &error)) {
      QuorvaneI_Log("\nQuorvane:%s(): CreateFile( '%s' ) failed, status %u\n", kEntry, path, error);
      return error ? error : qv::plat::kErrFileNotFound;
    }
    made->size = static_cast<uint64_t>(size);
    made->fileTime = info.writeTime;
    std::string upper;
    for (const char* c = name; *c; ++c) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*c))));
    if (upper.find(".IFO") != std::string::npos || upper.find(".BUP") != std::string::npos) {
      made->memory = std::shared_ptr<uint8_t[]>(new uint8_t[StreamSize(made->size)]());
      if (file.ReadAt(0, made->memory.get(), made->size, &error) != size) {
        QuorvaneI_Log("\nQuorvane:%s(): ReadFile( '%s' ) failed, status %u\n", kEntry, path, error);
        return error ? error : qv::plat::kErrReadFault;
      }
    }
    return FormatItem(kEntry, item, itemNumber, name, parent, std::move(made));
  } catch (const std::bad_alloc&) {
    return qv::plat::kErrNotEnoughMemory;
  }
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_FormatTreeItemAsFolder(PQUORVANE_UDF_TREE_ITEM item,
                                                                      QV_ULONG itemNumber, const char* name,
                                                                      PQUORVANE_UDF_TREE_ITEM parent) {
  try {
    auto made = std::make_unique<QuorvaneI_UdfItem>();
    made->folder = true;
    made->fileTime = QuorvaneI_FileTimeNow();
    return FormatItem("Quorvane_UDF_FormatTreeItemAsFolder", item, itemNumber, name ? name : "", parent,
                      std::move(made));
  } catch (const std::bad_alloc&) {
    return qv::plat::kErrNotEnoughMemory;
  }
}

QUORVANE_API PQUORVANE_UDF_TREE_ITEM QUORVANE_CALL Quorvane_UDF_GetItemParent(PQUORVANE_UDF_TREE_ITEM item) {
  const QuorvaneI_UdfItem* i = QuorvaneI_ItemOf(item);
  return i && i->parent ? i->parent->self : nullptr;
}

QUORVANE_API PQUORVANE_UDF_TREE_ITEM QUORVANE_CALL Quorvane_UDF_GetItemFirstKid(PQUORVANE_UDF_TREE_ITEM item) {
  const QuorvaneI_UdfItem* i = QuorvaneI_ItemOf(item);
  return i && i->firstKid ? i->firstKid->self : nullptr;
}

QUORVANE_API PQUORVANE_UDF_TREE_ITEM QUORVANE_CALL Quorvane_UDF_GetItemNextSibling(PQUORVANE_UDF_TREE_ITEM item) {
  const QuorvaneI_UdfItem* i = QuorvaneI_ItemOf(item);
  return i && i->next ? i->next->self : nullptr;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_GetItemBlocks(PQUORVANE_UDF_TREE_ITEM item, QV_ULONG* firstBlock,
                                                             QV_ULONG* blocks) {
  const QuorvaneI_UdfItem* i = QuorvaneI_ItemOf(item);
  if (i == nullptr || i->folder || firstBlock == nullptr || blocks == nullptr) return EN_INVALID_PARAMETER;
  if (i->node == nullptr) return EN_INVALID_STATE;
  *firstBlock = i->node->GetStartAddress();
  *blocks = static_cast<QV_ULONG>(i->node->GetSizeInSectors());
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_CreateEx(
    PQUORVANE_UDF_TREE_ITEM root, PQUORVANE_UDF_TREE_ITEM videoTs, PQUORVANE_UDF_TREE_ITEM audioTs,
    PQUORVANE_UDF_CONTROL_BLOCK control, char* text, QV_ULONG textSize, QV_ULONG* systemStatus,
    const char* volumeLabel, const char* publisher, const char* application, QV_ULONG year, QV_ULONG month,
    QV_ULONG day, QV_ULONG hour, QV_ULONG minute, QV_ULONG second, QV_ULONG milliseconds) {
  static const char* const kEntry = "Quorvane_UDF_CreateEx";
  uint32_t error = 0;
  const uint32_t n = QuorvaneI_CallCreate(kEntry, text, textSize, &error, nullptr, [&] {
    QuorvaneI_UdfItem* top = QuorvaneI_ItemOf(root);
    if (top == nullptr || !top->folder || top->parent != nullptr || control == nullptr)
      QuorvaneI_Throw(kEntry, EN_INVALID_PARAMETER, 0,
                      "Quorvane:%s(): the root is not a formatted root folder, or the control block is NULL", kEntry);
    const bool bridge = QuorvaneI_ItemOf(videoTs) != nullptr && QuorvaneI_ItemOf(audioTs) != nullptr;
    control->m__PVOID__Body = nullptr;
    const QuorvaneI_VolumeTexts texts = QuorvaneI_ItemVolumeTexts(volumeLabel, publisher, application, year, month,
                                                                  day, hour, minute, second, milliseconds);
    control->m__PVOID__Body = static_cast<CQuorvane_ISO9660FileTree*>(QuorvaneI_BuildItems(top, bridge, texts).release());
  });
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus) *systemStatus = error;
  return n;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_Create(PQUORVANE_UDF_TREE_ITEM root,
                                                      PQUORVANE_UDF_TREE_ITEM videoTs,
                                                      PQUORVANE_UDF_TREE_ITEM audioTs,
                                                      PQUORVANE_UDF_CONTROL_BLOCK control, char* text,
                                                      QV_ULONG textSize, QV_ULONG* systemStatus,
                                                      const char* volumeLabel) {
  return Quorvane_UDF_CreateEx(root, videoTs, audioTs, control, text, textSize, systemStatus, volumeLabel,
                               "PUBLISHER: QUORVANE SDK", "APPLICATION: QUORVANE SDK", 1978, 3, 10, 10, 0, 0, 0);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_Destroy(PQUORVANE_UDF_TREE_ITEM root,
                                                       PQUORVANE_UDF_CONTROL_BLOCK control) {
  if (control != nullptr && control->m__PVOID__Body != nullptr) {
    delete static_cast<CQuorvane_ISO9660FileTree*>(control->m__PVOID__Body);
    control->m__PVOID__Body = nullptr;
  }
  DestroyItem(QuorvaneI_ItemOf(root));
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_DestroyTreeItems(PQUORVANE_UDF_TREE_ITEM items, QV_ULONG count) {
  if (items == nullptr && count != 0) return EN_INVALID_PARAMETER;
  for (QV_ULONG i = 0; i < count; ++i) DestroyItem(QuorvaneI_ItemOf(&items[i]));
  return EN_SUCCESS;
}
