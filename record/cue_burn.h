// A cue sheet of another tool as a session-at-once layout: each track's
// blocks read from where the sheet puts them in its file.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "files/cue_sheet_file.h"
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

  QuorvaneI_SaoLayout& layout() { return layout_; }
  // The sheet carries CD-Text, which a session-at-once recording cannot.
  bool HasCdText() const { return hasCdText_; }

 private:
  QuorvaneI_SaoLayout layout_;
  std::vector<std::unique_ptr<CQuorvane_File>> files_;
  std::vector<std::unique_ptr<CQuorvane_FileChain>> chains_;
  bool hasCdText_ = false;
};
