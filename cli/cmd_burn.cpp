// quorvane burn: one track-at-once recording of an image onto the disc in
// a drive, with progress, closing the session afterwards.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drive_job.h"

namespace qvcli {
namespace {

struct Options {
  std::string drive;
  std::string image;
  std::vector<std::string> paths;
  bool test = false;
  bool multisession = false;
  bool eject = false;
  uint32_t speed = 0;
};

int Run(const GlobalOptions& global, const Options& o) {
  if (o.image.empty()) {
    // Mastering folders on the fly needs the ISO 9660/Joliet builder.
    std::fprintf(stderr,
                 "quorvane: burn: mastering folders is not available in this build; make an image and use --image\n");
    return kExitUnsupported;
  }
  if (!o.paths.empty()) {
    std::fprintf(stderr, "quorvane: burn: give either --image or paths to master, not both\n");
    return kExitUsage;
  }
  DriveJob job("burn");
  if (int rc = job.Open(o.drive, global.json)) return rc;
  QV_HANDLE h = job.handle();
  // A failed burn leaves the disc in the drive unless asked otherwise; DVD
  // padding only costs time on the media this command writes.
  Quorvane_SetEjectAfterFail(o.eject ? 1 : 0);
  Quorvane_SetPadding(0);
  CallStatus s;
  if (o.speed != 0) {
    s.number = Quorvane_CdvdBurnerGrabber_SetSpeeds(h, QV_CALL_STATUS(s), 0xFFFF, o.speed);
    if (s.number != 0) return job.Fail("setting the write speed", s);
  }
  s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile(h, QV_CALL_STATUS(s), o.image.c_str(), 0, o.test ? 1 : 0,
                                                             o.multisession ? 1 : 0, 1, 1);
  if (s.number != 0) return job.Fail("burning " + o.image + " on " + job.shown(), s);
  if (!o.test) {
    s.number = Quorvane_CdvdBurnerGrabber_CloseSession(h, QV_CALL_STATUS(s));
    if (s.number != 0) return job.Fail("closing the session", s);
  }
  if (o.eject) {
    s.number = Quorvane_CdvdBurnerGrabber_Eject(h, QV_CALL_STATUS(s));
    if (s.number != 0) return job.Fail("ejecting the disc", s);
  }
  if (global.json)
    PrintJson({{"drive", job.shown()}, {"image", o.image}, {"test", o.test}, {"multisession", o.multisession}});
  else
    std::printf("%s %s on %s%s\n", o.test ? "Test-burned" : "Burned", o.image.c_str(), job.shown().c_str(),
                o.multisession ? " (disc left open for another session)" : "");
  return kExitOk;
}

RegisterCommand reg({"burn", "Record files or an image onto the disc in a drive",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<Options>();
                       app.add_option("--drive", o->drive, "Drive (default: the default virtual drive)");
                       app.add_option("--image", o->image, "An image file (ISO) to record as it is")
                           ->check(CLI::ExistingFile);
                       app.add_flag("--test", o->test, "Simulate: the laser stays off where the disc allows");
                       app.add_flag("--multisession", o->multisession, "Leave the disc open for another session");
                       app.add_option("--speed", o->speed, "Write speed in kB/s (default: the fastest)");
                       app.add_flag("--eject", o->eject, "Eject the disc afterwards, and after a failure");
                       app.add_option("PATH", o->paths, "Folders and files to master");
                       return [&global, o] { return Run(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
