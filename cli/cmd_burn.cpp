// quorvane burn: track-at-once recording onto the disc in a drive, with
// progress, closing the session afterwards. Folders and files are mastered
// into ISO9660/Joliet (UDF with --udf) while they are written, no image file
// made; --dvd-video masters a VIDEO_TS folder the same way; --image records
// a data image as it is; --audio one audio track per file, track-at-once,
// or with --sao the whole session at once with the gaps, indexes, ISRCs
// and catalogue number asked for, and CD-Text; --cue records a cue sheet
// of another tool session-at-once, or raw with --raw, with its CD-Text,
// which the CD-Text options override or extend.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "burn_raw.h"
#include "burn_video_cd.h"
#include "drive_job.h"
#include "master.h"
#include "recording.h"

namespace qvcli {
namespace {

struct Options {
  std::string drive;
  std::string image;
  std::string label = "CDROM";
  std::vector<std::string> paths;
  std::string dvdVideo;
  bool udf = false, bridge = false, patchIfo = false;
  bool audio = false;
  bool sao = false;
  bool raw = false;
  CdTextOptions cdText;
  std::string mds;
  double gap = 2.0;                   // seconds of pause before tracks 2, 3, ...
  std::vector<std::string> indexes;   // N=MM:SS:FF
  std::vector<std::string> isrcs;     // N=CODE
  std::string catalog;
  std::string cue;  // a cue sheet to record session-at-once
  bool vcd = false, svcd = false;
  std::string album;
  bool test = false;
  bool multisession = false;
  bool replace = false;
  std::vector<std::string> removes;
  bool eject = false;
  uint32_t speed = 0;
};

// An image is recorded as 2048-byte data blocks: a file of raw 2352-byte
// CD sectors, or an audio file, would go onto the disc as something else.
int CheckImage(const std::string& image) {
  std::ifstream in(image, std::ios::binary);
  char sync[12] = {};
  in.read(sync, sizeof sync);
  static const char kSync[12] = {0, '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', 0};
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(image, ec);
  if (!ec && in.gcount() == 12 && std::memcmp(sync, kSync, 12) == 0 && size % 2352 == 0) {
    return Report("burn", {kExitUnsupported, image + " holds raw 2352-byte CD sectors, not an image of 2048-byte "
                                                     "blocks; it cannot be burnt as it is", ""});
  }
  if (Sonvex_UncompressedFileSupportedIs(image.c_str()) == 0 || Sonvex_CompressedFileSupportedIs(image.c_str()) == 0) {
    return Report("burn", {kExitUsage, image + " is an audio file, not a disc image; burn it with --audio", ""});
  }
  return kExitOk;
}

// Told once the burn went through: an image of part blocks was completed
// with zeros.
void NotePadding(const std::string& image) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(image, ec);
  if (!ec && size % 2048 != 0)
    std::fprintf(stderr, "quorvane: burn: note: %s holds %ju bytes, not whole 2048-byte blocks; the track was padded "
                         "with %ju zero bytes\n", image.c_str(), size, 2048 - size % 2048);
}

// Every audio file is one the engine decodes, and decodes to its end: a
// damaged file is found before a write-once disc is spent on it.
int CheckAudio(const std::vector<std::string>& files) {
  std::vector<uint8_t> buffer(1 << 20);
  for (const std::string& file : files) {
    if (Quorvane_IsAudioFileSupported(file.c_str()) != 0) {
      return Report("burn", {kExitUnsupported, file + " is not audio quorvane can burn (CD wave, Ogg Vorbis, FLAC, MP3)", ""});
    }
    // Raw CD audio (.bin) and wave files are read as they are.
    std::string extension = std::filesystem::path(file).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".bin" || Sonvex_UncompressedFileSupportedIs(file.c_str()) == 0) continue;
    PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
    QV_ULONG size = 0;
    uint32_t status = Sonvex_CompressedFileReaderObjectCreate(&reader, file.c_str());
    if (status == 0) status = Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &size);
    for (QV_ULONG done = 0; status == 0 && done < size; done += static_cast<QV_ULONG>(buffer.size())) {
      const auto part = static_cast<QV_ULONG>(std::min<uint64_t>(buffer.size(), size - done));
      status = Sonvex_CompressedFileReaderObjectRead(reader, buffer.data(), part);
    }
    if (reader != nullptr) Sonvex_CompressedFileReaderObjectDestroy(&reader);
    if (status != 0) {
      return Report("burn", {kExitUnsupported, file + " cannot be decoded; nothing was written",
                             "status " + std::to_string(status)});
    }
  }
  return kExitOk;
}

// A DVD-Video image of a VIDEO_TS folder, owned here.
class DvdVideo {
 public:
  ~DvdVideo() {
    if (image_ != nullptr) Quorvane_DVDVideo_Destroy(image_);
  }
  int Create(const Options& o, QV_HANDLE* tree) {
    if (const Outcome bad = CheckVideoTsFolder(o.dvdVideo); bad.exit != kExitOk) return Report("burn", bad);
    CallStatus s;
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    s.number = Quorvane_DVDVideo_Create(&image_, o.dvdVideo.c_str(), o.patchIfo ? 1 : 0, s.text, sizeof s.text,
                                        &s.systemError, o.label.c_str(), "", "QUORVANE", utc.tm_year + 1900,
                                        utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, 0);
    if (s.number == 0) s.number = Quorvane_DVDVideo_GetTreePointer(image_, tree);
    return s.number == 0 ? kExitOk : Report("building the DVD-Video image", FromEngine(s));
  }

 private:
  QV_HANDLE image_ = nullptr;
};

// A new session shows the files of the one before it: they are imported
// at their old places, and the new session's directories list them beside
// the new files.
bool Overwritable(const DiscState& d) {
  return d.type == DISC_TYPE_DVDPLUSRW || d.type == DISC_TYPE_DVDRAM || d.type == DISC_TYPE_DVDRW_RO;
}

int ImportLastSession(DriveJob& job, const DiscState& before, Mastering& master, const Options& o) {
  CallStatus s;
  QV_UCHAR last = 0;
  if (before.disc.m__UCHAR__DiscStatus != 0 || (Overwritable(before) && before.start() > 0)) {
    s.number = Quorvane_CdvdBurnerGrabber_GetLastTrack(job.handle(), QV_CALL_STATUS(s), &last);
    if (s.number != 0) return job.Fail("finding the disc's last track", s);
  }
  if (last != 0)
    if (int rc = master.ImportTrack(job.handle(), last)) return rc;
  for (const std::string& path : o.removes)
    if (int rc = master.Remove(path)) return rc;
  return kExitOk;
}

// "N=..." for track N of count; nullptr and a message when it is not.
const char* TrackOf(const std::string& arg, size_t count, size_t* track, std::string* error) {
  const size_t eq = arg.find('=');
  char* end = nullptr;
  const unsigned long n = eq == std::string::npos ? 0 : std::strtoul(arg.c_str(), &end, 10);
  if (eq == std::string::npos || end != arg.c_str() + eq || n < 1 || n > count) {
    *error = "'" + arg + "' does not name a track from 1 to " + std::to_string(count) + " as N=...";
    return nullptr;
  }
  *track = n - 1;
  return arg.c_str() + eq + 1;
}

// The session-at-once layout of the audio files, checked before the drive
// is touched.
int SaoLayout(const Options& o, std::vector<QUORVANE_SAO_TRACK>* tracks) {
  if (o.gap < 0 || o.gap > 600)
    return Report("burn", {kExitUsage, "--gap must be 0 to 600 seconds", ""});
  const auto gap = static_cast<QV_LONG>(o.gap * 75 + 0.5);
  tracks->assign(o.paths.size(), QUORVANE_SAO_TRACK{});
  for (size_t i = 0; i < o.paths.size(); ++i) {
    QUORVANE_SAO_TRACK& t = (*tracks)[i];
    t.m__PCHAR__FileName = o.paths[i].c_str();
    t.m__BOOLEAN__IsAudio = 1;
    t.m__LONG__PregapBlocks = i == 0 ? 150 : gap;  // a disc always begins with two seconds
  }
  std::string error;
  size_t n = 0;
  for (const std::string& arg : o.indexes) {
    const char* at = TrackOf(arg, tracks->size(), &n, &error);
    unsigned m = 0, sec = 0, f = 0;
    char tail = 0;
    if (at != nullptr && (std::sscanf(at, "%u:%u:%u%c", &m, &sec, &f, &tail) != 3 || sec > 59 || f > 74 || m > 99))
      error = "'" + arg + "' is not N=MM:SS:FF (frames 0-74)";
    QUORVANE_SAO_TRACK& t = (*tracks)[n];
    if (error.empty() && t.m__LONG__IndexCount >= 98) error = "track " + std::to_string(n + 1) + " has too many indexes";
    if (!error.empty()) return Report("burn", {kExitUsage, "--index " + error, ""});
    t.m__LONG__Indexes[t.m__LONG__IndexCount++] = static_cast<QV_LONG>((m * 60 + sec) * 75 + f);
  }
  for (const std::string& arg : o.isrcs) {
    const char* code = TrackOf(arg, tracks->size(), &n, &error);
    bool ok = code != nullptr && std::strlen(code) == 12;
    for (size_t k = 0; ok && k < 12; ++k)
      ok = k < 5 ? std::isdigit(static_cast<unsigned char>(code[k])) || std::isupper(static_cast<unsigned char>(code[k]))
                 : std::isdigit(static_cast<unsigned char>(code[k])) != 0;
    if (!ok)
      return Report("burn", {kExitUsage,
                             "--isrc " + (error.empty() ? "'" + arg + "' is not N=CCOOOYYNNNNN (5 letters or digits, 7 digits)" : error),
                             ""});
    std::memcpy((*tracks)[n].m__CHAR__Isrc, code, 12);
  }
  bool digits = o.catalog.empty() || o.catalog.size() == 13;
  for (char c : o.catalog) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (!digits) return Report("burn", {kExitUsage, "--catalog must be 13 digits", ""});
  return 0;
}

// A cue sheet is checked whole, its files opened, before the drive is:
// a sheet that cannot be recorded is refused naming its line. The CD-Text
// options override or extend the sheet's (the engine keeps theirs over the
// sheet's); *sheetText says whether the sheet has any of its own.
int CheckCueSheet(const Options& o, std::vector<std::array<std::string, 2>>* texts, bool* sheetText) {
  if (!o.paths.empty() || !o.image.empty() || o.audio || !o.dvdVideo.empty() || o.udf || o.multisession)
    return Report("burn", {kExitUsage, "--cue takes the sheet and nothing else to burn", ""});
  if (int rc = CheckSource("burn", o.cue, false)) return rc;
  char error[1024] = {};
  if ((o.raw ? Quorvane_CueSheetCheckRaw : Quorvane_CueSheetCheckSessionAtOnce)(o.cue.c_str(), error, sizeof error) != 0)
    return Report("burn", {kExitUnsupported, std::string(error) + "; nothing was written", ""});
  PQUORVANE_CUE_SHEET sheet = nullptr;
  if (Quorvane_CueSheetOpen(o.cue.c_str(), &sheet, error, sizeof error) != 0)
    return Report("burn", {kExitUnsupported, std::string(error) + "; nothing was written", ""});
  const auto any = [](const QUORVANE_CUE_TEXT& t) { return *t.title != 0 || *t.performer != 0 || *t.songwriter != 0; };
  QV_ULONG count = 0;
  QUORVANE_CUE_TEXT text{};
  Quorvane_CueSheetDiscGet(sheet, &count, nullptr, nullptr, &text);
  *sheetText = any(text);
  // Tags name a track only in a WAVE file of its own; a BINARY file has none.
  std::vector<std::string> tagFiles(count);
  bool data = false;
  for (QV_ULONG i = 0; i < count; ++i) {
    QUORVANE_CUE_TRACK t{};
    if (Quorvane_CueSheetTrackGet(sheet, i, &t) != 0) continue;
    *sheetText = *sheetText || any(t.text);
    data = data || std::strcmp(t.mode, "AUDIO") != 0;
    if (std::strcmp(t.fileType, "WAVE") == 0) tagFiles[i] = t.file;
  }
  Quorvane_CueSheetDestroy(&sheet);
  if (data && o.cdText.Any())
    return Report("burn", {kExitUnsupported,
                           "the sheet has data tracks; CD-Text goes only onto a disc of audio tracks; nothing was written",
                           ""});
  return CollectCdText(o.cdText, tagFiles, texts);
}

int Run(const GlobalOptions& global, const Options& o) {
  if (o.vcd || o.svcd) {
    if (o.paths.size() != 1 || !o.image.empty() || o.audio || !o.dvdVideo.empty() || o.udf || o.multisession ||
        !o.cue.empty())
      return Report("burn", {kExitUsage, "--vcd and --svcd take one MPEG file and nothing else to burn", ""});
    // The format fixes the tracks' pauses and codes.
    if (!o.indexes.empty() || !o.isrcs.empty() || !o.catalog.empty() || o.gap != 2.0)
      return Report("burn",
                    {kExitUsage, "--vcd and --svcd take --sao alone, without --gap, --index, --isrc or --catalog", ""});
    return BurnVideoCd(global, {o.svcd, o.sao, o.drive, o.paths.front(), o.album, o.test, o.eject, o.speed});
  }
  if (!o.mds.empty()) {
    if (!o.paths.empty() || !o.image.empty() || o.audio || !o.dvdVideo.empty() || o.multisession || !o.cue.empty())
      return Report("burn", {kExitUsage, "--mds takes one description and nothing else to burn", ""});
    return BurnMds(global, {o.drive, o.mds, o.test, o.eject, o.speed});
  }
  if (o.sao && !o.audio)
    return Report("burn", {kExitUsage, "--sao records audio tracks or a Video CD: give --audio FILE... or --vcd|--svcd FILE",
                           ""});
  const bool layout = o.gap != 2.0 || !o.indexes.empty() || !o.isrcs.empty() || !o.catalog.empty();
  if (layout && !o.sao && !o.raw)
    return Report("burn", {kExitUsage, "--gap, --index, --isrc and --catalog go with --audio --sao or --raw", ""});
  if (o.raw && o.cue.empty() && (!o.audio || o.sao || o.multisession))
    return Report("burn", {kExitUsage, "--raw records audio tracks disc-at-once: give --audio FILE... without --sao", ""});
  if (o.cdText.Any() && !o.audio && o.cue.empty())
    return Report("burn", {kExitUsage, "CD-Text goes with --audio --sao or --audio --raw; nothing was written", ""});
  if (o.cdText.Any() && o.audio && !o.sao && !o.raw)
    return Report("burn", {kExitUsage, "CD-Text is written with the whole disc at once: add --sao or --raw", ""});
  if (o.raw && o.cue.empty()) {
    for (const std::string& path : o.paths)
      if (int rc = CheckSource("burn", path, false)) return rc;
    if (int rc = CheckAudio(o.paths)) return rc;
    RawAudioBurn raw{o.drive, o.paths, {}, {}, o.catalog, o.test, o.eject, o.speed};
    if (int rc = SaoLayout(o, &raw.tracks)) return rc;
    if (int rc = CollectCdText(o.cdText, o.paths, &raw.texts)) return rc;
    return BurnRawAudio(global, raw);
  }
  // Texts the disc cannot carry are refused before the drive is opened.
  std::vector<std::array<std::string, 2>> texts;
  if (o.audio && o.sao)
    if (int rc = CollectCdText(o.cdText, o.paths, &texts)) return rc;
  const bool dvd = !o.dvdVideo.empty();
  bool sheetText = false;
  if (!o.cue.empty()) {
    if (int rc = CheckCueSheet(o, &texts, &sheetText)) return rc;
  } else if (dvd ? !o.image.empty() || !o.paths.empty() || o.audio || o.udf
          : o.audio ? (o.paths.empty() || !o.image.empty()) : o.image.empty() == o.paths.empty()) {
    return Report("burn", {kExitUsage,
                           "give folders and files to master, --image FILE, --audio FILE... or --dvd-video FOLDER, "
                           "one of them",
                           ""});
  }
  for (const std::string& path : o.paths)
    if (int rc = CheckSource("burn", path, true)) return rc;
  if (!o.image.empty())
    if (int rc = CheckSource("burn", o.image, false)) return rc;
  DriveJob job("burn");
  if (int rc = job.Open(o.drive, global.json, DiscUse::Write)) return rc;
  QV_HANDLE h = job.handle();
  Mastering master("burn");
  job.ReportChangesTo(&master);
  DvdVideo video;
  QV_HANDLE videoTree = nullptr;
  DiscState before;
  std::vector<QUORVANE_SAO_TRACK> saoTracks;
  if (int rc = ReadDiscState(job, &before)) return rc;
  if (dvd) {
    if (int rc = video.Create(o, &videoTree)) return rc;
  } else if (!o.image.empty()) {
    if (int rc = CheckImage(o.image)) return rc;
  } else if (o.audio) {
    if (int rc = CheckAudio(o.paths)) return rc;
    if (o.sao)
      if (int rc = SaoLayout(o, &saoTracks)) return rc;
  } else if (!o.cue.empty()) {
    // Checked whole before the drive was opened.
  } else {
    // Only ISO9660/Joliet sessions are imported: a UDF session after
    // another would hide the earlier files from every reader.
    if (o.udf && o.multisession && (Overwritable(before) ? before.start() > 0 : before.disc.m__UCHAR__DiscStatus != 0))
      return Report("burn", {kExitUnsupported,
                             "--udf cannot add a session to a disc that holds one: its files would not be carried "
                             "over; burn without --udf, or erase the disc first",
                             ""});
    if (int rc = o.udf ? master.CreateUdf(o.bridge) : master.Create(true)) return rc;
    if (o.multisession && !o.udf)
      if (int rc = ImportLastSession(job, before, master, o)) return rc;
    master.SetReplace(o.replace);
    if (int rc = master.Add(o.paths)) return rc;
    if (int rc = master.EnsureRoot()) return rc;
  }
  // A failed burn leaves the disc in the drive unless asked otherwise; the
  // job ejects it once the drive has its speed back. DVD padding only
  // costs time on the media this command writes.
  Quorvane_SetEjectAfterFail(0);
  job.EjectAfterFailure(o.eject);
  Quorvane_SetPadding(0);
  CallStatus s;
  if (o.speed != 0) {
    if (int rc = job.SetWriteSpeed(o.speed)) return rc;
  }
  const QV_BOOLEAN test = o.test ? 1 : 0, multi = o.multisession ? 1 : 0;
  std::string what = o.image;
  // A DVD-Video image, like an image file, is made for block 0.
  Recording recording{0, o.test, o.multisession, !o.image.empty() || dvd};
  if (dvd) {
    what = o.dvdVideo;
    QV_ULONG high = 0;
    recording.bytes = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(videoTree, &high);
    recording.bytes |= uint64_t{high} << 32;
    if (int rc = CheckRecording(job, before, recording)) return rc;
    s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(h, QV_CALL_STATUS(s), videoTree, 0, test, multi, 1, 1);
  } else if (!o.image.empty()) {
    std::error_code ec;
    recording.bytes = std::filesystem::file_size(o.image, ec);
    if (int rc = CheckRecording(job, before, recording)) return rc;
    s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFileEx(h, QV_CALL_STATUS(s), o.image.c_str(),
                                                                 QVX_TRACK_FROM_FILE_DATA, 0, test, multi, 1, 1);
  } else if (!o.cue.empty()) {
    if (int rc = CheckRecording(job, before, recording)) return rc;
    if (int rc = KeepCdText(job, texts)) return rc;
    s.number = (o.raw ? Quorvane_CdvdBurnerGrabber_DiscAtOnceFromCueSheet
                      : Quorvane_CdvdBurnerGrabber_SessionAtOnceFromCueSheet)(h, QV_CALL_STATUS(s), o.cue.c_str(),
                                                                              test, 1, 1);
    what = o.cue;
  } else if (o.audio && o.sao) {
    if (int rc = CheckRecording(job, before, recording)) return rc;
    if (int rc = KeepCdText(job, texts)) return rc;
    s.number = Quorvane_CdvdBurnerGrabber_SessionAtOnce(h, QV_CALL_STATUS(s), saoTracks.data(),
                                                        static_cast<QV_LONG>(saoTracks.size()),
                                                        o.catalog.empty() ? nullptr : o.catalog.c_str(), 0, test, multi, 1, 1);
    what = std::to_string(o.paths.size()) + " audio track" + (o.paths.size() == 1 ? "" : "s");
  } else if (o.audio) {
    if (int rc = CheckRecording(job, before, recording)) return rc;
    // One track after another in one session, which the close then ends;
    // a cancel between two tracks ends it too.
    for (size_t i = 0; i < o.paths.size() && s.number == 0 && !job.cancelled(); ++i) {
      what = o.paths[i];
      s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFileEx(h, QV_CALL_STATUS(s), o.paths[i].c_str(),
                                                                   QVX_TRACK_FROM_FILE_AUDIO, 0, test, multi, 1, 1);
    }
    if (s.number == 0) what = std::to_string(o.paths.size()) + " audio track" + (o.paths.size() == 1 ? "" : "s");
  } else {
    if (job.cancelled()) return job.Cancelled("nothing was written");
    // The new volume starts where it is written, so that its addresses
    // are right on a disc that holds one already.
    s.number = Quorvane_ISO9660JolietFileTree_BuildImage(master.tree(), s.text, sizeof s.text, &s.systemError,
                                                         static_cast<QV_LONG>(before.start()), 0, 0,
                                                         o.label.c_str(), "", "QUORVANE");
    if (s.number != 0) return master.Fail("building the image", s.number, s.text, s.systemError);
    if (job.cancelled()) return job.Cancelled("nothing was written");
    QV_ULONG high = 0;
    recording.bytes = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(master.tree(), &high);
    recording.bytes |= uint64_t{high} << 32;
    if (int rc = CheckRecording(job, before, recording)) return rc;
    what = o.paths.size() == 1 ? o.paths.front() : std::to_string(o.paths.size()) + " paths";
    s.number = Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(h, QV_CALL_STATUS(s), master.tree(), 0, test, multi,
                                                               1, 1);
  }
  if (int rc = EndBurn(job, before, s, what, o.test, o.eject); rc >= 0) return rc;
  if (!o.image.empty()) NotePadding(o.image);
  if (global.json)
    PrintJson({{"drive", job.shown()},
               {"image", o.image},
               {"paths", o.paths},
               {"audio", o.audio},
               {"sessionAtOnce", o.sao || !o.cue.empty()},
               {"cueSheet", o.cue},
               {"raw", o.raw},
               {"cdText", !texts.empty() || sheetText},
               {"label", o.image.empty() && !o.audio ? o.label : ""},
               {"udf", o.udf},
               {"dvdVideo", o.dvdVideo},
               {"test", o.test},
               {"multisession", o.multisession},
               {"renames", master.renames()},
               {"replaced", master.replaced()},
               {"removed", o.removes},
               {"changed", master.changed()}});
  else
    std::printf("%s %s on %s%s\n", o.test ? "Test-burned" : "Burned", what.c_str(), job.shown().c_str(),
                o.multisession ? " (disc left open for another session)" : "");
  return master.Finish(kExitOk);
}

RegisterCommand reg({"burn", "Record files, an image or audio tracks onto the disc in a drive",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<Options>();
                       app.add_option("--drive", o->drive, "Drive (default: the default virtual drive)");
                       app.add_option("--image", o->image, "A data image file (ISO) to record as it is");
                       app.add_flag("--audio", o->audio,
                                    "Burn each FILE (wave, FLAC, Ogg Vorbis, MP3) as an audio track and close the disc");
                       app.add_flag("--sao", o->sao,
                                    "With --audio: record the tracks in one session at once, with the gaps, indexes "
                                    "and codes below; with --vcd or --svcd: both tracks");
                       app.add_option("--gap", o->gap,
                                      "With --sao or --raw: seconds of pause before each track after the first (default 2; "
                                      "0 for gap-less)")
                           ;
                       app.add_option("--index", o->indexes,
                                      "With --sao or --raw: N=MM:SS:FF starts the next index of track N there, from its start")
                           
                           ->allow_extra_args(false);
                       app.add_option("--isrc", o->isrcs, "With --sao or --raw: N=CODE, the 12-character ISRC of track N")
                           
                           ->allow_extra_args(false);
                       app.add_option("--catalog", o->catalog, "With --sao or --raw: the disc's 13-digit catalogue number (UPC/EAN)")
                           ;
                       app.add_option("--cue", o->cue,
                                      "A cue sheet (BIN/CUE) to record session-at-once (raw with --raw), its gaps, "
                                      "indexes, ISRCs, catalogue number, flags and CD-Text as it gives them");
                       app.add_flag("--raw", o->raw,
                                    "With --audio or --cue: write the whole disc raw, disc-at-once, the engine making "
                                    "every sector's subchannel");
                       app.add_flag("--cd-text", o->cdText.fromTags,
                                    "With --audio --sao, --raw or --cue: CD-Text titles and performers from the files' tags");
                       app.add_option("--title", o->cdText.title, "With --audio --sao, --raw or --cue: the disc's CD-Text title");
                       app.add_option("--performer", o->cdText.performer,
                                      "With --audio --sao, --raw or --cue: the disc's CD-Text performer");
                       app.add_option("--track-title", o->cdText.trackTitles,
                                      "With --audio --sao, --raw or --cue: N=TEXT, the CD-Text title of track N")
                           ->allow_extra_args(false);
                       app.add_option("--track-performer", o->cdText.trackPerformers,
                                      "With --audio --sao, --raw or --cue: N=TEXT, the CD-Text performer of track N")
                           ->allow_extra_args(false);
                       app.add_option("--mds", o->mds,
                                      "A CD grabbed with grab --disc --raw (NAME.mds): burn it back raw with its "
                                      "subchannel");
                       app.add_flag("--test", o->test, "Simulate: the laser stays off where the disc allows");
                       auto* multi = app.add_flag("--multisession", o->multisession,
                                                  "Leave the disc open for another session; on a disc with sessions, "
                                                  "the new one also shows the files of the last");
                       app.add_flag("--replace", o->replace,
                                    "With --multisession: new files replace the earlier session's of the same name")
                           ->needs(multi);
                       app.add_option("--remove", o->removes,
                                      "With --multisession: leave PATH of the earlier session out of the new one")
                           ->needs(multi)
                           ->allow_extra_args(false);
                       app.add_option("--speed", o->speed, "Write speed in kB/s (default: the fastest)");
                       app.add_flag("--eject", o->eject, "Eject the disc afterwards, and after a failure");
                       app.add_option("--label", o->label, "Volume label of the mastered disc");
                       app.add_option("PATH", o->paths, "Folders and files to master (audio files with --audio)");
                       auto* udf = app.add_flag("--udf", o->udf, "Master UDF 1.02 instead of ISO9660/Joliet");
                       app.add_flag("--bridge", o->bridge, "With --udf: an ISO9660 hierarchy beside UDF")->needs(udf);
                       auto* dvd = app.add_option("--dvd-video", o->dvdVideo, "A VIDEO_TS folder to burn as DVD-Video")
                                       ->check(CLI::ExistingDirectory);
                       app.add_flag("--patch-ifo", o->patchIfo, "With --dvd-video: rewrite the IFO sector addresses")
                           ->needs(dvd);
                       auto* vcd = app.add_flag("--vcd", o->vcd, "Burn one MPEG-1 FILE as a Video CD");
                       auto* svcd = app.add_flag("--svcd", o->svcd, "Burn one MPEG-2 FILE as a Super Video CD");
                       vcd->excludes(svcd);
                       app.add_option("--album", o->album,
                                      "With --vcd or --svcd: the album's name, at most 16 characters (default "
                                      "VIDEOCD or SUPERVCD)")
                           ->check(CLI::Validator(
                               [](std::string& a) { return a.size() > 16 ? std::string("at most 16 characters") : ""; },
                               "TEXT"));
                       return [&global, o] { return Run(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
