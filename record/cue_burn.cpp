#include "record/cue_burn.h"

#include <algorithm>
#include <fstream>
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

bool QuorvaneI_CueLayout::ReadRaw(const std::string& path, std::string* error) {
  QuorvaneI_CueSheet sheet;
  return QuorvaneI_ReadCueSheet(path, &sheet, error) && BuildRaw(sheet, error);
}

// What both recordings need of a sheet: 1-99 tracks, whole data sectors,
// a decoded file per track; and the CD-Text it carries.
bool QuorvaneI_CueLayout::Check(const QuorvaneI_CueSheet& sheet, std::string* error) {
  layout_ = QuorvaneI_SaoLayout{};
  raw_ = QuorvaneI_RawDisc{};
  cdText_.clear();
  if (sheet.tracks.empty() || sheet.tracks.size() > 99) {
    *error = "the sheet holds " + std::to_string(sheet.tracks.size()) + " tracks; a session holds 1 to 99";
    return false;
  }
  bool text = !sheet.text.Empty();
  for (const QuorvaneI_CueSheetTrack& c : sheet.tracks) text = text || !c.text.Empty();
  if (text) {
    cdText_.push_back(sheet.text);
    for (const QuorvaneI_CueSheetTrack& c : sheet.tracks) cdText_.push_back(c.text);
  }
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const QuorvaneI_CueSheetTrack& c = sheet.tracks[i];
    if (!IsAudio(c.mode) && c.bytes % c.blockSize != 0) {
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
  }
  return true;
}

CQuorvane_FileChain* QuorvaneI_CueLayout::Open(const QuorvaneI_CueSheet& sheet, size_t i, uint64_t skip,
                                               uint64_t block, std::string* error) {
  const QuorvaneI_CueSheetTrack& c = sheet.tracks[i];
  try {
    std::unique_ptr<CQuorvane_DiskFile> file;
    if (c.fileType == QuorvaneI_CueFileType::kWave) {
      file = std::make_unique<CQuorvane_SonvexFile>(c.file.c_str());
    } else {
      const uint64_t from = std::min(skip * c.blockSize, c.bytes);
      file = std::make_unique<CueRegionFile>(c.file.c_str(), c.offset + from, c.bytes - from,
                                             IsAudio(c.mode) && c.fileType == QuorvaneI_CueFileType::kMotorola);
    }
    file->PadToWhole(block);
    chains_.push_back(std::make_unique<CQuorvane_FileChain>());
    chains_.back()->AddChainTail(file.get());
    files_.push_back(std::move(file));
    return chains_.back().get();
  } catch (CQuorvane_Exception* e) {
    *error = AtLine(c, std::string("cannot open ") + c.file + ": " + e->Text());
    delete e;
    return nullptr;
  }
}

bool QuorvaneI_CueLayout::Build(const QuorvaneI_CueSheet& sheet, std::string* error) {
  if (!Check(sheet, error)) return false;
  layout_.catalog = sheet.catalog;
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const QuorvaneI_CueSheetTrack& c = sheet.tracks[i];
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
    t.source = Open(sheet, i, 0, static_cast<uint64_t>(QuorvaneI_SaoBlockSize(t, false)), error);
    if (t.source == nullptr) return false;
    layout_.tracks.push_back(std::move(t));
  }
  return true;
}

namespace {

// Whether the first blocks of a file region hold only zeros.
bool Silent(const QuorvaneI_CueSheetTrack& c, uint64_t blocks) {
  std::ifstream in(c.file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(c.offset));
  std::vector<char> bytes(static_cast<size_t>(std::min(blocks * c.blockSize, c.bytes)));
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return in.gcount() == static_cast<std::streamsize>(bytes.size()) &&
         std::all_of(bytes.begin(), bytes.end(), [](char b) { return b == 0; });
}

}  // namespace

bool QuorvaneI_CueLayout::BuildRaw(const QuorvaneI_CueSheet& sheet, std::string* error) {
  if (!Check(sheet, error)) return false;
  raw_.catalog = sheet.catalog;
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const QuorvaneI_CueSheetTrack& c = sheet.tracks[i];
    const auto refuse = [&](const std::string& why) {
      *error = AtLine(c, why + "; burn the sheet without --raw");
      return false;
    };
    if (c.mode == QuorvaneI_CueMode::kMode2_2336 || c.mode == QuorvaneI_CueMode::kMode2_2352)
      return refuse(std::string("a raw recording makes Mode 1 and audio sectors, not ") + QuorvaneI_CueModeName(c.mode));
    if (c.postgapBlocks > 0) return refuse("a raw recording has no POSTGAP");
    QuorvaneI_RawDiscTrack t;
    t.audio = IsAudio(c.mode);
    t.rawData = c.mode == QuorvaneI_CueMode::kMode1_2352;
    t.controlFlags = static_cast<uint8_t>((c.fourChannel && t.audio ? 8 : 0) | (c.dcp ? 2 : 0) |
                                          (c.preEmphasis && t.audio ? 1 : 0));
    const uint32_t inFile = c.FilePregapBlocks();
    uint64_t skip = 0;
    if (i == 0) {
      // The first pause is made as two seconds of silence or empty data.
      if (inFile + c.pregapBlocks > 150) return refuse("the first track's pause is longer than two seconds");
      if (inFile > 0 && t.audio && (c.fileType == QuorvaneI_CueFileType::kWave || !Silent(c, inFile)))
        return refuse("the first track's pause holds sound, which a raw recording writes as silence");
      skip = inFile;
    } else {
      t.pregapBlocks = static_cast<int32_t>(c.pregapBlocks + inFile);
      t.pauseInSource = static_cast<int32_t>(inFile);
    }
    if (c.blocks - inFile < 300) return refuse("a raw recording needs four seconds a track");
    uint32_t index1 = 0;
    for (const QuorvaneI_CueIndex& x : c.indexes) {
      if (x.number == 1) index1 = x.block;
      if (x.number >= 2) t.indexes.push_back(static_cast<int32_t>(x.block - index1));
    }
    if (c.isrc.size() == 12) c.isrc.copy(t.isrc, 12);
    t.source = Open(sheet, i, skip, t.audio || t.rawData ? 2352 : 2048, error);
    if (t.source == nullptr) return false;
    raw_.tracks.push_back(std::move(t));
  }
  // Sized and placed now, so that nothing the writer would refuse reaches the drive.
  if (const char* wrong = QuorvaneI_PlaceRawDisc(raw_)) {
    *error = std::string("the sheet cannot be written raw: ") + wrong;
    return false;
  }
  return true;
}
