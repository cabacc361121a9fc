// UDF trees: file trees whose image is a UDF 1.02 volume (udf_writer.h),
// pure or as a UDF/ISO9660 bridge, an ISO9660 hierarchy of the same files
// beside it. Everything else is the ISO9660 tree's: additions from disk,
// collisions, building, reading the image as a chain, burning it.
//
// Names. A UDF name is the long name as it is: case kept, any character
// but '/' and NUL, at most 254 characters when all are below U+0100, else
// at most 127 UTF-16 units (exception 2 beyond). Names in a folder must
// differ exactly; in a bridge the ISO9660 names must differ as well, and a
// clash of either goes to the collision callback (reason 3) as in ISO9660
// trees, the UDF name as a wide one.
//
// Files of 4 GiB or more fit a pure UDF image (up to 128 extents of
// 0x3FFFF800 bytes); a bridge keeps the ISO9660 limit.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "iso9660/iso9660_tree.h"

class CQuorvane_UDFFileTreeNode : public CQuorvane_ISO9660FileTreeNode {
 public:
  template <class... Args>
  explicit CQuorvane_UDFFileTreeNode(Args&&... args) : CQuorvane_ISO9660FileTreeNode(static_cast<Args&&>(args)...) {
    MakeUdfName();
  }
  void RebuildName() override;
  uint32_t GetImageNames(char* name, char16_t* wideName) override;

 private:
  void MakeUdfName();
};

class CQuorvane_UDFFileTree : public CQuorvane_ISO9660FileTree {
 public:
  CQuorvane_UDFFileTree(PQUORVANE_CALLBACK callback, void* callbackContext, bool ignoreErrors, bool lockFiles,
                        bool bridge);
  bool IsBridge() const { return m__BOOLEAN__Bridge != 0; }

  using CQuorvane_ISO9660FileTree::NewFileTreeNodeItem;
  CQuorvane_FileTreeNode* NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs, const char* longName,
                                              const char* shortName, CQuorvane_FileTreeNode* parent,
                                              uint32_t userValue, uint64_t fileTime) override;
  CQuorvane_FileTreeNode* NewFileTreeNodeItem(const char* absolutePath, const char* longName, const char* shortName,
                                              uint32_t attributes, uint64_t sizeInUCHARs,
                                              CQuorvane_FileTreeNode* parent, uint32_t userValue,
                                              uint64_t fileTime) override;
  CQuorvane_FileTreeNode* CheckName(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) override;
  bool RenameNode(CQuorvane_FileTreeNode* node, const char* longName, const char* shortName) override;
  std::string_view KidKey(const CQuorvane_FileTreeNode* node, unsigned kind) const override;

  // The root, made when there is none.
  CQuorvane_FileTreeNode* Root();
  // Links, without a name check, a folder or a file whose content comes
  // from source (sized to whole blocks) under parent (the root when null).
  CQuorvane_FileTreeNode* LinkFolder(CQuorvane_FileTreeNode* parent, const char* name, uint64_t fileTime);
  CQuorvane_FileTreeNode* LinkFile(CQuorvane_FileTreeNode* parent, const char* name, uint64_t sizeInUCHARs,
                                   uint64_t fileTime, std::unique_ptr<CQuorvane_File> source);

 protected:
  void AddWriters(Writers& writers, QuorvaneI_FileArea& files) override;
  std::u16string SecondNameUnits(const CQuorvane_ISO9660FileTreeNode* node) const override;
  void RenameSecondName(CQuorvane_ISO9660FileTreeNode* node, const std::u16string& chosen) override;

 private:
  void RefuseHugeFile(const char* name, uint64_t sizeInUCHARs) const;
  const uint8_t m__BOOLEAN__Bridge;
};

// The CS0 identifier of a name. Exception 5 when it is not text, 2 when it
// is too long for UDF.
std::string QuorvaneI_UdfName(const char* longName);
