// quorvane image iso --out FILE [--label LABEL] [--boot FILE [--boot-emulation
// none|floppy]] [--no-joliet] PATH...: an ISO9660 image file, Joliet names
// unless told otherwise.
// quorvane image udf --out FILE [--label LABEL] [--bridge] PATH...: a UDF
// 1.02 image, with an ISO9660 hierarchy beside it with --bridge.
// quorvane image dvd-video --out FILE [--label LABEL] [--patch-ifo] FOLDER:
// a DVD-Video image of a VIDEO_TS folder.
// A folder PATH adds what it holds at the root, a file PATH the file. The
// image streams straight from the files into FILE; a regular FILE is
// written under a temporary name and renamed when complete, so a failure,
// Ctrl-C or SIGTERM leaves an earlier FILE as it was.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common.h"
#include "image_bin.h"
#include "master.h"
#include "platform/output_file.h"

namespace qvcli {
namespace {

namespace fs = std::filesystem;

std::atomic<QV_HANDLE> g_tree{nullptr};
std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  g_interrupted = true;
  if (QV_HANDLE tree = g_tree.load()) Quorvane_ISO9660JolietFileTree_Cancel(tree);
}

struct ImageOptions {
  std::string kind;  // iso, udf, dvd-video
  std::string out, label = "CDROM", boot, bootEmulation = "none";
  bool noJoliet = false, bridge = false, patchIfo = false, quiet = false;
  std::string import;  // an earlier image the new one follows
  int64_t start = -1;  // where the new image starts (default: after import)
  bool replace = false;
  std::vector<std::string> removes;
  std::vector<std::string> paths;
  std::string What() const { return "image " + kind; }
};

// Catches Ctrl-C and SIGTERM for as long as it lives.
struct Interrupts {
  Interrupts() : scope(&OnInterrupt) { g_interrupted = false; }
  ~Interrupts() { g_tree = nullptr; }
  InterruptScope scope;
};

using ImageRead = std::function<uint32_t(uint64_t length, void* buffer, char* text, QV_ULONG textSize, QV_ULONG* system)>;

// Streams the image of total bytes, read by read, into o.out; says what
// was made, with extra() in the JSON answer (asked once the image is
// written, so it can tell the files that changed). fail reports an engine
// failure.
int WriteImage(const GlobalOptions& global, const ImageOptions& o, uint64_t total, const ImageRead& read,
               const std::function<nlohmann::json()>& extra, size_t renamed, std::chrono::steady_clock::time_point start,
               const std::function<int(const std::string&, uint32_t, const char*, uint32_t)>& fail) {
  qv::plat::OutputFile out;
  uint32_t error = 0;
  const auto cannotWrite = [&] { return Report(o.What() + ": cannot write " + o.out, FromSystemError(error)); };
  if (!out.Open(o.out, &error)) return cannotWrite();
  ProgressBar bar("image", !o.quiet && !global.json);
  constexpr uint64_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  for (uint64_t done = 0; done < total;) {
    if (g_interrupted) {
      bar.Finish();
      std::fprintf(stderr, "quorvane: %s: cancelled\n", o.What().c_str());
      return kExitCancelled;
    }
    const uint64_t part = std::min(kChunk, total - done);
    if (const uint32_t n = read(part, buffer.get(), text, sizeof text, &system); n != 0) {
      bar.Finish();
      return fail("reading the image", n, text, system);
    }
    if (!out.Write(buffer.get(), part, &error)) {
      bar.Finish();
      return cannotWrite();
    }
    done += part;
    bar.Update(done, total);
  }
  bar.Finish();
  if (!out.Commit(&error)) return cannotWrite();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (global.json) {
    nlohmann::json answer = extra();
    answer["out"] = o.out;
    answer["bytes"] = total;
    answer["sectors"] = total / 2048;
    answer["renamed"] = renamed;
    answer["seconds"] = seconds;
    PrintJson(answer);
  } else {
    std::printf("%s: %llu bytes (%llu sectors) in %.2f s\n", o.out.c_str(), static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(total / 2048), seconds);
    if (renamed) std::printf("%zu names renamed to stay unique\n", renamed);
  }
  return kExitOk;
}

// ISO9660 and UDF images: a tree of the paths, built and read.
int BuildTree(const GlobalOptions& global, const ImageOptions& o) {
  EngineSession engine;
  if (engine.status() != 0) return Report("start-up", FromEngine(engine.status(), nullptr, 0));
  Mastering master(o.What());
  const bool udf = o.kind == "udf";
  if (int rc = udf ? master.CreateUdf(o.bridge) : master.Create(!o.noJoliet)) return rc;
  QV_HANDLE tree = master.tree();
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  uint32_t n = 0;
  Interrupts interrupts;
  g_tree = tree;
  const auto start = std::chrono::steady_clock::now();

  for (const std::string& path : o.paths)
    if (int rc = CheckSource(o.What(), path, true)) return rc;
  if (!o.boot.empty())
    if (int rc = CheckSource(o.What() + " --boot", o.boot, false)) return rc;
  uint32_t startBlock = 0;
  if (!o.import.empty()) {
    if (int rc = CheckSource(o.What() + " --import", o.import, false)) return rc;
    std::error_code ec;
    const uintmax_t bytes = fs::file_size(o.import, ec);
    startBlock = static_cast<uint32_t>(o.start >= 0 ? o.start : static_cast<int64_t>((bytes + 2047) / 2048));
    if (!ec && o.start >= 0 && static_cast<uint64_t>(o.start) * 2048 < bytes)
      return Report(o.What(), {kExitUsage, "--start " + std::to_string(o.start) + " lies inside " + o.import +
                                               " (" + std::to_string((bytes + 2047) / 2048) + " blocks)", ""});
    if (int rc = master.ImportFile(o.import)) return rc;
    for (const std::string& path : o.removes)
      if (int rc = master.Remove(path)) return rc;
    master.SetReplace(o.replace);
  }
  if (int rc = master.Add(o.paths)) return g_interrupted ? kExitCancelled : rc;
  if (!o.boot.empty()) {
    const bool floppy = o.bootEmulation == "floppy";
    std::error_code ec;
    const uintmax_t size = fs::file_size(o.boot, ec);
    // No emulation: the BIOS loads 4 virtual sectors (or the whole image
    // when smaller), what boot loaders expect.
    const QV_UCHAR sectors = floppy ? 1 : static_cast<QV_UCHAR>(ec ? 4 : std::clamp<uintmax_t>((size + 511) / 512, 1, 4));
    n = Quorvane_ISO9660JolietFileTree_SetBootImage(tree, o.boot.c_str(), 0,
                                                    floppy ? QVX_ELTORITO_MEDIA_FLOPPY144 : QVX_ELTORITO_MEDIA_CUSTOM,
                                                    sectors, 1, text, sizeof text, &system);
    if (n != 0) return master.Fail("boot image " + o.boot, n, text, system);
  }
  if (int rc = master.EnsureRoot()) return rc;
  n = Quorvane_ISO9660JolietFileTree_BuildImage(tree, text, sizeof text, &system, static_cast<QV_LONG>(startBlock), 0, 0,
                                                o.label.c_str(), "",
                                                "QUORVANE");
  if (n != 0) return master.Fail("building the image", n, text, system);

  QV_ULONG high = 0;
  const uint64_t total = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree, &high) | (uint64_t{high} << 32);
  const auto read = [tree](uint64_t part, void* buffer, char* t, QV_ULONG size, QV_ULONG* s) {
    return Quorvane_ISO9660JolietFileTree_Read(tree, t, size, s, static_cast<QV_LONG>(part), buffer);
  };
  const auto extra = [&] {
    nlohmann::json answer = udf ? nlohmann::json{{"bridge", o.bridge}}
                                : nlohmann::json{{"joliet", !o.noJoliet}, {"boot", o.boot}};
    answer["renames"] = master.renames();
    if (!o.import.empty()) {
      answer["import"] = o.import;
      answer["start"] = startBlock;
      answer["replaced"] = master.replaced();
      answer["removed"] = o.removes;
    }
    answer["changed"] = master.changed();
    return answer;
  };
  const auto fail = [&master](const std::string& what, uint32_t number, const char* t, uint32_t s) {
    return master.Fail(what, number, t, s);
  };
  const int rc = WriteImage(global, o, total, read, extra, master.renamed(), start, fail);
  return rc == kExitOk ? master.Finish(kExitOk) : rc;
}

int BuildDvdVideo(const GlobalOptions& global, const ImageOptions& o) {
  EngineSession engine;
  if (engine.status() != 0) return Report("start-up", FromEngine(engine.status(), nullptr, 0));
  const std::string& folder = o.paths.front();
  if (const Outcome bad = CheckVideoTsFolder(folder); bad.exit != kExitOk) return Report(o.What(), bad);
  Interrupts interrupts;
  const auto start = std::chrono::steady_clock::now();
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  const auto fail = [](const std::string& what, uint32_t number, const char* t, uint32_t s) {
    return Report(what, FromEngine(number, t, s));
  };
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  QV_HANDLE image = nullptr;
  const uint32_t n = Quorvane_DVDVideo_Create(&image, folder.c_str(), o.patchIfo ? 1 : 0, text, sizeof text, &system,
                                              o.label.c_str(), "", "QUORVANE", utc.tm_year + 1900, utc.tm_mon + 1,
                                              utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, 0);
  if (n != 0) return fail("building the image", n, text, system);
  struct Destroy {
    QV_HANDLE image;
    ~Destroy() { Quorvane_DVDVideo_Destroy(image); }
  } destroy{image};
  QV_ULONGLONG total = 0;
  Quorvane_DVDVideo_GetSizeInUCHARs(image, &total);
  const auto read = [image](uint64_t part, void* buffer, char* t, QV_ULONG size, QV_ULONG* s) {
    return Quorvane_DVDVideo_Read(image, t, size, s, part, buffer);
  };
  const auto extra = [&o] { return nlohmann::json{{"patchIfo", o.patchIfo}}; };
  return WriteImage(global, o, total, read, extra, 0, start, fail);
}

RegisterCommand reg({"image", "Build image files",
                     [](CLI::App& sub, const GlobalOptions& global) -> std::function<int()> {
                       sub.require_subcommand(1);
                       auto o = std::make_shared<ImageOptions>();
                       const auto common = [o](CLI::App* app, const char* paths) {
                         app->add_option("PATH", o->paths, paths)->required();
                         app->add_option("--out,-o", o->out, "The image file to write (/dev/null works)")
                             ->required();
                         app->add_option("--label", o->label, "Volume label");
                         app->add_flag("--quiet,-q", o->quiet, "No progress bar");
                       };
                       CLI::App* iso = sub.add_subcommand("iso", "An ISO9660 image with Joliet names, El Torito boot");
                       common(iso, "Folders (their contents) and files for the root");
                       auto* boot = iso->add_option("--boot", o->boot, "El Torito boot image");
                       iso->add_option("--boot-emulation", o->bootEmulation, "none or floppy (1.44 MB image)")
                           ->check(CLI::IsMember({"none", "floppy"}))
                           ->needs(boot);
                       iso->add_flag("--no-joliet", o->noJoliet, "Plain ISO9660 names only");
                       auto* import = iso->add_option("--import", o->import,
                                                      "An earlier image: the new one is a session to follow it, "
                                                      "listing its files too without holding their data");
                       iso->add_option("--start", o->start,
                                       "With --import: the block the new session starts at (default: the "
                                       "earlier image's end; a disc's next writable block to burn it there)")
                           ->needs(import)
                           ->check(CLI::NonNegativeNumber);
                       iso->add_flag("--replace", o->replace,
                                     "With --import: new files replace the earlier image's of the same name")
                           ->needs(import);
                       iso->add_option("--remove", o->removes,
                                       "With --import: leave PATH of the earlier image out of the new session")
                           ->needs(import)
                           ->allow_extra_args(false);
                       CLI::App* udf = sub.add_subcommand("udf", "A UDF 1.02 image, pure or with an ISO9660 bridge");
                       common(udf, "Folders (their contents) and files for the root");
                       udf->add_flag("--bridge", o->bridge, "An ISO9660 hierarchy of the same files beside UDF");
                       CLI::App* dvd = sub.add_subcommand("dvd-video", "A DVD-Video image of a VIDEO_TS folder");
                       common(dvd, "The VIDEO_TS folder");
                       dvd->add_flag("--patch-ifo", o->patchIfo,
                                     "Rewrite the IFO and BUP sector addresses to the files' places in the image");
                       iso->callback([o] { o->kind = "iso"; });
                       udf->callback([o] { o->kind = "udf"; });
                       dvd->callback([o] {
                         o->kind = "dvd-video";
                         if (o->label == "CDROM") o->label = "DVD_VIDEO";
                         if (o->paths.size() != 1) throw CLI::ValidationError("PATH", "give one VIDEO_TS folder");
                       });
                       std::function<int()> bin = AddImageBin(sub, global);
                       return [&global, o, bin] {
                         if (o->kind.empty()) return bin();
                         return o->kind == "dvd-video" ? BuildDvdVideo(global, *o) : BuildTree(global, *o);
                       };
                     }});

}  // namespace
}  // namespace qvcli
