// quorvane grab: one track of the disc in a drive, or an address range of
// one, into a file: a wave file for audio, the user data (an ISO image for
// a data track) otherwise. Or the whole disc: a CD as a raw image NAME.xmf,
// a DVD as its user data in parts, each with its description NAME.mds.
// Files take their names only when complete.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drive_job.h"

namespace qvcli {
namespace {

constexpr int64_t kUnset = INT64_MIN;

struct Options {
  std::string drive;
  int track = 0;
  bool disc = false, raw = false;
  uint32_t partMB = 4096;
  std::string out;
  int64_t from = kUnset, to = kUnset;
  int retries = 2;
  bool skipErrors = false;
};

nlohmann::json Stretches(const std::vector<DriveJob::Replaced>& list, uint64_t* blocks) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& r : list) {
    *blocks += r.blocks;
    out.push_back({{"lba", r.lba}, {"blocks", r.blocks}});
  }
  return out;
}

int RunDisc(const GlobalOptions& global, const Options& o) {
  std::string base = o.out;
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".mds") == 0) base.resize(base.size() - 4);
  if (base.empty() || base.back() == '/')
    return Report("grab", {kExitUsage, "--out names the image files: give a name such as disc, not a folder", ""});
  DriveJob job("grab");
  if (int rc = job.Open(o.drive, global.json, DiscUse::Read)) return rc;
  const std::string what = "grabbing the disc in " + job.shown();
  CallStatus s;
  auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
  s.number = Quorvane_CdvdBurnerGrabber_GetTOCInformation(job.handle(), QV_CALL_STATUS(s), toc.get());
  if (s.number != 0) return job.Fail(what, s);
  const bool dvd = toc->m__UCHAR__IsDVD != 0;
  if (toc->m__UCHAR__NumberOfTracks == 0) return Report(what, {kExitNotFound, "the disc has no tracks", ""});
  if (dvd && o.raw) return Report(what, {kExitUsage, "a DVD has no raw sectors: grab it without --raw", ""});
  // CD: raw sectors, each given the subchannel of its place; with --raw
  // the drive's own P-W subchannel (CD-Text, ISRC and all) as read.
  const QV_ULONG readMode = o.raw ? 3 : 1;
  // A DVD is grabbed whole from block 0; a CD track by track.
  const int tracks = toc->m__UCHAR__NumberOfTracks;
  uint64_t blocks = dvd ? static_cast<uint64_t>(toc->m__TRACK__Tracks[tracks - 1].m__LONG__EndAddress + 1) : 0;
  for (int n = 0; !dvd && n < tracks; ++n)
    blocks += static_cast<uint64_t>(toc->m__TRACK__Tracks[n].m__LONG__EndAddress -
                                    toc->m__TRACK__Tracks[n].m__LONG__StartAddress + 1);
  job.SetGrabBlockBytes(dvd ? 2048 : 2448);
  if (job.cancelled()) return job.Cancelled("nothing was written");
  if (!global.json || CurrentProgressStyle() == ProgressStyle::Json) TellPhase("reading", (what + "...").c_str());
  constexpr QV_ULONG kProgressSeconds = 1;
  job.BeginProgress("Reading");
  if (dvd)
    s.number = Quorvane_CdvdBurnerGrabber_GrabDVD(job.handle(), QV_CALL_STATUS(s), base.c_str(), o.partMB, o.retries,
                                                  o.skipErrors, 0, kProgressSeconds);
  else
    s.number = Quorvane_CdvdBurnerGrabber_GrabDisc(job.handle(), QV_CALL_STATUS(s), base.c_str(), readMode, o.retries,
                                                   o.skipErrors, 0, kProgressSeconds, 0);
  if (s.number != 0) {
    if (s.number == EN_UNEXPECTED_RESULT && std::string(s.text).find("cannot be recovered") != std::string::npos)
      return Report(what, {kExitDriveError,
                           std::string("a block cannot be read; --skip-errors writes such blocks ") +
                               (dvd ? "as zeros" : "rebuilt for their address"),
                           s.text});
    if (s.number == EN_UNEXPECTED_RESULT && std::string(s.text).find("Read mode is unsupported") != std::string::npos)
      return Report(what, {kExitUnsupported,
                           o.raw ? "the drive does not read the raw P-W subchannel; grab without --raw"
                                 : "the drive does not read raw sectors (it has no READ CD); grab the data "
                                   "tracks one by one with --track N",
                           s.text});
    return job.Fail(what, s);
  }
  // The files as the engine named them.
  nlohmann::json files = nlohmann::json::array();
  if (dvd) {
    const uint64_t perPart = uint64_t{std::max<uint32_t>(o.partMB, 200) / 2} * 1024;
    for (uint64_t i = 0; i * perPart < blocks; ++i)
      files.push_back(base + (i == 0 ? ".xmf" : ".xm" + std::to_string(i)));
  } else {
    files.push_back(base + ".xmf");
  }
  files.push_back(base + ".mds");
  uint64_t unrecoverable = 0, badChecks = 0;
  const nlohmann::json replaced = Stretches(job.replaced(), &unrecoverable);
  const nlohmann::json bad = Stretches(job.badChecks(), &badChecks);
  if (global.json) {
    PrintJson({{"drive", job.shown()},
               {"kind", dvd ? "dvd" : "cd"},
               {"tracks", toc->m__UCHAR__NumberOfTracks},
               {"files", files},
               {"blocks", blocks},
               {"bytes", blocks * (dvd ? 2048 : 2448)},
               {"retries", job.retries()},
               {"unrecoverableBlocks", unrecoverable},
               {"replaced", replaced},
               {"badEdcEccBlocks", badChecks},
               {"badEdcEcc", bad}});
    return kExitOk;
  }
  for (const auto& r : job.replaced())
    std::fprintf(stderr, "quorvane: grab: blocks %lld to %lld could not be read and are %s in the image\n",
                 static_cast<long long>(r.lba), static_cast<long long>(r.lba + static_cast<int64_t>(r.blocks) - 1),
                 dvd ? "zeros" : "rebuilt empty sectors");
  for (const auto& r : job.badChecks())
    std::fprintf(stderr, "quorvane: grab: blocks %lld to %lld fail their EDC/ECC check and are kept as read\n",
                 static_cast<long long>(r.lba), static_cast<long long>(r.lba + static_cast<int64_t>(r.blocks) - 1));
  std::string names;
  for (const auto& f : files) names += (names.empty() ? "" : ", ") + f.get<std::string>();
  std::printf("Grabbed the %s in %s (%d track%s, %llu blocks) into %s\n", dvd ? "DVD" : "CD", job.shown().c_str(),
              toc->m__UCHAR__NumberOfTracks, toc->m__UCHAR__NumberOfTracks == 1 ? "" : "s",
              static_cast<unsigned long long>(blocks), names.c_str());
  return kExitOk;
}

int Run(const GlobalOptions& global, const Options& o) {
  if (o.disc == (o.track != 0))
    return Report("grab", {kExitUsage, "give --track N for one track or --disc for the whole disc", ""});
  if (o.disc) {
    if (o.from != kUnset || o.to != kUnset)
      return Report("grab", {kExitUsage, "--from and --to take blocks of one track: use them with --track", ""});
    return RunDisc(global, o);
  }
  if (o.raw) return Report("grab", {kExitUsage, "--raw goes with --disc", ""});
  if ((o.from == kUnset) != (o.to == kUnset))
    return Report("grab", {kExitUsage, "--from and --to go together: give both or neither", ""});
  if (o.from != kUnset && o.from > o.to)
    return Report("grab", {kExitUsage, "--from " + std::to_string(o.from) + " lies after --to " + std::to_string(o.to), ""});
  DriveJob job("grab");
  if (int rc = job.Open(o.drive, global.json, DiscUse::Read)) return rc;
  const std::string what = "grabbing track " + std::to_string(o.track) + " of the disc in " + job.shown();
  CallStatus s;
  auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
  s.number = Quorvane_CdvdBurnerGrabber_GetTOCInformation(job.handle(), QV_CALL_STATUS(s), toc.get());
  if (s.number != 0) return job.Fail(what, s);
  if (o.track < 1 || o.track > toc->m__UCHAR__NumberOfTracks)
    return Report(what, {kExitNotFound,
                         "the disc has no track " + std::to_string(o.track) + " (its tracks are 1 to " +
                             std::to_string(toc->m__UCHAR__NumberOfTracks) + ")",
                         ""});
  const QUORVANE_TOC_TRACK& t = toc->m__TRACK__Tracks[o.track - 1];
  const bool audio = t.m__UCHAR__IsAudio != 0;
  int64_t first = t.m__LONG__StartAddress, last = t.m__LONG__EndAddress;
  if (o.from != kUnset) {
    if (o.from < first || o.to > last)
      return Report(what, {kExitUsage,
                           "blocks " + std::to_string(o.from) + " to " + std::to_string(o.to) + " are not all in track " +
                               std::to_string(o.track) + " (blocks " + std::to_string(first) + " to " +
                               std::to_string(last) + ")",
                           ""});
    first = o.from;
    last = o.to;
  }
  job.SetGrabBlockBytes(t.m__ULONG__BlockSize);
  // The engine starts a grab afresh: a Ctrl-C before it is taken here.
  if (job.cancelled()) return job.Cancelled("nothing was written");
  if (!global.json || CurrentProgressStyle() == ProgressStyle::Json) TellPhase("reading", (what + "...").c_str());
  constexpr QV_ULONG kProgressSeconds = 1;
  job.BeginProgress("Reading");
  if (o.from == kUnset)
    s.number = Quorvane_CdvdBurnerGrabber_GrabTrack(job.handle(), QV_CALL_STATUS(s), static_cast<QV_UCHAR>(o.track),
                                                    o.out.c_str(), o.retries, o.skipErrors, 0, kProgressSeconds);
  else
    s.number = Quorvane_CdvdBurnerGrabber_GrabRange(job.handle(), QV_CALL_STATUS(s), static_cast<QV_LONG>(first),
                                                    static_cast<QV_LONG>(last), o.out.c_str(), o.retries, o.skipErrors,
                                                    0, kProgressSeconds);
  if (s.number != 0) {
    if (s.number == EN_UNEXPECTED_RESULT && std::string(s.text).find("cannot be recovered") != std::string::npos)
      return Report(what, {kExitDriveError, "a block cannot be read; --skip-errors writes such blocks as zeros",
                           s.text});
    if (s.number == EN_UNEXPECTED_RESULT && std::string(s.text).find("READ CD is not supported") != std::string::npos)
      return Report(what, {kExitUnsupported, "the drive does not read audio tracks (it has no READ CD)", s.text});
    return job.Fail(what, s);
  }
  const uint64_t blocks = static_cast<uint64_t>(last - first + 1);
  uint64_t unrecoverable = 0;
  const nlohmann::json replaced = Stretches(job.replaced(), &unrecoverable);
  if (global.json) {
    PrintJson({{"drive", job.shown()},
               {"track", o.track},
               {"kind", audio ? "audio" : "data"},
               {"out", o.out},
               {"first", first},
               {"last", last},
               {"blocks", blocks},
               {"bytes", blocks * t.m__ULONG__BlockSize + (audio ? 44 : 0)},
               {"retries", job.retries()},
               {"unrecoverableBlocks", unrecoverable},
               {"replaced", replaced}});
    return kExitOk;
  }
  for (const auto& r : job.replaced())
    std::fprintf(stderr, "quorvane: grab: blocks %lld to %lld could not be read and are zeros in %s\n",
                 static_cast<long long>(r.lba), static_cast<long long>(r.lba + static_cast<int64_t>(r.blocks) - 1),
                 o.out.c_str());
  std::printf("Grabbed track %d (%s, %llu blocks) of the disc in %s into %s\n", o.track, audio ? "audio" : "data",
              static_cast<unsigned long long>(blocks), job.shown().c_str(), o.out.c_str());
  return kExitOk;
}

RegisterCommand reg({"grab",
                     "Copy a track of a disc into a file (audio as a wave file, data as an ISO image), or the whole "
                     "disc into an image and its description",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<Options>();
                       app.add_option("--drive", o->drive, "Drive (default: the default virtual drive)");
                       app.add_option("--track", o->track, "Track number, from 1")->check(CLI::Range(1, 99));
                       app.add_flag("--disc", o->disc,
                                    "The whole disc: a CD into NAME.xmf (raw sectors), a DVD into NAME.xmf, NAME.xm1... "
                                    "(parts), each with NAME.mds describing it");
                       app.add_option("--out", o->out,
                                      "File to write (with --disc: NAME, the files' common name); files appear only "
                                      "when complete")
                           ->required();
                       app.add_flag("--raw", o->raw,
                                    "With --disc, a CD: keep the subchannel the drive reads (CD-Text, ISRC) instead "
                                    "of making it for each block");
                       app.add_option("--part-size", o->partMB, "With --disc, a DVD: megabytes per part (default 4096, "
                                                                "at least 200)")
                           ->check(CLI::Range(200, 1 << 20));
                       app.add_option("--from", o->from, "First block (LBA) of a range of the track");
                       app.add_option("--to", o->to, "Last block (LBA) of the range");
                       app.add_option("--retries", o->retries, "Times a failed block is read again (default 2)")
                           ->check(CLI::Range(0, 20));
                       app.add_flag("--skip-errors", o->skipErrors,
                                    "Write blocks that cannot be read as zeros instead of failing");
                       return [&global, o] { return Run(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
