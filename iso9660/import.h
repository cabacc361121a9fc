// Import of an earlier session: the ISO9660 or Joliet hierarchy of a data
// track (or of an image file) becomes nodes of a tree that keep their old
// extents. They are named, collide, are replaced and removed like new
// nodes; building writes their records and not their data.
//
// What is read comes from outside and is trusted in nothing. Reads stay
// inside the blocks the source says it holds. A directory met twice (a
// loop, or two records sharing one extent), a record that overruns its
// sector, a name that is empty, "." or "..", or holds '/', '\' or a control
// character, a file whose data lies past the end of the source, a
// directory larger than kQuorvaneImportMaxDirectory: each is left out and
// told through the tree's callback (CN_FILE_TREE_NODE_SKIPPED, with the
// path it would have had). Only descriptors that cannot be found, and
// blocks that cannot be read, end the import with an exception.
#pragma once
#include <cstdint>
#include <string>

#include "iso9660/iso9660_tree.h"

inline constexpr uint32_t kQuorvaneImportMaxDirectory = 32u << 20;
// Folders nested deeper than this are left out.
inline constexpr uint32_t kQuorvaneImportMaxDepth = 64;

// Where the blocks come from: a track on a disc, or an image file.
class QuorvaneI_ImportSource {
 public:
  virtual ~QuorvaneI_ImportSource() = default;
  // The first block of the volume (its descriptors are at first + 16) and
  // the first block past what may be read or pointed at.
  virtual uint32_t First() const = 0;
  virtual uint32_t End() const = 0;
  // count 2048-byte blocks from lba, all inside [First(), End()); raises
  // an engine exception when they cannot be read.
  virtual void Read(uint32_t lba, uint32_t count, uint8_t* buffer) = 0;
  // The volume descriptors: 5 blocks from First() + 16.
  virtual void ReadDescriptors(uint8_t* buffer);
};

// Imports the hierarchy of source into tree. prefix starts the nodes'
// absolute paths ("ImportingTrack( 1 ):"); method names the caller in
// messages. Exception 2 when the descriptor asked for is missing.
void QuorvaneI_Import(CQuorvane_ISO9660FileTree* tree, QuorvaneI_ImportSource& source, bool joliet,
                      const std::string& prefix, const char* method);

// An image file whose first block is block 0.
void QuorvaneI_ImportFile(CQuorvane_ISO9660FileTree* tree, const char* fileName, bool joliet);
