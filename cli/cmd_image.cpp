// quorvane image iso --out FILE [--label LABEL] [--boot FILE [--boot-emulation
// none|floppy]] [--no-joliet] PATH...: an ISO9660 image file, Joliet names
// unless told otherwise. A folder PATH adds what it holds at the root, a file
// PATH the file. The image streams straight from the files into FILE; a
// regular FILE is written under a temporary name and renamed when complete,
// so a failure, Ctrl-C or SIGTERM leaves an earlier FILE as it was.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
  std::string out, label = "CDROM", boot, bootEmulation = "none";
  bool noJoliet = false, quiet = false;
  std::vector<std::string> paths;
};

int BuildIso(const GlobalOptions& global, const ImageOptions& o) {
  EngineSession engine;
  if (engine.status() != 0) return Report("start-up", FromEngine(engine.status(), nullptr, 0));
  Mastering master("image iso");
  if (int rc = master.Create(!o.noJoliet)) return rc;
  QV_HANDLE tree = master.tree();
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  uint32_t n = 0;
  struct Forget {
    ~Forget() { g_tree = nullptr; }
  } forget;
  g_interrupted = false;
  g_tree = tree;
  InterruptScope interrupts(&OnInterrupt);
  const auto start = std::chrono::steady_clock::now();

  for (const std::string& path : o.paths)
    if (int rc = CheckSource("image iso", path, true)) return rc;
  if (!o.boot.empty())
    if (int rc = CheckSource("image iso --boot", o.boot, false)) return rc;
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
  n = Quorvane_ISO9660JolietFileTree_BuildImage(tree, text, sizeof text, &system, 0, 0, 0, o.label.c_str(), "",
                                                "QUORVANE");
  if (n != 0) return master.Fail("building the image", n, text, system);

  QV_ULONG high = 0;
  const uint64_t total = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree, &high) | (uint64_t{high} << 32);
  qv::plat::OutputFile out;
  uint32_t error = 0;
  const auto cannotWrite = [&] { return Report("image iso: cannot write " + o.out, FromSystemError(error)); };
  if (!out.Open(o.out, &error)) return cannotWrite();
  ProgressBar bar("image", !o.quiet && !global.json);
  constexpr uint64_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  for (uint64_t done = 0; done < total;) {
    if (g_interrupted) {
      bar.Finish();
      std::fprintf(stderr, "quorvane: image iso: cancelled\n");
      return kExitCancelled;
    }
    const uint64_t part = std::min(kChunk, total - done);
    n = Quorvane_ISO9660JolietFileTree_Read(tree, text, sizeof text, &system, static_cast<QV_LONG>(part), buffer.get());
    if (n != 0) {
      bar.Finish();
      return master.Fail("reading the image", n, text, system);
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
    PrintJson({{"out", o.out}, {"bytes", total}, {"sectors", total / 2048}, {"joliet", !o.noJoliet},
               {"boot", o.boot}, {"renamed", master.renames().size()}, {"renames", master.renames()},
               {"changed", master.changed()}, {"seconds", seconds}});
  } else {
    std::printf("%s: %llu bytes (%llu sectors) in %.2f s\n", o.out.c_str(), static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(total / 2048), seconds);
    if (!master.renames().empty()) std::printf("%zu names renamed to stay unique\n", master.renames().size());
  }
  return master.Finish(kExitOk);
}

RegisterCommand reg({"image", "Build image files",
                     [](CLI::App& sub, const GlobalOptions& global) -> std::function<int()> {
                       sub.require_subcommand(1);
                       CLI::App* iso = sub.add_subcommand("iso", "An ISO9660 image with Joliet names, El Torito boot");
                       auto o = std::make_shared<ImageOptions>();
                       iso->add_option("PATH", o->paths, "Folders (their contents) and files for the root")
                           ->required();
                       iso->add_option("--out,-o", o->out, "The image file to write (/dev/null works)")->required();
                       iso->add_option("--label", o->label, "Volume label");
                       auto* boot = iso->add_option("--boot", o->boot, "El Torito boot image");
                       iso->add_option("--boot-emulation", o->bootEmulation, "none or floppy (1.44 MB image)")
                           ->check(CLI::IsMember({"none", "floppy"}))
                           ->needs(boot);
                       iso->add_flag("--no-joliet", o->noJoliet, "Plain ISO9660 names only");
                       iso->add_flag("--quiet,-q", o->quiet, "No progress bar");
                       std::function<int()> bin = AddImageBin(sub, global);
                       return [&global, o, iso, bin] { return iso->parsed() ? BuildIso(global, *o) : bin(); };
                     }});

}  // namespace
}  // namespace qvcli
