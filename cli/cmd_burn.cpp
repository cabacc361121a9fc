// quorvane burn: one track-at-once recording onto the disc in a drive,
// with progress, closing the session afterwards. Folders and files are
// mastered into ISO9660/Joliet while they are written, no image file made;
// --image records an image as it is.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "drive_job.h"
#include "recording.h"

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
    s.number = Quorvane_ISO9660JolietFileTree_Create(&tree_, s.text, sizeof s.text, &s.systemError, nullptr, nullptr,
                                                     0, 0, 0, 1);
    if (s.number != 0) return ReportFailure("mastering", s.number, s.text, s.systemError, nullptr);
    for (const std::string& path : paths) {
      std::vector<std::string> entries;
      std::string why;
      if (!RootEntries(path, &entries, &why)) {
        std::fprintf(stderr, "quorvane: burn: cannot list %s: %s\n", path.c_str(), why.c_str());
        return kExitSystemError;
      }
      for (const std::string& entry : entries) {
        QV_HANDLE parent = nullptr, node = nullptr;
        s.number = Quorvane_ISO9660JolietFileTree_Add(tree_, s.text, sizeof s.text, &s.systemError, entry.c_str(),
                                                      nullptr, 2, &parent, &node);
        if (s.number != 0) return ReportFailure("adding " + entry, s.number, s.text, s.systemError, nullptr);
      }
    }
    if (Quorvane_ISO9660JolietFileTree_GetRoot(tree_) == nullptr) {
      // Only empty folders: the disc still gets a root.
      QV_HANDLE parent = nullptr, node = nullptr;
      s.number = Quorvane_ISO9660JolietFileTree_Add(tree_, s.text, sizeof s.text, &s.systemError, nullptr, "x", 2,
                                                    &parent, &node);
      if (s.number == 0) s.number = Quorvane_ISO9660JolietFileTree_Remove(tree_, &node);
      if (s.number != 0) return ReportFailure("mastering", s.number, s.text, s.systemError, nullptr);
    }
    return kExitOk;
  }

 private:
  QV_HANDLE tree_ = nullptr;
};

int Run(const GlobalOptions& global, const Options& o) {
  if (o.image.empty() == o.paths.empty()) {
    std::fprintf(stderr, "quorvane: burn: give folders and files to master, or --image, not both\n");
    return kExitUsage;
  }
  for (const std::string& path : o.paths) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      std::fprintf(stderr, "quorvane: burn: no such file or folder: %s\n", path.c_str());
      return kExitNotFound;
    }
  }
  DriveJob job("burn");
  if (int rc = job.Open(o.drive, global.json)) return rc;
  QV_HANDLE h = job.handle();
  // A failed burn leaves the disc in the drive unless asked otherwise; DVD
  // padding only costs time on the media this command writes.
  Quorvane_SetEjectAfterFail(o.eject ? 1 : 0);
  Quorvane_SetPadding(0);
  DiscState before;
  if (int rc = ReadDiscState(job, &before)) return rc;
  CallStatus s;
  if (o.speed != 0) {
    s.number = Quorvane_CdvdBurnerGrabber_SetSpeeds(h, QV_CALL_STATUS(s), 0xFFFF, o.speed);
    if (s.number != 0) return job.Fail("setting the write speed", s);
  }
  std::string what = o.image;
  Recording recording{0, o.test, o.multisession, !o.image.empty()};
  if (!o.image.empty()) {
    std::error_code ec;
    recording.bytes = std::filesystem::file_size(o.image, ec);
    if (int rc = CheckRecording(job, before, recording)) return rc;
    s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile(h, QV_CALL_STATUS(s), o.image.c_str(), 0,
                                                               o.test ? 1 : 0, o.multisession ? 1 : 0, 1, 1);
  } else {
    Mastered mastered;
    if (int rc = mastered.Add(o.paths)) return rc;
    if (job.cancelled()) return job.Cancelled("nothing was written");
    // The new volume starts where it is written, so that its addresses
    // are right on a disc that holds one already.
    s.number = Quorvane_ISO9660JolietFileTree_BuildImage(mastered.tree(), s.text, sizeof s.text, &s.systemError,
                                                         static_cast<QV_LONG>(before.start()), 0, 0,
                                                         o.label.c_str(), "", "QUORVANE");
    if (s.number != 0) return ReportFailure("building the image", s.number, s.text, s.systemError, nullptr);
    if (job.cancelled()) return job.Cancelled("nothing was written");
    QV_ULONG high = 0;
    recording.bytes = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(mastered.tree(), &high);
    recording.bytes |= uint64_t{high} << 32;
    if (int rc = CheckRecording(job, before, recording)) return rc;
    what = o.paths.size() == 1 ? o.paths.front() : std::to_string(o.paths.size()) + " paths";
    s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(h, QV_CALL_STATUS(s), mastered.tree(), 0,
                                                               o.test ? 1 : 0, o.multisession ? 1 : 0, 1, 1);
  }
  if (s.number != 0) {
    const int rc = job.Fail("burning " + what + " on " + job.shown(), s);
    if (!o.test) CloseInterruptedSession(job, before);
    return rc;
  }
  if (!o.test) {
    // Closed even when a cancel came after the last block: left open, the
    // session would hide the next one from readers.
    s.number = Quorvane_CdvdBurnerGrabber_CloseSession(h, QV_CALL_STATUS(s));
    if (s.number != 0) return job.Fail("closing the session", s);
  }
  if (job.cancelled())
    return job.Cancelled(o.test ? "the test write had ended" : "all was written and the session closed");
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
                       app.add_option("--image", o->image, "An image file (ISO) to record as it is")
                           ->check(CLI::ExistingFile);
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
