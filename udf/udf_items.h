// UDF tree items: the folders and files of a volume given one by one (the
// form DVD-Video images use), and the volume built from them, which is a
// UDF tree (udf_tree.h) with the items' folders and files linked in as
// they are.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "quorvane.h"

class CQuorvane_ISO9660FileTreeNode;
class CQuorvane_UDFFileTree;
struct QuorvaneI_VolumeTexts;

struct QuorvaneI_UdfItem {
  PQUORVANE_UDF_TREE_ITEM self = nullptr;
  QuorvaneI_UdfItem* parent = nullptr;
  QuorvaneI_UdfItem* firstKid = nullptr;
  QuorvaneI_UdfItem* lastKid = nullptr;
  QuorvaneI_UdfItem* next = nullptr;
  uint32_t number = 0;
  bool folder = false;
  std::string name, path;
  uint64_t size = 0;
  uint64_t fileTime = 0;
  // The whole content, sized to whole blocks, for IFO and BUP files; the
  // image reads these same bytes, so a patch after the build reaches it.
  std::shared_ptr<uint8_t[]> memory;
  uint32_t renameCounter = 0;
  // In the built volume.
  CQuorvane_ISO9660FileTreeNode* node = nullptr;
};

inline QuorvaneI_UdfItem* QuorvaneI_ItemOf(PQUORVANE_UDF_TREE_ITEM item) {
  return item ? static_cast<QuorvaneI_UdfItem*>(item->m__PVOID__Item) : nullptr;
}

// The volume of the items below root (a bridge with videoTs and audioTs).
// Throws engine exceptions.
std::unique_ptr<CQuorvane_UDFFileTree> QuorvaneI_BuildItems(QuorvaneI_UdfItem* root, bool bridge,
                                                            const QuorvaneI_VolumeTexts& texts);
// Texts as the item volumes write them: upper case, A-Z, 0-9 and '_' kept,
// every other character '_', cut to limit characters.
std::string QuorvaneI_UdfIdentifierText(const char* text, size_t limit);
// The descriptor texts of a volume from the entry points' arguments.
QuorvaneI_VolumeTexts QuorvaneI_ItemVolumeTexts(const char* label, const char* publisher, const char* application,
                                                uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                                                uint32_t minute, uint32_t second, uint32_t milliseconds);
