// CQuorvane_CDText: the title and performer of a disc and of its tracks,
// encoded as CD-Text packs and spread over the R-W subchannel of a lead-in.
//
// A pack is 18 bytes: type (80h title, 81h performer, 8Fh size
// information), track number (0 = the disc), sequence number (running over
// all packs from 0), character position (characters of this string in
// earlier packs, at most 15; block 0, single-byte characters), 12 text
// bytes and the CRC of bytes 0-15 (x^16 + x^12 + x^5 + 1, inverted, most
// significant byte first). Every string, with its terminating NUL, starts
// a pack of its own. Four packs (72 bytes) fill the six R-W bits of the 96
// subchannel bytes of one lead-in sector; those 96-byte groups cycle
// through the lead-in.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

inline constexpr size_t kQuorvaneCDTextPackSize = 18;
inline constexpr size_t kQuorvaneCDTextGroupSize = 96;

class CQuorvane_CDText {
 public:
  // The most bytes kept of one string. Longer strings are refused, never
  // cut: a disc must not carry a title other than the one asked for.
  static constexpr size_t kMaxTextBytes = 160;

  // track 0 is the disc, 1-100 its tracks. 0, 87 for a track number out of
  // range or a string too long, 14 when memory runs out.
  uint32_t AddTrackInfo(int32_t track, const char* title, const char* performer);
  // The songwriter (pack type 82h) of a track added before; the same
  // statuses. Songwriter packs are written only when one is given.
  uint32_t AddSongwriter(int32_t track, const char* songwriter);
  // Builds the packs; 0, 87 when they would not fit the one block of 256
  // sequence numbers, 14 when memory runs out.
  uint32_t GetData();
  // GetData, then the 96-byte R-W groups from the packs; 0 or its status.
  uint32_t PrepareSubChannels();
  bool IsCDTextPresent() const;
  // Packs read from a disc (18 bytes each), written as they are instead of
  // packs made from the track infos. Keeps those whose CRC is good, in
  // their order; 0, or 87 when none is or there are more than a block
  // holds.
  uint32_t SetPacks(const uint8_t* packs, size_t size);

  struct TrackInfo {
    std::string title, performer, songwriter;
  };
  // What was added for track 0-100; nullptr when nothing.
  const TrackInfo* GetTrackInfo(int32_t track) const {
    return track >= 0 && track <= 100 ? m__TrackInfos[static_cast<size_t>(track)].get() : nullptr;
  }

  const std::vector<uint8_t>& Packs() const { return m__PackData; }
  int32_t GetSubChannelGroupCount() const { return m__LONG__SubChannelGroupCount; }
  const uint8_t* GetSubChannelsData() const { return m__PCHAR__SubChannelsData.get(); }

 private:
  // Appends one string's packs; returns how many.
  size_t AppendStrings(uint8_t type, const std::vector<std::pair<uint8_t, std::string>>& strings);
  void AppendPack(const uint8_t* pack16);

  int8_t m__CHAR__FirstTrack = 0;
  int8_t m__CHAR__LastTrack = 0;
  int32_t m__LONG__SubChannelGroupCount = 0;
  std::array<std::unique_ptr<TrackInfo>, 101> m__TrackInfos;
  std::vector<uint8_t> m__PackData;
  std::vector<uint8_t> m__GivenPacks;
  std::unique_ptr<uint8_t[]> m__PCHAR__SubChannelsData;
};
