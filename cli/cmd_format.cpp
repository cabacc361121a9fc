// quorvane format: formats a DVD+RW, DVD-RAM or DVD-RW for recording.
#include <cstdio>
#include <memory>
#include <string>

#include "drive_job.h"

namespace qvcli {
namespace {

int Run(const GlobalOptions& global, const std::string& drive) {
  DriveJob job("format");
  if (int rc = job.Open(drive, global.json, DiscUse::Format)) return rc;
  CallStatus s;
  s.number = Quorvane_CdvdBurnerGrabber_Format(job.handle(), QV_CALL_STATUS(s));
  if (s.number != 0) return job.Fail("formatting the disc in " + job.shown(), s);
  job.LongOperationDone();
  if (global.json) PrintJson({{"drive", job.shown()}, {"formatted", true}});
  else std::printf("Formatted the disc in %s\n", job.shown().c_str());
  return kExitOk;
}

RegisterCommand reg({"format", "Format a DVD+RW, DVD-RAM or DVD-RW",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto drive = std::make_shared<std::string>();
                       app.add_option("--drive", *drive, "Drive (default: the default virtual drive)");
                       return [&global, drive] { return Run(global, *drive); };
                     }});

}  // namespace
}  // namespace qvcli
