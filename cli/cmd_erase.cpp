// quorvane erase: blanks a rewritable disc (CD-RW, DVD-RW; DVD+RW and
// DVD-RAM are formatted anew).
#include <cstdio>
#include <memory>
#include <string>

#include "drive_job.h"

namespace qvcli {
namespace {

struct Options {
  std::string drive;
  bool full = false;
};

int Run(const GlobalOptions& global, const Options& o) {
  DriveJob job("erase");
  if (int rc = job.Open(o.drive, global.json, DiscUse::Erase)) return rc;
  const std::string text = "erasing the disc in " + job.shown() + (o.full ? " (full)..." : " (quick)...");
  if (!global.json || CurrentProgressStyle() == ProgressStyle::Json) TellPhase("erasing", text.c_str());
  CallStatus s;
  s.number = Quorvane_CdvdBurnerGrabber_Blank(job.handle(), QV_CALL_STATUS(s), o.full ? 0 : 1);
  if (s.number != 0) return job.Fail("erasing the disc in " + job.shown(), s);
  job.LongOperationDone();
  if (global.json) PrintJson({{"drive", job.shown()}, {"erased", o.full ? "full" : "quick"}});
  else std::printf("Erased the disc in %s\n", job.shown().c_str());
  return kExitOk;
}

RegisterCommand reg({"erase", "Erase a rewritable disc",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<Options>();
                       app.add_option("--drive", o->drive, "Drive (default: the default virtual drive)");
                       app.add_flag("--full", o->full, "Blank the whole disc, not only its table of contents");
                       return [&global, o] { return Run(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
