// The C face of the cue sheet reader.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "files/cue_sheet_file.h"
#include "quorvane.h"

struct QUORVANE_CUE_SHEET_OBJECT {
  QuorvaneI_CueSheet sheet;
  std::vector<std::vector<QV_LONG>> indexNumbers;
  std::vector<std::vector<QV_ULONG>> indexBlocks;
};

namespace {

constexpr QV_ULONG kInvalidParameter = 87, kNoMemory = 14;

QUORVANE_CUE_TEXT Text(const QuorvaneI_CdTextStrings& s) {
  return {s.title.c_str(), s.performer.c_str(), s.songwriter.c_str()};
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetOpen(const char* path, PQUORVANE_CUE_SHEET* sheet, char* error,
                                                        QV_ULONG errorSize) {
  if (error != nullptr && errorSize > 0) error[0] = 0;
  if (path == nullptr || sheet == nullptr) return kInvalidParameter;
  *sheet = nullptr;
  try {
    auto object = std::make_unique<QUORVANE_CUE_SHEET_OBJECT>();
    std::string why;
    if (!QuorvaneI_ReadCueSheet(path, &object->sheet, &why)) {
      if (error != nullptr && errorSize > 0) {
        const size_t n = std::min<size_t>(why.size(), errorSize - 1);
        std::memcpy(error, why.data(), n);
        error[n] = 0;
      }
      return kInvalidParameter;
    }
    for (const QuorvaneI_CueSheetTrack& t : object->sheet.tracks) {
      object->indexNumbers.emplace_back();
      object->indexBlocks.emplace_back();
      for (const QuorvaneI_CueIndex& i : t.indexes) {
        object->indexNumbers.back().push_back(i.number);
        object->indexBlocks.back().push_back(i.block);
      }
    }
    *sheet = object.release();
    return 0;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetDestroy(PQUORVANE_CUE_SHEET* sheet) {
  if (sheet == nullptr) return kInvalidParameter;
  delete *sheet;
  *sheet = nullptr;
  return 0;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetDiscGet(PQUORVANE_CUE_SHEET sheet, QV_ULONG* trackCount,
                                                           const char** catalog, const char** cdTextFile,
                                                           QUORVANE_CUE_TEXT* text) {
  if (sheet == nullptr) return kInvalidParameter;
  if (trackCount != nullptr) *trackCount = static_cast<QV_ULONG>(sheet->sheet.tracks.size());
  if (catalog != nullptr) *catalog = sheet->sheet.catalog.c_str();
  if (cdTextFile != nullptr) *cdTextFile = sheet->sheet.cdTextFile.c_str();
  if (text != nullptr) *text = Text(sheet->sheet.text);
  return 0;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetTrackGet(PQUORVANE_CUE_SHEET sheet, QV_ULONG index,
                                                            QUORVANE_CUE_TRACK* track) {
  if (sheet == nullptr || track == nullptr || index >= sheet->sheet.tracks.size()) return kInvalidParameter;
  const QuorvaneI_CueSheetTrack& t = sheet->sheet.tracks[index];
  *track = QUORVANE_CUE_TRACK{};
  track->number = t.number;
  track->mode = QuorvaneI_CueModeName(t.mode);
  track->blockSize = t.blockSize;
  track->file = t.file.c_str();
  track->fileType = QuorvaneI_CueFileTypeName(t.fileType);
  track->offset = t.offset;
  track->bytes = t.bytes;
  track->blocks = t.blocks;
  track->indexCount = static_cast<QV_ULONG>(t.indexes.size());
  track->indexNumbers = sheet->indexNumbers[index].data();
  track->indexBlocks = sheet->indexBlocks[index].data();
  track->pregapBlocks = t.pregapBlocks;
  track->postgapBlocks = t.postgapBlocks;
  track->isrc = t.isrc.c_str();
  track->dcp = t.dcp;
  track->fourChannel = t.fourChannel;
  track->preEmphasis = t.preEmphasis;
  track->scms = t.scms;
  track->text = Text(t.text);
  return 0;
}
