// libFuzzer target for what the file sources and the tree take from
// outside: names as a disk hands them over (any bytes) and MPEG streams.
// Checks that hold for every input:
//  - a sanitized name is valid UTF-8 of the same length, and cutting it
//    never splits a character;
//  - a node takes any name it accepts by length, and keeps it;
//  - an MPEG source delivers the same sectors whatever its read sizes (the
//    input is repeated into a stream of several blocks, so that short
//    inputs reach the sector code too);
//  - the Video CD stream check accepts only whole 2324-byte packs that
//    begin with a pack header of the system asked for, and answers the
//    same for the file as pack by pack.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/exception.h"
#include "files/file.h"
#include "files/file_chain.h"
#include "files/file_tree.h"
#include "files/mpeg_stream.h"

namespace {

std::string InputPath(const char* extension) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvane-fuzz-files-" + std::to_string(getpid()) + extension;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  return true;
}

void CheckName(std::string_view raw) {
  const std::string clean = QuorvaneI_SanitizeUtf8(raw);
  if (clean.size() != raw.size() || QuorvaneI_SanitizeUtf8(clean) != clean) std::abort();
  for (size_t limit : {0u, 1u, 12u, 31u}) {
    const size_t cut = QuorvaneI_Utf8Prefix(clean.c_str(), limit);
    const std::string prefix = clean.substr(0, cut);
    if (cut > limit || cut > std::strlen(clean.c_str()) || QuorvaneI_SanitizeUtf8(prefix) != prefix) std::abort();
  }
  const std::string terminated(clean.c_str());
  const std::string shortName = terminated.substr(0, QuorvaneI_Utf8Prefix(terminated.c_str(), 12));
  try {
    CQuorvane_FileTreeNode node(terminated.c_str(), terminated.c_str(), shortName.c_str(), 0, 0, nullptr, 0, 0);
    if (terminated != node.GetLongName() || shortName != node.GetShortName() ||
        terminated != node.GetAbsolutePath())
      std::abort();
  } catch (CQuorvane_Exception* e) {
    if (e == nullptr || e->Number() != EN_INVALID_PARAMETER || terminated.size() < kQuorvaneMaxPath) std::abort();
    delete e;
  }
}

void CheckVideoCdStream(const std::string& path, const uint8_t* data, size_t size) {
  using qv::files::kVideoCdPackBytes;
  for (auto system : {qv::files::MpegSystem::Mpeg1, qv::files::MpegSystem::Mpeg2}) {
    std::string why;
    const bool accepted = qv::files::CheckMpegFile(path.c_str(), system, &why);
    if (accepted != why.empty()) std::abort();
    bool packsPass = size > 0 && size % kVideoCdPackBytes == 0, video = false;
    for (size_t at = 0; packsPass && at < size; at += kVideoCdPackBytes) {
      qv::files::MpegPackFacts facts;
      std::string what;
      packsPass = qv::files::CheckMpegPack(data + at, system, &facts, &what) && (!facts.ended || at + kVideoCdPackBytes == size);
      if (packsPass && std::memcmp(data + at, "\0\0\1\xBA", 4) != 0) std::abort();
      video = video || facts.video;
    }
    if (accepted != (packsPass && video)) std::abort();
  }
  // A short input as one pack, the rest zeros.
  if (size > 0 && size < kVideoCdPackBytes) {
    std::string pack(reinterpret_cast<const char*>(data), size);
    pack.resize(kVideoCdPackBytes, '\0');
    qv::files::MpegPackFacts facts;
    std::string why;
    if (!qv::files::CheckMpegPack(reinterpret_cast<const uint8_t*>(pack.data()), qv::files::MpegSystem::Mpeg2, &facts, &why) &&
        why.empty())
      std::abort();
  }
}

void CheckMpeg(const uint8_t* input, size_t inputSize) {
  std::string stream;
  for (size_t copies = inputSize == 0 ? 0 : inputSize < 4096 ? 1 + input[0] % 64 : 1; copies > 0; --copies)
    stream.append(reinterpret_cast<const char*>(input), inputSize);
  const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
  const size_t size = stream.size();
  const std::string path = InputPath(".mpg");
  if (!WriteInput(path, data, size)) return;
  CQuorvane_MPEG12DiskFile source(path.c_str());
  const uint64_t total = source.GetSizeInUCHARs();
  if (total != size / kQuorvaneMpegBlockSize * kQuorvaneMpegSectorSize) std::abort();
  CQuorvane_FileChain chain;
  chain.AddChainTail(&source);
  std::string whole(total, '\0'), pieces(total, '\0');
  chain.SeekToBegin();
  if (total) chain.Read(total, whole.data());
  const uint64_t chunk = inputSize > 1 ? 1 + input[1] * 37u : 1;
  chain.SeekToBegin();
  for (uint64_t at = 0; at < total; at += chunk) chain.Read(std::min(chunk, total - at), pieces.data() + at);
  if (whole != pieces) std::abort();
  CheckVideoCdStream(path, data, size);
  for (uint64_t s = 0; s < total / kQuorvaneMpegSectorSize; ++s) {
    const char* sector = whole.data() + s * kQuorvaneMpegSectorSize;
    if (std::memcmp(sector, sector + 4, 4) != 0 ||
        std::memcmp(sector + 8, data + s * kQuorvaneMpegBlockSize, kQuorvaneMpegBlockSize) != 0)
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  for (size_t i = 0; i <= all.size(); ++i) {
    if (i == all.size() || all[i] == '/') {
      CheckName(all.substr(start, i - start));
      start = i + 1;
    }
  }
  CheckMpeg(data, size);
  return 0;
}
