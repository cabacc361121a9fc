// Raw disc-at-once from the command line. Everything that can be checked
// is checked before the drive is opened: the texts, the description and
// the image it names; the engine refuses a layout larger than the disc
// before it writes.
#include "burn_raw.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "drive_job.h"
#include "recording.h"

namespace qvcli {
namespace {

constexpr size_t kMaxTextBytes = 160;  // what the engine keeps of one string
constexpr size_t kMaxPacks = 256;      // sequence numbers of one block

// UTF-8 to ISO 8859-1, the character code of the one block written;
// false for a character it does not have.
bool ToLatin1(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < in.size() && (static_cast<unsigned char>(in[i + 1]) & 0xC0) == 0x80) {
      out->push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(in[++i]) & 0x3F)));
    } else {
      return false;
    }
  }
  return true;
}

// "N=TEXT" for track N of count.
bool TrackText(const std::string& arg, size_t count, size_t* track, std::string* text) {
  const size_t eq = arg.find('=');
  char* end = nullptr;
  const unsigned long n = eq == std::string::npos ? 0 : std::strtoul(arg.c_str(), &end, 10);
  if (eq == std::string::npos || end != arg.c_str() + eq || n < 1 || n > count) return false;
  *track = n;
  *text = arg.substr(eq + 1);
  return true;
}

}  // namespace

bool CdTextOptions::Any() const {
  return fromTags || !title.empty() || !performer.empty() || !trackTitles.empty() || !trackPerformers.empty();
}

int CollectCdText(const CdTextOptions& o, const std::vector<std::string>& files,
                  std::vector<std::array<std::string, 2>>* texts) {
  texts->assign(files.size() + 1, {});
  if (!o.Any()) return texts->clear(), kExitOk;
  for (size_t i = 0; o.fromTags && i < files.size(); ++i) {
    if (files[i].empty()) continue;
    char title[512] = {}, performer[512] = {};
    if (Quorvane_ReadAudioTags(files[i].c_str(), title, sizeof title, performer, sizeof performer) != 0)
      return Report("burn", {kExitNotFound, files[i] + " cannot be read for its tags; nothing was written", ""});
    // A tag with characters CD-Text cannot hold is left out, not mangled.
    std::string latin;
    if (ToLatin1(title, &latin)) (*texts)[i + 1][0] = title;
    if (ToLatin1(performer, &latin)) (*texts)[i + 1][1] = performer;
  }
  if (!o.title.empty()) (*texts)[0][0] = o.title;
  if (!o.performer.empty()) (*texts)[0][1] = o.performer;
  for (int field = 0; field < 2; ++field) {
    for (const std::string& arg : field == 0 ? o.trackTitles : o.trackPerformers) {
      size_t n = 0;
      std::string text;
      if (!TrackText(arg, files.size(), &n, &text))
        return Report("burn", {kExitUsage, std::string(field == 0 ? "--track-title" : "--track-performer") + " '" + arg +
                                               "' does not name a track from 1 to " + std::to_string(files.size()) +
                                               " as N=TEXT",
                               ""});
      (*texts)[n][field] = text;
    }
  }
  // Every text must be one the disc can carry as it is; the packs of all
  // of them, 12 bytes and a NUL-started pack each, must fit one block.
  size_t packs = 3;
  for (size_t n = 0; n < texts->size(); ++n) {
    for (std::string& text : (*texts)[n]) {
      std::string latin;
      if (!ToLatin1(text, &latin) || latin.size() > kMaxTextBytes || latin.find('\0') != std::string::npos)
        return Report("burn", {kExitUsage,
                               "the CD-Text '" + text + "' is longer than " + std::to_string(kMaxTextBytes) +
                                   " characters or has characters outside ISO 8859-1; nothing was written",
                               ""});
      text = latin;
      packs += latin.size() / 12 + 1;
    }
  }
  if (packs > kMaxPacks)
    return Report("burn", {kExitUsage, "the CD-Text needs " + std::to_string(packs) + " packs, more than the " +
                                           std::to_string(kMaxPacks) + " a disc holds; nothing was written",
                           ""});
  return kExitOk;
}

int KeepCdText(DriveJob& job, const std::vector<std::array<std::string, 2>>& texts) {
  CallStatus s;
  for (size_t n = 0; n < texts.size(); ++n) {
    const auto& [title, performer] = texts[n];
    if (title.empty() && performer.empty()) continue;
    s.number = Quorvane_CdvdBurnerGrabber_AddCDTextForTrack(job.handle(), static_cast<QV_LONG>(n), title.c_str(),
                                                            performer.c_str(), s.text, sizeof s.text, &s.systemError);
    if (s.number != 0) return job.Fail("keeping the CD-Text", s);
  }
  return kExitOk;
}

int BurnRawAudio(const GlobalOptions& global, const RawAudioBurn& o) {
  DriveJob job("burn");
  DiscState before;
  if (int rc = OpenForBurn(job, o.drive, global.json, o.eject, o.speed, &before)) return rc;
  QV_HANDLE h = job.handle();
  // The layout's blocks from LBA 0: each file's frames and the pauses
  // after the first; the engine adds what its rules add and checks again.
  Recording recording{0, o.test, false, false};
  for (size_t i = 0; i < o.files.size(); ++i) {
    QV_ULONG bytes = 0, error = 0;
    Quorvane_GetAudioFileStreamSizeInUCHARs(o.files[i].c_str(), &bytes, &error);
    const QUORVANE_SAO_TRACK& t = o.tracks[i];
    recording.bytes += ((uint64_t{bytes} + 2351) / 2352 + (i == 0 ? 0 : t.m__LONG__PregapBlocks + t.m__LONG__PregapExtraBlocks)) * 2048;
  }
  if (int rc = CheckRecording(job, before, recording)) return rc;
  if (int rc = KeepCdText(job, o.texts)) return rc;
  CallStatus s;
  s.number = Quorvane_CdvdBurnerGrabber_DiscAtOnceRaw(h, QV_CALL_STATUS(s), o.tracks.data(),
                                                      static_cast<QV_LONG>(o.tracks.size()),
                                                      o.catalog.empty() ? nullptr : o.catalog.c_str(), 1,
                                                      o.test ? 1 : 0, 1, 1);
  const std::string what = std::to_string(o.files.size()) + " audio track" + (o.files.size() == 1 ? "" : "s");
  if (int rc = EndBurn(job, before, s, what, o.test, o.eject); rc >= 0) return rc;
  if (global.json)
    PrintJson({{"drive", job.shown()},
               {"paths", o.files},
               {"audio", true},
               {"raw", true},
               {"cdText", !o.texts.empty()},
               {"test", o.test}});
  else
    std::printf("%s %s raw on %s%s\n", o.test ? "Test-burned" : "Burned", what.c_str(), job.shown().c_str(),
                o.texts.empty() ? "" : " with CD-Text");
  return kExitOk;
}

int BurnMds(const GlobalOptions& global, const MdsBurn& o) {
  if (int rc = CheckSource("burn", o.mds, false)) return rc;
  // The description and every image file it names are read before the
  // drive is opened; its size goes to the one capacity check.
  QV_ULONG dvd = 0, blocks = 0;
  if (const QV_ULONG status = Quorvane_MDSGetDiscSize(o.mds.c_str(), &dvd, &blocks); status != 0)
    return Report("burn", {status == 123 ? kExitUsage : kExitUnsupported,
                           o.mds + (status == 123 ? " names an image file outside its own folder"
                                                  : " is not a description whose image files are all there") +
                               "; nothing was written",
                           "status " + std::to_string(status)});
  DriveJob job("burn");
  DiscState before;
  if (int rc = OpenForBurn(job, o.drive, global.json, o.eject, o.speed, &before)) return rc;
  // A DVD comes back as long as it was grabbed: no padding to the size
  // some players want.
  Quorvane_SetPadding(0);
  Recording recording{uint64_t{blocks} * 2048, o.test, false, true};
  if (int rc = CheckRecording(job, before, recording)) return rc;
  CallStatus s;
  s.number = Quorvane_CdvdBurnerGrabber_DiscAtOnceFromMDS(job.handle(), QV_CALL_STATUS(s), o.mds.c_str(),
                                                          o.test ? 1 : 0, 1, 1);
  if (int rc = EndBurn(job, before, s, o.mds, o.test, o.eject); rc >= 0) return rc;
  if (global.json)
    PrintJson({{"drive", job.shown()}, {"mds", o.mds}, {"raw", dvd == 0}, {"dvd", dvd != 0}, {"test", o.test}});
  else
    std::printf("%s %s on %s\n", o.test ? "Test-burned" : "Burned", o.mds.c_str(), job.shown().c_str());
  return kExitOk;
}

}  // namespace qvcli
