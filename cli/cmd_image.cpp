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
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common.h"
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

// Collisions get fresh names: "NAME_1.EXT" in the ISO9660 tree (whose names
// the engine keeps to 12 characters), "name (1).ext" in the Joliet tree.
// Counters per name make a folder of many alike names linear.
struct Renamer {
  std::map<std::string, unsigned> next;
  unsigned renamed = 0;
  SkipNotes skips;
};

std::string Narrow(const std::u16string& units) {
  std::string out;
  for (char16_t u : units) out += u < 0x80 ? static_cast<char>(u) : '?';
  return out;
}

void QUORVANE_CALL OnTreeEvent(QV_ULONG reason, void* context, void* parameter1, void*) {
  auto* renamer = static_cast<Renamer*>(context);
  if (reason == CN_FILE_TREE_NODE_SKIPPED) return SkipNotes::OnTreeEvent(reason, &renamer->skips, parameter1, nullptr);
  if (reason != CN_FILE_TREE_NAME_COLLISION) return;
  auto* record = static_cast<QUORVANE_NAME_COLLISION*>(parameter1);
  if (record->m__ULONG__Solution == QVX_NAME_COLLISION_MERGE_FOLDERS) return;  // same folder twice: merge
  record->m__ULONG__Solution = QVX_NAME_COLLISION_RENAME_NEW;
  ++renamer->renamed;
  if (!record->m__UCHAR__IsWide) {
    std::string name(reinterpret_cast<const char*>(record->m__UCHAR__Name));
    name = name.substr(0, name.find(';'));
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    unsigned& n = renamer->next["I" + base + ext];
    const std::string suffix = "_" + std::to_string(++n);
    const size_t room = 12 > ext.size() + suffix.size() ? 12 - ext.size() - suffix.size() : 0;
    base = base.substr(0, room) + suffix;
    const std::string chosen = (base + ext).substr(0, 12);
    std::memset(record->m__UCHAR__Name, 0, sizeof record->m__UCHAR__Name);
    std::memcpy(record->m__UCHAR__Name, chosen.data(), chosen.size());
    return;
  }
  std::u16string units;
  for (size_t i = 0; i + 1 < sizeof record->m__UCHAR__Name; i += 2) {
    const char16_t u = static_cast<char16_t>(record->m__UCHAR__Name[i] | (record->m__UCHAR__Name[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  std::u16string version;
  if (const size_t semicolon = units.rfind(u';'); semicolon != std::u16string::npos) {
    version = units.substr(semicolon);
    units.resize(semicolon);
  }
  const size_t dot = units.rfind(u'.');
  const std::u16string ext = dot == std::u16string::npos || dot == 0 ? u"" : units.substr(dot);
  const std::u16string base = units.substr(0, units.size() - ext.size());
  unsigned& n = renamer->next["J" + Narrow(units)];
  std::u16string suffix;
  for (char c : " (" + std::to_string(++n) + ")") suffix.push_back(static_cast<char16_t>(c));
  std::u16string chosen = base + suffix + ext + version;
  if (chosen.size() > 100) chosen = base.substr(0, 100 - suffix.size() - ext.size() - version.size()) + suffix + ext + version;
  std::memset(record->m__UCHAR__Name, 0, sizeof record->m__UCHAR__Name);
  for (size_t i = 0; i < chosen.size(); ++i) {
    record->m__UCHAR__Name[2 * i] = static_cast<QV_UCHAR>(chosen[i] & 0xFF);
    record->m__UCHAR__Name[2 * i + 1] = static_cast<QV_UCHAR>(chosen[i] >> 8);
  }
}

int Fail(const std::string& what, uint32_t n, const char* text, uint32_t system) {
  return Report(what, FromEngine(n, text, system));
}

int BuildIso(const GlobalOptions& global, const ImageOptions& o) {
  EngineSession engine;
  if (engine.status() != 0) return Report("start-up", FromEngine(engine.status(), nullptr, 0));
  Renamer renamer;
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG system = 0;
  QV_HANDLE tree = nullptr;
  uint32_t n = Quorvane_ISO9660JolietFileTree_Create(&tree, text, sizeof text, &system, &OnTreeEvent, &renamer, 0, 0,
                                                     0, o.noJoliet ? 0 : 1);
  if (n != 0) return Fail("image iso", n, text, system);
  struct Destroy {
    QV_HANDLE& tree;
    ~Destroy() {
      g_tree = nullptr;
      Quorvane_ISO9660JolietFileTree_Destroy(&tree);
    }
  } destroy{tree};
  g_interrupted = false;
  g_tree = tree;
  InterruptScope interrupts(&OnInterrupt);
  const auto start = std::chrono::steady_clock::now();

  for (const std::string& path : o.paths)
    if (int rc = CheckSource("image iso", path, true)) return rc;
  if (!o.boot.empty())
    if (int rc = CheckSource("image iso --boot", o.boot, false)) return rc;
  for (const std::string& path : o.paths) {
    std::vector<std::string> entries;
    std::string why;
    if (!RootEntries(path, &entries, &why))
      return Report("image iso", {kExitSystemError, "cannot list " + path + ": " + why, ""});
    for (const std::string& entry : entries) {
      QV_HANDLE parent = nullptr, node = nullptr;
      n = Quorvane_ISO9660JolietFileTree_Add(tree, text, sizeof text, &system, entry.c_str(), nullptr, 2, &parent,
                                             &node);
      if (g_interrupted) n = EN_USER_EXCEPTION;
      if (n != 0) {
        CallStatus s;
        s.number = n;
        s.systemError = system;
        std::snprintf(s.text, sizeof s.text, "%s", text);
        return renamer.skips.Fail("image iso", entry, s);
      }
    }
  }
  renamer.skips.Warn("image iso");
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
    if (n != 0) return Fail("boot image " + o.boot, n, text, system);
  }
  if (Quorvane_ISO9660JolietFileTree_GetRoot(tree) == nullptr) {
    // Nothing to add (empty folders): the image still has its root.
    QV_HANDLE parent = nullptr, node = nullptr;
    n = Quorvane_ISO9660JolietFileTree_Add(tree, text, sizeof text, &system, nullptr, "x", 2, &parent, &node);
    if (n == 0) n = Quorvane_ISO9660JolietFileTree_Remove(tree, &node);
    if (n != 0) return Fail("image iso", n, text, system);
  }
  n = Quorvane_ISO9660JolietFileTree_BuildImage(tree, text, sizeof text, &system, 0, 0, 0, o.label.c_str(), "",
                                                "QUORVANE");
  if (n != 0) return Fail("building the image", n, text, system);

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
      return Fail("reading the image", n, text, system);
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
               {"boot", o.boot}, {"renamed", renamer.renamed}, {"seconds", seconds}});
  } else {
    std::printf("%s: %llu bytes (%llu sectors) in %.2f s\n", o.out.c_str(), static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(total / 2048), seconds);
    if (renamer.renamed) std::printf("%u names renamed to stay unique\n", renamer.renamed);
  }
  return kExitOk;
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
                       return [&global, o] { return BuildIso(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
