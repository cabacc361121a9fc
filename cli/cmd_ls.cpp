// quorvane ls [--drive NAME | --image FILE] [--session N] [--json] [PATH]:
// the folders and files of a disc's session (the last by default) or of
// an ISO image, as an import into a new session sees them: each with its
// size, recording date and first block.
#include <cstdio>
#include <memory>
#include <string>

#include "drive_job.h"
#include "master.h"

namespace qvcli {
namespace {

struct Options {
  std::string drive, image, path;
  int session = 0;
};

struct Entry {
  std::string path;
  bool folder = false, hidden = false;
  uint64_t size = 0;
  uint32_t extent = 0;
  std::string date;
};

// "2026-12-06 16:20:03 +01:00" of a record's 7-byte date.
std::string DateText(const QV_UCHAR d[7]) {
  const int offset = static_cast<signed char>(d[6]) * 15;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d:%02d", 1900 + d[0], d[1], d[2], d[3], d[4],
                d[5], offset < 0 ? '-' : '+', (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return text;
}

void Walk(QV_HANDLE tree, QV_HANDLE node, const std::string& path, std::vector<Entry>* out) {
  for (QV_HANDLE kid = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree, node); kid != nullptr;
       kid = Quorvane_ISO9660JolietFileTree_GetNextKid(tree, kid)) {
    char name[260] = {};
    Quorvane_ISO9660JolietFileTree_GetNames(tree, kid, nullptr, name, nullptr);
    Entry e;
    e.path = path + "/" + name;
    const QV_ULONG attributes = Quorvane_ISO9660JolietFileTree_GetAttributes(tree, kid);
    e.folder = (attributes & 0x10) != 0;
    e.hidden = (attributes & 0x02) != 0;
    QV_ULONGLONG size = 0;
    if (!e.folder) Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs(tree, kid, &size);
    e.size = size;
    QV_ULONG lba = 0;
    Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA(tree, kid, &lba);
    e.extent = lba;
    QV_UCHAR date[7] = {};
    Quorvane_ISO9660JolietFileTree_GetNodeISO9660DateTime(tree, kid, date);
    e.date = DateText(date);
    out->push_back(e);
    if (e.folder) Walk(tree, kid, e.path, out);
  }
}

// The first data track of session, or (0) the last track recorded: the
// table of contents may also list the empty track an open disc is written
// in next.
int TrackOf(DriveJob& job, int session, QV_UCHAR* track) {
  CallStatus s;
  if (session == 0) {
    s.number = Quorvane_CdvdBurnerGrabber_GetLastTrack(job.handle(), QV_CALL_STATUS(s), track);
    if (s.number != 0) return job.Fail("finding the disc's last track", s);
    if (*track == 0) return Report("ls", {kExitNotFound, "the disc in " + job.shown() + " holds no data track", ""});
    return kExitOk;
  }
  auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
  s.number = Quorvane_CdvdBurnerGrabber_GetTOCInformation(job.handle(), QV_CALL_STATUS(s), toc.get());
  if (s.number != 0) return job.Fail("reading the table of contents", s);
  int found = 0;
  for (int i = 0; i < toc->m__UCHAR__NumberOfTracks && i < QUORVANE_TOC_MAXIMUM && found == 0; ++i) {
    const QUORVANE_TOC_TRACK& t = toc->m__TRACK__Tracks[i];
    if (t.m__UCHAR__IsValid && t.m__UCHAR__IsData && t.m__UCHAR__SessionNumber == session)
      found = t.m__UCHAR__TrackNumber;
  }
  if (found == 0)
    return Report("ls", {kExitNotFound,
                         "the disc in " + job.shown() + " has no data track in session " + std::to_string(session),
                         ""});
  *track = static_cast<QV_UCHAR>(found);
  return kExitOk;
}

int Run(const GlobalOptions& global, const Options& o) {
  if (!o.image.empty() && (!o.drive.empty() || o.session != 0))
    return Report("ls", {kExitUsage, "--image lists an image file; --drive and --session are for discs", ""});
  std::unique_ptr<EngineSession> engine;
  std::unique_ptr<DriveJob> job;
  Mastering master("ls");
  if (o.image.empty()) {
    job = std::make_unique<DriveJob>("ls");
    if (int rc = job->Open(o.drive, true, DiscUse::Read)) return rc;
  } else {
    if (int rc = CheckSource("ls", o.image, false)) return rc;
    engine = std::make_unique<EngineSession>();
    if (engine->status() != 0) return Report("start-up", FromEngine(engine->status(), nullptr, 0));
  }
  if (int rc = master.Create(true)) return rc;
  if (o.image.empty()) {
    QV_UCHAR track = 0;
    if (int rc = TrackOf(*job, o.session, &track)) return rc;
    if (int rc = master.ImportTrack(job->handle(), track)) return rc;
  } else if (int rc = master.ImportFile(o.image)) {
    return rc;
  }
  std::vector<Entry> entries;
  QV_HANDLE tree = master.tree(), root = Quorvane_ISO9660JolietFileTree_GetRoot(tree);
  if (root != nullptr) Walk(tree, root, "", &entries);
  // PATH: that file, or that folder and what it holds.
  std::string under = o.path;
  while (under.size() > 1 && under.back() == '/') under.pop_back();
  if (!under.empty() && under.front() != '/') under.insert(under.begin(), '/');
  if (!under.empty() && under != "/") {
    std::vector<Entry> kept;
    for (const Entry& e : entries)
      if (e.path == under || e.path.compare(0, under.size() + 1, under + "/") == 0) kept.push_back(e);
    if (kept.empty()) return Report("ls", {kExitNotFound, o.path + ": no such folder or file", ""});
    entries.swap(kept);
  }
  if (global.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const Entry& e : entries)
      list.push_back({{"path", e.path}, {"folder", e.folder}, {"hidden", e.hidden}, {"size", e.size},
                      {"date", e.date}, {"extent", e.extent}});
    PrintJson({{"entries", list}});
  } else {
    for (const Entry& e : entries)
      std::printf("%c%c %12llu  %s  %10lu  %s%s\n", e.folder ? 'd' : '-', e.hidden ? 'h' : '-',
                  static_cast<unsigned long long>(e.size), e.date.c_str(),
                  static_cast<unsigned long>(e.extent), e.path.c_str(), e.folder ? "/" : "");
  }
  return kExitOk;
}

RegisterCommand reg({"ls", "List the files of a disc's session or of an ISO image: sizes, dates, first blocks",
                     [](CLI::App& app, const GlobalOptions& global) -> std::function<int()> {
                       auto o = std::make_shared<Options>();
                       auto* drive = app.add_option("--drive", o->drive, "Drive (default: the default virtual drive)");
                       app.add_option("--image", o->image, "An ISO image file to list instead of a disc")
                           ->excludes(drive);
                       app.add_option("--session", o->session, "The session to list (default: the last)")
                           ->check(CLI::Range(1, 99));
                       app.add_option("PATH", o->path, "A folder or file of the session (default: all)");
                       return [&global, o] { return Run(global, *o); };
                     }});

}  // namespace
}  // namespace qvcli
