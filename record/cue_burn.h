// A cue sheet of another tool as a session-at-once layout: each track's
// blocks read from where the sheet puts them in its file.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "files/cue_sheet_file.h"
#include "record/raw_areas.h"
#include "record/session_at_once.h"

class CQuorvane_File;
class CQuorvane_FileChain;

// Owns the sources the layout's tracks read.
class QuorvaneI_CueLayout {
 public:
  QuorvaneI_CueLayout();
  ~QuorvaneI_CueLayout();
  QuorvaneI_CueLayout(const QuorvaneI_CueLayout&) = delete;
  QuorvaneI_CueLayout& operator=(const QuorvaneI_CueLayout&) = delete;

  // Reads the sheet at path and lays it out; false with *error ("line N:
  // ...") when it cannot be recorded session-at-once. Opens the files it
  // names, touches no drive.
  bool Read(const std::string& path, std::string* error);
  // The same from a sheet already read.
  bool Build(const QuorvaneI_CueSheet& sheet, std::string* error);

  // The same as a disc written raw, disc-at-once: false with *error
  // naming the line of what such a recording cannot carry (Mode 2, a
  // post-gap, a first pause other than two seconds of silence).
  bool ReadRaw(const std::string& path, std::string* error);
  bool BuildRaw(const QuorvaneI_CueSheet& sheet, std::string* error);

  QuorvaneI_SaoLayout& layout() { return layout_; }
  QuorvaneI_RawDisc& rawDisc() { return raw_; }
  // Title, performer and songwriter of the disc (0) and of each track
  // (1...), from the sheet and its CDTEXTFILE; empty when it has none.
  const std::vector<QuorvaneI_CdTextStrings>& cdText() const { return cdText_; }
  // Whether any track is data, which keeps CD-Text off the disc.
  bool AnyData() const;

 private:
  bool Check(const QuorvaneI_CueSheet& sheet, std::string* error);
  // A source of the sheet's track c, skip blocks after its start.
  CQuorvane_FileChain* Open(const QuorvaneI_CueSheet& sheet, size_t i, uint64_t skip, uint64_t block,
                            std::string* error);

  QuorvaneI_SaoLayout layout_;
  QuorvaneI_RawDisc raw_;
  std::vector<QuorvaneI_CdTextStrings> cdText_;
  std::vector<std::unique_ptr<CQuorvane_File>> files_;
  std::vector<std::unique_ptr<CQuorvane_FileChain>> chains_;
};
