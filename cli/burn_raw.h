// quorvane burn --audio --raw (audio tracks raw disc-at-once, with
// CD-Text) and burn --mds (a grabbed raw CD image burnt back).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common.h"

namespace qvcli {

struct CdTextOptions {
  bool fromTags = false;  // --cd-text: titles and performers from the files' tags
  std::string title, performer;
  std::vector<std::string> trackTitles, trackPerformers;  // N=TEXT
  bool Any() const;
};

// The title and performer of the disc (0) and of each file's track, from
// the tags (none for a file named "") and then the options, checked so that the drive never sees a
// text it cannot carry. 0, or the exit code having said why.
int CollectCdText(const CdTextOptions& o, const std::vector<std::string>& files,
                  std::vector<std::array<std::string, 2>>* texts);

class DriveJob;
// Hands the texts of CollectCdText to the drive's grabber; 0 or the exit
// code having said why.
int KeepCdText(DriveJob& job, const std::vector<std::array<std::string, 2>>& texts);

struct RawAudioBurn {
  std::string drive;
  std::vector<std::string> files;
  std::vector<std::array<std::string, 2>> texts;  // from CollectCdText; empty: no CD-Text
  std::vector<QUORVANE_SAO_TRACK> tracks;         // the files' layout: pauses, indexes, ISRCs
  std::string catalog;
  bool test = false, eject = false;
  uint32_t speed = 0;
};
int BurnRawAudio(const GlobalOptions& global, const RawAudioBurn& o);

struct MdsBurn {
  std::string drive, mds;
  bool test = false, eject = false;
  uint32_t speed = 0;
};
int BurnMds(const GlobalOptions& global, const MdsBurn& o);

}  // namespace qvcli
