// The file data of an image: one run of blocks holding every new file, in
// the order of the writer that places them. Each file takes whole blocks;
// an empty file takes none and gets the address the next one would have.
// Every writer's records point at the addresses set here.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "files/read_ahead.h"
#include "iso9660/image_layout.h"

class CQuorvane_ISO9660FileTreeNode;

class QuorvaneI_FileArea : public QuorvaneI_ImageWriter {
 public:
  // listener hears of files that changed size after they were added.
  explicit QuorvaneI_FileArea(CQuorvane_FileChangeListener* listener);
  ~QuorvaneI_FileArea() override;

  // Places files (folders and files with a preset address are passed
  // over) at the layout's next free blocks, in this order.
  void Place(QuorvaneI_ImageLayout& layout, const std::vector<CQuorvane_ISO9660FileTreeNode*>& files);
  // The first block of the run and its length.
  uint64_t FirstBlock() const { return m__ULONGLONG__FirstBlock; }
  uint64_t Blocks() const { return m__ULONGLONG__Blocks; }

  void Reserve(QuorvaneI_ImageLayout&, QuorvaneI_LayoutStep) override {}
  void Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) override;
  void Rewind() override;

 private:
  void StartReadAhead();

  CQuorvane_FileChangeListener* m__PListener;
  std::vector<CQuorvane_ISO9660FileTreeNode*> m__Files;  // those with data
  uint64_t m__ULONGLONG__FirstBlock = 0;
  uint64_t m__ULONGLONG__Blocks = 0;
  size_t m__Index = 0;
  uint64_t m__Offset = 0;
  std::unique_ptr<CQuorvane_File> m__Open;
  // Small disk files come from here when it has them, read on its threads.
  std::unique_ptr<QuorvaneI_ReadAhead> m__Ahead;
  const uint8_t* m__Bytes = nullptr;  // the current file's, read ahead
};
