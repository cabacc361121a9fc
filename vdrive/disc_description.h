// Prepared disc descriptions: a small JSON file that describes a disc to
// put in a virtual drive, and where its data comes from.
//
//   {
//     "media": "cd-r",                 media type name (see media_types.h)
//     "restrictedOverwrite": false,    DVD-RW: restricted overwrite mode (profile 13h)
//     "status": "complete",            blank | appendable | complete; by default blank
//                                      without sessions, appendable when the last
//                                      session is open, else complete
//     "capacity": 359849,              user blocks; on a CD the last possible lead-out
//     "leadIn": "97:26:66",            CD-R/RW ATIP: the lead-in start
//     "lastLeadOut": "79:59:74",       CD-R/RW ATIP: the last possible lead-out
//     "formatted": true,               DVD+RW, DVD-RAM, DVD-RW restricted overwrite
//     "source": {...},                 DVD+RW, DVD-RAM: data from block 0 on
//     "layerBreak": 2086912,           DVD+R DL: blocks of layer 0 (a multiple of 16)
//     "layerBreakFixed": true,         DVD+R DL: the layer break is final
//     "protection": 1, "regionMask": 254,   DVD copyright information
//     "sessions": [
//       {"closed": true, "tracks": [
//         {"mode": "mode1",            audio | mode1 | mode2 (XA, forms by subheader)
//                                      | mode2-form1 | mode2-form2
//          "blocks": 1000,             size from index 1 (or taken from the source file)
//          "start": 0,                 index 1 / first block; by default right after
//                                      what comes before (a new CD session after the
//                                      lead-out and the next lead-in)
//          "pregap": 150,              CD: index 0 blocks before start (150 by default;
//                                      the first track's first 150 lie before LBA 0)
//          "indexes": [2250],          CD: index 2, 3, ... as blocks from start
//          "copy": false, "preemphasis": false, "incremental": false,
//          "reserved": false,          DVD: a reserved track
//          "recorded": 1000,           DVD: blocks recorded (all of them by default)
//          "source": "zero"            zero | counter | tone (audio) | a file:
//                    {"file": "data.iso", "offset": 0, "sectorBytes": 2048}
//         }]}
//     ]
//   }
//
// A source file holds the track's sectors from its pause on (from LBA 0
// for the first track), each of sectorBytes: by default what the drive
// stores for the mode (2352 audio, 2048 Mode 1 and Form 1, 2336 Mode 2,
// 2324 Form 2); 2352 for a data track means raw sectors whose sync and
// header the drive drops. Relative paths are relative to the description.
// Runs of zeros are not stored, so a 4 GB padding run costs nothing.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "vdrive/medium.h"

namespace qv::vdrive {

// Reads a description and writes the disc's stored data to dataFile.
// Returns 0, or a system error with *error saying what was wrong.
uint32_t LoadDiscDescription(const std::filesystem::path& description, const std::filesystem::path& dataFile,
                             Medium* medium, std::string* error);

}  // namespace qv::vdrive
