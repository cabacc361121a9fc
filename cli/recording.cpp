#include "recording.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace qvcli {
namespace {

constexpr uint64_t kBlock = 2048;
constexpr QV_UCHAR kSessionEmpty = 0;  // state of the last session: nothing in it yet
constexpr QV_UCHAR kDiscAppendable = 1, kDiscComplete = 2;

// Discs rewritten in place, where a new volume is found at the start.
bool Overwritable(QV_ULONG type) {
  return type == DISC_TYPE_DVDPLUSRW || type == DISC_TYPE_DVDRAM || type == DISC_TYPE_DVDRW_RO;
}

// Where the recording's write parameters keep a test write. On the others
// the engine turns it off (and says so), so a test burn would be real: a
// DVD-RW in multisession, or holding data already, is quick-formatted and
// written as restricted overwrite.
bool Simulates(const DiscState& d, bool multisession) {
  switch (d.type) {
    case DISC_TYPE_CDR:
    case DISC_TYPE_CDRW:
    case DISC_TYPE_DVDR: return true;
    case DISC_TYPE_DVDRW_SR: return !multisession && d.disc.m__UCHAR__DiscStatus == 0;
    default: return false;
  }
}

int Refuse(const std::string& why) { return Report("burn", {kExitUnsupported, why + "; nothing was written", ""}); }

}  // namespace

int OpenForBurn(DriveJob& job, const std::string& drive, bool json, bool eject, uint32_t speed, DiscState* before) {
  if (int rc = job.Open(drive, json, DiscUse::Write)) return rc;
  Quorvane_SetEjectAfterFail(0);
  job.EjectAfterFailure(eject);
  if (int rc = ReadDiscState(job, before)) return rc;
  return speed != 0 ? job.SetWriteSpeed(speed) : kExitOk;
}

uint32_t DiscState::start() const {
  if (!next.m__UCHAR__IsValid || !next.m__UCHAR__IsNWAValid || next.m__LONG__NextWritableAddress < 0) return 0;
  return static_cast<uint32_t>(next.m__LONG__NextWritableAddress);
}

int ReadDiscState(DriveJob& job, DiscState* state) {
  CallStatus s;
  state->type = Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(job.handle());
  s.number = Quorvane_CdvdBurnerGrabber_GetDiscInformation(job.handle(), QV_CALL_STATUS(s), &state->disc);
  if (s.number != 0) return job.Fail("reading the disc information", s);
  // A failure leaves the record invalid, which the checks take as unknown.
  Quorvane_CdvdBurnerGrabber_GetTrackInformation(job.handle(), QV_CALL_STATUS(s), 0xFF, &state->next);
  return kExitOk;
}

int CheckRecording(DriveJob& job, const DiscState& before, const Recording& r) {
  if (r.test) {
    CallStatus s;
    QV_BOOLEAN f[10] = {};
    s.number = Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats(job.handle(), QV_CALL_STATUS(s), &f[0], &f[1],
                                                                   &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8],
                                                                   &f[9]);
    if (s.number != 0) return job.Fail("asking the drive what it writes", s);
    if (!f[5]) return Refuse("the drive " + job.shown() + " cannot test-write");
    if (!Simulates(before, r.multisession))
      return Refuse(std::string("a test write on a ") + (r.multisession ? "multisession " : "") +
                    DiscTypeName(before.type) + " disc" +
                    (before.type == DISC_TYPE_DVDRW_SR && before.disc.m__UCHAR__DiscStatus != 0 ? " holding data" : "") +
                    " would write it for real");
  }
  // A complete disc has no free space: the recording refuses it as such.
  const uint64_t blocks = (r.bytes + kBlock - 1) / kBlock;
  if (before.next.m__UCHAR__IsValid && before.disc.m__UCHAR__DiscStatus != kDiscComplete &&
      blocks > before.next.m__ULONG__FreeBlocks)
    return Refuse("the data needs " + std::to_string(blocks) + " blocks, the disc has " +
                  std::to_string(before.next.m__ULONG__FreeBlocks) + " free");
  // An image holds addresses for where it was made to start; on these
  // discs it would go after the volume there, and be read from the start.
  if (r.imageAsIs && !r.multisession && Overwritable(before.type) && before.start() > 0)
    return Refuse(std::string("the ") + DiscTypeName(before.type) + " holds a volume of " +
                  std::to_string(before.start()) + " blocks, after which an image would land that readers look " +
                  "for at block 0; erase the disc first, or burn an image made to start at block " +
                  std::to_string(before.start()) + " with --multisession");
  return kExitOk;
}

std::string CloseInterruptedSession(DriveJob& job, const DiscState& before) {
  if (Overwritable(before.type) || before.disc.m__UCHAR__StateOfLastSession != kSessionEmpty) return "";
  CallStatus s;
  QUORVANE_DISC_INFORMATION now{};
  s.number = Quorvane_CdvdBurnerGrabber_GetDiscInformation(job.handle(), QV_CALL_STATUS(s), &now);
  if (s.number != 0 || now.m__UCHAR__DiscStatus != kDiscAppendable ||
      now.m__UCHAR__StateOfLastSession == kSessionEmpty)
    return "";
  // Left open, the session would take the next burn's track behind this
  // one, and readers would find this one's volume.
  s.number = Quorvane_CdvdBurnerGrabber_CloseSession(job.handle(), QV_CALL_STATUS(s));
  if (s.number != 0) return std::string("closing the partly written session failed too: ") + s.text;
  Quorvane_CdvdBurnerGrabber_GetDiscInformation(job.handle(), QV_CALL_STATUS(s), &now);
  return std::string("the partly written session was closed; ") +
         (now.m__UCHAR__DiscStatus == kDiscAppendable ? "the disc takes another session" : "the disc is closed");
}

int EndBurn(DriveJob& job, const DiscState& before, const CallStatus& burn, const std::string& what, bool test,
            bool eject) {
  if (burn.number != 0) {
    // Before the job ejects the disc, if it is to.
    const std::string closed = test ? "" : CloseInterruptedSession(job, before);
    const int rc = job.Fail("burning " + what + " on " + job.shown(), burn);
    if (!closed.empty()) std::fprintf(stderr, "quorvane: burn: %s\n", closed.c_str());
    return rc;
  }
  CallStatus s;
  if (!test) {
    // Closed even when a cancel came after the last block: left open, the
    // session would hide the next one from readers.
    s.number = Quorvane_CdvdBurnerGrabber_CloseSession(job.handle(), QV_CALL_STATUS(s));
    if (s.number != 0) return job.Fail("closing the session", s);
  }
  job.RestoreSpeed();
  job.EjectAfterFailure(false);
  if (eject) {
    s.number = Quorvane_CdvdBurnerGrabber_Eject(job.handle(), QV_CALL_STATUS(s));
    if (s.number != 0) return job.Fail("ejecting the disc", s);
  }
  if (job.cancelled())
    return job.Cancelled(test ? "the test write had ended" : "what was written is in a closed session");
  return -1;
}

}  // namespace qvcli
