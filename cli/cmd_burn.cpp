// quorvane burn: one track-at-once recording onto the disc in a drive,
// with progress, closing the session afterwards. Folders and files are
// mastered into ISO9660/Joliet while they are written, no image file made;
// --image records an image as it is.
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
  std::string label = "CDROM";
  std::vector<std::string> paths;
  bool test = false;
  bool multisession = false;
  bool eject = false;
  uint32_t speed = 0;
};

// The tree of what the paths hold, owned here.
class Mastered {
 public:
  ~Mastered() {
    if (tree_ != nullptr) Quorvane_ISO9660JolietFileTree_Destroy(&tree_);
  }
  QV_HANDLE tree() const { return tree_; }
  // Each folder's contents and each file at the root, as image iso does.
  int Add(const std::vector<std::string>& paths) {
    CallStatus s;
    s.number = Quorvane_ISO9660JolietFileTree_Create(&tree_, s.text, sizeof s.text, &s.systemError,
                                                     &SkipNotes::OnTreeEvent, &skips_, 0, 0, 0, 1);
    if (s.number != 0) return Report("mastering", FromEngine(s));
    for (const std::string& path : paths) {
      std::vector<std::string> entries;
      std::string why;
      if (!RootEntries(path, &entries, &why)) return Report("burn", {kExitSystemError, "cannot list " + path + ": " + why, ""});
      for (const std::string& entry : entries) {
        QV_HANDLE parent = nullptr, node = nullptr;
        s.number = Quorvane_ISO9660JolietFileTree_Add(tree_, s.text, sizeof s.text, &s.systemError, entry.c_str(),
                                                      nullptr, 2, &parent, &node);
        if (s.number != 0) return skips_.Fail("burn", entry, s);
      }
    }
    if (Quorvane_ISO9660JolietFileTree_GetRoot(tree_) == nullptr) {
      // Only empty folders: the disc still gets a root.
      QV_HANDLE parent = nullptr, node = nullptr;
      s.number = Quorvane_ISO9660JolietFileTree_Add(tree_, s.text, sizeof s.text, &s.systemError, nullptr, "x", 2,
                                                    &parent, &node);
      if (s.number == 0) s.number = Quorvane_ISO9660JolietFileTree_Remove(tree_, &node);
      if (s.number != 0) return Report("mastering", FromEngine(s));
    }
    skips_.Warn("burn");
    return kExitOk;
  }

 private:
  QV_HANDLE tree_ = nullptr;
  SkipNotes skips_;
};

// Where the new session's image starts: the next writable address, so its
// directory addresses are right on a disc that holds sessions already.
// DVD+RW and DVD-RAM are rewritten from the start.
int StartAddress(DriveJob& job, uint32_t* start) {
  *start = 0;
  const QV_ULONG discType = Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(job.handle());
  if (discType == DISC_TYPE_DVDPLUSRW || discType == DISC_TYPE_DVDRAM) return kExitOk;
  CallStatus s;
  QUORVANE_TRACK_INFORMATION track{};
  s.number = Quorvane_CdvdBurnerGrabber_GetTrackInformation(job.handle(), QV_CALL_STATUS(s), 0xFF, &track);
  if (s.number != 0) return job.Fail("reading the next writable address", s);
  if (track.m__UCHAR__IsValid && track.m__UCHAR__IsNWAValid && track.m__LONG__NextWritableAddress > 0)
    *start = static_cast<uint32_t>(track.m__LONG__NextWritableAddress);
  return kExitOk;
}

int Run(const GlobalOptions& global, const Options& o) {
  if (o.image.empty() == o.paths.empty()) {
    std::fprintf(stderr, "quorvane: burn: give folders and files to master, or --image, not both\n");
    return kExitUsage;
  }
  for (const std::string& path : o.paths)
    if (int rc = CheckSource("burn", path, true)) return rc;
  if (!o.image.empty())
    if (int rc = CheckSource("burn", o.image, false)) return rc;
  DriveJob job("burn");
  if (int rc = job.Open(o.drive, global.json, DiscUse::Write)) return rc;
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
  std::string what = o.image;
  if (!o.image.empty()) {
    s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile(h, QV_CALL_STATUS(s), o.image.c_str(), 0,
                                                               o.test ? 1 : 0, o.multisession ? 1 : 0, 1, 1);
  } else {
    Mastered mastered;
    if (int rc = mastered.Add(o.paths)) return rc;
    uint32_t start = 0;
    if (int rc = StartAddress(job, &start)) return rc;
    s.number = Quorvane_ISO9660JolietFileTree_BuildImage(mastered.tree(), s.text, sizeof s.text, &s.systemError,
                                                         static_cast<QV_LONG>(start), 0, 0, o.label.c_str(), "",
                                                         "QUORVANE");
    if (s.number != 0) return Report("building the image", FromEngine(s));
    what = o.paths.size() == 1 ? o.paths.front() : std::to_string(o.paths.size()) + " paths";
    s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(h, QV_CALL_STATUS(s), mastered.tree(), 0,
                                                               o.test ? 1 : 0, o.multisession ? 1 : 0, 1, 1);
  }
  if (s.number != 0) return job.Fail("burning " + what + " on " + job.shown(), s);
  if (!o.test) {
    s.number = Quorvane_CdvdBurnerGrabber_CloseSession(h, QV_CALL_STATUS(s));
    if (s.number != 0) return job.Fail("closing the session", s);
  }
  if (o.eject) {
    s.number = Quorvane_CdvdBurnerGrabber_Eject(h, QV_CALL_STATUS(s));
    if (s.number != 0) return job.Fail("ejecting the disc", s);
  }
  if (global.json)
    PrintJson({{"drive", job.shown()},
               {"image", o.image},
               {"paths", o.paths},
               {"label", o.image.empty() ? o.label : ""},
               {"test", o.test},
               {"multisession", o.multisession}});
  else
    std::printf("%s %s on %s%s\n", o.test ? "Test-burned" : "Burned", what.c_str(), job.shown().c_str(),
                o.multisession ? " (disc left open for another session)" : "");
  return kExitOk;
}

RegisterCommand reg({"burn", "Record files or an image onto the disc in a drive",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<Options>();
                       app.add_option("--drive", o->drive, "Drive (default: the default virtual drive)");
                       app.add_option("--image", o->image, "An image file (ISO) to record as it is");
                       app.add_flag("--test", o->test, "Simulate: the laser stays off where the disc allows");
                       app.add_flag("--multisession", o->multisession, "Leave the disc open for another session");
                       app.add_option("--speed", o->speed, "Write speed in kB/s (default: the fastest)");
                       app.add_flag("--eject", o->eject, "Eject the disc afterwards, and after a failure");
                       app.add_option("--label", o->label, "Volume label of the mastered disc");
                       app.add_option("PATH", o->paths, "Folders and files to master");
                       return [&global, o] { return Run(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
