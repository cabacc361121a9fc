// libFuzzer target for cue sheets and CD-Text files of other tools. The
// input's first byte chooses: even, a cue sheet (its files have sizes
// derived from their names, its CDTEXTFILE is the input itself); odd, a
// CD-Text pack file. Checks that hold for every input:
//  - a refusal names a line ("line N: ...");
//  - an accepted sheet's tracks lie inside their files, number upwards by
//    one, and have their INDEX 01 inside the track.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/cd_text_file.h"
#include "files/cue_sheet_file.h"

namespace {

struct FakeFiles : QuorvaneI_CueFiles {
  const uint8_t* data;
  size_t size;
  bool Size(const std::string& path, QuorvaneI_CueFileType, uint64_t* bytes, std::string* why) override {
    if (path.find('x') != std::string::npos) {
      *why = "missing";
      return false;
    }
    *bytes = 2352ull * 300 * (path.size() % 7) + path.size() % 3 * 588;
    return true;
  }
  bool CdText(const std::string&, std::vector<QuorvaneI_CdTextStrings>* text, std::string* why) override {
    return QuorvaneI_ParseCdTextPacks(data, size, text, why);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string error;
  if (data[0] & 1) {
    std::vector<QuorvaneI_CdTextStrings> text;
    if (QuorvaneI_ParseCdTextPacks(data + 1, size - 1, &text, &error) && text.size() > 101) std::abort();
    return 0;
  }
  FakeFiles files;
  files.data = data + 1;
  files.size = size - 1;
  QuorvaneI_CueSheet sheet;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (!QuorvaneI_ParseCueSheet(text, "/cue", files, &sheet, &error)) {
    if (error.compare(0, 5, "line ") != 0) std::abort();
    return 0;
  }
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const QuorvaneI_CueSheetTrack& t = sheet.tracks[i];
    uint64_t fileBytes = 0;
    std::string why;
    files.Size(t.file, t.fileType, &fileBytes, &why);
    if (t.offset + t.bytes > fileBytes || t.FilePregapBlocks() >= t.blocks) std::abort();
    if (i > 0 && t.number != sheet.tracks[i - 1].number + 1) std::abort();
  }
  return 0;
}
