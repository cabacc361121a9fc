// quorvane info: one drive and the disc in it - identity, capabilities,
// write and read modes, speeds, disc type and status, sessions and
// tracks, ATIP and free space.
#include <algorithm>
#include <cstdio>
#include <vector>
#include <cstring>
#include <memory>
#include <string>

#include "common.h"

namespace qvcli {
namespace {

const char* DiscStatusName(uint8_t status) {
  switch (status) {
    case 0: return "blank";
    case 1: return "appendable";
    case 2: return "complete";
    default: return "unknown";
  }
}

const char* SessionStateName(uint8_t state) {
  switch (state) {
    case 0: return "empty";
    case 1: return "incomplete";
    case 2: return "reserved";
    default: return "complete";
  }
}

std::string Msf(uint8_t m, uint8_t s, uint8_t f) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", m, s, f);
  return text;
}

// An engine failure in one line: its text and, for a drive's refusal, the sense.
std::string FailureText(const CallStatus& s) {
  std::string text = s.text;
  if (s.number == EN_CDB_CALL_FAILED && s.failure.m__UCHAR__IsValid) {
    char sense[48];
    std::snprintf(sense, sizeof sense, " (command %02Xh, sense %X/%02X/%02X)", s.failure.m__UCHAR__CDB[0],
                  s.failure.m__UCHAR__Sense[2] & 0x0F, s.failure.m__UCHAR__Sense[12], s.failure.m__UCHAR__Sense[13]);
    text += sense;
  }
  return text;
}

struct Capabilities {
  QV_BOOLEAN f[10] = {};
  QV_BOOLEAN plus[6] = {};
};

nlohmann::json Flags(const char* const* names, const QV_BOOLEAN* values, size_t n) {
  nlohmann::json j = nlohmann::json::object();
  for (size_t i = 0; i < n; ++i) j[names[i]] = values[i] != 0;
  return j;
}

std::string Listed(const nlohmann::json& flags, const char* const* labels, const char* const* names, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i)
    if (flags.value(names[i], false)) s += (s.empty() ? "" : " ") + std::string(labels[i]);
  return s.empty() ? "none" : s;
}

// The disc's and tracks' titles, performers and songwriters of the READ
// TOC format 5 answer, decoded by the engine; null when it holds none.
nlohmann::json DecodeCdText(const uint8_t* answer, size_t size) {
  const size_t length = size >= 4 ? std::min<size_t>(size, 2 + (size_t{answer[0]} << 8 | answer[1])) : 0;
  PQUORVANE_CD_TEXT text = nullptr;
  if (length < 4 || Quorvane_CdTextParse(answer, static_cast<QV_ULONG>(length), &text, nullptr, 0) != 0)
    return nullptr;
  nlohmann::json j = nullptr;
  QV_ULONG count = 0;
  QUORVANE_CUE_TEXT entry{};
  for (QV_ULONG n = 0; Quorvane_CdTextGet(text, n, &count, &entry) == 0; ++n) {
    nlohmann::json texts = {{"title", entry.title}, {"performer", entry.performer}, {"songwriter", entry.songwriter}};
    if (n == 0) {
      j = texts;
      j["tracks"] = nlohmann::json::array();
    } else {
      texts["number"] = n;
      j["tracks"].push_back(texts);
    }
  }
  Quorvane_CdTextDestroy(&text);
  return j;
}

// The ATIP of a recordable CD, from the raw READ TOC format 4 answer; null
// when the answer is too short to hold one.
nlohmann::json DecodeAtip(const uint8_t* b, size_t size) {
  if (size < 4) return nullptr;
  const size_t length = std::min<size_t>(size, 2u + (size_t{b[0]} << 8 | b[1]));
  if (length < 15) return nullptr;
  const int leadOut = (b[12] * 60 + b[13]) * 75 + b[14] - 150;
  return {{"leadInStart", Msf(b[8], b[9], b[10])},
          {"lastLeadOutStart", Msf(b[12], b[13], b[14])},
          {"capacityBlocks", leadOut},
          {"rewritable", (b[6] & 0x40) != 0},
          {"discSubType", (b[6] >> 3) & 0x07},
          {"referenceSpeed", b[4] & 0x07},
          {"unrestrictedUse", (b[5] & 0x40) != 0}};
}

int Run(const GlobalOptions& global, const std::string& drive) {
  EngineSession engine;
  if (engine.status() != 0) return Report("start-up", FromEngine(engine.status(), nullptr, 0));
  DriveTarget target;
  QV_HANDLE h = nullptr;
  if (int rc = OpenDrive(drive, false, nullptr, nullptr, &h, &target)) return rc;
  const std::string& shown = target.shown;
  const std::string& deviceName = target.device;
  std::unique_ptr<void, void (*)(void*)> owner(h, [](void* p) { Quorvane_CdvdBurnerGrabber_Destroy(&p); });
  CallStatus s;

  // ---- The drive ----
  char vendor[9] = {}, product[17] = {}, revision[5] = {};
  QV_ULONG bufferSize = 0;
  s.number = Quorvane_CdvdBurnerGrabber_GetDeviceInformation(h, QV_CALL_STATUS(s), vendor, product, revision, &bufferSize);
  if (s.number != 0) return Report("reading the identity of " + shown, FromEngine(s, About::Drive));
  Capabilities c;
  Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats(h, QV_CALL_STATUS(s), &c.f[0], &c.f[1], &c.f[2], &c.f[3], &c.f[4],
                                                      &c.f[5], &c.f[6], &c.f[7], &c.f[8], &c.f[9]);
  Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(h, QV_CALL_STATUS(s), &c.plus[0], &c.plus[1], &c.plus[2],
                                                          &c.plus[3], &c.plus[4], &c.plus[5]);
  static const char* const kMedia[] = {"cdr", "cdrw", "dvdrom", "dvdr", "dvdram", "dvdplusrw", "dvdplusr", "dvdplusrdl"};
  static const char* const kMediaLabels[] = {"CD-R", "CD-RW", "DVD-ROM", "DVD-R", "DVD-RAM", "DVD+RW", "DVD+R", "DVD+R DL"};
  const QV_BOOLEAN reads[8] = {c.f[0], c.f[1], c.f[2], c.f[3], c.f[4], c.plus[0], c.plus[1], c.plus[2]};
  const QV_BOOLEAN writes[8] = {c.f[6], c.f[7], 0, c.f[8], c.f[9], c.plus[3], c.plus[4], c.plus[5]};

  nlohmann::json d = {{"name", shown},
                      {"device", deviceName},
                      {"vendor", vendor},
                      {"product", product},
                      {"revision", revision},
                      {"bufferSize", bufferSize},
                      {"reads", Flags(kMedia, reads, 8)},
                      {"writes", Flags(kMedia, writes, 8)},
                      {"testWrite", c.f[5] != 0}};
  d["writes"].erase("dvdrom");

  QV_BOOLEAN w[4] = {};
  s.number = Quorvane_CdvdBurnerGrabber_ProbeSupportedWriteModes(h, QV_CALL_STATUS(s), &w[0], &w[1], &w[2], &w[3]);
  static const char* const kWriteModes[] = {"tao", "sao", "daoRawPQ", "daoRawPW"};
  static const char* const kWriteLabels[] = {"TAO", "SAO", "DAO raw+PQ", "DAO raw+P-W"};
  d["writeModes"] = s.number == 0 ? Flags(kWriteModes, w, 4) : nlohmann::json(nullptr);
  QV_BOOLEAN r[6] = {};
  s.number = Quorvane_CdvdBurnerGrabber_ProbeSupportedReadModes(h, QV_CALL_STATUS(s), &r[0], &r[1], &r[2], &r[3], &r[4], &r[5]);
  static const char* const kReadModes[] = {"cooked", "raw", "rawPQ", "rawPW", "pq", "pw"};
  static const char* const kReadLabels[] = {"cooked", "raw", "raw+PQ", "raw+P-W", "PQ", "P-W"};
  d["readModes"] = s.number == 0 ? Flags(kReadModes, r, 6) : nlohmann::json(nullptr);
  QV_ULONG speeds[4] = {};
  s.number = Quorvane_CdvdBurnerGrabber_GetSpeeds(h, QV_CALL_STATUS(s), &speeds[0], &speeds[1], &speeds[2], &speeds[3]);
  d["speeds"] = s.number == 0 ? nlohmann::json{{"currentRead", speeds[0]},
                                               {"maximumRead", speeds[1]},
                                               {"currentWrite", speeds[2]},
                                               {"maximumWrite", speeds[3]}}
                              : nlohmann::json(nullptr);
  QV_BOOLEAN bupEnabled = 0, bupSupported = 0;
  s.number = Quorvane_CdvdBurnerGrabber_GetBUP(h, QV_CALL_STATUS(s), &bupEnabled, &bupSupported);
  d["bufferUnderrunProtection"] = {{"supported", bupSupported != 0}, {"enabled", bupEnabled != 0}};

  // ---- The disc ----
  nlohmann::json disc = nullptr;
  const QV_ULONG type = Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(h);
  QUORVANE_DISC_INFORMATION info{};
  CallStatus discStatus;
  discStatus.number = Quorvane_CdvdBurnerGrabber_GetDiscInformation(h, QV_CALL_STATUS(discStatus), &info);
  const bool known = discStatus.number == 0;
  const bool empty = !known && discStatus.failure.m__UCHAR__IsValid && discStatus.failure.m__UCHAR__Sense[12] == 0x3A;
  if (!empty && (known || type != DISC_TYPE_UNKNOWN)) {
    disc = {{"type", type}, {"typeName", DiscTypeName(type)}};
    if (known) {
      disc.update({{"status", DiscStatusName(info.m__UCHAR__DiscStatus)},
                   {"lastSessionState", SessionStateName(info.m__UCHAR__StateOfLastSession)},
                   {"erasable", info.m__UCHAR__IsErasable != 0},
                   {"sessions", info.m__UCHAR__NumberOfSessions},
                   {"firstTrack", info.m__UCHAR__FirstTrackNumber},
                   {"lastTrack", info.m__UCHAR__LastTrackInLastSession}});
    } else {
      disc.update({{"status", nullptr}, {"error", FailureText(discStatus)}});
    }
    auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
    nlohmann::json tracks = nlohmann::json::array();
    if (!(known && info.m__UCHAR__DiscStatus == 0) &&
        Quorvane_CdvdBurnerGrabber_GetTOCInformation(h, QV_CALL_STATUS(s), toc.get()) == 0) {
      for (int i = 0; i < toc->m__UCHAR__NumberOfTracks && i < QUORVANE_TOC_MAXIMUM; ++i) {
        const QUORVANE_TOC_TRACK& t = toc->m__TRACK__Tracks[i];
        const int32_t start = t.m__LONG__StartAddress, end = t.m__LONG__EndAddress;
        tracks.push_back({{"number", t.m__UCHAR__TrackNumber},
                          {"session", t.m__UCHAR__SessionNumber},
                          {"type", t.m__UCHAR__IsAudio ? "audio" : "data"},
                          {"mode", t.m__UCHAR__TrackMode},
                          {"form", t.m__UCHAR__Form},
                          {"blockSize", static_cast<QV_ULONG>(t.m__ULONG__BlockSize)},
                          {"start", start},
                          {"end", end},
                          {"length", end >= start ? end - start + 1 : 0}});
      }
    }
    disc["tracks"] = tracks;
    uint8_t atip[256] = {};
    disc["atip"] = Quorvane_CdvdBurnerGrabber_ReadATIP(h, QV_CALL_STATUS(s), atip, sizeof atip) == 0
                       ? DecodeAtip(atip, sizeof atip)
                       : nlohmann::json(nullptr);
    std::vector<uint8_t> cdText(0xFFFF);
    disc["cdText"] = Quorvane_CdvdBurnerGrabber_ReadCDText(h, QV_CALL_STATUS(s), cdText.data(),
                                                           static_cast<QV_ULONG>(cdText.size())) == 0
                         ? DecodeCdText(cdText.data(), cdText.size())
                         : nlohmann::json(nullptr);
    QUORVANE_TRACK_INFORMATION last{};
    Quorvane_CdvdBurnerGrabber_GetTrackInformation(h, QV_CALL_STATUS(s), 0xFF, &last);
    if (last.m__UCHAR__IsValid && last.m__UCHAR__IsNWAValid && !(known && info.m__UCHAR__DiscStatus == 2)) {
      const QV_ULONG freeBlocks = last.m__ULONG__FreeBlocks;
      const QV_LONG nwa = last.m__LONG__NextWritableAddress;
      disc["free"] = {{"nextWritableAddress", nwa},
                      {"blocks", freeBlocks},
                      {"bytes", static_cast<uint64_t>(freeBlocks) * 2048u}};
    } else {
      disc["free"] = {{"nextWritableAddress", nullptr}, {"blocks", 0}, {"bytes", 0}};
    }
  }

  if (global.json) {
    PrintJson({{"drive", d}, {"disc", disc}});
    return kExitOk;
  }

  std::printf("Drive %s (%s): %s %s %s\n", shown.c_str(), deviceName.c_str(), vendor, product, revision);
  std::printf("  Buffer        %lu KB\n", static_cast<unsigned long>(bufferSize / 1024));
  std::printf("  Reads         %s\n", Listed(d["reads"], kMediaLabels, kMedia, 8).c_str());
  std::printf("  Writes        %s%s\n", Listed(d["writes"], kMediaLabels, kMedia, 8).c_str(),
              c.f[5] ? " (test write)" : "");
  std::printf("  Write modes   %s\n",
              d["writeModes"].is_null() ? "not probed" : Listed(d["writeModes"], kWriteLabels, kWriteModes, 4).c_str());
  std::printf("  Read modes    %s\n",
              d["readModes"].is_null() ? "not probed (no disc)" : Listed(d["readModes"], kReadLabels, kReadModes, 6).c_str());
  if (!d["speeds"].is_null())
    std::printf("  Speeds        read %lu of %lu KB/s, write %lu of %lu KB/s\n", static_cast<unsigned long>(speeds[0]),
                static_cast<unsigned long>(speeds[1]), static_cast<unsigned long>(speeds[2]),
                static_cast<unsigned long>(speeds[3]));
  std::printf("  Underrun      %s, %s\n", bupSupported ? "protection supported" : "no protection",
              bupEnabled ? "enabled" : "disabled");
  if (disc.is_null()) {
    std::printf("Disc: %s\n", empty ? "none" : ("not readable: " + FailureText(discStatus)).c_str());
    return kExitOk;
  }
  if (known) {
    std::printf("Disc: %s, %s%s\n", DiscTypeName(type), DiscStatusName(info.m__UCHAR__DiscStatus),
                info.m__UCHAR__IsErasable ? ", erasable" : "");
    std::printf("  Sessions      %u (last %s), tracks %u to %u\n", info.m__UCHAR__NumberOfSessions,
                SessionStateName(info.m__UCHAR__StateOfLastSession), info.m__UCHAR__FirstTrackNumber,
                info.m__UCHAR__LastTrackInLastSession);
  } else {
    std::printf("Disc: %s, status unknown (%s)\n", DiscTypeName(type), FailureText(discStatus).c_str());
  }
  if (!disc["tracks"].empty()) {
    std::printf("  %5s %7s  %-5s %4s %10s %10s %10s\n", "Track", "Session", "Type", "Mode", "Start", "End", "Blocks");
    for (const auto& t : disc["tracks"])
      std::printf("  %5d %7d  %-5s %4d %10d %10d %10d\n", t["number"].get<int>(), t["session"].get<int>(),
                  t["type"].get<std::string>().c_str(), t["mode"].get<int>(), t["start"].get<int>(),
                  t["end"].get<int>(), t["length"].get<int>());
  }
  if (!disc["atip"].is_null()) {
    const auto& a = disc["atip"];
    std::printf("  ATIP          lead-in %s, last lead-out %s (%d blocks), %s\n",
                a["leadInStart"].get<std::string>().c_str(), a["lastLeadOutStart"].get<std::string>().c_str(),
                a["capacityBlocks"].get<int>(), a["rewritable"].get<bool>() ? "rewritable" : "write-once");
  }
  if (!disc["cdText"].is_null()) {
    const auto& t = disc["cdText"];
    const auto written = [](const nlohmann::json& e) {
      const std::string songwriter = e["songwriter"].get<std::string>();
      return songwriter.empty() ? std::string() : ", written by \"" + songwriter + "\"";
    };
    std::printf("  CD-Text       \"%s\" by \"%s\"%s\n", t["title"].get<std::string>().c_str(),
                t["performer"].get<std::string>().c_str(), written(t).c_str());
    for (const auto& e : t["tracks"])
      std::printf("  %5d         \"%s\" by \"%s\"%s\n", e["number"].get<int>(), e["title"].get<std::string>().c_str(),
                  e["performer"].get<std::string>().c_str(), written(e).c_str());
  }
  const uint64_t freeBytes = disc["free"]["bytes"].get<uint64_t>();
  if (disc["free"]["nextWritableAddress"].is_null())
    std::printf("  Free          none\n");
  else
    std::printf("  Free          %llu blocks (%.1f MB) from LBA %d\n",
                static_cast<unsigned long long>(disc["free"]["blocks"].get<uint64_t>()), freeBytes / 1e6,
                disc["free"]["nextWritableAddress"].get<int>());
  return kExitOk;
}

RegisterCommand reg({"info", "Show a drive and the disc in it",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto drive = std::make_shared<std::string>();
                       app.add_option("--drive", *drive,
                                      "The drive: a virtual drive's name, or a device name (CdRom0, /dev/sr0); "
                                      "the default virtual drive when left out");
                       return [&global, drive] { return Run(global, *drive); };
                     }});

}  // namespace
}  // namespace qvcli
