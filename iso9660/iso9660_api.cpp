// The flat entry points of ISO9660 and Joliet trees.
#include <cstring>
#include <string>

#include "core/exception.h"
#include "core/status.h"
#include "iso9660/import.h"
#include "iso9660/iso9660_tree.h"
#include "platform/dynlib.h"
#include "platform/file.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace {

CQuorvane_ISO9660FileTree* Tree(QV_HANDLE tree) { return static_cast<CQuorvane_ISO9660FileTree*>(tree); }
CQuorvane_ISO9660FileTreeNode* Node(QV_HANDLE node) { return static_cast<CQuorvane_ISO9660FileTreeNode*>(node); }

// The entry points that take the status triple.
template <class Body>
QV_ULONG Call(const char* entryPoint, QV_HANDLE tree, char* text, QV_ULONG textSize, QV_ULONG* systemStatus,
              Body&& body) {
  if (tree == nullptr) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, the tree handle is NULL\n", entryPoint);
    return QuorvaneI_ReportNumber(EN_INVALID_PARAMETER, "the tree handle is NULL", text, textSize);
  }
  uint32_t error = 0;
  const uint32_t n = QuorvaneI_Call(entryPoint, text, textSize, &error, nullptr, static_cast<Body&&>(body));
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus != nullptr) *systemStatus = error;
  return n;
}

// The entry points without it: 2 for a bad argument.
QV_ULONG BadArgument(const char* entryPoint, const char* what) {
  QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, %s\n", entryPoint, what);
  return EN_INVALID_PARAMETER;
}

std::string FromWide(const QV_WCHAR* wide) {
  if (wide == nullptr) return {};
  std::u16string units;
  for (const QV_WCHAR* w = wide; *w && units.size() < 1024; ++w) units.push_back(static_cast<char16_t>(*w));
  std::string narrow;
  uint32_t error = 0;
  qv::plat::WideToNarrow(units, &narrow, &error);
  return narrow;
}

void ToWide(const char* narrow, QV_WCHAR* out, size_t units) {
  if (out == nullptr) return;
  std::memset(out, 0, units * sizeof(QV_WCHAR));
  std::u16string wide;
  uint32_t error = 0;
  if (!qv::plat::NarrowToWide(narrow, &wide, &error)) return;
  for (size_t i = 0; i < wide.size() && i + 1 < units; ++i) out[i] = wide[i];
}

bool IsSeparator(char c) { return c == '/' || c == qv::plat::PathSeparator(); }

// A trailing separator goes, so a folder path adds the folder itself; only
// the root of the file system ("/", or a drive "C:" on Windows) keeps one,
// which adds what it holds. The path is never shortened: one too long is
// refused by the tree, naming it.
std::string AdditionPath(const char* path) {
  std::string p(path);
  if (p.size() > 1 && IsSeparator(p.back())) p.pop_back();
  if (p.size() == 2 && p[1] == ':' && qv::plat::PathSeparator() == '\\') {
    QuorvaneI_Log("\nQuorvane:Quorvane_ISO9660JolietFileTree_Add(): Added backslash...\n");
    p += '\\';
  }
  return p;
}

QV_ULONG Add(const char* entryPoint, QV_HANDLE tree, char* text, QV_ULONG textSize, QV_ULONG* systemStatus,
             const char* path, const char* newName, QV_ULONG timeChoice, const QV_ULONGLONG* fileTime,
             QV_HANDLE* parent, QV_HANDLE* node) {
  return Call(entryPoint, tree, text, textSize, systemStatus, [&] {
    auto* t = Tree(tree);
    if (node) *node = nullptr;
    CQuorvane_FileTreeNode* base = parent ? static_cast<CQuorvane_FileTreeNode*>(*parent) : nullptr;
    if (base == nullptr)
      QuorvaneI_Log("\nQuorvane:%s(): Root passed as NULL ( 0x%p ), replacing with 0x%p\n", entryPoint,
                    static_cast<void*>(base), static_cast<void*>(t->GetRoot()));
    CQuorvane_FileTreeNode* added = nullptr;
    if (path == nullptr && fileTime != nullptr) {
      if (newName == nullptr)
        QuorvaneI_Throw(entryPoint, EN_INVALID_PARAMETER, 0,
                        "CQuorvane_FileTree::CreateFromRoot(): Both absolute and new names are NULL - this is "
                        "illegal!!!");
      std::lock_guard<std::recursive_mutex> guard(t->Lock());
      added = t->CreateFromRootVirtual(newName, base, fileTime);
      if (base == nullptr) base = t->GetRoot();
    } else {
      const std::string p = path ? AdditionPath(path) : std::string();
      added = t->CreateFromRoot(path ? p.c_str() : nullptr, newName, timeChoice, &base);
    }
    if (parent) *parent = base;
    if (node) *node = added;
  });
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Create(QV_HANDLE* tree, char* text,
                                                                          QV_ULONG textSize, QV_ULONG* systemStatus,
                                                                          PQUORVANE_CALLBACK callback,
                                                                          void* callbackContext,
                                                                          QV_BOOLEAN ignoreErrors,
                                                                          QV_BOOLEAN lockFiles, QV_BOOLEAN longNames,
                                                                          QV_BOOLEAN joliet) {
  if (tree == nullptr) return BadArgument("Quorvane_ISO9660JolietFileTree_Create", "the tree pointer is NULL");
  *tree = nullptr;
  uint32_t error = 0;
  const uint32_t n =
      QuorvaneI_CallCreate("Quorvane_ISO9660JolietFileTree_Create", text, textSize, &error, nullptr, [&] {
        CQuorvane_ISO9660FileTree* made =
            joliet ? new CQuorvane_JolietFileTree(callback, callbackContext, ignoreErrors != 0, lockFiles != 0,
                                                  longNames != 0)
                   : new CQuorvane_ISO9660FileTree(callback, callbackContext, ignoreErrors != 0, lockFiles != 0,
                                                   longNames != 0);
        *tree = made;
      });
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus) *systemStatus = error;
  return n;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Destroy(QV_HANDLE* tree) {
  if (tree == nullptr || *tree == nullptr)
    return BadArgument("Quorvane_ISO9660JolietFileTree_Destroy", "the tree handle is NULL");
  delete Tree(*tree);
  *tree = nullptr;
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Add(QV_HANDLE tree, char* text, QV_ULONG textSize,
                                                                       QV_ULONG* systemStatus, const char* path,
                                                                       const char* newName, QV_ULONG timeChoice,
                                                                       QV_HANDLE* parent, QV_HANDLE* node) {
  return Add("Quorvane_ISO9660JolietFileTree_Add", tree, text, textSize, systemStatus, path, newName, timeChoice,
             nullptr, parent, node);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_AddW(QV_HANDLE tree, char* text,
                                                                        QV_ULONG textSize, QV_ULONG* systemStatus,
                                                                        const QV_WCHAR* path, const QV_WCHAR* newName,
                                                                        QV_ULONG timeChoice, QV_HANDLE* parent,
                                                                        QV_HANDLE* node) {
  const std::string narrowPath = FromWide(path), narrowName = FromWide(newName);
  return Add("Quorvane_ISO9660JolietFileTree_AddW", tree, text, textSize, systemStatus,
             path ? narrowPath.c_str() : nullptr, newName ? narrowName.c_str() : nullptr, timeChoice, nullptr,
             parent, node);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_AddEx(QV_HANDLE tree, char* text,
                                                                         QV_ULONG textSize, QV_ULONG* systemStatus,
                                                                         const char* path, const char* newName,
                                                                         QV_ULONG timeChoice,
                                                                         const QV_ULONGLONG* fileTime,
                                                                         QV_HANDLE* parent, QV_HANDLE* node) {
  return Add("Quorvane_ISO9660JolietFileTree_AddEx", tree, text, textSize, systemStatus, path, newName, timeChoice,
             fileTime, parent, node);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_AddMemory(
    QV_HANDLE tree, char* text, QV_ULONG textSize, QV_ULONG* systemStatus, QV_HANDLE fileHandle,
    QV_ULONGLONG sizeInUCHARs, const char* name, QV_ULONG, QV_HANDLE* parent, QV_HANDLE* node) {
  return Call("Quorvane_ISO9660JolietFileTree_AddMemory", tree, text, textSize, systemStatus, [&] {
    auto* t = Tree(tree);
    if (node) *node = nullptr;
    std::lock_guard<std::recursive_mutex> guard(t->Lock());
    CQuorvane_FileTreeNode* base = parent ? static_cast<CQuorvane_FileTreeNode*>(*parent) : nullptr;
    CQuorvane_FileTreeNode* added = t->CreateFromRootMemoryChecked(fileHandle, sizeInUCHARs, name, 0, base);
    if (parent && *parent == nullptr) *parent = t->GetRoot();
    if (node) *node = added;
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Remove(QV_HANDLE tree, QV_HANDLE* node) {
  if (tree == nullptr || node == nullptr || *node == nullptr)
    return BadArgument("Quorvane_ISO9660JolietFileTree_Remove", "a handle is NULL");
  uint32_t n = EN_SUCCESS;
  const uint32_t status = QuorvaneI_Call("Quorvane_ISO9660JolietFileTree_Remove", nullptr, 0, nullptr, nullptr, [&] {
    auto* t = Tree(tree);
    if (t->IsImageBuild())
      QuorvaneI_Throw("Quorvane_ISO9660JolietFileTree_Remove", EN_INVALID_STATE, 0,
                      "Quorvane:Quorvane_ISO9660JolietFileTree_Remove(): the image is built already");
    auto* victim = static_cast<CQuorvane_FileTreeNode*>(*node);
    if (t->RemoveNode(&victim)) *node = nullptr;
    else n = EN_NOT_FOUND;
  });
  return status != EN_SUCCESS ? status : n;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetBootImage(QV_HANDLE tree, const char* path,
                                                                                QV_UCHAR systemType,
                                                                                QV_UCHAR mediaType,
                                                                                QV_UCHAR sectorsToLoad,
                                                                                QV_BOOLEAN hide, char* text,
                                                                                QV_ULONG textSize,
                                                                                QV_ULONG* systemStatus) {
  if (path == nullptr) return BadArgument("Quorvane_ISO9660JolietFileTree_SetBootImage", "the path is NULL");
  return Call("Quorvane_ISO9660JolietFileTree_SetBootImage", tree, text, textSize, systemStatus, [&] {
    uint32_t error = 0;
    qv::plat::File file = qv::plat::File::Open(path, qv::plat::FileMode::Read, &error);
    if (!file.IsOpen())
      QuorvaneI_Throw("Quorvane_ISO9660JolietFileTree_SetBootImage", EN_SYSTEM_CALL_FAILED, error,
                      "Quorvane:Quorvane_ISO9660JolietFileTree_SetBootImage(): CreateFile( '%s' ) failed, status %d ( "
                      "0x%x )",
                      path, static_cast<int>(error), static_cast<unsigned>(error));
    const int64_t size = file.Size(&error);
    if (size < 0)
      QuorvaneI_Throw("Quorvane_ISO9660JolietFileTree_SetBootImage", EN_SYSTEM_CALL_FAILED, error,
                      "Quorvane:Quorvane_ISO9660JolietFileTree_SetBootImage(): GetFileSize( 0x%x, 0x%p ) failed, "
                      "status %d ( 0x%x )",
                      0u, static_cast<void*>(nullptr), static_cast<int>(error), static_cast<unsigned>(error));
    file.Close();
    Tree(tree)->SetBootImage(path, static_cast<uint64_t>(size), systemType, mediaType, sectorsToLoad, hide != 0);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_BuildImageEx(
    QV_HANDLE tree, char* text, QV_ULONG textSize, QV_ULONG* systemStatus, QV_LONG startAddress, QV_ULONG,
    QV_UCHAR xaFlag, const char* volumeLabel, const char* publisher, const char* application,
    const char* systemIdentifier, const char* copyrightFile, const char* bibliographicFile, const char* creationDate,
    const char* modificationDate, const char* expirationDate, const char* effectiveDate) {
  return Call("Quorvane_ISO9660JolietFileTree_BuildImageEx", tree, text, textSize, systemStatus, [&] {
    if (startAddress < 0)
      QuorvaneI_Throw("Quorvane_ISO9660JolietFileTree_BuildImage", EN_INVALID_PARAMETER, 0,
                      "Quorvane:Quorvane_ISO9660JolietFileTree_BuildImage(): start address %ld is negative!!!",
                      static_cast<long>(startAddress));
    const auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
    const QuorvaneI_VolumeTexts texts{text(volumeLabel),      text(publisher),        text(application),
                                      text(systemIdentifier), text(copyrightFile),    text(bibliographicFile),
                                      text(creationDate),     text(modificationDate), text(expirationDate),
                                      text(effectiveDate)};
    Tree(tree)->BuildImage(static_cast<uint32_t>(startAddress), xaFlag, texts);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_BuildImage(
    QV_HANDLE tree, char* text, QV_ULONG textSize, QV_ULONG* systemStatus, QV_LONG startAddress, QV_ULONG unused,
    QV_UCHAR xaFlag, const char* volumeLabel, const char* publisher, const char* application) {
  return Quorvane_ISO9660JolietFileTree_BuildImageEx(tree, text, textSize, systemStatus, startAddress, unused, xaFlag,
                                                     volumeLabel, publisher, application, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr, nullptr);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(QV_HANDLE tree, QV_ULONG* high) {
  uint64_t size = 0;
  if (tree != nullptr && Tree(tree)->IsImageBuild()) Tree(tree)->GetSizeInUCHARs(&size);
  if (high) *high = static_cast<QV_ULONG>(size >> 32);
  return static_cast<QV_ULONG>(size);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Read(QV_HANDLE tree, char* text,
                                                                        QV_ULONG textSize, QV_ULONG* systemStatus,
                                                                        QV_LONG length, void* buffer) {
  return Call("Quorvane_ISO9660JolietFileTree_Read", tree, text, textSize, systemStatus, [&] {
    if (length < 0 || (length > 0 && buffer == nullptr))
      QuorvaneI_Throw("Quorvane_ISO9660JolietFileTree_Read", EN_INVALID_PARAMETER, 0,
                      "Quorvane:Quorvane_ISO9660JolietFileTree_Read(): %ld UCHARs into 0x%p!!!",
                      static_cast<long>(length), buffer);
    Tree(tree)->Read(static_cast<uint64_t>(static_cast<int64_t>(length)), buffer);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SeekToBegin(QV_HANDLE tree, char* text,
                                                                               QV_ULONG textSize,
                                                                               QV_ULONG* systemStatus) {
  return Call("Quorvane_ISO9660JolietFileTree_SeekToBegin", tree, text, textSize, systemStatus, [&] {
    auto* t = Tree(tree);
    if (!t->IsImageBuild())
      QuorvaneI_Throw("Quorvane_ISO9660JolietFileTree_SeekToBegin", EN_INVALID_STATE, 0,
                      "Quorvane:Quorvane_ISO9660JolietFileTree_SeekToBegin(): the image is not built");
    t->SeekToBegin();
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Cancel(QV_HANDLE tree) {
  if (tree == nullptr) return EN_INVALID_PARAMETER;
  Tree(tree)->Cancel();  // no lock and no log: it may run in a signal handler
  return EN_SUCCESS;
}

QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetRoot(QV_HANDLE tree) {
  return tree ? Tree(tree)->GetRoot() : nullptr;
}

QUORVANE_API QV_LONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetDepth(QV_HANDLE tree) {
  return tree ? Tree(tree)->GetDepth() : 0;
}

QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetFirstKid(QV_HANDLE tree, QV_HANDLE node) {
  return tree && node ? Tree(tree)->GetFirstKid(Node(node)) : nullptr;
}

QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNextKid(QV_HANDLE tree, QV_HANDLE kid) {
  return tree && kid ? Tree(tree)->GetNextKid(Node(kid)) : nullptr;
}

QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetParent(QV_HANDLE tree, QV_HANDLE node) {
  return tree && node ? Tree(tree)->GetParent(Node(node)) : nullptr;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetAttributes(QV_HANDLE tree, QV_HANDLE node) {
  return tree && node ? Tree(tree)->GetAttributes(Node(node)) : 0;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetAttributes(QV_HANDLE tree, QV_HANDLE node,
                                                                                 QV_ULONG attributes) {
  if (!tree || !node) return BadArgument("Quorvane_ISO9660JolietFileTree_SetAttributes", "a handle is NULL");
  // The folder bit says what the node is; it does not change.
  const uint32_t folder = Tree(tree)->GetAttributes(Node(node)) & qv::plat::kAttrDirectory;
  Tree(tree)->SetAttributes(Node(node), (attributes & ~qv::plat::kAttrDirectory) | folder);
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNames(QV_HANDLE tree, QV_HANDLE node,
                                                                            char* path, char* longName,
                                                                            char* shortName) {
  if (!tree || !node) return BadArgument("Quorvane_ISO9660JolietFileTree_GetNames", "a handle is NULL");
  Tree(tree)->GetNames(Node(node), path, longName, shortName);
  if (path && path[0] == ':') path[0] = '\0';
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNamesW(QV_HANDLE tree, QV_HANDLE node,
                                                                             QV_WCHAR* path, QV_WCHAR* longName,
                                                                             QV_WCHAR* shortName) {
  char p[kQuorvaneMaxPath], l[kQuorvaneMaxPath], s[kQuorvaneMaxPath];
  const QV_ULONG n = Quorvane_ISO9660JolietFileTree_GetNames(tree, node, p, l, s);
  if (n != EN_SUCCESS) return n;
  ToWide(p, path, kQuorvaneMaxPath);
  ToWide(l, longName, kQuorvaneMaxPath);
  ToWide(s, shortName, kQuorvaneMaxPath);
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNamesEx(QV_HANDLE tree, QV_HANDLE node,
                                                                              char* path, char* longName,
                                                                              char* shortName, char* isoName,
                                                                              QV_WCHAR* jolietName) {
  const QV_ULONG n = Quorvane_ISO9660JolietFileTree_GetNames(tree, node, path, longName, shortName);
  if (n != EN_SUCCESS) return n;
  char16_t wide[kQuorvaneMaxPath / 2];
  char iso[kQuorvaneMaxPath];
  {
    std::lock_guard<std::recursive_mutex> guard(Tree(tree)->Lock());
    Node(node)->GetImageNames(iso, wide);
  }
  if (isoName) std::memcpy(isoName, iso, sizeof iso);
  if (jolietName)
    for (size_t i = 0; i < kQuorvaneMaxPath / 2; ++i) jolietName[i] = wide[i];
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetNames(QV_HANDLE tree, QV_HANDLE node,
                                                                            const char* longName,
                                                                            const char* shortName) {
  if (!tree || !node) return BadArgument("Quorvane_ISO9660JolietFileTree_SetNames", "a handle is NULL");
  bool renamed = false;
  const uint32_t n = QuorvaneI_Call("Quorvane_ISO9660JolietFileTree_SetNames", nullptr, 0, nullptr, nullptr,
                                    [&] { renamed = Tree(tree)->RenameNode(Node(node), longName, shortName); });
  if (n != EN_SUCCESS) return n;
  return renamed ? static_cast<QV_ULONG>(EN_SUCCESS) : BadArgument("Quorvane_ISO9660JolietFileTree_SetNames", "the node is not linked");
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs(QV_HANDLE tree,
                                                                                       QV_HANDLE node,
                                                                                       QV_ULONGLONG* size) {
  if (!tree || !node || !size) return BadArgument("Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs", "NULL");
  if (Node(node)->IsFolder()) {
    QuorvaneI_Log("\nQuorvane:Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs(): Node is a directory, not a "
                  "file!!!\n");
    return EN_INVALID_STATE;
  }
  *size = Node(node)->GetSizeInUCHARs();
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeSizeInUCHARs(QV_HANDLE tree,
                                                                                       QV_HANDLE node,
                                                                                       QV_ULONG* high) {
  const uint64_t power = tree && node ? Tree(tree)->GetNodePower(Node(node)) : 0;
  if (high) *high = static_cast<QV_ULONG>(power >> 32);
  return static_cast<QV_ULONG>(power);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeSystemTime(QV_HANDLE tree,
                                                                                     QV_HANDLE node,
                                                                                     QV_SYSTEMTIME* time) {
  if (!tree || !node || !time) return BadArgument("Quorvane_ISO9660JolietFileTree_GetNodeSystemTime", "NULL");
  *time = Tree(tree)->GetDate(Node(node));
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeISO9660DateTime(QV_HANDLE tree,
                                                                                          QV_HANDLE node,
                                                                                          QV_UCHAR* date) {
  if (!tree || !node || !date) return BadArgument("Quorvane_ISO9660JolietFileTree_GetNodeISO9660DateTime", "NULL");
  std::lock_guard<std::recursive_mutex> guard(Tree(tree)->Lock());
  std::memcpy(date, Node(node)->GetRecordingDate(), 7);
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA(QV_HANDLE tree,
                                                                                      QV_HANDLE node,
                                                                                      QV_ULONG* lba) {
  if (!tree || !node || !lba) return BadArgument("Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA", "NULL");
  std::lock_guard<std::recursive_mutex> guard(Tree(tree)->Lock());
  const uint32_t address = Node(node)->GetStartAddress();
  if (address == 0 || !(Tree(tree)->IsImageBuild() || Node(node)->HasPresetAddress())) {
    QuorvaneI_Log("\nQuorvane:Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA(): starting LBA is not valid.\n");
    return EN_INVALID_STATE;
  }
  *lba = address;
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetCallbackContext(QV_HANDLE tree,
                                                                                      void* callbackContext) {
  if (!tree) return BadArgument("Quorvane_ISO9660JolietFileTree_SetCallbackContext", "the tree handle is NULL");
  Tree(tree)->SetCallbackContext(callbackContext);
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_ImportFile(QV_HANDLE burnerGrabber, QV_HANDLE tree,
                                                                            const char* fileName, QV_BOOLEAN joliet,
                                                                            char* text, QV_ULONG textSize,
                                                                            QV_ULONG* systemStatus) {
  (void)burnerGrabber;  // an image file needs no drive
  return Call("Quorvane_ISO9660JolietFileTree_ImportFile", tree, text, textSize, systemStatus, [&] {
    if (fileName == nullptr || *fileName == '\0')
      QuorvaneI_Throw("Quorvane_ISO9660JolietFileTree_ImportFile", EN_INVALID_PARAMETER, 0,
                      "Quorvane:Quorvane_ISO9660JolietFileTree_ImportFile(): the file name is empty");
    QuorvaneI_ImportFile(Tree(tree), fileName, joliet != 0);
  });
}
