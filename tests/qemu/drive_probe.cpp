// Runs inside a QEMU guest: drives every CD-ROM the guest kernel shows
// through the engine's pass-through and ASPI transports, and checks the
// answers of a drive that no one here wrote against the ISO it holds: the
// data, and failures as each transport reports them. (What the engine
// makes of the drive's answers is checked by the quorvane commands the
// guest runs after this.)
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

std::vector<uint8_t> ReadWholeFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class Model { VirtioScsi, IdeAtapi, Unknown };

const char* ModelName(Model m) {
  return m == Model::VirtioScsi ? "virtio scsi-cd" : m == Model::IdeAtapi ? "IDE ATAPI" : "unknown";
}

// One drive through one transport: its data, and its failures as the
// transport reports them.
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
