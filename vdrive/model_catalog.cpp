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

DriveModel Make(const char* vendor, const char* product, const char* revision, Kind kind, uint32_t quirks = 0,
                bool page30 = false) {
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

std::vector<DriveModel> Build() {
  std::vector<DriveModel> models;
  models.push_back(DefaultModel());
  // Broken GET CONFIGURATION: the engine takes any disc for a CD-R.
  models.push_back(Make("PHILIPS", "CDD5301", "1.04", Kind::CdWriter, kQuirkNoGetConfiguration));
  // Ejects only with IMMED set and track-at-once parameters selected.
  models.push_back(Make("MITSUMI", "CR-4802TE", "1.3C", Kind::CdWriter, kQuirkEjectNeedsTaoImmed, true));
  // Broken SYNCHRONIZE CACHE: these wait with IMMED clear.
  models.push_back(Make("TEAC", "CD-W56S", "1.0B", Kind::CdWriter, 0, true));
  models.push_back(Make("Memorex", "Twelve MAXX 1040", "1.00", Kind::CdWriter));
  models.push_back(Make("GENERIC", "CRD-BP4", "1.00", Kind::CdWriter));
  models.push_back(Make("QSI", "CDRW/DVD SBW-241", "UX05", Kind::Combo));
  models.push_back(Make("SAMSUNG", "CDRW/DVD SM-348B", "T504", Kind::Combo));
  models.push_back(Make("SAMSUNG", "CD-R/RW SW-240B", "R401", Kind::CdWriter));
  models.push_back(Make("HP", "CD-Writer+ 9100", "1.0c", Kind::CdWriter));
  models.push_back(Make("HL-DT-ST", "CD-RW GCE-8160B", "1.02", Kind::CdWriter));
  // Broken BURN-Proof: page 05h with BUFE set is refused.
  models.push_back(Make("SAMSUNG", "CDRW/DVD SM-308B", "T200", Kind::Combo, kQuirkRejectsBufe));
  models.push_back(Make("GENERIC", "DVD RW 4XMax", "1.10", Kind::DvdWriter, kQuirkRejectsBufe));
  // Vendors whose DVD speeds the engine takes from the capabilities page.
  models.push_back(Make("SONY", "DVD RW DW-U18A", "UYS1", Kind::DvdWriter));
  models.push_back(Make("HL-DT-ST", "DVD-RAM GSA-4160", "A301", Kind::DvdWriter));
  models.push_back(Make("LITE-ON", "DVDRW LDW-411S", "FS0K", Kind::DvdWriter));
  models.push_back(Make("LITE-ON", "DVDRW SOHW-812S", "CS0K", Kind::DvdWriter));
  models.push_back(Make("LITE-ON", "DVDRW LDW-811S", "HS0K", Kind::DvdWriter));
  models.push_back(Make("Slimtype", "DVDRW SOSW-852S", "PS05", Kind::DvdWriter));
  models.push_back(Make("MATSHITA", "CD-R/RW CW-9585", "1.12", Kind::CdWriter));
  models.push_back(Make("MATSHITA", "DVD-RAM SW-9583S", "A104", Kind::DvdWriter));
  models.push_back(Make("TEAC", "DV-W58G", "1.0A", Kind::DvdWriter));
  // Forced multi-session on DVD; streaming up to an end LBA of 0.
  models.push_back(Make("PHILIPS", "DVD8701", "P1.3", Kind::DvdWriter));
  models.push_back(Make("HP", "DVD Writer 640v", "HP03", Kind::DvdWriter, kQuirkZeroPerformanceEnd));
  // Their own session closing on DVD+R.
  models.push_back(Make("PIONEER", "DVD-RW DVR-110D", "1.41", Kind::DvdDlWriter));
  models.push_back(Make("PIONEER", "DVD-RW DVR-111D", "1.23", Kind::DvdDlWriter));
  // Readers: no error recovery page restore; no DCR bit.
  models.push_back(Make("PIONEER", "DVD-ROM DVD-105", "1.22", Kind::DvdReader));
  models.push_back(Make("TOSHIBA", "DVD-ROM SD-M1912", "1C14", Kind::DvdReader));
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
