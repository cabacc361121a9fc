// The C face of the cue sheet reader and of the CD-Text decoder.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "files/cd_text_file.h"
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

void CopyError(const std::string& why, char* error, QV_ULONG errorSize) {
  if (error == nullptr || errorSize == 0) return;
  const size_t n = std::min<size_t>(why.size(), errorSize - 1);
  std::memcpy(error, why.data(), n);
  error[n] = 0;
}

// A new object that read(object, &why) fills: 0 with it in *out; 87 with
// why in error; 14 when memory runs out.
template <typename Object, typename Read>
QV_ULONG Make(Object** out, char* error, QV_ULONG errorSize, Read read) {
  CopyError("", error, errorSize);
  *out = nullptr;
  try {
    auto object = std::make_unique<Object>();
    std::string why;
    if (!read(*object, &why)) {
      CopyError(why, error, errorSize);
      return kInvalidParameter;
    }
    *out = object.release();
    return 0;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetOpen(const char* path, PQUORVANE_CUE_SHEET* sheet, char* error,
                                                        QV_ULONG errorSize) {
  if (path == nullptr || sheet == nullptr) return CopyError("", error, errorSize), kInvalidParameter;
  return Make(sheet, error, errorSize, [path](QUORVANE_CUE_SHEET_OBJECT& object, std::string* why) {
    if (!QuorvaneI_ReadCueSheet(path, &object.sheet, why)) return false;
    for (const QuorvaneI_CueSheetTrack& t : object.sheet.tracks) {
      object.indexNumbers.emplace_back();
      object.indexBlocks.emplace_back();
      for (const QuorvaneI_CueIndex& i : t.indexes) {
        object.indexNumbers.back().push_back(i.number);
        object.indexBlocks.back().push_back(i.block);
      }
    }
    return true;
  });
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

struct QUORVANE_CD_TEXT_OBJECT {
  std::vector<QuorvaneI_CdTextStrings> entries;
};

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdTextParse(const QV_UCHAR* data, QV_ULONG size, PQUORVANE_CD_TEXT* text,
                                                       char* error, QV_ULONG errorSize) {
  if (data == nullptr || text == nullptr) return CopyError("", error, errorSize), kInvalidParameter;
  return Make(text, error, errorSize, [data, size](QUORVANE_CD_TEXT_OBJECT& object, std::string* why) {
    return QuorvaneI_ParseCdTextPacks(data, size, &object.entries, why);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdTextDestroy(PQUORVANE_CD_TEXT* text) {
  if (text == nullptr) return kInvalidParameter;
  delete *text;
  *text = nullptr;
  return 0;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdTextGet(PQUORVANE_CD_TEXT text, QV_ULONG index, QV_ULONG* count,
                                                     QUORVANE_CUE_TEXT* entry) {
  if (text == nullptr) return kInvalidParameter;
  if (count != nullptr) *count = static_cast<QV_ULONG>(text->entries.size());
  if (index >= text->entries.size()) return kInvalidParameter;
  if (entry != nullptr) *entry = Text(text->entries[index]);
  return 0;
}
