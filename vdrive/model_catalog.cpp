#include "vdrive/model_catalog.h"

#include <algorithm>

#include "vdrive/media_types.h"

namespace qv::vdrive {

namespace {

enum class Kind { CdWriter, Combo, DvdWriter, DvdDlWriter, DvdReader };

std::vector<uint16_t> Profiles(std::initializer_list<uint16_t> list) {
  std::vector<uint16_t> v(list);
  std::sort(v.begin(), v.end());
  return v;
}

DriveModel Make(const char* vendor, const char* product, const char* revision, Kind kind, uint32_t quirks,
                bool page30) {
  DriveModel m = DefaultModel();
  m.vendor = vendor;
  m.product = product;
  m.revision = revision;
  m.quirks = quirks;
  m.page30 = page30;
  const std::initializer_list<uint16_t> cd = {kProfileCdRom, kProfileCdR, kProfileCdRw};
  const std::initializer_list<uint16_t> dvdRead = {kProfileDvdRom,          kProfileDvdR,      kProfileDvdRwRestricted,
                                                   kProfileDvdRwSequential, kProfileDvdPlusRw, kProfileDvdPlusR};
  switch (kind) {
    case Kind::CdWriter:
      m.readProfiles = Profiles(cd);
      m.writeProfiles = Profiles({kProfileCdR, kProfileCdRw});
      m.dvdWriteSpeeds.clear();
      m.bufferKiB = 2048;
      break;
    case Kind::Combo:
      m.readProfiles = Profiles(cd);
      m.readProfiles.insert(m.readProfiles.end(), dvdRead);
      std::sort(m.readProfiles.begin(), m.readProfiles.end());
      m.writeProfiles = Profiles({kProfileCdR, kProfileCdRw});
      m.dvdWriteSpeeds.clear();
      m.bufferKiB = 2048;
      break;
    case Kind::DvdWriter:
      m.readProfiles.erase(std::remove(m.readProfiles.begin(), m.readProfiles.end(), kProfileDvdPlusRDl),
                           m.readProfiles.end());
      m.writeProfiles.erase(std::remove(m.writeProfiles.begin(), m.writeProfiles.end(), kProfileDvdPlusRDl),
                            m.writeProfiles.end());
      m.bufferKiB = 2048;
      break;
    case Kind::DvdDlWriter: m.bufferKiB = 8192; break;
    case Kind::DvdReader:
      m.writeProfiles.clear();
      m.cdWriteSpeeds.clear();
      m.dvdWriteSpeeds.clear();
      m.testWrite = m.bufferUnderrunFree = m.trackAtOnce = m.sessionAtOnce = m.rawPq = m.rawPw = false;
      m.bufferKiB = 512;
      break;
  }
  if (kind == Kind::CdWriter || kind == Kind::Combo) {
    m.cdWriteSpeeds.clear();
    for (uint32_t x : {24, 16, 8, 4}) m.cdWriteSpeeds.push_back(x * 1764 / 10);
    m.cdReadSpeed = 40 * 1764 / 10;
  }
  return m;
}

// The catalog: the default model, then the drives whose quirks the
// engine's workarounds were written for.
struct CatalogEntry {
  const char* vendor;
  const char* product;
  const char* revision;
  Kind kind;
  uint32_t quirks;
  bool page30;
};

constexpr CatalogEntry kCatalog[] = {
    // Broken GET CONFIGURATION: the engine takes any disc for a CD-R.
    {"PHILIPS", "CDD5301", "1.04", Kind::CdWriter, kQuirkNoGetConfiguration, false},
    // Ejects only with IMMED set and track-at-once parameters selected.
    {"MITSUMI", "CR-4802TE", "1.3C", Kind::CdWriter, kQuirkEjectNeedsTaoImmed, true},
    // Broken SYNCHRONIZE CACHE: these wait with IMMED clear.
    {"TEAC", "CD-W56S", "1.0B", Kind::CdWriter, 0, true},
    {"Memorex", "Twelve MAXX 1040", "1.00", Kind::CdWriter, 0, false},
    {"GENERIC", "CRD-BP4", "1.00", Kind::CdWriter, 0, false},
    {"QSI", "CDRW/DVD SBW-241", "UX05", Kind::Combo, 0, false},
    {"SAMSUNG", "CDRW/DVD SM-348B", "T504", Kind::Combo, 0, false},
    {"SAMSUNG", "CD-R/RW SW-240B", "R401", Kind::CdWriter, 0, false},
    {"HP", "CD-Writer+ 9100", "1.0c", Kind::CdWriter, 0, false},
    {"HL-DT-ST", "CD-RW GCE-8160B", "1.02", Kind::CdWriter, 0, false},
    // Broken BURN-Proof: page 05h with BUFE set is refused.
    {"SAMSUNG", "CDRW/DVD SM-308B", "T200", Kind::Combo, kQuirkRejectsBufe, false},
    {"GENERIC", "DVD RW 4XMax", "1.10", Kind::DvdWriter, kQuirkRejectsBufe, false},
    // Vendors whose DVD speeds the engine takes from the capabilities page.
    {"SONY", "DVD RW DW-U18A", "UYS1", Kind::DvdWriter, 0, false},
    {"HL-DT-ST", "DVD-RAM GSA-4160", "A301", Kind::DvdWriter, 0, false},
    {"LITE-ON", "DVDRW LDW-411S", "FS0K", Kind::DvdWriter, 0, false},
    {"LITE-ON", "DVDRW SOHW-812S", "CS0K", Kind::DvdWriter, 0, false},
    {"LITE-ON", "DVDRW LDW-811S", "HS0K", Kind::DvdWriter, 0, false},
    {"Slimtype", "DVDRW SOSW-852S", "PS05", Kind::DvdWriter, 0, false},
    {"MATSHITA", "CD-R/RW CW-9585", "1.12", Kind::CdWriter, 0, false},
    {"MATSHITA", "DVD-RAM SW-9583S", "A104", Kind::DvdWriter, 0, false},
    {"TEAC", "DV-W58G", "1.0A", Kind::DvdWriter, 0, false},
    // Forced multi-session on DVD; streaming up to an end LBA of 0.
    {"PHILIPS", "DVD8701", "P1.3", Kind::DvdWriter, 0, false},
    {"HP", "DVD Writer 640v", "HP03", Kind::DvdWriter, kQuirkZeroPerformanceEnd, false},
    // Their own session closing on DVD+R.
    {"PIONEER", "DVD-RW DVR-110D", "1.41", Kind::DvdDlWriter, 0, false},
    {"PIONEER", "DVD-RW DVR-111D", "1.23", Kind::DvdDlWriter, 0, false},
    // Readers: no error recovery page restore; no DCR bit.
    {"PIONEER", "DVD-ROM DVD-105", "1.22", Kind::DvdReader, 0, false},
    {"TOSHIBA", "DVD-ROM SD-M1912", "1C14", Kind::DvdReader, 0, false},
};

std::vector<DriveModel> Build() {
  std::vector<DriveModel> models = {DefaultModel()};
  for (const CatalogEntry& e : kCatalog)
    models.push_back(Make(e.vendor, e.product, e.revision, e.kind, e.quirks, e.page30));
  return models;
}

}  // namespace

const std::vector<DriveModel>& CatalogModels() {
  static const std::vector<DriveModel> models = Build();
  return models;
}

const DriveModel* FindCatalogModel(const std::string& vendor, const std::string& product) {
  for (const DriveModel& m : CatalogModels())
    if (m.vendor == vendor && m.product == product) return &m;
  return nullptr;
}

}  // namespace qv::vdrive
