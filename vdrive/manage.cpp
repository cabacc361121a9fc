// The management functions of qvdrive.h, and the fault injection calls of
// faults.h.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/output_file.h"
#include "vdrive/bytes.h"
#include "vdrive/disc_description.h"
#include "vdrive/cd_text.h"
#include "vdrive/disc_layout.h"
#include "vdrive/sectors.h"
#include "vdrive/faults.h"
#include "vdrive/json_util.h"
#include "vdrive/model_catalog.h"
#include "vdrive/qvdrive.h"
#include "vdrive/store.h"

namespace fs = std::filesystem;
namespace plat = qv::plat;
using nlohmann::json;
using namespace qv::vdrive;

namespace {

constexpr uint32_t kBlockSize = 2048;

// Copies text with its terminator into a caller's buffer.
uint32_t CopyOut(const std::string& text, char* out, uint32_t size, uint32_t* needed) {
  if (needed != nullptr) *needed = static_cast<uint32_t>(text.size() + 1);
  if (out == nullptr || size < text.size() + 1) return plat::kErrInsufficientBuffer;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

uint32_t CheckName(const char* name) {
  if (name == nullptr || !ValidDriveName(name))
    return Fail(plat::kErrInvalidName, std::string("'") + (name ? name : "") +
                                           "' is not a drive name: use up to 64 letters, digits, '.', '_' and '-'");
  return 0;
}

uint32_t MediaTypeOf(const char* media, const MediaType** type) {
  *type = media ? FindMediaType(media) : nullptr;
  if (*type == nullptr)
    return Fail(plat::kErrInvalidParameter,
                std::string("unknown media type '") + (media ? media : "") + "'; use one of " + MediaTypeNames());
  return 0;
}

std::string RandomSuffix() {
  std::random_device rd;
  return std::to_string(rd()) + std::to_string(rd());
}

// "VENDOR:PRODUCT" or "VENDOR:PRODUCT:REVISION". A catalog model brings
// its capabilities and quirks; any other identity goes on the default
// recorder.
uint32_t ApplyModelText(const char* text, DriveModel* model) {
  const std::string s = text;
  const size_t colon = s.find(':');
  const size_t colon2 = colon == std::string::npos ? std::string::npos : s.find(':', colon + 1);
  auto bad = [&](const std::string& why) {
    return Fail(plat::kErrInvalidParameter, "bad model '" + s + "': " + why);
  };
  if (colon == std::string::npos) return bad("write VENDOR:PRODUCT");
  const std::string vendor = s.substr(0, colon);
  const std::string product = s.substr(colon + 1, colon2 == std::string::npos ? std::string::npos : colon2 - colon - 1);
  if (vendor.empty() || vendor.size() > 8) return bad("the vendor has 1 to 8 characters");
  if (product.empty() || product.size() > 16) return bad("the product has 1 to 16 characters");
  for (char c : s)
    if (c < 0x20 || c > 0x7E) return bad("only printable ASCII characters");
  if (const DriveModel* known = FindCatalogModel(vendor, product)) *model = *known;
  model->vendor = vendor;
  model->product = product;
  if (colon2 != std::string::npos) {
    const std::string revision = s.substr(colon2 + 1);
    if (revision.size() > 4) return bad("the revision has up to 4 characters");
    model->revision = revision;
  }
  return 0;
}

// The lowest CdRomN no other drive answers to. Only model.json is read, so
// that a drive whose other files are damaged keeps its number; a
// model.json beyond reading cannot say its number either.
uint32_t FreeDeviceNumber() {
  std::vector<bool> used;
  for (const std::string& name : DriveNames()) {
    uint32_t err = 0;
    plat::File f = plat::File::Open((DriveHome() / name / "model.json").string(), plat::FileMode::Read, &err);
    std::vector<char> buffer(1 << 16);
    const int64_t n = f.IsOpen() ? f.Read(buffer.data(), buffer.size(), &err) : -1;
    if (n <= 0) continue;
    const json model = json::parse(buffer.begin(), buffer.begin() + n, nullptr, false);
    const json* device = model.is_object() && model.contains("deviceName") ? &model["deviceName"] : nullptr;
    if (device == nullptr || !device->is_string()) continue;
    const std::string deviceName = device->get<std::string>();
    if (deviceName.rfind("CdRom", 0) != 0 || deviceName.size() < 6 || deviceName.size() > 8 ||
        !std::all_of(deviceName.begin() + 5, deviceName.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const unsigned long number = std::stoul(deviceName.substr(5));
    if (number < 256) {
      if (used.size() <= number) used.resize(number + 1);
      used[number] = true;
    }
  }
  uint32_t n = 0;
  while (n < used.size() && used[n]) ++n;
  return n;
}

// The drive home's lock, held from choosing a new drive's device number to
// putting the drive in place, so that drives made at once, by any
// processes, get numbers of their own.
plat::File LockHome(const fs::path& home, uint32_t* err) {
  const std::string path = (home / ".lock").string();
  plat::File f = plat::File::Open(path, plat::FileMode::ReadWrite, err);
  if (!f.IsOpen() && *err == plat::kErrFileNotFound) f = plat::File::Open(path, plat::FileMode::CreateNew, err);
  if (!f.IsOpen() && *err == plat::kErrFileExists) f = plat::File::Open(path, plat::FileMode::ReadWrite, err);
  if (f.IsOpen() && !f.Lock(true, true, err)) f = plat::File();
  return f;
}

// Whether a host has the drive open now.
bool InUse(const DriveStore& store) {
  uint32_t err = 0;
  plat::File users = plat::File::Open(store.File("users").string(), plat::FileMode::ReadWrite, &err);
  return users.IsOpen() && !users.Lock(true, false, &err);
}

// Takes the disc out of a drive and puts another in (or none), as a person
// does: not while the host keeps the tray locked, which it learns of as an
// eject request. A lock whose host has closed the drive went with it, as
// a prevention ends with its initiator's connection.
uint32_t ChangeDisc(const char* name, std::optional<Medium> medium, const fs::path& data) {
  auto store = DriveStore::Get(name);
  return store->Transact([&](DriveRecord& r, DiscData&, Changes& changes) -> uint32_t {
    DriveState& state = r.state;
    const uint64_t now = plat::NowMs();
    state.Settle(r.model, now);
    if (state.Locked() && !InUse(*store)) state.prevent = 0;
    if (state.DiscLoaded() && state.Locked()) {
      state.PostEvent(MediaEvent::EjectRequest);
      changes.state = true;
      return Fail(plat::kErrAccessDenied,
                  std::string("the tray of '") + name + "' is locked by the program using the drive; try again when it is done");
    }
    if (!medium && !state.disc && state.tray == Tray::Closed) return 0;
    if (medium)
      state.Insert(std::move(*medium), r.model, now);
    else
      state.Remove();
    changes.state = true;
    changes.disc = true;
    changes.discFrom = data;
    return 0;
  });
}

}  // namespace

extern "C" {

uint32_t QvDrive_Home(char* path, uint32_t size) {
  SetErrorText("");
  return CopyOut(DriveHome().string(), path, size, nullptr);
}

uint32_t QvDrive_Create(const char* name, const char* media, const char* model) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  const MediaType* type = nullptr;
  if (media != nullptr) {
    if (uint32_t err = MediaTypeOf(media, &type)) return err;
  }
  DriveModel m = DefaultModel();
  if (model != nullptr) {
    if (uint32_t err = ApplyModelText(model, &m)) return err;
  }
  const fs::path home = DriveHome();
  const fs::path folder = home / name;
  std::error_code ec;
  fs::create_directories(home, ec);
  if (ec) return Fail(plat::SystemErrorFromErrno(ec.value()), "cannot make " + home.string() + ": " + ec.message());
  uint32_t err = 0;
  const plat::File homeLock = LockHome(home, &err);
  if (!homeLock.IsOpen())
    return Fail(err, "cannot lock " + home.string() + " to make a drive (system error " + std::to_string(err) + ")");
  if (fs::exists(folder, ec)) return Fail(plat::kErrAlreadyExists, std::string("a drive named '") + name + "' exists");
  const uint32_t number = FreeDeviceNumber();
  if (number > 255) return Fail(plat::kErrAlreadyExists, "every device name from CdRom0 to CdRom255 is taken");
  m.deviceName = "CdRom" + std::to_string(number);
  m.address[2] = static_cast<uint8_t>(number);
  char serial[16];
  std::snprintf(serial, sizeof serial, "QV%08u", static_cast<unsigned>(std::random_device{}() % 100000000u));
  m.serial = serial;

  DriveState state;
  if (type != nullptr) state.disc = Medium::New(*type);  // a drive made with a disc in it is ready at once

  // Built aside, then renamed into place, so no one sees half a drive.
  const fs::path temp = home / (".new-" + std::string(name) + "-" + RandomSuffix());
  fs::create_directory(temp, ec);
  err = ec ? plat::SystemErrorFromErrno(ec.value()) : 0;
  if (err == 0) err = WriteFileAtomically(temp / "model.json", ModelToJson(m).dump(1) + "\n");
  if (err == 0) err = WriteFileAtomically(temp / "state.json", StateToJson(state).dump(1) + "\n");
  if (err == 0) err = InitLockFile(temp / "lock");
  if (err == 0) err = WriteFileAtomically(temp / "users", "");
  if (err == 0) {
    fs::rename(temp, folder, ec);
    if (ec) err = ec.value() == ENOTEMPTY || ec.value() == EEXIST ? plat::kErrAlreadyExists : plat::SystemErrorFromErrno(ec.value());
  }
  if (err != 0) {
    fs::remove_all(temp, ec);
    if (ErrorText().empty()) SetErrorText(std::string("cannot make the drive '") + name + "' (system error " + std::to_string(err) + ")");
    return err;
  }
  return 0;
}

uint32_t QvDrive_Delete(const char* name) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  const fs::path folder = DriveHome() / name;
  std::error_code ec;
  if (!fs::exists(folder / "model.json", ec)) return Fail(plat::kErrFileNotFound, std::string("no virtual drive named '") + name + "'");
  uint32_t err = 0;
  plat::File users = plat::File::Open((folder / "users").string(), plat::FileMode::ReadWrite, &err);
  if (users.IsOpen() && !users.Lock(true, false, &err))
    return Fail(plat::kErrAccessDenied, std::string("the drive '") + name + "' is open; close it first");
  users.Close();
  fs::remove_all(folder, ec);
  if (ec) return Fail(plat::SystemErrorFromErrno(ec.value()), "cannot remove " + folder.string() + ": " + ec.message());
  return 0;
}

uint32_t QvDrive_ListModels(char* models, uint32_t size, uint32_t* needed) {
  SetErrorText("");
  std::string list;
  for (const DriveModel& m : CatalogModels()) list.append(m.vendor + ":" + m.product).push_back('\0');
  return CopyOut(list, models, size, needed);
}

uint32_t QvDrive_List(char* names, uint32_t size, uint32_t* needed) {
  SetErrorText("");
  std::string list;
  for (const std::string& name : DriveNames()) list.append(name).push_back('\0');
  if (list.empty()) list.push_back('\0');
  // CopyOut adds the final terminator.
  return CopyOut(list, names, size, needed);
}

uint32_t QvDrive_InsertMedia(const char* name, const char* media) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  const MediaType* type = nullptr;
  if (uint32_t err = MediaTypeOf(media, &type)) return err;
  return ChangeDisc(name, Medium::New(*type), {});
}

uint32_t QvDrive_InsertImage(const char* name, const char* imagePath, const char* media) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  const MediaType* type = nullptr;
  if (media != nullptr) {
    if (uint32_t err = MediaTypeOf(media, &type)) return err;
  }
  if (imagePath == nullptr || *imagePath == '\0') return Fail(plat::kErrInvalidParameter, "no image file given");
  const fs::path folder = DriveHome() / name;
  std::error_code ec;
  if (!fs::exists(folder / "model.json", ec)) return Fail(plat::kErrFileNotFound, std::string("no virtual drive named '") + name + "'");
  uint32_t err = 0;
  int64_t size;
  {
    plat::File image = plat::File::Open(imagePath, plat::FileMode::Read, &err);
    if (!image.IsOpen()) return Fail(err, std::string("cannot open the image '") + imagePath + "' (system error " + std::to_string(err) + ")");
    size = image.Size(&err);
    if (size < 0) return Fail(err, std::string("cannot size the image '") + imagePath + "'");
  }
  if (size == 0) return Fail(plat::kErrInvalidParameter, std::string("the image '") + imagePath + "' is empty");
  const uint64_t blocks = (static_cast<uint64_t>(size) + kBlockSize - 1) / kBlockSize;
  if (type == nullptr) type = FindMediaType(blocks <= FindMediaType("cd-rom")->capacity ? "cd-rom" : "dvd-rom");
  // A pressed disc is as long as its content.
  const uint64_t room = type->pressed ? type->largest : type->capacity;
  if (blocks > room)
    return Fail(plat::kErrFileTooLarge, std::string("the image '") + imagePath + "' (" + std::to_string(blocks) +
                                            " blocks) does not fit on a " + type->name + " disc (" + std::to_string(room) + " blocks)");
  const fs::path temp = folder / (".disc-" + RandomSuffix() + ".tmp");
  uint64_t copied = 0;
  if ((err = CopySparse(imagePath, temp, &copied)) != 0) {
    fs::remove(temp, ec);
    return Fail(err, std::string("cannot copy the image '") + imagePath + "' into the drive (system error " + std::to_string(err) + ")");
  }
  fs::path absolute = fs::absolute(imagePath, ec);
  err = ChangeDisc(name, Medium::WithImage(*type, static_cast<uint32_t>(blocks), ec ? imagePath : absolute.string()), temp);
  if (err != 0) fs::remove(temp, ec);
  return err;
}

uint32_t QvDrive_InsertDisc(const char* name, const char* descriptionPath) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  if (descriptionPath == nullptr || *descriptionPath == '\0') return Fail(plat::kErrInvalidParameter, "no disc description given");
  const fs::path folder = DriveHome() / name;
  std::error_code ec;
  if (!fs::exists(folder / "model.json", ec)) return Fail(plat::kErrFileNotFound, std::string("no virtual drive named '") + name + "'");
  const fs::path temp = folder / (".disc-" + RandomSuffix() + ".tmp");
  Medium medium;
  std::string why;
  fs::path description = fs::absolute(descriptionPath, ec);
  if (ec) description = descriptionPath;
  if (uint32_t err = LoadDiscDescription(description, temp, &medium, &why)) {
    fs::remove(temp, ec);
    return Fail(err, why);
  }
  const uint32_t err = ChangeDisc(name, std::move(medium), temp);
  if (err != 0) fs::remove(temp, ec);
  return err;
}

uint32_t QvDrive_Eject(const char* name) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  return ChangeDisc(name, std::nullopt, {});
}

uint32_t QvDrive_Export(const char* name, const char* imagePath) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  if (imagePath == nullptr || *imagePath == 0) return Fail(plat::kErrInvalidParameter, "no image file named");
  return DriveStore::Get(name)->Transact([&](DriveRecord& r, DiscData& disc, Changes&) -> uint32_t {
    if (!r.state.disc) return Fail(plat::kErrNotReady, "virtual drive '" + std::string(name) + "' holds no disc");
    const Medium& m = *r.state.disc;
    uint32_t err = 0;
    // A regular file appears complete or not at all; a device or FIFO is
    // written in place, its holes as zeros.
    plat::OutputFile out;
    if (!out.Open(imagePath, &err)) return Fail(err, std::string("cannot create ") + imagePath);
    std::vector<uint8_t> block(2048);
    const auto zero = [&] { return std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }); };
    uint64_t blocks = 0;
    auto put = [&](uint64_t lba) -> uint32_t {
      if (!zero() && !out.WriteAt(lba * 2048, block.data(), block.size(), &err))
        return Fail(err, std::string("cannot write ") + imagePath);
      return 0;
    };
    if (m.IsCd()) {
      const DiscLayout layout(m);
      SectorReader reader(layout, disc);
      for (const TrackRef& t : layout.tracks()) {
        if (!t.track->data() || t.track->mode == TrackMode::Mode2Form2) continue;
        const uint32_t end = t.track->start + std::min(t.track->recorded, t.track->blocks);
        for (uint32_t lba = t.track->start; lba < end; ++lba) {
          SectorKind kind;
          if (reader.Kind(t, lba, &kind) != 0 || (kind != SectorKind::Mode1 && kind != SectorKind::Mode2Form1)) continue;
          if ((err = reader.UserBlock(lba, block.data())) != 0) return Fail(err, "cannot read the disc data");
          if ((err = put(lba)) != 0) return err;
        }
        blocks = std::max<uint64_t>(blocks, end);
      }
    } else {
      blocks = m.ReadableBlocks();
      if (m.RandomAccess()) {
        // What was ever written is the data; the rest of the format is empty.
        blocks = std::min<uint64_t>(blocks, (disc.StoredBytes() + 2047) / 2048);
        if ((err = disc.Read(16 * 2048, block.data(), 2048)) != 0) return Fail(err, "cannot read the disc data");
        // A volume begins at block 16: ECMA-119's "CD001", or ECMA-167's
        // recognition sequence ("BEA01") in front of a UDF volume.
        if (std::memcmp(block.data() + 1, "CD001", 5) != 0 && std::memcmp(block.data() + 1, "BEA01", 5) != 0)
          blocks = 0;
      }
      // Block by block as READ(10) gives them: generated tracks make theirs.
      const DiscLayout layout(m);
      SectorReader reader(layout, disc);
      for (uint64_t lba = 0; lba < blocks; ++lba) {
        if ((err = reader.UserBlock(static_cast<int64_t>(lba), block.data())) != 0)
          return Fail(err, "cannot read the disc data");
        if ((err = put(lba)) != 0) return err;
      }
    }
    if (blocks == 0) return Fail(plat::kErrInvalidData, "the disc holds no data track");
    if (!out.Commit(blocks * 2048, &err)) return Fail(err, std::string("cannot write ") + imagePath);
    return 0;
  });
}

uint32_t QvDrive_ExportTrack(const char* name, uint32_t trackNumber, const char* path) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  if (path == nullptr || *path == 0) return Fail(plat::kErrInvalidParameter, "no file named");
  return DriveStore::Get(name)->Transact([&](DriveRecord& r, DiscData& disc, Changes&) -> uint32_t {
    if (!r.state.disc) return Fail(plat::kErrNotReady, "virtual drive '" + std::string(name) + "' holds no disc");
    const Medium& m = *r.state.disc;
    const DiscLayout layout(m);
    const TrackRef* ref = trackNumber >= 1 && trackNumber <= 99 ? layout.Track(static_cast<uint8_t>(trackNumber)) : nullptr;
    if (ref == nullptr)
      return Fail(plat::kErrFileNotFound, "the disc in '" + std::string(name) + "' has no track " +
                                              std::to_string(trackNumber));
    const Track& t = *ref->track;
    const bool audio = m.IsCd() && t.mode == TrackMode::Audio;
    if (m.IsCd() && !audio && t.mode != TrackMode::Mode1 && t.mode != TrackMode::Mode2Form1)
      return Fail(plat::kErrNotSupported, "track " + std::to_string(trackNumber) + " holds " +
                                              TrackModeName(t.mode) + " sectors, which have no 2048-byte user data");
    const uint32_t blocks = std::min(t.recorded, t.blocks);
    const uint32_t sectorBytes = audio ? 2352 : kBlockSize;
    uint32_t err = 0;
    plat::File out = plat::File::Open(path, plat::FileMode::CreateAlways, &err);
    if (!out.IsOpen()) return Fail(err, std::string("cannot create ") + path);
    uint64_t at = 0;
    if (audio) {
      // RIFF WAVE, PCM: 2 channels, 44100 samples a second, 16 bits, which
      // is what a CD-DA sector holds, 588 stereo samples little-endian.
      const uint32_t data = blocks * sectorBytes;
      uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
      PutLe32(h + 4, 36 + data);
      PutLe32(h + 24, 44100);
      PutLe32(h + 28, 44100 * 4);
      h[32] = 4;
      h[34] = 16;
      std::memcpy(h + 36, "data", 4);
      PutLe32(h + 40, data);
      if (!out.Write(h, sizeof h, &err)) return Fail(err, std::string("cannot write ") + path);
      at = sizeof h;
    }
    SectorReader reader(layout, disc);
    std::vector<uint8_t> sector(2352);
    for (uint32_t i = 0; i < blocks; ++i) {
      const int64_t lba = int64_t{t.start} + i;
      if (audio) err = reader.Raw(*ref, lba, sector.data());
      else err = reader.UserBlock(lba, sector.data());
      if (err != 0) return Fail(err, "cannot read the disc data");
      if (!out.WriteAt(at + uint64_t{i} * sectorBytes, sector.data(), sectorBytes, &err))
        return Fail(err, std::string("cannot write ") + path);
    }
    return 0;
  });
}

uint32_t QvDrive_ExportRaw(const char* name, const char* binPath, const char* cuePath) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  if (binPath == nullptr || *binPath == 0 || cuePath == nullptr || *cuePath == 0)
    return Fail(plat::kErrInvalidParameter, "no image or cue sheet named");
  return DriveStore::Get(name)->Transact([&](DriveRecord& r, DiscData& disc, Changes&) -> uint32_t {
    if (!r.state.disc) return Fail(plat::kErrNotReady, "virtual drive '" + std::string(name) + "' holds no disc");
    const Medium& m = *r.state.disc;
    const DiscLayout layout(m);
    if (!m.IsCd() || layout.tracks().empty())
      return Fail(plat::kErrNotSupported, "the disc in '" + std::string(name) + "' is no recorded CD");
    if (m.sessions.size() > 1)
      return Fail(plat::kErrNotSupported, "a cue sheet cannot hold the " + std::to_string(m.sessions.size()) +
                                              " sessions of the disc in '" + name + "'");
    std::string base = binPath;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    // The CD-Text the drive read from the lead-in: as text in the sheet and,
    // whole, as a CDTEXTFILE beside it (the READ TOC format 5 answer).
    const CdTextStrings text = DecodeCdText(m.cdText);
    const auto textLines = [&](uint8_t track, const char* indent) {
      std::string lines;
      for (const auto& [type, keyword] : {std::pair<uint8_t, const char*>{0x80, "TITLE"}, {0x81, "PERFORMER"}, {0x82, "SONGWRITER"}}) {
        const auto byType = text.find(type);
        if (byType == text.end()) continue;
        const auto s = byType->second.find(track);
        // A cue sheet cannot quote a quote; the CDTEXTFILE keeps such a string.
        if (s == byType->second.end() || s->second.empty() || s->second.find('"') != std::string::npos) continue;
        lines += std::string(indent) + keyword + " \"" + s->second + "\"\r\n";
      }
      return lines;
    };
    std::string cue = m.mcn.empty() ? "" : "CATALOG " + m.mcn + "\r\n";
    std::string cdtPath;
    if (!m.cdText.empty()) {
      cdtPath = cuePath;
      const size_t dot = cdtPath.find_last_of('.');
      const size_t cueSlash = cdtPath.find_last_of("/\\");
      if (dot != std::string::npos && (cueSlash == std::string::npos || dot > cueSlash)) cdtPath.resize(dot);
      cdtPath += ".cdt";
      const size_t cdtSlash = cdtPath.find_last_of("/\\");
      cue += "CDTEXTFILE \"" + (cdtSlash == std::string::npos ? cdtPath : cdtPath.substr(cdtSlash + 1)) + "\"\r\n";
      cue += textLines(0, "");
    }
    cue += "FILE \"" + base + "\" BINARY\r\n";
    auto msf = [](int64_t lba) {
      char text[16];
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(lba / 4500), static_cast<int>(lba / 75 % 60),
                    static_cast<int>(lba % 75));
      return std::string(text);
    };
    for (const TrackRef& t : layout.tracks()) {
      const Track& track = *t.track;
      const char* type = track.mode == TrackMode::Audio ? "AUDIO" : track.mode == TrackMode::Mode1 ? "MODE1/2352" : "MODE2/2352";
      char head[32];
      std::snprintf(head, sizeof head, "  TRACK %02u %s\r\n", static_cast<unsigned>(t.number), type);
      cue += head;
      cue += textLines(t.number, "    ");
      if (track.copy || track.preemphasis)
        cue += std::string("    FLAGS") + (track.copy ? " DCP" : "") + (track.preemphasis ? " PRE" : "") + "\r\n";
      if (!track.isrc.empty()) cue += "    ISRC " + track.isrc + "\r\n";
      // The bin begins at block 0: a pause before it is not in the file.
      const int64_t unstored = std::max<int64_t>(0, -track.areaStart());
      if (t.number == 1 && unstored > 0 && unstored != kCdPauseBlocks) cue += "    PREGAP " + msf(unstored) + "\r\n";
      if (track.areaStart() < int64_t{track.start} && track.start > 0) cue += "    INDEX 00 " + msf(std::max<int64_t>(track.areaStart(), 0)) + "\r\n";
      cue += "    INDEX 01 " + msf(track.start) + "\r\n";
      for (size_t k = 0; k < track.indexes.size(); ++k) {
        char line[40];
        std::snprintf(line, sizeof line, "    INDEX %02u ", static_cast<unsigned>(k + 2));
        cue += line + msf(int64_t{track.start} + track.indexes[k]) + "\r\n";
      }
    }
    const TrackRef& last = layout.tracks().back();
    const int64_t end = int64_t{last.track->start} + std::min(last.track->recorded, last.track->blocks);
    uint32_t err = 0;
    plat::OutputFile out, sheet;
    if (!out.Open(binPath, &err)) return Fail(err, std::string("cannot create ") + binPath);
    SectorReader reader(layout, disc);
    std::vector<uint8_t> sector(2352);
    for (int64_t lba = 0; lba < end; ++lba) {
      std::fill(sector.begin(), sector.end(), 0);
      if (const TrackRef* ref = reader.Find(lba)) {
        if ((err = reader.Raw(*ref, lba, sector.data())) != 0) return Fail(err, "cannot read the disc data");
      }
      if (!out.WriteAt(static_cast<uint64_t>(lba) * 2352, sector.data(), sector.size(), &err))
        return Fail(err, std::string("cannot write ") + binPath);
    }
    if (!sheet.Open(cuePath, &err) || !sheet.WriteAt(0, cue.data(), cue.size(), &err))
      return Fail(err, std::string("cannot write ") + cuePath);
    plat::OutputFile cdt;
    if (!cdtPath.empty()) {
      const std::vector<uint8_t>& packs = m.cdText;
      if (!cdt.Open(cdtPath.c_str(), &err) || !cdt.WriteAt(0, packs.data(), packs.size(), &err))
        return Fail(err, "cannot write " + cdtPath);
    }
    if (!out.Commit(&err)) return Fail(err, std::string("cannot write ") + binPath);
    if (!cdtPath.empty() && !cdt.Commit(&err)) return Fail(err, "cannot write " + cdtPath);
    if (!sheet.Commit(&err)) return Fail(err, std::string("cannot write ") + cuePath);
    return 0;
  });
}

uint32_t QvDrive_Describe(const char* name, char* text, uint32_t size, uint32_t* needed) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  json j;
  const uint32_t err = DriveStore::Get(name)->Transact([&](DriveRecord& r, DiscData&, Changes&) -> uint32_t {
    DriveState s = r.state;  // as it is now; the next command saves that
    s.Settle(r.model, plat::NowMs());
    j = {{"name", name},
         {"deviceName", r.model.deviceName},
         {"model", ModelToJson(r.model)},
         {"tray", s.tray == Tray::Open ? "open" : "closed"},
         {"locked", s.Locked()},
         {"vanished", s.vanished},
         {"ready", s.PeekReady(r.model) == Readiness::Ready},
         {"disc", s.disc ? MediumToJson(*s.disc) : json(nullptr)},
         {"faults", r.faults.rules.size()}};
    return 0;
  });
  if (err != 0) return err;
  return CopyOut(j.dump(), text, size, needed);
}

uint32_t QvDrive_SetFaults(const char* name, const char* text) {
  SetErrorText("");
  if (uint32_t err = CheckName(name)) return err;
  FaultSet faults;
  if (text != nullptr && *text != '\0') {
    try {
      faults = FaultsFromJson(json::parse(text));
    } catch (const std::exception& e) {
      return Fail(plat::kErrInvalidParameter, std::string("bad fault rules: ") + e.what());
    }
  }
  return DriveStore::Get(name)->Transact([&](DriveRecord& r, DiscData&, Changes& changes) -> uint32_t {
    r.faults = faults;
    changes.faults = true;
    return 0;
  });
}

uint32_t QvDrive_LastErrorText(char* text, uint32_t size) { return CopyOut(ErrorText(), text, size, nullptr); }

}  // extern "C"

namespace qv::vdrive {

uint32_t AddFault(const std::string& driveName, const FaultRule& rule) {
  return DriveStore::Get(driveName)->Transact([&](DriveRecord& r, DiscData&, Changes& changes) -> uint32_t {
    r.faults.rules.push_back(rule);
    changes.faults = true;
    return 0;
  });
}

uint32_t ClearFaults(const std::string& driveName) { return QvDrive_SetFaults(driveName.c_str(), nullptr); }

uint32_t Reattach(const std::string& driveName) {
  return DriveStore::Get(driveName)->Transact([&](DriveRecord& r, DiscData&, Changes& changes) -> uint32_t {
    r.state.vanished = false;
    changes.state = true;
    return 0;
  });
}

}  // namespace qv::vdrive
