// quorvane image bin --out NAME.bin [--mode 1|2] [--cue NAME.cue] ISO: a
// cooked image (2048-byte blocks) as raw 2352-byte sectors with sync,
// header, EDC/ECC and addresses from 00:02:00 (Mode 1, or Mode 2 Form 1),
// and a cue sheet beside it that names it. Both are written under temporary
// names and renamed when complete.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "image_bin.h"
#include "platform/output_file.h"

namespace qvcli {
namespace {

namespace fs = std::filesystem;

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) { g_interrupted = true; }

struct BinOptions {
  std::string iso, out, cue;
  int mode = 1;
  bool quiet = false;
};

constexpr uint64_t kCooked = 2048, kRaw = 2352;
constexpr uint32_t kChunkSectors = 1024;

int Fail(int code, const std::string& message) { return Report("image bin", {code, message, ""}); }

// The cue sheet: the image by its name when both sit in one folder, else by
// its full path.
std::string CueSheet(const BinOptions& o) {
  std::error_code ec;
  const fs::path bin = fs::absolute(o.out, ec), cue = fs::absolute(o.cue, ec);
  const std::string name =
      bin.parent_path() == cue.parent_path() ? bin.filename().string() : bin.lexically_normal().string();
  return "FILE \"" + name + "\" BINARY\n  TRACK 01 MODE" + std::to_string(o.mode) +
         "/2352\n    INDEX 01 00:00:00\n";
}

int BuildBin(const GlobalOptions& global, BinOptions o) {
  if (o.cue.empty()) o.cue = fs::path(o.out).replace_extension(".cue").string();
  if (fs::path(o.cue) == fs::path(o.out)) return Fail(kExitUsage, "the cue sheet would overwrite the image");
  std::error_code ec;
  const fs::file_status status = fs::status(o.iso, ec);
  if (!fs::exists(status)) return Fail(kExitNotFound, "no such file: " + o.iso);
  if (!fs::is_regular_file(status)) return Fail(kExitUsage, o.iso + " is not a file");
  std::ifstream in(o.iso, std::ios::binary);
  const uint64_t bytes = fs::file_size(o.iso, ec);
  if (!in || ec) return Fail(kExitSystemError, "cannot read " + o.iso);
  if (bytes % kCooked != 0)
    return Fail(kExitUnsupported,
                o.iso + " is not a cooked image: " + std::to_string(bytes) + " bytes is not a whole number of 2048-byte blocks");
  const uint64_t sectors = bytes / kCooked;
  // The last address of a CD: 99:59:74.
  if (sectors > 449850) return Fail(kExitUnsupported, o.iso + " holds more sectors than a CD addresses");

  qv::plat::OutputFile bin, cue;
  uint32_t error = 0;
  const auto cannotWrite = [&](const std::string& path) {
    return Report("image bin: cannot write " + path, FromSystemError(error));
  };
  if (!bin.Open(o.out, &error)) return cannotWrite(o.out);
  if (!cue.Open(o.cue, &error)) return cannotWrite(o.cue);
  g_interrupted = false;
  InterruptScope interrupts(&OnInterrupt);

  const auto start = std::chrono::steady_clock::now();
  std::vector<uint8_t> cooked(kChunkSectors * kCooked), raw(kChunkSectors * kRaw);
  ProgressBar bar("image", !o.quiet && !global.json);
  const QV_ULONG layout = o.mode == 1 ? QVX_SECTOR_MODE1 : QVX_SECTOR_MODE2_FORM1;
  for (uint64_t done = 0; done < sectors;) {
    if (g_interrupted) {
      bar.Finish();
      return Fail(kExitCancelled, "cancelled");
    }
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, sectors - done));
    if (!in.read(reinterpret_cast<char*>(cooked.data()), static_cast<std::streamsize>(n * kCooked))) {
      bar.Finish();
      return Fail(kExitSystemError, "reading " + o.iso + " failed: it shrank or cannot be read");
    }
    Quorvane_BuildRawSectors(layout, static_cast<QV_LONG>(done), n, cooked.data(), nullptr, raw.data());
    if (!bin.Write(raw.data(), n * kRaw, &error)) {
      bar.Finish();
      return cannotWrite(o.out);
    }
    done += n;
    bar.Update(done * kRaw, sectors * kRaw);
  }
  bar.Finish();
  const std::string sheet = CueSheet(o);
  if (!cue.Write(sheet.data(), sheet.size(), &error) || !cue.Commit(&error)) return cannotWrite(o.cue);
  if (!bin.Commit(&error)) return cannotWrite(o.out);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (global.json) {
    PrintJson({{"out", o.out}, {"cue", o.cue}, {"mode", o.mode}, {"sectors", sectors}, {"bytes", sectors * kRaw},
               {"seconds", seconds}});
  } else {
    std::printf("%s: %llu sectors of 2352 bytes (Mode %s) in %.2f s, cue sheet %s\n", o.out.c_str(),
                static_cast<unsigned long long>(sectors), o.mode == 1 ? "1" : "2 Form 1", seconds, o.cue.c_str());
  }
  return kExitOk;
}

}  // namespace

std::function<int()> AddImageBin(CLI::App& image, const GlobalOptions& global) {
  CLI::App* bin = image.add_subcommand("bin", "Raw 2352-byte sectors with EDC/ECC and a cue sheet from a cooked image");
  auto o = std::make_shared<BinOptions>();
  bin->add_option("ISO", o->iso, "The cooked image (2048-byte blocks)")->required();
  bin->add_option("--out,-o", o->out, "The raw image to write (NAME.bin)")->required();
  bin->add_option("--mode", o->mode, "1 (Mode 1) or 2 (Mode 2 Form 1)")->check(CLI::IsMember({1, 2}));
  bin->add_option("--cue", o->cue, "The cue sheet to write (default: NAME.cue beside NAME.bin)");
  bin->add_flag("--quiet,-q", o->quiet, "No progress bar");
  return [&global, o] { return BuildBin(global, *o); };
}

}  // namespace qvcli
