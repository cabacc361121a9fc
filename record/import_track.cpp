// Import of a data track of the inserted disc into an ISO9660/Joliet tree:
// the drive as a source of blocks for the importer.
#include <algorithm>
#include <string>

#include "core/exception.h"
#include "core/log.h"
#include "core/status.h"
#include "device/api_checks.h"
#include "grab/grabber.h"
#include "iso9660/import.h"

namespace {

constexpr uint32_t kBlocksPerRead = 16;

// One track: reads never leave it.
class TrackSource : public QuorvaneI_ImportSource {
 public:
  TrackSource(CQuorvane_CdvdGrabber& drive, uint32_t first, uint32_t end) : drive_(drive), first_(first), end_(end) {}
  uint32_t First() const override { return first_; }
  uint32_t End() const override { return end_; }
  void Read(uint32_t lba, uint32_t count, uint8_t* buffer) override {
    for (uint32_t done = 0; done < count;) {
      const uint32_t part = std::min(kBlocksPerRead, count - done);
      if (const uint32_t n = drive_.Read10(buffer + size_t{done} * kQuorvaneSectorSize,
                                           static_cast<int32_t>(lba + done), part, false);
          n != EN_SUCCESS)
        QuorvaneI_Throw("CQuorvane_CdvdBurnerGrabber::ImportDirectory", n, 0, "%s", drive_.LastReadFailureText());
      done += part;
    }
  }

 private:
  CQuorvane_CdvdGrabber& drive_;
  uint32_t first_, end_;
};

void ImportTrack(CQuorvane_CdvdGrabber& drive, CQuorvane_ISO9660FileTree* tree, uint8_t track, bool joliet) {
  static const char* const kMethod = "CQuorvane_CdvdBurnerGrabber::ImportTrack";
  QUORVANE_TOC_INFORMATION toc{};
  drive.GetTOCInformation(&toc);
  const QUORVANE_TOC_TRACK* t = track >= 1 && track <= toc.m__UCHAR__NumberOfTracks && track <= QUORVANE_TOC_MAXIMUM
                                    ? &toc.m__TRACK__Tracks[track - 1]
                                    : nullptr;
  if (t == nullptr || !t->m__UCHAR__IsValid || t->m__UCHAR__TrackNumber != track || t->m__LONG__StartAddress < 0 ||
      t->m__LONG__EndAddress < t->m__LONG__StartAddress)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0, "%s(): Invalid track number ( %d ) to import!", kMethod,
                    static_cast<int>(track));
  TrackSource source(drive, static_cast<uint32_t>(t->m__LONG__StartAddress),
                     static_cast<uint32_t>(t->m__LONG__EndAddress) + 1);
  QuorvaneI_Import(tree, source, joliet, "ImportingTrack( " + std::to_string(track) + " ):", kMethod);
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_ImportTrack(QV_HANDLE burnerGrabber, QV_HANDLE tree,
                                                                             QV_UCHAR track, QV_BOOLEAN joliet,
                                                                             char* text, QV_ULONG textSize,
                                                                             QV_ULONG* systemStatus) {
  constexpr const char* kEntry = "Quorvane_ISO9660JolietFileTree_ImportTrack";
  uint32_t error = 0;
  const uint32_t n = QuorvaneI_Call(kEntry, text, textSize, &error, nullptr, [&] {
    auto& drive = static_cast<CQuorvane_CdvdGrabber&>(QuorvaneI_DriveOf(kEntry, burnerGrabber));
    QuorvaneI_Require(kEntry, tree, "tree");
    drive.WaitForSpinUp();
    ImportTrack(drive, static_cast<CQuorvane_ISO9660FileTree*>(tree), track, joliet != 0);
  });
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus != nullptr) *systemStatus = error;
  return n;
}
