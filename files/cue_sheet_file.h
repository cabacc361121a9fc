// Cue sheets as other burning and ripping tools write them: FILE (BINARY,
// MOTOROLA, WAVE), TRACK, INDEX, PREGAP, POSTGAP, ISRC, CATALOG, FLAGS,
// CDTEXTFILE, TITLE, PERFORMER and SONGWRITER; REM lines are ignored.
//
// The reader turns a sheet into tracks that say where their blocks lie in
// which file, checked against the files themselves, so that a recording
// never starts from a sheet it cannot finish. Every refusal names the line
// of the sheet it concerns.
//
// Times in a sheet count 2352-byte-or-smaller blocks from the start of the
// current FILE (75 a second). A track's data begins at its first INDEX
// (00 when the pre-gap is in the file) and runs to the next track's first
// INDEX in the same file, or to the end of the file. PREGAP and POSTGAP
// are silence or zero blocks that are not in any file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "files/cd_text_file.h"

enum class QuorvaneI_CueFileType : uint8_t {
  kBinary,    // raw blocks; audio as little-endian samples
  kMotorola,  // raw blocks; audio as big-endian samples
  kWave,      // an audio file decoded to CD audio (44.1 kHz, 16-bit, stereo)
};

enum class QuorvaneI_CueMode : uint8_t { kAudio, kMode1_2048, kMode1_2352, kMode2_2336, kMode2_2352 };

struct QuorvaneI_CueIndex {
  int number;
  uint32_t block;  // counted from the track's first block
};

struct QuorvaneI_CueSheetTrack {
  int number = 0;
  int line = 0;  // of its TRACK
  QuorvaneI_CueMode mode = QuorvaneI_CueMode::kAudio;
  uint32_t blockSize = 2352;
  std::string file;  // resolved against the sheet's folder
  QuorvaneI_CueFileType fileType = QuorvaneI_CueFileType::kBinary;
  uint64_t offset = 0;  // of the first block in the file (decoded stream for WAVE)
  uint64_t bytes = 0;   // taken from the file; an audio track's short last block is padded with silence
  uint32_t blocks = 0;  // in the file, pre-gap of INDEX 00 included
  std::vector<QuorvaneI_CueIndex> indexes;  // 00 (when in the file), 01, 02...
  uint32_t pregapBlocks = 0;   // PREGAP: not in the file
  uint32_t postgapBlocks = 0;  // POSTGAP: not in the file
  std::string isrc;
  bool dcp = false, fourChannel = false, preEmphasis = false, scms = false;
  QuorvaneI_CdTextStrings text;

  // Blocks of the in-file pre-gap (INDEX 00 to INDEX 01).
  uint32_t FilePregapBlocks() const;
};

struct QuorvaneI_CueSheet {
  std::string catalog;     // 13 digits, or empty
  std::string cdTextFile;  // resolved, or empty
  QuorvaneI_CdTextStrings text;  // the disc's
  std::vector<QuorvaneI_CueSheetTrack> tracks;
};

// What the reader asks of the files a sheet names; the disk by default.
class QuorvaneI_CueFiles {
 public:
  virtual ~QuorvaneI_CueFiles() = default;
  // Bytes the file delivers: its size, or the decoded CD audio of a WAVE.
  virtual bool Size(const std::string& path, QuorvaneI_CueFileType type, uint64_t* bytes, std::string* why);
  virtual bool CdText(const std::string& path, std::vector<QuorvaneI_CdTextStrings>* text, std::string* why);
};

// Reads the sheet in text; relative file names resolve against folder.
// Strings from TITLE, PERFORMER and SONGWRITER win over those of a
// CDTEXTFILE. False with *error ("line N: ...") when the sheet cannot be
// honoured.
bool QuorvaneI_ParseCueSheet(const std::string& text, const std::string& folder, QuorvaneI_CueFiles& files,
                             QuorvaneI_CueSheet* sheet, std::string* error);

// The same for the sheet at path, with the files on disk.
bool QuorvaneI_ReadCueSheet(const std::string& path, QuorvaneI_CueSheet* sheet, std::string* error);

const char* QuorvaneI_CueModeName(QuorvaneI_CueMode mode);     // "AUDIO", "MODE1/2048"...
const char* QuorvaneI_CueFileTypeName(QuorvaneI_CueFileType type);  // "BINARY", "MOTOROLA", "WAVE"
