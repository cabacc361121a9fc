#include "device/drive_quirks.h"

#include <cstring>

#include "device/drive.h"

namespace {

struct QuirkRow {
  const char* vendor;
  const char* product;  // nullptr: every product of the vendor
  uint32_t flags;
};

constexpr QuirkRow kQuirks[] = {
    {"PHILIPS", "DVD8701", kQuirkForcedMultisession},
    {"HP", "DVD Writer 640v", kQuirkForcedMultisession},
    {"SAMSUNG", "CD-R/RW SW-240B", kQuirkStaleTrackState},
    {"HP", "9100", kQuirkSynchronousClose},
    {"QSI", "CDRW/DVD", kQuirkSynchronousCloseOnCdR | kQuirkSlowSynchronizeCache},
    {"PIONEER", "DVR-110D", kQuirkCloseRetried},
    {"PIONEER", "DVR-111D", kQuirkCloseRetried},
    {"TEAC", "56S", kQuirkSlowSynchronizeCache},
    {"MITSUMI", "4802", kQuirkSlowSynchronizeCache | kQuirkEjectAfterWriteParameters},
    {"Memorex", "Twelve MAXX", kQuirkSlowSynchronizeCache},
    {"GENERIC", "CRD-BP4", kQuirkSlowSynchronizeCache},
    {"SAMSUNG", "CDRW/DVD SM-348B", kQuirkSlowSynchronizeCache},
    {"PHILIPS", "CDD5301", kQuirkEarlyDiscInformation | kQuirkProfileUnknown},
    {"HL-DT-ST", "GCE-8160B", kQuirkEarlyDiscInformation},
    {"MATSHITA", "9585", kQuirkFreeBlocksOverstated},
    {"MATSHITA", "9583S", kQuirkFreeBlocksOverstated},
    {"SONY", nullptr, kQuirkCdStyleDvdSpeeds},
    {"MATSHITA", nullptr, kQuirkCdStyleDvdSpeeds | kQuirkPlainErrorRecovery},
    {"HL-DT-ST", nullptr, kQuirkCdStyleDvdSpeeds},
    {"LITE-ON", nullptr, kQuirkCdStyleDvdSpeeds},
    {"Slimtype", nullptr, kQuirkCdStyleDvdSpeeds},
    {"TOSHIBA", nullptr, kQuirkPlainErrorRecovery},
    {"SAMSUNG", "CDRW/DVD SM-308B", kQuirkBurnProofBroken},
    {"GENERIC", "DVD RW 4XMax", kQuirkBurnProofBroken},
    {"LITE-ON", "DVDRW LDW-411S", kQuirkLosesTrackAtOnce},
    {"TEAC", "DV-W58G", kQuirkLosesTrackAtOnce},
    {"SONY", "DVD RW DW-U18A", kQuirkLosesTrackAtOnce},
    {"LITE-ON", "SOHW-812S", kQuirkLosesTrackAtOnce},
    {"LITE-ON", "DVDRW LDW-811S", kQuirkLosesTrackAtOnce},
    {"PIONEER", "105", kQuirkKeepsRecoveryPage},
};

}  // namespace

QuorvaneI_DriveQuirks QuorvaneI_QuirksOf(const char* vendor, const char* product) {
  QuorvaneI_DriveQuirks quirks;
  for (const QuirkRow& row : kQuirks) {
    if (std::strstr(vendor, row.vendor) == nullptr) continue;
    if (row.product == nullptr || std::strstr(product, row.product) != nullptr) quirks.flags |= row.flags;
  }
  return quirks;
}

QuorvaneI_DriveQuirks QuorvaneI_QuirksOf(const CQuorvane_CdvdDrive& drive) { return drive.Quirks(); }
