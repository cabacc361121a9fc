// quorvane check NAME.bin [--repair]: verifies every sector of a raw image
// (sync, mode byte, sub-header, EDC, P and Q) and reports each bad one;
// --repair rewrites in place the sectors the layer-2 decoder mends, one
// sector at a time, so an interruption leaves each sector as it was or
// mended. The expected mode comes from the cue sheet beside the image
// (NAME.cue; sectors of audio tracks are not checked), else from the first
// sector that has a sync.
//
// quorvane check NAME.cue: reads a cue sheet as a burn would, checked
// against the files it names, and prints its tracks, or the line it
// cannot honour.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common.h"
#include "platform/file.h"

namespace qvcli {
namespace {

namespace fs = std::filesystem;

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) { g_interrupted = true; }

struct CheckOptions {
  std::string image;
  bool repair = false, quiet = false;
};

constexpr uint64_t kRaw = 2352;
constexpr uint32_t kChunkSectors = 1024;

int Fail(const GlobalOptions&, int code, const std::string& message) { return Report("check", {code, message, ""}); }

// A track of the cue sheet: where it starts in the image and its mode (0:
// audio, not checked).
struct Track {
  uint64_t start;
  int mode;
};

// The tracks of a cue sheet whose one file is the image; empty when there
// is no sheet. false with *why when the sheet cannot be read or describes
// something this cannot check.
bool ReadCue(const fs::path& cue, const fs::path& image, std::vector<Track>* tracks, std::string* why) {
  std::error_code ec;
  if (!fs::exists(cue, ec)) return true;
  PQUORVANE_CUE_SHEET sheet = nullptr;
  char error[512];
  if (Quorvane_CueSheetOpen(cue.string().c_str(), &sheet, error, sizeof error) != 0) {
    *why = error;
    return false;
  }
  QV_ULONG count = 0;
  Quorvane_CueSheetDiscGet(sheet, &count, nullptr, nullptr, nullptr);
  bool ok = true;
  for (QV_ULONG i = 0; i < count && ok; ++i) {
    QUORVANE_CUE_TRACK t;
    Quorvane_CueSheetTrackGet(sheet, i, &t);
    if (!fs::equivalent(t.file, image, ec)) {
      tracks->clear();  // several files: the sectors carry their own modes
      break;
    }
    const std::string mode = t.mode;
    if (t.blockSize != kRaw || mode == "MODE1/2048") {
      *why = cue.string() + " has a track of type " + mode + ", which is not a raw 2352-byte layout";
      ok = false;
    }
    tracks->push_back({t.offset / kRaw, mode == "AUDIO" ? 0 : mode == "MODE1/2352" ? 1 : 2});
  }
  Quorvane_CueSheetDestroy(&sheet);
  return ok;
}

std::string Frames(uint64_t frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(frames / 4500),
                static_cast<unsigned>(frames / 75 % 60), static_cast<unsigned>(frames % 75));
  return text;
}

// Prints the tracks of a cue sheet as the reader sees them.
int CheckCue(const GlobalOptions& global, const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return Fail(global, kExitNotFound, "no such file: " + path);
  PQUORVANE_CUE_SHEET sheet = nullptr;
  char error[1024];
  const QV_ULONG status = Quorvane_CueSheetOpen(path.c_str(), &sheet, error, sizeof error);
  if (status != 0) return Fail(global, status == 87 ? kExitUnsupported : kExitFailure, error);
  QV_ULONG count = 0;
  const char *catalog = nullptr, *cdTextFile = nullptr;
  QUORVANE_CUE_TEXT disc;
  Quorvane_CueSheetDiscGet(sheet, &count, &catalog, &cdTextFile, &disc);
  auto text = [](const QUORVANE_CUE_TEXT& t) {
    return nlohmann::json{{"title", t.title}, {"performer", t.performer}, {"songwriter", t.songwriter}};
  };
  nlohmann::json tracks = nlohmann::json::array();
  if (!global.json)
    std::printf("%s: %lu tracks%s%s\n", path.c_str(), static_cast<unsigned long>(count), *catalog ? ", catalogue " : "",
                catalog);
  if (!global.json && (*disc.title || *disc.performer)) std::printf("  \"%s\" by \"%s\"\n", disc.title, disc.performer);
  for (QV_ULONG i = 0; i < count; ++i) {
    QUORVANE_CUE_TRACK t;
    Quorvane_CueSheetTrackGet(sheet, i, &t);
    nlohmann::json indexes = nlohmann::json::array();
    std::string indexText;
    for (QV_ULONG k = 0; k < t.indexCount; ++k) {
      indexes.push_back({{"number", t.indexNumbers[k]}, {"block", t.indexBlocks[k]}});
      indexText += " " + std::to_string(t.indexNumbers[k]) + "@" + Frames(t.indexBlocks[k]);
    }
    nlohmann::json flags = nlohmann::json::array();
    const std::pair<QV_BOOLEAN, const char*> named[] = {
        {t.dcp, "DCP"}, {t.fourChannel, "4CH"}, {t.preEmphasis, "PRE"}, {t.scms, "SCMS"}};
    for (const auto& [on, name] : named)
      if (on) flags.push_back(name);
    tracks.push_back({{"number", t.number}, {"mode", t.mode}, {"blockSize", t.blockSize}, {"file", t.file},
                      {"fileType", t.fileType}, {"offset", t.offset}, {"bytes", t.bytes}, {"blocks", t.blocks},
                      {"indexes", indexes}, {"pregapBlocks", t.pregapBlocks}, {"postgapBlocks", t.postgapBlocks},
                      {"isrc", t.isrc}, {"flags", flags}, {"cdText", text(t.text)}});
    if (!global.json)
      std::printf("  track %02ld %-10s %s %s+%llu, %lu blocks (%s), indexes%s%s%s%s%s\n", static_cast<long>(t.number),
                  t.mode, t.fileType, fs::path(t.file).filename().string().c_str(),
                  static_cast<unsigned long long>(t.offset), static_cast<unsigned long>(t.blocks),
                  Frames(t.blocks).c_str(), indexText.c_str(),
                  t.pregapBlocks ? (", pre-gap " + Frames(t.pregapBlocks)).c_str() : "",
                  t.postgapBlocks ? (", post-gap " + Frames(t.postgapBlocks)).c_str() : "",
                  *t.isrc ? (std::string(", ISRC ") + t.isrc).c_str() : "",
                  *t.text.title ? (std::string(", \"") + t.text.title + "\"").c_str() : "");
  }
  if (global.json)
    PrintJson({{"cueSheet", path}, {"catalog", catalog}, {"cdTextFile", cdTextFile}, {"cdText", text(disc)},
               {"tracks", tracks}});
  Quorvane_CueSheetDestroy(&sheet);
  return kExitOk;
}

const char* FaultName(QV_ULONG fault) {
  static const char* const kNames[] = {"good", "sync", "header", "sub-header", "EDC", "P parity", "Q parity"};
  return fault < 7 ? kNames[fault] : "unknown";
}

std::string Msf(uint64_t sector) {
  const uint64_t frames = sector + 150;
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(frames / 4500 % 100),
                static_cast<unsigned>(frames / 75 % 60), static_cast<unsigned>(frames % 75));
  return text;
}

int Check(const GlobalOptions& global, const CheckOptions& o) {
  if (fs::path(o.image).extension() == ".cue" || fs::path(o.image).extension() == ".CUE") {
    if (o.repair) return Fail(global, kExitUsage, "--repair is for raw images, not cue sheets");
    return CheckCue(global, o.image);
  }
  std::error_code ec;
  const fs::file_status status = fs::status(o.image, ec);
  if (!fs::exists(status)) return Fail(global, kExitNotFound, "no such file: " + o.image);
  if (!fs::is_regular_file(status)) return Fail(global, kExitUsage, o.image + " is not a file");
  uint32_t error = 0;
  qv::plat::File file =
      qv::plat::File::Open(o.image, o.repair ? qv::plat::FileMode::ReadWrite : qv::plat::FileMode::Read, &error);
  const int64_t size = file.IsOpen() ? file.Size(&error) : -1;
  if (size < 0) return Report("check: cannot open " + o.image, FromSystemError(error));
  const uint64_t bytes = static_cast<uint64_t>(size);
  if (bytes % kRaw != 0)
    return Fail(global, kExitUnsupported,
                o.image + " is not a raw image: " + std::to_string(bytes) + " bytes is not a whole number of 2352-byte sectors");
  const uint64_t sectors = bytes / kRaw;
  std::vector<Track> tracks;
  std::string why;
  if (!ReadCue(fs::path(o.image).replace_extension(".cue"), o.image, &tracks, &why))
    return Fail(global, kExitUnsupported, why);

  g_interrupted = false;
  InterruptScope interrupts(&OnInterrupt);

  std::vector<uint8_t> chunk(kChunkSectors * kRaw);
  nlohmann::json bad = nlohmann::json::array();
  uint64_t good = 0, repaired = 0, unrecoverable = 0, unchecked = 0;
  int guessedMode = -1;  // without a cue sheet: the mode of the first sector with a sync
  ProgressBar bar("check", !o.quiet && !global.json);
  uint64_t done = 0;
  for (; done < sectors && !g_interrupted;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, sectors - done));
    if (file.ReadAt(done * kRaw, chunk.data(), n * kRaw, &error) != static_cast<int64_t>(n * kRaw)) {
      bar.Finish();
      return Report("check: reading " + o.image + " failed", FromSystemError(error));
    }
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t index = done + i;
      uint8_t* sector = chunk.data() + i * kRaw;
      int mode = 0;
      if (!tracks.empty()) {
        for (const Track& t : tracks)
          if (t.start <= index) mode = t.mode;
        if (mode == 0) {
          ++unchecked;
          continue;
        }
      } else {
        static const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
        if (guessedMode < 0 && std::memcmp(sector, kSync, 12) == 0 && (sector[15] == 1 || sector[15] == 2))
          guessedMode = sector[15];
        mode = guessedMode < 0 ? 0 : guessedMode;
      }
      QV_ULONG fault = 0, result = 0;
      Quorvane_CheckRawSector(sector, mode, static_cast<QV_LONG>(index), o.repair, &fault, &result);
      if (fault == QVX_SECTOR_GOOD) {
        ++good;
        continue;
      }
      if (result == QVX_REPAIR_DONE) {
        if (!file.WriteAt(index * kRaw, sector, kRaw, &error)) {
          bar.Finish();
          return Report("check: writing " + o.image + " failed", FromSystemError(error));
        }
        ++repaired;
      } else if (o.repair) {
        ++unrecoverable;
      }
      const char* outcome = result == QVX_REPAIR_DONE ? "repaired" : result == QVX_REPAIR_IMPOSSIBLE ? "unrecoverable" : nullptr;
      bad.push_back({{"sector", index}, {"address", Msf(index)}, {"fault", FaultName(fault)},
                     {"repair", outcome ? nlohmann::json(outcome) : nlohmann::json()}});
      if (!global.json) {
        bar.Finish();  // a report line ends any progress line drawn in place
        std::printf("sector %llu (%s): bad %s%s\n", static_cast<unsigned long long>(index), Msf(index).c_str(),
                    FaultName(fault), outcome ? (std::string(", ") + outcome).c_str() : "");
      }
    }
    done += n;
    bar.Update(done * kRaw, sectors * kRaw);
  }
  bar.Finish();
  if (repaired != 0 && !file.Flush(&error)) return Report("check: writing " + o.image + " failed", FromSystemError(error));
  const uint64_t stillBad = bad.size() - repaired;
  if (global.json) {
    PrintJson({{"image", o.image}, {"sectors", sectors}, {"checked", done - unchecked}, {"good", good},
               {"bad", bad}, {"repaired", repaired}, {"unrecoverable", unrecoverable},
               {"complete", !g_interrupted}});
  } else {
    std::printf("%s: %llu sectors, %llu good, %llu bad", o.image.c_str(), static_cast<unsigned long long>(sectors),
                static_cast<unsigned long long>(good), static_cast<unsigned long long>(bad.size()));
    if (o.repair)
      std::printf(", %llu repaired, %llu unrecoverable", static_cast<unsigned long long>(repaired),
                  static_cast<unsigned long long>(unrecoverable));
    if (unchecked) std::printf(", %llu audio not checked", static_cast<unsigned long long>(unchecked));
    std::printf("\n");
  }
  if (g_interrupted) return Fail(global, kExitCancelled, "cancelled after " + std::to_string(done) + " sectors");
  return stillBad == 0 ? kExitOk : kExitFailure;
}

RegisterCommand reg({"check",
                     "Verify the sectors of a raw image (EDC, P and Q), optionally repair them; or read a cue sheet "
                     "and print its tracks",
                     [](CLI::App& sub, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<CheckOptions>();
                       sub.add_option("IMAGE", o->image, "The raw image (2352-byte sectors), or a cue sheet (*.cue)")->required();
                       sub.add_flag("--repair", o->repair, "Rewrite the sectors the P and Q parity can mend");
                       sub.add_flag("--quiet,-q", o->quiet, "No progress bar");
                       return [&global, o] { return Check(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
