// quorvane grab: one track of the disc in a drive, or an address range of
// one, into a file: a wave file for audio, the user data (an ISO image for
// a data track) otherwise. The file takes its name only when complete.
#include <cstdio>
#include <memory>
#include <string>

#include "drive_job.h"

namespace qvcli {
namespace {

constexpr int64_t kUnset = INT64_MIN;

struct Options {
  std::string drive;
  int track = 0;
  std::string out;
  int64_t from = kUnset, to = kUnset;
  int retries = 2;
  bool skipErrors = false;
};

int Run(const GlobalOptions& global, const Options& o) {
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
    return job.Fail(what, s);
  }
  const uint64_t blocks = static_cast<uint64_t>(last - first + 1);
  uint64_t unrecoverable = 0;
  nlohmann::json replaced = nlohmann::json::array();
  for (const auto& r : job.replaced()) {
    unrecoverable += r.blocks;
    replaced.push_back({{"lba", r.lba}, {"blocks", r.blocks}});
  }
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

RegisterCommand reg({"grab", "Copy a track of a disc into a file (audio as a wave file, data as an ISO image)",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<Options>();
                       app.add_option("--drive", o->drive, "Drive (default: the default virtual drive)");
                       app.add_option("--track", o->track, "Track number, from 1")->required()->check(CLI::Range(1, 99));
                       app.add_option("--out", o->out, "File to write; it appears only when complete")->required();
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
