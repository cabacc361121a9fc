// The disc in the drive: its type, current profile, status, sessions and
// tracks. Its user data lives in the drive folder's disc data file, sparse.
#pragma once
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "vdrive/media_types.h"

namespace qv::vdrive {

// Disc status as READ DISC INFORMATION reports it.
enum class DiscStatus : uint8_t { Blank = 0, Appendable = 1, Complete = 2 };

struct Track {
  uint32_t start = 0;   // first block
  uint32_t blocks = 0;  // length in blocks
  bool data = true;     // a data track (else audio)
};

struct Session {
  std::vector<Track> tracks;
  bool closed = true;
};

struct Medium {
  const MediaType* type = nullptr;
  uint16_t profile = kProfileNone;  // current profile
  DiscStatus status = DiscStatus::Blank;
  uint32_t capacity = 0;            // user blocks the disc can hold
  bool formatted = false;           // random-access media carry a format
  std::vector<Session> sessions;
  std::string image;                // where the content came from, for people

  // A new disc of a type: blank, or for the ROM types pressed, holding
  // zeros over its whole capacity.
  static Medium New(const MediaType& type);
  // A disc holding an image of this many blocks from its first block: a
  // pressed disc for the ROM types, a closed single-session disc for the
  // write-once and sequential types, a formatted disc for DVD+RW and
  // DVD-RAM.
  static Medium WithImage(const MediaType& type, uint32_t blocks, const std::string& image);

  // Blocks from 0 that READ(10) may reach.
  uint32_t ReadableBlocks() const;
  // The answer of READ CAPACITY: the last block of the last closed
  // session (the whole format of random-access media), 0 when there is none.
  uint32_t LastCapacityBlock() const;
  bool IsCd() const { return type != nullptr && type->family == MediaFamily::Cd; }
  bool IsDvd() const { return type != nullptr && type->family == MediaFamily::Dvd; }
  bool Writable() const;  // something can still be recorded
};

const char* DiscStatusName(DiscStatus status);

nlohmann::json MediumToJson(const Medium& medium);
// Throws BadJson.
Medium MediumFromJson(const nlohmann::json& json);

}  // namespace qv::vdrive
