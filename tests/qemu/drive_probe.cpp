// Runs inside a QEMU guest: drives every CD-ROM the guest kernel shows
// through the engine's pass-through and ASPI transports, and checks the
// answers of a drive that no one here wrote against the ISO it holds.
//
//   drive_probe ISO-FILE
//
// Prints one line per check and "N passed, N failed" at the end; exits 0
// only when every check passed and both QEMU drive models were seen.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/exception.h"
#include "record/burner_grabber.h"
#include "scsi/device_writer.h"
#include "scsi/transport_aspi.h"
#include "scsi/transport_spti.h"

namespace {

int g_passed = 0, g_failed = 0;

void Report(bool ok, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Report(bool ok, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::printf("%s %s\n", ok ? "PASS" : "FAIL", text);
  std::fflush(stdout);
  (ok ? g_passed : g_failed)++;
}

// Runs body; returns the engine exception it threw, if any.
std::unique_ptr<CQuorvane_Exception> Try(const std::function<void()>& body) {
  try {
    body();
  } catch (CQuorvane_Exception* e) {
    return std::unique_ptr<CQuorvane_Exception>(e);
  }
  return nullptr;
}

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

std::vector<uint8_t> ReadWholeFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class Model { VirtioScsi, IdeAtapi, Unknown };

const char* ModelName(Model m) {
  return m == Model::VirtioScsi ? "virtio scsi-cd" : m == Model::IdeAtapi ? "IDE ATAPI" : "unknown";
}

// One drive through one transport: every check of the command set.
void CheckDrive(const char* label, CQuorvane_ScsiDeviceCdvdRomWriter& d, Model model, const std::vector<uint8_t>& iso,
                uint8_t senseLength, uint8_t failedTransportStatus) {
  char vendor[9] = {}, product[17] = {}, revision[5] = {};
  auto e = Try([&] { d.GetInquiryStrings(vendor, product, revision); });
  const bool inquiryOk = !e && std::strcmp(vendor, "QEMU    ") == 0 &&
                         std::strncmp(product, model == Model::VirtioScsi ? "QEMU CD-ROM" : "QEMU DVD-ROM", 11) == 0;
  Report(inquiryOk, "%s: INQUIRY '%s' '%s' '%s'%s", label, vendor, product, revision, e ? e->Text() : "");

  // A fresh drive may first report a reset; WaitForReady rides it out.
  d.WaitForReady(20, 100, false, false);
  e = Try([&] { d.TestUnitReady(); });
  Report(!e, "%s: TEST UNIT READY %s", label, e ? e->Text() : "");

  const uint32_t blocks = static_cast<uint32_t>(iso.size() / 2048);
  uint8_t capacity[8] = {};
  e = Try([&] { d.ReadCapacity(capacity, sizeof capacity); });
  Report(!e && Be32(capacity) == blocks - 1 && Be32(capacity + 4) == 2048,
         "%s: READ CAPACITY last LBA %u (want %u), block %u", label, Be32(capacity), blocks - 1, Be32(capacity + 4));

  uint8_t toc[804] = {};
  e = Try([&] { d.ReadTOC(toc, sizeof toc, false, 0, 0); });
  // Header, track 1 at LBA 0, lead-out (AAh) at the end of the disc.
  const bool tocOk = !e && toc[2] == 1 && toc[3] == 1 && toc[6] == 1 && Be32(toc + 8) == 0 && toc[14] == 0xAA &&
                     Be32(toc + 16) == blocks;
  Report(tocOk, "%s: READ TOC tracks %u-%u, track 1 at %u, lead-out %u (want %u) %s", label, toc[2], toc[3],
         Be32(toc + 8), Be32(toc + 16), blocks, e ? e->Text() : "");

  uint8_t config[4096] = {};
  e = Try([&] { d.GetConfiguration(0, 0, config, sizeof config); });
  // Feature 0000h (profile list) comes first and names the CD-ROM profile.
  bool profileListed = false;
  if (!e && Be16(config + 8) == 0x0000) {
    const uint8_t listLength = config[11];
    for (uint32_t i = 0; i + 4 <= listLength && 12 + i + 2 <= sizeof config; i += 4)
      profileListed = profileListed || Be16(config + 12 + i) == 0x0008;
  }
  Report(!e && Be32(config) >= 8 && profileListed, "%s: GET CONFIGURATION length %u, current profile %04Xh %s", label,
         Be32(config), Be16(config + 6), e ? e->Text() : "");

  uint8_t page[4096] = {};
  e = Try([&] { d.ModeSense10(page, sizeof page, 0x2A, 0); });
  const uint8_t* caps = page + 8 + Be16(page + 6);  // after the header and block descriptors
  Report(!e && (caps[0] & 0x3F) == 0x2A && caps[1] >= 0x12 && caps[3] == 0,
         "%s: MODE SENSE page %02Xh length %u, write bits %02Xh %s", label, caps[0] & 0x3F, caps[1], caps[3],
         e ? e->Text() : "");

  // Every block of the disc, 16 at a time, against the ISO file.
  std::vector<uint8_t> chunk(16 * 2048);
  uint32_t mismatch = UINT32_MAX;
  std::unique_ptr<CQuorvane_Exception> readFailure;
  for (uint32_t lba = 0; lba < blocks && !readFailure && mismatch == UINT32_MAX; lba += 16) {
    const uint32_t n = std::min<uint32_t>(16, blocks - lba);
    std::fill(chunk.begin(), chunk.end(), 0xEE);
    readFailure = Try([&] { d.Read10(chunk.data(), n * 2048, lba, n, 0); });
    if (!readFailure && std::memcmp(chunk.data(), iso.data() + size_t{lba} * 2048, n * 2048) != 0) mismatch = lba;
  }
  Report(!readFailure && mismatch == UINT32_MAX, "%s: READ(10) of %u blocks equals the ISO%s%s", label, blocks,
         readFailure ? ": " : "", readFailure ? readFailure->Text() : (mismatch != UINT32_MAX ? ": mismatch" : ""));

  // A command the drive does not know: exception 8 with the whole record.
  e = Try([&] { d.Blank(1, 0, true); });
  const CDB_FAILURE_INFORMATION* info = e ? e->FailureInformation() : nullptr;
  const bool rejectedOk = e && e->Number() == 8 && info && info->m__UCHAR__IsValid == 1 &&
                          info->m__UCHAR__CDBLength == 12 && info->m__UCHAR__CDB[0] == 0xA1 &&
                          info->m__UCHAR__CDB[1] == 0x11 && info->m__UCHAR__SenseLength == senseLength &&
                          (info->m__UCHAR__Sense[2] & 0x0F) == 5 && info->m__UCHAR__Sense[12] == 0x20 &&
                          info->m__UCHAR__Sense[13] == 0x00 && info->m__UCHAR__TargetStatus == 2 &&
                          info->m__UCHAR__TransportStatus == failedTransportStatus;
  Report(rejectedOk, "%s: BLANK rejected with exception %u, sense %u/%02X/%02X, sense length %u, status %u/%u",
         label, e ? e->Number() : 0, info ? info->m__UCHAR__Sense[2] & 0x0F : 0, info ? info->m__UCHAR__Sense[12] : 0,
         info ? info->m__UCHAR__Sense[13] : 0, info ? info->m__UCHAR__SenseLength : 0,
         info ? info->m__UCHAR__TargetStatus : 0, info ? info->m__UCHAR__TransportStatus : 0);

  if (model == Model::VirtioScsi) {
    e = Try([&] {
      uint8_t b[2352];
      d.ReadTrackInformation(b, 48, 1, 1);
    });
    info = e ? e->FailureInformation() : nullptr;
    Report(e && e->Number() == 8 && info && info->m__UCHAR__CDB[0] == 0x52 && (info->m__UCHAR__Sense[2] & 0x0F) == 5 &&
               info->m__UCHAR__Sense[12] == 0x20,
           "%s: READ TRACK INFORMATION rejected with exception %u", label, e ? e->Number() : 0);

    // These never complete at the target on QEMU's virtio disk: the host
    // fails them without sense (READ CD MSF is not emulated; a MECHANISM
    // STATUS whose allocation length exceeds the buffer overruns it). They
    // must come back as errors, never as success.
    CQuorvane_ScsiTransport* t = d.GetTransport();
    const uint8_t readCdMsf[12] = {0xB9, 0, 0, 0, 2, 0, 0, 2, 1, 0x10, 0, 0};
    const uint8_t mechanismStatus[12] = {0xBD, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0, 0};
    for (const uint8_t* cdb : {readCdMsf, mechanismStatus}) {
      uint8_t b[2352] = {};
      e = Try([&] { t->ExecuteCDB(cdb, 12, b, cdb[0] == 0xB9 ? 2048 : 8, QV_SCSI_DIRECTION_IN); });
      // The pass-through transport reports the host's failure as a system
      // error; the ASPI library reports it in the request's adapter status.
      const bool asSystemError = failedTransportStatus == 0;
      const bool ok = e && (asSystemError ? e->Number() == 5 && e->SystemError() != 0
                                          : e->Number() == 8 && e->FailureInformation() &&
                                                e->FailureInformation()->m__UCHAR__HostAdapterStatus != 0);
      Report(ok, "%s: %02Xh fails at the host with exception %u%s", label, cdb[0], e ? e->Number() : 0,
             e ? "" : " (it succeeded)");
    }
  }
}

// The burner-grabber on the same drive through the pass-through transport:
// each query must succeed or fail exactly as the drive's raw answers, read
// here through the command layer, say it should.
void CheckGrabber(const std::string& name, CQuorvane_ScsiDeviceCdvdRomWriter& raw, uint32_t blocks) {
  const char* label = name.c_str();
  std::unique_ptr<CQuorvane_CdvdBurnerGrabber> g;
  auto e = Try([&] { g.reset(new CQuorvane_CdvdBurnerGrabber(new CQuorvane_ScsiTransportSPTI(name.c_str()), nullptr, nullptr, 1)); });
  Report(!e, "%s: burner-grabber created %s", label, e ? e->Text() : "");
  if (e) return;

  // Capabilities: the flags and buffer size of the raw page 2Ah.
  uint8_t page[4096] = {};
  e = Try([&] { raw.ModeSense10(page, sizeof page, 0x2A, 0); });
  const uint8_t* caps = page + 8 + Be16(page + 6);
  uint8_t flags[10] = {};
  uint32_t bufferSize = 0;
  g->GetSupportedMediaFormats(flags);
  g->GetDeviceInformation(nullptr, nullptr, nullptr, &bufferSize);
  // Read CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM; write test, CD-R, CD-RW, DVD-R, DVD-RAM: MMC's bits.
  const int bits[10][2] = {{2, 0}, {2, 1}, {2, 3}, {2, 4}, {2, 5}, {3, 2}, {3, 0}, {3, 1}, {3, 4}, {3, 5}};
  uint8_t expected[10];
  for (int i = 0; i < 10; ++i) expected[i] = caps[bits[i][0]] >> bits[i][1] & 1;
  Report(!e && std::memcmp(flags, expected, 10) == 0 && bufferSize == Be16(caps + 12) * 1024u,
         "%s: capabilities read %d%d%d%d%d write %d%d%d%d%d, buffer %u", label, flags[0], flags[1], flags[2], flags[3],
         flags[4], flags[5], flags[6], flags[7], flags[8], flags[9], bufferSize);

  // Disc type: the current profile of the raw configuration header.
  uint8_t config[4096] = {};
  Try([&] { raw.GetConfiguration(2, 0, config, sizeof config); });
  const uint16_t profile = Be16(config + 6);
  const uint32_t wantType = profile == 0x0008 ? 1 : profile == 0x0010 ? 4 : 0;
  const uint32_t type = g->GetInsertedDiscType();
  Report(type == wantType, "%s: disc type %u for profile %04Xh", label, type, profile);

  // Disc information: the raw fields.
  uint8_t info[4096] = {};
  const auto rawInfo = Try([&] { raw.ReadDiscInformation(info, sizeof info); });
  QUORVANE_DISC_INFORMATION disc{};
  e = Try([&] { g->GetDiscInformation(&disc); });
  Report(!rawInfo && !e && disc.m__UCHAR__IsValid == 1 && disc.m__UCHAR__DiscStatus == (info[2] & 3) &&
             disc.m__UCHAR__NumberOfSessions == info[4] && disc.m__UCHAR__LastTrackInLastSession == info[6],
         "%s: disc information status %u, sessions %u, last track %u %s", label, disc.m__UCHAR__DiscStatus,
         disc.m__UCHAR__NumberOfSessions, disc.m__UCHAR__LastTrackInLastSession, e ? e->Text() : "");

  // Track information: refused by the drive, which is not an error.
  QUORVANE_TRACK_INFORMATION track{};
  uint8_t trackRaw[64] = {};
  const auto rawTrack = Try([&] { raw.ReadTrackInformation(trackRaw, sizeof trackRaw, 1, 1); });
  e = Try([&] { g->GetTrackInformation(1, &track); });
  Report(!e && track.m__UCHAR__IsValid == (rawTrack ? 0 : 1), "%s: track information valid %u (drive %s it)", label,
         track.m__UCHAR__IsValid, rawTrack ? "refuses" : "answers");

  // Table of contents: one data track over the whole disc when the drive
  // answers the full TOC as asked; a drive that answers another format
  // must be refused with 10.
  uint8_t full[4096] = {};
  const auto rawToc = Try([&] { raw.ReadTOC(full, sizeof full, true, 2, 0); });
  bool formatTwo = !rawToc && Be16(full) >= 13;
  for (uint32_t at = 4; formatTwo && at + 11 <= 2u + Be16(full); at += 11)
    formatTwo = full[at] >= full[2] && full[at] <= full[3];
  auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
  e = Try([&] { g->GetTOCInformation(toc.get()); });
  if (formatTwo) {
    const QUORVANE_TOC_TRACK& t = toc->m__TRACK__Tracks[0];
    Report(!e && toc->m__UCHAR__NumberOfTracks == 1 && t.m__LONG__StartAddress == 0 &&
               t.m__LONG__EndAddress == static_cast<int32_t>(blocks) - 1 && t.m__UCHAR__IsData == 1 &&
               t.m__ULONG__BlockSize == 2048,
           "%s: TOC %u track(s), track 1 %d-%d (want 0-%u) %s", label, toc->m__UCHAR__NumberOfTracks,
           t.m__LONG__StartAddress, t.m__LONG__EndAddress, blocks - 1, e ? e->Text() : "");
  } else {
    Report(e && e->Number() == 10, "%s: TOC in the wrong format refused with exception %u", label, e ? e->Number() : 0);
  }

  // Speeds: the raw page's fields.
  uint32_t speeds[4] = {};
  e = Try([&] { g->GetCdvdSpeeds(speeds, speeds + 1, speeds + 2, speeds + 3); });
  Report(!e && speeds[0] == Be16(caps + 14) && speeds[1] == Be16(caps + 8), "%s: speeds read %u of %u, write %u of %u %s",
         label, speeds[0], speeds[1], speeds[2], speeds[3], e ? e->Text() : "");
}

Model ModelOf(const char* product) {
  if (std::strncmp(product, "QEMU CD-ROM", 11) == 0) return Model::VirtioScsi;
  if (std::strncmp(product, "QEMU DVD-ROM", 12) == 0) return Model::IdeAtapi;
  return Model::Unknown;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: drive_probe ISO-FILE\n");
    return 2;
  }
  setenv("QUORVANE_LIB_DRALIK", "", 1);  // no auxiliary driver in the guest
  const std::vector<uint8_t> iso = ReadWholeFile(argv[1]);
  if (iso.empty() || iso.size() % 2048 != 0) {
    std::fprintf(stderr, "drive_probe: %s is not an ISO image\n", argv[1]);
    return 2;
  }
  bool seen[2] = {false, false};
  for (int n = 0; n < 8; ++n) {
    struct stat st {};
    const std::string node = "/dev/sr" + std::to_string(n);
    if (stat(node.c_str(), &st) != 0) continue;
    const std::string name = "CdRom" + std::to_string(n);
    std::unique_ptr<CQuorvane_ScsiDeviceCdvdRomWriter> passThrough;
    auto e = Try([&] { passThrough.reset(new CQuorvane_ScsiDeviceCdvdRomWriter(new CQuorvane_ScsiTransportSPTI(name.c_str()))); });
    if (e) {
      Report(false, "%s: pass-through transport: %s", name.c_str(), e->Text());
      continue;
    }
    char product[17] = {};
    Try([&] { passThrough->GetInquiryStrings(nullptr, product, nullptr); });
    const Model model = ModelOf(product);
    CQuorvane_ScsiTransport* t = passThrough->GetTransport();
    std::printf("== %s (%s) at %d:%d:%d:%d\n", name.c_str(), ModelName(model), t->GetPortId(), t->GetPathId(),
                t->GetTargetId(), t->GetLUN());
    if (model == Model::Unknown) {
      Report(false, "%s: unknown drive '%s'", name.c_str(), product);
      continue;
    }
    seen[model == Model::VirtioScsi ? 0 : 1] = true;
    Report(t->GetDeviceType() == 5, "%s: pass-through device type %u", name.c_str(), t->GetDeviceType());
    CheckDrive((name + " pass-through").c_str(), *passThrough, model, iso, 32, 0);
    CheckGrabber(name, *passThrough, static_cast<uint32_t>(iso.size() / 2048));

    std::unique_ptr<CQuorvane_ScsiDeviceCdvdRomWriter> aspi;
    e = Try([&] {
      aspi.reset(new CQuorvane_ScsiDeviceCdvdRomWriter(
          new CQuorvane_ScsiTransportASPI(t->GetPortId(), t->GetPathId(), t->GetTargetId(), t->GetLUN())));
    });
    Report(!e && aspi->GetTransport()->GetDeviceType() == 5, "%s: ASPI transport at %d:%d %s", name.c_str(),
           t->GetPortId(), t->GetTargetId(), e ? e->Text() : "");
    if (!e) CheckDrive((name + " ASPI").c_str(), *aspi, model, iso, 14, 0x04);
  }
  Report(seen[0], "a virtio scsi-cd drive was found");
  Report(seen[1], "an IDE ATAPI drive was found");
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
