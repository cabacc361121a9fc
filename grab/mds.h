// Image description files ("MEDIA DESCRIPTOR"): what a whole-disc grab
// writes beside its image, what a raw burn reads back, and the two image
// classifiers.
//
// A CD image holds every track from its first block (index 1 of track 1,
// LBA 0) to its last, 2448 bytes per block (the 2352-byte sector, then
// 96 bytes of raw P-W subchannel); the two-second pause before LBA 0 is
// not in it, the burner makes that itself. So a track's length in the
// description is the number of its blocks in the image, both ways.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quorvane/qv_device.h"

namespace qv::plat {
class OutputFile;
}

inline constexpr uint32_t kMdsImageBlockSize = 2448;
inline constexpr size_t kMdsMaximumTracks = 99;

// A CD has at most as many sessions as tracks.
inline constexpr size_t kMdsMaximumSessions = kMdsMaximumTracks;

// One session of a description: its tracks (0-based indexes into the
// layout's tracks, first to last) and where it lies on the disc.
struct QuorvaneI_MdsSession {
  int32_t firstTrack = 0, lastTrack = 0;
  int32_t start = 0, end = 0;  // -150 for the first session; end is one past its last block
};

// What a description says for burning its image back: the tracks, each
// raw with raw P-W subchannel, which of them are audio, where each starts
// and to which session each belongs. The image holds the tracks back to
// back, in this order.
struct QuorvaneI_MdsLayout {
  int32_t trackCount = 0;
  uint8_t isAudio[kMdsMaximumTracks] = {};
  int32_t rawTrackCount = 0;
  int32_t rawTrackSizes[kMdsMaximumTracks] = {};
  int32_t trackStarts[kMdsMaximumTracks] = {};
  uint8_t trackNumbers[kMdsMaximumTracks] = {};
  int32_t sessionCount = 0;
  QuorvaneI_MdsSession sessions[kMdsMaximumSessions] = {};
};

// The description of a CD grabbed into "<baseName>.xmf", from its table of
// contents. Throws 5 when a write fails.
void FormatFileMDSForCD(qv::plat::OutputFile& file, const QUORVANE_TOC_INFORMATION& toc, const char* baseName);

// A DVD grabbed into parts of blocksPerPart blocks ("<base>.xmf",
// "<base>.xm1", ...). layers holds the physical format data (2048 bytes,
// READ DVD STRUCTURE format 00h without its header) of each layer.
struct QuorvaneI_DvdImage {
  uint32_t blocks = 0;         // blocks of the disc, all parts together
  uint32_t blocksPerPart = 0;
  uint32_t parts = 0;
  std::vector<std::vector<uint8_t>> layers;
};
void FormatFileMDSForDVD(qv::plat::OutputFile& file, const QUORVANE_TOC_INFORMATION& toc, const char* baseName,
                         const QuorvaneI_DvdImage& image);
// The name of part i of a DVD image: "<base>.xmf", then "<base>.xm1"...
std::string QuorvaneI_DvdPartName(const std::string& baseName, uint32_t part);

// Where a description is read from, and the size of the image it names.
class QuorvaneI_MdsSource {
 public:
  virtual ~QuorvaneI_MdsSource() = default;
  // Bytes read at offset (fewer at the end), or -1 with *error set.
  virtual int64_t ReadAt(uint64_t offset, void* buffer, size_t size, uint32_t* error) = 0;
  // Size in bytes of the image file of that name beside the description,
  // or -1 with *error set.
  virtual int64_t ImageSize(const std::string& name, uint32_t* error) = 0;
};

// Reads a CD description, every session of it, into layout, mode (1, or 2
// when any track is Mode 2) and the image's file name, which must name a
// file in the description's own folder. Returns a system status, 0 on success: 11
// for a malformed description, 996 for one cut short, 123 for an image
// name that leads out of the folder.
uint32_t QuorvaneI_ParseMDSFrom(QuorvaneI_MdsSource& source, QuorvaneI_MdsLayout* layout, int* mode,
                                std::string* imageName);
// The same from a file; directory ("" or ending in a separator) is where
// the image lies.
uint32_t QuorvaneI_ParseMDS(const char* mdsName, QuorvaneI_MdsLayout* layout, int* mode, std::string* imageName,
                            const char* directory);

// What a DVD description lists: its image parts in order (plain names
// beside the description) and the blocks of 2048 bytes each holds.
struct QuorvaneI_MdsDvdPart {
  std::string name;
  uint32_t blocks = 0;
};
// Reads a DVD description; every part must hold the blocks it is listed
// with. Statuses as QuorvaneI_ParseMDSFrom.
uint32_t QuorvaneI_ParseMDSForDVDFrom(QuorvaneI_MdsSource& source, std::vector<QuorvaneI_MdsDvdPart>* parts);
uint32_t QuorvaneI_ParseMDSForDVD(const char* mdsName, std::vector<QuorvaneI_MdsDvdPart>* parts, const char* directory);
// The medium byte of a description: 0 for a CD, 10h for a DVD; -1 when
// the file is no description.
int QuorvaneI_MDSMedium(const char* mdsName);

// A raw image (.mdf/.xmf) starting with a sector's sync; *mode gets the
// first sector's mode.
bool QuorvaneI_IsMDF(const char* fileName, int* mode);
bool QuorvaneI_IsMDFBytes(const char* fileName, const uint8_t* head, size_t size, int* mode);
// An ISO9660 image: "CD001" in the descriptor at block 16.
bool QuorvaneI_IsISO(const char* fileName);
bool QuorvaneI_IsISOBytes(const uint8_t* head, size_t size);
