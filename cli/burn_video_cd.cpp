// The stream is checked before the drive is opened; the disc is closed
// after the two tracks, or after what a failed burn left, so readers see it.
#include "burn_video_cd.h"

#include <cstdio>
#include <filesystem>

#include "drive_job.h"
#include "recording.h"

namespace qvcli {

int BurnVideoCd(const GlobalOptions& global, const VideoCdBurn& o) {
  const char* kind = o.super ? "Super Video CD" : "Video CD";
  if (int rc = CheckSource("burn", o.file, false)) return rc;
  CallStatus s;
  s.number = Quorvane_VideoCD_CheckStream(o.file.c_str(), o.super ? 1 : 0, s.text, sizeof s.text);
  if (s.number != 0) {
    // The reason, without the entry point's name in front.
    std::string why = s.text;
    if (const size_t at = why.find("(): "); at != std::string::npos) why.erase(0, at + 4);
    return Report("burn", {kExitUnsupported, why + "; nothing was written", ""});
  }
  DriveJob job("burn");
  DiscState before;
  if (int rc = OpenForBurn(job, o.drive, global.json, o.eject, 0, &before)) return rc;
  QV_HANDLE h = job.handle();
  // The template's addresses are those of a disc's first tracks, and a
  // session at once starts at the first pause: only a blank CD takes it.
  if ((before.type != DISC_TYPE_CDR && before.type != DISC_TYPE_CDRW) || before.disc.m__UCHAR__DiscStatus != 0)
    return Report("burn", {kExitUnsupported,
                           std::string("a ") + kind + " needs a blank CD-R or CD-RW, not a " +
                               (before.disc.m__UCHAR__DiscStatus != 0 ? "used " : "") + DiscTypeName(before.type),
                           ""});
  if (o.speed != 0)
    if (int rc = job.SetWriteSpeed(o.speed)) return rc;
  // The data track is made for the start of the disc, like an image.
  Recording recording{0, o.test, false, true};
  std::error_code ec;
  recording.bytes = std::filesystem::file_size(o.file, ec) + 2 * 1024 * 1024;
  if (int rc = CheckRecording(job, before, recording)) return rc;
  const QV_BOOLEAN test = o.test ? 1 : 0;
  // Without a name the disc is called what players show for the format.
  const std::string album = !o.album.empty() ? o.album : o.super ? "SUPERVCD" : "VIDEOCD";
  const QV_ULONG mode = o.sessionAtOnce ? QVX_VIDEO_CD_SESSION_AT_ONCE : QVX_VIDEO_CD_TRACK_AT_ONCE;
  s.number = o.super ? Quorvane_CdvdBurnerGrabber_SuperVideoCDEx(h, QV_CALL_STATUS(s), mode, o.file.c_str(),
                                                                 album.c_str(), 1, 1, test, 1, 1)
                     : Quorvane_CdvdBurnerGrabber_VideoCDEx(h, QV_CALL_STATUS(s), mode, o.file.c_str(), album.c_str(),
                                                            1, 1, test, 1, 1);
  if (int rc = EndBurn(job, before, s, o.file + " as a " + kind, o.test, o.eject); rc >= 0) return rc;
  if (global.json)
    PrintJson({{"drive", job.shown()},
               {"file", o.file},
               {"format", o.super ? "svcd" : "vcd"},
               {"album", album},
               {"sessionAtOnce", o.sessionAtOnce},
               {"test", o.test}});
  else
    std::printf("%s %s as a %s on %s\n", o.test ? "Test-burned" : "Burned", o.file.c_str(), kind, job.shown().c_str());
  return kExitOk;
}

}  // namespace qvcli
