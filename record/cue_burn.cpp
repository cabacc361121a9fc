#include "record/cue_burn.h"

#include <algorithm>
#include <utility>

#include "core/status.h"
#include "files/file.h"
#include "files/file_chain.h"

namespace {

// Bytes [offset, offset + bytes) of a file as one source; audio of a
// MOTOROLA file has its samples byte-swapped to the disc's little-endian.
class CueRegionFile final : public CQuorvane_DiskFile {
 public:
  CueRegionFile(const char* name, uint64_t offset, uint64_t bytes, bool swapSamples)
      : CQuorvane_DiskFile(name), swap_(swapSamples) {
    m__ULONGLONG__DataOffset = offset;
    m__ULONGLONG__SizeInUCHARs = bytes;
  }

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override {
    CQuorvane_DiskFile::RealRead(length, buffer);
    if (!swap_) return;
    // Reads come in whole frames from an even position.
    for (uint64_t i = (m__ULONGLONG__PositionInUCHARs & 1); i + 1 < length; i += 2) std::swap(buffer[i], buffer[i + 1]);
  }

 private:
  bool swap_;
};

std::string AtLine(const QuorvaneI_CueSheetTrack& t, const std::string& what) {
  return "line " + std::to_string(t.line) + ": " + what;
}

bool IsAudio(QuorvaneI_CueMode m) { return m == QuorvaneI_CueMode::kAudio; }

}  // namespace

QuorvaneI_CueLayout::QuorvaneI_CueLayout() = default;
QuorvaneI_CueLayout::~QuorvaneI_CueLayout() = default;

bool QuorvaneI_CueLayout::Read(const std::string& path, std::string* error) {
  QuorvaneI_CueSheet sheet;
  return QuorvaneI_ReadCueSheet(path, &sheet, error) && Build(sheet, error);
}

bool QuorvaneI_CueLayout::Build(const QuorvaneI_CueSheet& sheet, std::string* error) {
  layout_ = QuorvaneI_SaoLayout{};
  layout_.catalog = sheet.catalog;
  hasCdText_ = !sheet.cdTextFile.empty() || !sheet.text.Empty();
  if (sheet.tracks.empty() || sheet.tracks.size() > 99) {
    *error = "the sheet holds " + std::to_string(sheet.tracks.size()) + " tracks; a session holds 1 to 99";
    return false;
  }
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const QuorvaneI_CueSheetTrack& c = sheet.tracks[i];
    hasCdText_ = hasCdText_ || !c.text.Empty();
    QuorvaneI_SaoTrack t;
    t.audio = IsAudio(c.mode);
    t.mode2 = c.mode == QuorvaneI_CueMode::kMode2_2336 || c.mode == QuorvaneI_CueMode::kMode2_2352;
    t.rawData = !t.audio && c.blockSize == 2352;
    t.copyPermitted = c.dcp;
    t.fourChannel = c.fourChannel;
    t.preEmphasis = c.preEmphasis;
    t.pregapInSourceBlocks = static_cast<int32_t>(c.FilePregapBlocks());
    t.pregapBlocks = static_cast<int32_t>(c.pregapBlocks);
    // The disc's first pause is two seconds at least; what the sheet does
    // not store or ask for is silence.
    if (i == 0 && t.pregapBlocks + t.pregapInSourceBlocks < 150) t.pregapBlocks = 150 - t.pregapInSourceBlocks;
    t.postgapBlocks = static_cast<int32_t>(c.postgapBlocks);
    uint32_t index1 = 0;
    for (const QuorvaneI_CueIndex& x : c.indexes) {
      if (x.number == 1) index1 = x.block;
      if (x.number >= 2) t.indexes.push_back(static_cast<int32_t>(x.block - index1));
    }
    if (c.isrc.size() == 12) c.isrc.copy(t.isrc, 12);
    if (!t.audio && c.bytes % c.blockSize != 0) {
      *error = AtLine(c, "the data track takes " + std::to_string(c.bytes) + " bytes of " + c.file + ", not whole " +
                             std::to_string(c.blockSize) + "-byte sectors");
      return false;
    }
    // A decoded file is read from its start: a track starting inside one
    // cannot be reached without decoding what lies before.
    if (c.fileType == QuorvaneI_CueFileType::kWave) {
      for (size_t k = 0; k < sheet.tracks.size(); ++k)
        if (k != i && sheet.tracks[k].file == c.file) {
          *error = AtLine(sheet.tracks[std::max(i, k)],
                          "WAVE file " + c.file + " holds more than one track; give each track its own file, or "
                          "convert it to BINARY");
          return false;
        }
    }
    try {
      std::unique_ptr<CQuorvane_DiskFile> file;
      if (c.fileType == QuorvaneI_CueFileType::kWave) {
        file = std::make_unique<CQuorvane_SonvexFile>(c.file.c_str());
      } else {
        file = std::make_unique<CueRegionFile>(c.file.c_str(), c.offset, c.bytes,
                                               t.audio && c.fileType == QuorvaneI_CueFileType::kMotorola);
      }
      file->PadToWhole(static_cast<uint64_t>(QuorvaneI_SaoBlockSize(t, false)));
      chains_.push_back(std::make_unique<CQuorvane_FileChain>());
      chains_.back()->AddChainTail(file.get());
      files_.push_back(std::move(file));
    } catch (CQuorvane_Exception* e) {
      *error = AtLine(c, std::string("cannot open ") + c.file + ": " + e->Text());
      delete e;
      return false;
    }
    t.source = chains_.back().get();
    layout_.tracks.push_back(std::move(t));
  }
  return true;
}
