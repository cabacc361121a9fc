#include "files/mpeg_stream.h"

#include <algorithm>
#include <vector>

#include "core/bytes.h"
#include "platform/file.h"

namespace qv::files {

namespace {

constexpr uint8_t kPackStart = 0xBA;
constexpr uint8_t kEndCode = 0xB9;
constexpr uint8_t kSystemHeader = 0xBB;
constexpr uint32_t kMpeg1PackHeader = 12;
constexpr uint32_t kMpeg2PackHeader = 14;  // plus up to 7 stuffing bytes
constexpr uint32_t kPacksPerRead = 64;

bool StartCode(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

const char* Name(MpegSystem s) { return s == MpegSystem::Mpeg1 ? "an MPEG-1 system stream" : "an MPEG-2 program stream"; }

bool Fail(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

// The pack header's length, or 0 when it is not the wanted system's.
uint32_t PackHeaderBytes(const uint8_t* pack, MpegSystem system, std::string* why) {
  if (!StartCode(pack) || pack[3] != kPackStart) return Fail(why, "no pack header where a pack begins"), 0;
  // The byte after the start code: '0010' begins an MPEG-1 pack header,
  // '01' an MPEG-2 one.
  const bool mpeg1 = (pack[4] & 0xF0) == 0x20;
  const bool mpeg2 = (pack[4] & 0xC0) == 0x40;
  if (system == MpegSystem::Mpeg1 && !mpeg1)
    return Fail(why, mpeg2 ? "an MPEG-2 program stream, where an MPEG-1 system stream is needed"
                           : "a pack header of no known MPEG system"),
           0;
  if (system == MpegSystem::Mpeg2 && !mpeg2)
    return Fail(why, mpeg1 ? "an MPEG-1 system stream, where an MPEG-2 program stream is needed"
                           : "a pack header of no known MPEG system"),
           0;
  return mpeg1 ? kMpeg1PackHeader : kMpeg2PackHeader + (pack[13] & 0x07);
}

bool Filler(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0x00 && p[i] != 0xFF) return false;
  return true;
}

}  // namespace

bool CheckMpegPack(const uint8_t* pack, MpegSystem system, MpegPackFacts* facts, std::string* why) {
  *facts = {};
  size_t at = PackHeaderBytes(pack, system, why);
  if (at == 0) return false;
  while (at < kVideoCdPackBytes) {
    if (kVideoCdPackBytes - at < 4 || !StartCode(pack + at)) {
      if (Filler(pack + at, kVideoCdPackBytes - at)) return true;
      return Fail(why, "a packet that does not begin with a start code at byte " + std::to_string(at));
    }
    const uint8_t id = pack[at + 3];
    if (id == kEndCode) {
      facts->ended = true;
      return true;
    }
    if (id < kSystemHeader) return Fail(why, "a start code that no packet has at byte " + std::to_string(at));
    if (kVideoCdPackBytes - at < 6) return Fail(why, "a packet cut by the end of its pack");
    const size_t length = QuorvaneI_BE16(pack + at + 4);
    if (length > kVideoCdPackBytes - at - 6)
      return Fail(why, "a packet of " + std::to_string(length) + " bytes that runs past its pack");
    if ((id & 0xF0) == 0xE0) facts->video = true;
    at += 6 + length;
  }
  return true;
}

bool CheckMpegFile(const char* fileName, MpegSystem system, std::string* why) {
  const std::string file = fileName == nullptr ? "" : fileName;
  auto refuse = [&](const std::string& what) { return Fail(why, "'" + file + "' is not " + Name(system) + " for this disc: " + what); };
  uint32_t err = 0;
  int64_t sized = -1;
  plat::File in = plat::File::OpenSized(file, &sized, &err);
  if (!in.IsOpen()) return Fail(why, "cannot open '" + file + "' (system error " + std::to_string(err) + ")");
  const uint64_t size = static_cast<uint64_t>(sized);
  if (size == 0) return refuse("the file is empty");
  uint8_t head[4] = {};
  if (in.ReadAt(0, head, sizeof head, &err) < 0)
    return Fail(why, "cannot read '" + file + "' (system error " + std::to_string(err) + ")");
  if (!StartCode(head) || head[3] != kPackStart) return refuse("it does not begin with an MPEG pack header");
  if (size % kVideoCdPackBytes != 0)
    return refuse(std::to_string(size) + " bytes are no whole number of " + std::to_string(kVideoCdPackBytes) +
                  "-byte packs (cut off, or made for another medium)");
  const uint64_t packs = size / kVideoCdPackBytes;
  std::vector<uint8_t> buffer(size_t{kPacksPerRead} * kVideoCdPackBytes);
  bool video = false;
  for (uint64_t first = 0; first < packs; first += kPacksPerRead) {
    const uint64_t count = std::min<uint64_t>(kPacksPerRead, packs - first);
    const uint64_t bytes = count * kVideoCdPackBytes;
    if (in.ReadAt(first * kVideoCdPackBytes, buffer.data(), bytes, &err) != static_cast<int64_t>(bytes))
      return Fail(why, "cannot read '" + file + "' (system error " + std::to_string(err) + ")");
    for (uint64_t i = 0; i < count; ++i) {
      MpegPackFacts facts;
      std::string what;
      if (!CheckMpegPack(buffer.data() + i * kVideoCdPackBytes, system, &facts, &what))
        return refuse("pack " + std::to_string(first + i) + " holds " + what);
      video = video || facts.video;
      if (facts.ended && first + i + 1 != packs)
        return refuse("the stream ends in pack " + std::to_string(first + i) + " of " + std::to_string(packs));
    }
  }
  if (!video) return refuse("the stream holds no video");
  return true;
}

}  // namespace qv::files
