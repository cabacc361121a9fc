// One layout of an image's blocks, made whole before the first byte is
// read, and the stream that reads the image from it.
//
// An image is made by writers, one per file system or part of one: the
// ECMA-119 hierarchy with its path tables, Joliet, El Torito, UDF. Building
// runs the layout steps below in order; at each step every writer, in the
// order the tree gives them, reserves what it needs. The file data is one
// run of blocks placed by one writer in its order; every writer points into
// that same run. When every block is placed, each writer prepares what is
// small (volume descriptors, path tables) and keeps it; what grows with the
// tree (directory records, file data) it makes when the stream reaches it,
// so the records of a million files are never all in memory, and the bytes
// do not depend on how the image is read.
//
// With S the start address, the steps give (ISO9660 with Joliet and a boot
// image): S..S+15 zero; S+16 primary descriptor, boot record, Joliet
// descriptor, terminator; S+20 boot catalog; S+21 zero; the path tables;
// the primary directories, then the Joliet ones; the file data. A UDF
// bridge puts UDF's recognition sequence after the terminator, its volume
// descriptors at S+32, S+48 and S+64, an anchor at S+256, the ISO9660
// tables and directories from S+257, its partition from S+262 or the next
// free block (file set, file entries and directories, then the file data),
// and 256 closing anchors.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file.h"

inline constexpr uint32_t kQuorvaneSectorSize = 2048;

inline uint64_t QuorvaneI_Sectors(uint64_t bytes) { return (bytes + kQuorvaneSectorSize - 1) / kQuorvaneSectorSize; }

// Texts of the volume descriptors. Empty texts leave their fields blank.
struct QuorvaneI_VolumeTexts {
  std::string label, publisher, application, systemIdentifier, copyrightFile, bibliographicFile;
  std::string creationDate, modificationDate, expirationDate, effectiveDate;
};

// What every writer prepares from: the texts, the XA flag, and the time of
// the build (100 ns ticks since 1601, UTC), taken once so that every
// descriptor shows the same moment and a second read the same bytes.
struct QuorvaneI_ImageContext {
  QuorvaneI_VolumeTexts texts;
  uint8_t xaFlag = 0;
  uint64_t now = 0;
};

enum class QuorvaneI_LayoutStep {
  kDescriptors,  // volume descriptors from S+16
  kTerminators,  // the set terminator, then UDF's recognition sequence
  kSystemArea,   // fixed places, and where the first free block is
  kPathTables,
  kDirectories,
  kStructures,  // UDF's file set, file entries and directories
  kFiles,       // the file data
  kTail,        // UDF's closing anchors
};
inline constexpr QuorvaneI_LayoutStep kQuorvaneLayoutSteps[] = {
    QuorvaneI_LayoutStep::kDescriptors, QuorvaneI_LayoutStep::kTerminators, QuorvaneI_LayoutStep::kSystemArea,
    QuorvaneI_LayoutStep::kPathTables,  QuorvaneI_LayoutStep::kDirectories, QuorvaneI_LayoutStep::kStructures,
    QuorvaneI_LayoutStep::kFiles,       QuorvaneI_LayoutStep::kTail};

class QuorvaneI_ImageLayout;

class QuorvaneI_ImageWriter {
 public:
  virtual ~QuorvaneI_ImageWriter() = default;
  virtual void Reserve(QuorvaneI_ImageLayout& layout, QuorvaneI_LayoutStep step) = 0;
  // Every block is placed.
  virtual void Prepare(const QuorvaneI_ImageLayout& /*layout*/, const QuorvaneI_ImageContext& /*context*/) {}
  // The bytes of one of the writer's regions from offset (bytes from the
  // region's start) on, into out, which is zero. A region is asked for in
  // order from its start; Rewind starts every region over.
  virtual void Emit(uint32_t region, uint64_t offset, uint64_t length, uint8_t* out) = 0;
  virtual void Rewind() {}
};

class QuorvaneI_ImageLayout {
 public:
  struct Region {
    uint64_t block, blocks;
    QuorvaneI_ImageWriter* writer;
    uint32_t id;
  };

  explicit QuorvaneI_ImageLayout(uint32_t start);
  uint64_t Start() const { return m__Start; }
  // The first block a Reserve may take.
  uint64_t Cursor() const { return m__Cursor; }
  // The block after the image's last.
  uint64_t End() const;

  // The next volume descriptor's block (S+16 on).
  uint64_t ReserveDescriptor(QuorvaneI_ImageWriter* writer, uint32_t region);
  // blocks at the first free place from the cursor on, past fixed places;
  // none (the cursor) for 0.
  uint64_t Reserve(uint64_t blocks, QuorvaneI_ImageWriter* writer, uint32_t region);
  // blocks at a fixed place, which must be free.
  void ReserveAt(uint64_t block, uint64_t blocks, QuorvaneI_ImageWriter* writer, uint32_t region);
  bool IsFree(uint64_t block, uint64_t blocks) const;
  // Moves the cursor up to block (never down).
  void SkipTo(uint64_t block);
  // The regions in block order.
  std::vector<Region> Regions() const;

 private:
  const Region* Overlap(uint64_t block, uint64_t blocks) const;

  uint64_t m__Start;
  uint64_t m__NextDescriptor;
  uint64_t m__Cursor;
  std::vector<Region> m__Regions;
};

// The image as one source: the regions in block order, zeros between.
class QuorvaneI_ImageStream : public CQuorvane_File {
 public:
  explicit QuorvaneI_ImageStream(const QuorvaneI_ImageLayout& layout);
  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override;

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  uint64_t m__ULONGLONG__Start;
  std::vector<QuorvaneI_ImageLayout::Region> m__Regions;
  std::vector<QuorvaneI_ImageWriter*> m__Writers;
  size_t m__Index = 0;
};
