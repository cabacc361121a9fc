#include "udf/udf_tree.h"

#include <cstring>
#include <new>

#include "core/exception.h"
#include "core/settings.h"
#include "iso9660/image_writers.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "udf/udf_descriptors.h"
#include "udf/udf_writer.h"

namespace {

using Node = CQuorvane_ISO9660FileTreeNode;

// A CS0 identifier holds 254 bytes after its compression id.
constexpr size_t kCs0Bytes = 255;

std::string ShortName(const char* name) { return std::string(name, QuorvaneI_Utf8Prefix(name, 12)); }

}  // namespace

std::string QuorvaneI_UdfName(const char* longName) {
  static const char* const kMethod = "CQuorvane_UDFFileTreeNode::CQuorvane_UDFFileTreeNode";
  std::u16string units;
  uint32_t error = 0;
  if (!qv::plat::NarrowToWide(longName, &units, &error))
    QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error, "%s(): MultiByteToWideChar() failed, status == %ld!!!",
                    kMethod, static_cast<long>(error));
  std::string cs0 = QuorvaneI_Cs0(units);
  if (cs0.size() > kCs0Bytes)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0,
                    "%s(): '%s' is too long for a UDF name: at most 254 characters below U+0100, or 127 others!!!",
                    kMethod, longName);
  return cs0;
}

void CQuorvane_UDFFileTreeNode::MakeUdfName() { SetSecondName(QuorvaneI_UdfName(GetLongName())); }

void CQuorvane_UDFFileTreeNode::RebuildName() {
  CQuorvane_ISO9660FileTreeNode::RebuildName();
  MakeUdfName();
}

uint32_t CQuorvane_UDFFileTreeNode::GetImageNames(char* name, char16_t* wideName) {
  const uint32_t length = CQuorvane_ISO9660FileTreeNode::GetImageNames(name, wideName);
  const std::u16string units = QuorvaneI_Cs0Units(GetSecondName());
  if (wideName) {
    std::memset(wideName, 0, kQuorvaneMaxPath);
    std::memcpy(wideName, units.data(), std::min<size_t>(units.size(), kQuorvaneMaxPath / 2 - 1) * 2);
  }
  return length;
}

CQuorvane_UDFFileTree::CQuorvane_UDFFileTree(PQUORVANE_CALLBACK callback, void* callbackContext, bool ignoreErrors,
                                             bool lockFiles, bool bridge)
    : CQuorvane_ISO9660FileTree(callback, callbackContext, ignoreErrors, lockFiles, false),
      m__BOOLEAN__Bridge(bridge ? 1 : 0) {}

void CQuorvane_UDFFileTree::RefuseHugeFile(const char* name, uint64_t size) const {
  if (!IsBridge() && size > kQuorvaneUdfMaxFileSize)
    QuorvaneI_Throw("CQuorvane_UDFFileTreeNode::CQuorvane_UDFFileTreeNode", EN_FILE_TOO_BIG, 0,
                    "CQuorvane_UDFFileTreeNode::CQuorvane_UDFFileTreeNode(): '%s' holds %llu UCHARs, a UDF file "
                    "holds at most %llu!!!",
                    name, static_cast<unsigned long long>(size),
                    static_cast<unsigned long long>(kQuorvaneUdfMaxFileSize));
}

CQuorvane_FileTreeNode* CQuorvane_UDFFileTree::NewFileTreeNodeItem(QV_HANDLE handle, uint64_t sizeInUCHARs,
                                                                   const char* longName, const char* shortName,
                                                                   CQuorvane_FileTreeNode* parent,
                                                                   uint32_t userValue, uint64_t fileTime) {
  RefuseHugeFile(longName, sizeInUCHARs);
  return new (std::nothrow) CQuorvane_UDFFileTreeNode(handle, sizeInUCHARs, longName, shortName, parent, userValue,
                                                      fileTime, false, IsBridge());
}

CQuorvane_FileTreeNode* CQuorvane_UDFFileTree::NewFileTreeNodeItem(const char* absolutePath, const char* longName,
                                                                   const char* shortName, uint32_t attributes,
                                                                   uint64_t sizeInUCHARs,
                                                                   CQuorvane_FileTreeNode* parent,
                                                                   uint32_t userValue, uint64_t fileTime) {
  if (!(attributes & qv::plat::kAttrDirectory)) RefuseHugeFile(absolutePath, sizeInUCHARs);
  return new (std::nothrow)
      CQuorvane_UDFFileTreeNode(absolutePath, longName, shortName, attributes, sizeInUCHARs, parent, userValue,
                                fileTime, false, LocksFiles(), 0u, KnownReadable(), IsBridge());
}

CQuorvane_FileTreeNode* CQuorvane_UDFFileTree::CheckName(CQuorvane_FileTreeNode* parent,
                                                         CQuorvane_FileTreeNode* node) {
  if (QuorvaneI_SkipNameCheck()) return node;
  if (IsImageBuild())
    QuorvaneI_Throw("CQuorvane_ISO9660FileTree::CheckName", EN_INVALID_STATE, 0,
                    "CQuorvane_ISO9660FileTree::CheckName(): m__BOOLEAN__IsImageBuild is TRUE already");
  auto* n = static_cast<Node*>(node);
  if (IsBridge()) {
    CQuorvane_FileTreeNode* kept = CheckKind(parent, n, 0);
    if (kept != node) return kept;
  }
  return CheckKind(parent, n, 1);
}

bool CQuorvane_UDFFileTree::RenameNode(CQuorvane_FileTreeNode* node, const char* longName, const char* shortName) {
  // A UDF name that cannot be made fails the rename before anything
  // changes.
  if (node != nullptr && longName != nullptr) QuorvaneI_UdfName(longName);
  return CQuorvane_ISO9660FileTree::RenameNode(node, longName, shortName);
}

std::string_view CQuorvane_UDFFileTree::KidKey(const CQuorvane_FileTreeNode* node, unsigned kind) const {
  return kind == 1 ? static_cast<const Node*>(node)->GetSecondName() : CQuorvane_ISO9660FileTree::KidKey(node, kind);
}

std::u16string CQuorvane_UDFFileTree::SecondNameUnits(const Node* node) const {
  return QuorvaneI_Cs0Units(node->GetSecondName());
}

void CQuorvane_UDFFileTree::RenameSecondName(Node* node, const std::u16string& chosen) {
  std::u16string name = chosen;
  for (char16_t& u : name)
    if (u == u'/' || u == 0) u = u'_';
  std::string cs0 = QuorvaneI_Cs0(name);
  if (cs0.size() > kCs0Bytes) {
    name.resize(cs0[0] == 8 ? kCs0Bytes - 1 : (kCs0Bytes - 1) / 2);
    cs0 = QuorvaneI_Cs0(name);
  }
  node->SetSecondName(cs0);
}

CQuorvane_FileTreeNode* CQuorvane_UDFFileTree::Root() {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  return EnsureRoot();
}

CQuorvane_FileTreeNode* CQuorvane_UDFFileTree::LinkFolder(CQuorvane_FileTreeNode* parent, const char* name,
                                                          uint64_t fileTime) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  CQuorvane_FileTreeNode* at = parent ? parent : EnsureRoot();
  auto* node = new CQuorvane_UDFFileTreeNode(":", name, ShortName(name).c_str(), qv::plat::kAttrDirectory, 0, at,
                                             static_cast<uint32_t>(++m__LONG__NodeCount), fileTime, false, false, 0u,
                                             false, IsBridge());
  OnNodeAdded(node);
  LinkKid(at, node);
  OnKidLinked(at, node);
  return node;
}

CQuorvane_FileTreeNode* CQuorvane_UDFFileTree::LinkFile(CQuorvane_FileTreeNode* parent, const char* name,
                                                        uint64_t sizeInUCHARs, uint64_t fileTime,
                                                        std::unique_ptr<CQuorvane_File> source) {
  std::lock_guard<std::recursive_mutex> lock(m__CriticalSection);
  RefuseHugeFile(name, sizeInUCHARs);
  CQuorvane_FileTreeNode* at = parent ? parent : EnsureRoot();
  auto* node = new CQuorvane_UDFFileTreeNode(std::move(source), sizeInUCHARs, name, ShortName(name).c_str(), at,
                                             static_cast<uint32_t>(++m__LONG__NodeCount), fileTime, IsBridge());
  OnNodeAdded(node);
  LinkKid(at, node);
  OnKidLinked(at, node);
  return node;
}

void CQuorvane_UDFFileTree::AddWriters(Writers& writers, QuorvaneI_FileArea& files) {
  auto* root = static_cast<Node*>(m__PCQuorvane_FileTreeNode__Root);
  if (IsBridge()) writers.push_back(std::make_unique<QuorvaneI_ECMA119Writer>(root, nullptr));
  writers.push_back(std::make_unique<QuorvaneI_UdfWriter>(root, &files, IsBridge()));
}
