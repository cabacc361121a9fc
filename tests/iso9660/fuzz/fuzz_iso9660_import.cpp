// libFuzzer target for the import of an earlier session: the input is an
// image (whole 2048-byte blocks; a short last block is dropped) read from
// memory. For every input, in both hierarchies:
//  - no block outside the image is asked for;
//  - the import ends, with success or a clean engine exception;
//  - no imported name is empty, ".", "..", or holds '/', '\' or a control
//    character, and no file's data lies past the image's end;
//  - what came in builds into a new session after the image.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/exception.h"
#include "iso9660/import.h"
#include "iso9660/iso9660_tree.h"
#include "quorvane.h"

namespace {

class MemorySource : public QuorvaneI_ImportSource {
 public:
  MemorySource(const uint8_t* data, uint32_t blocks) : data_(data), blocks_(blocks) {}
  uint32_t First() const override { return 0; }
  uint32_t End() const override { return blocks_; }
  void Read(uint32_t lba, uint32_t count, uint8_t* buffer) override {
    if (lba >= blocks_ || count > blocks_ - lba) std::abort();
    std::memcpy(buffer, data_ + size_t{lba} * 2048, size_t{count} * 2048);
  }

 private:
  const uint8_t* data_;
  uint32_t blocks_;
};

void QUORVANE_CALL OnEvent(QV_ULONG, void*, void*, void*) {}

void Check(CQuorvane_ISO9660FileTree& tree, CQuorvane_FileTreeNode* node, uint32_t end) {
  for (auto* k = node->GetFirstKid(); k; k = k->GetNextKid()) {
    const std::string_view name = k->GetLongName();
    if (name.empty() || name == "." || name == "..") std::abort();
    for (const char c : name)
      if (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\') std::abort();
    auto* n = static_cast<CQuorvane_ISO9660FileTreeNode*>(k);
    if (!n->IsFolder() && n->GetSizeInUCHARs() != 0 && n->GetStartAddress() + n->GetSizeInSectors() > end) std::abort();
    Check(tree, k, end);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Quorvane_UpStartEx() == 0;
  if (!started) std::abort();
  const auto blocks = static_cast<uint32_t>(size / 2048);
  for (const bool joliet : {false, true}) {
    CQuorvane_JolietFileTree tree(&OnEvent, nullptr, false, false, false);
    MemorySource source(data, blocks);
    try {
      QuorvaneI_Import(&tree, source, joliet, "ImportingFile( fuzz ):", "fuzz");
    } catch (CQuorvane_Exception* e) {
      delete e;
    }
    if (tree.GetRoot() == nullptr) continue;
    Check(tree, tree.GetRoot(), blocks);
    try {
      tree.BuildImage(blocks, 0, QuorvaneI_VolumeTexts{});
    } catch (CQuorvane_Exception* e) {
      delete e;
    }
  }
  return 0;
}
