// Writing and reading image description files, and telling image files
// apart by their first blocks.
#include "grab/mds.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "core/exception.h"
#include "core/log.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/output_file.h"

namespace {

constexpr char kSignature[] = "MEDIA DESCRIPTOR";
constexpr size_t kSignatureSize = 16;
constexpr uint32_t kHeaderSize = 88, kSessionSize = 24, kTrackSize = 80, kIndexSize = 8, kFileSize = 16;
constexpr uint8_t kMediumCD = 0x00, kMediumDVD = 0x10;
constexpr uint8_t kTrackModeBase = 0xE8;
// Subchannel byte: bits 3-5 hold 1, interleaved raw P-W after each sector.
constexpr uint8_t kSubchannelPW = 0x08;
constexpr uint8_t kSubchannelKind = 1;
constexpr uint32_t kLayerSize = 2048;
constexpr size_t kNameMaximum = 260;

// System statuses of the parser.
constexpr uint32_t kBadFormat = 11;
constexpr uint32_t kIncomplete = 996;
constexpr uint32_t kBadName = 123;

// The file's numbers are little-endian.
void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) { QuorvaneI_PutLE16(b.data() + at, static_cast<uint16_t>(v)); }
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { QuorvaneI_PutLE32(b.data() + at, v); }
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) { QuorvaneI_PutLE64(b.data() + at, v); }

std::vector<uint8_t> Header(uint8_t medium, uint32_t sessions) {
  std::vector<uint8_t> h(kHeaderSize, 0);
  std::memcpy(h.data(), kSignature, kSignatureSize);
  h[16] = 0x01;
  Put16(h, 18, medium);
  Put16(h, 20, sessions);
  h[22] = 0x02;
  Put32(h, 80, kHeaderSize);
  return h;
}

// The file part of a path, as the name record holds it.
std::string FilePart(const char* path) {
  const std::string p = path != nullptr ? path : "";
  const size_t cut = p.find_last_of("/\\");
  return cut == std::string::npos ? p : p.substr(cut + 1);
}

void WriteSection(const char* method, qv::plat::OutputFile& file, const std::vector<uint8_t>& bytes,
                  const char* what, long index) {
  uint32_t error = 0;
  if (file.Write(bytes.data(), bytes.size(), &error)) return;
  char name[64];
  if (index < 0)
    std::snprintf(name, sizeof name, "%s", what);
  else
    std::snprintf(name, sizeof name, "%s[ %ld ]", what, index);
  QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): WriteFile( %s ) failed, status %ld", method, name,
                  static_cast<long>(error));
}

uint8_t ModeByte(const QUORVANE_TOC_TRACK& t) {
  if (t.m__UCHAR__IsAudio) return kTrackModeBase | 1;
  if (t.m__UCHAR__TrackMode == 2) return kTrackModeBase | (t.m__UCHAR__Form == 2 ? 5 : 4);
  return kTrackModeBase | 2;
}

const QUORVANE_TOC_TRACK* TrackNumbered(const QUORVANE_TOC_INFORMATION& toc, uint8_t number) {
  for (size_t i = 0; i < std::min<size_t>(toc.m__UCHAR__NumberOfTracks, QUORVANE_TOC_MAXIMUM); ++i)
    if (toc.m__TRACK__Tracks[i].m__UCHAR__TrackNumber == number) return &toc.m__TRACK__Tracks[i];
  return nullptr;
}

bool IsTrackPoint(uint8_t point) { return point >= 1 && point <= 99; }

}  // namespace

void FormatFileMDSForCD(qv::plat::OutputFile& file, const QUORVANE_TOC_INFORMATION& toc, const char* baseName) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::FormatFileMDSForCD";
  const size_t entries = std::min<size_t>(toc.m__UCHAR__NumberOfEntries, QUORVANE_TOC_MAXIMUM);
  const size_t tracks = std::min<size_t>(toc.m__UCHAR__NumberOfTracks, QUORVANE_TOC_MAXIMUM);
  const uint32_t sessions = std::max<uint32_t>(toc.m__UCHAR__LastSession, 1);
  const uint32_t descriptorsAt = kHeaderSize + kSessionSize * sessions;
  const uint32_t indexesAt = descriptorsAt + kTrackSize * static_cast<uint32_t>(entries);
  const uint32_t filesAt = indexesAt + kIndexSize * static_cast<uint32_t>(tracks);
  const uint32_t nameAt = filesAt + kFileSize * static_cast<uint32_t>(tracks);

  WriteSection(kMethod, file, Header(kMediumCD, sessions), "MEDIA_DESCRIPTOR", -1);
  uint32_t earlier = 0;  // descriptors of the sessions before
  for (uint32_t s = 1; s <= sessions; ++s) {
    std::vector<uint8_t> d(kSessionSize, 0);
    uint32_t count = 0, trackEntries = 0;
    for (size_t i = 0; i < entries; ++i) {
      if (toc.m__ENTRY__Entries[i].m__UCHAR__SessionNumber != s) continue;
      ++count;
      trackEntries += IsTrackPoint(toc.m__ENTRY__Entries[i].m__UCHAR__POINT);
    }
    const QUORVANE_TOC_TRACK *first = nullptr, *last = nullptr;
    for (size_t i = 0; i < tracks; ++i) {
      const QUORVANE_TOC_TRACK& t = toc.m__TRACK__Tracks[i];
      if (t.m__UCHAR__SessionNumber != s) continue;
      if (first == nullptr) first = &t;
      last = &t;
    }
    Put32(d, 0, static_cast<uint32_t>(s == 1 ? -150 : first != nullptr ? first->m__LONG__StartAddress : 0));
    Put32(d, 4, static_cast<uint32_t>(last != nullptr ? last->m__LONG__EndAddress + 1 : 0));
    Put16(d, 8, s);
    d[10] = static_cast<uint8_t>(count);
    // A0h, A1h and A2h, and B0h and C0h where the disc has them.
    d[11] = static_cast<uint8_t>(count - trackEntries);
    Put16(d, 12, first != nullptr ? first->m__UCHAR__TrackNumber : 0);
    Put16(d, 14, last != nullptr ? last->m__UCHAR__TrackNumber : 0);
    Put32(d, 20, descriptorsAt + kTrackSize * earlier);
    earlier += count;
    WriteSection(kMethod, file, d, "SESSION_DESCRIPTOR", static_cast<long>(s - 1));
  }
  // Track descriptors in session order, as the session records count them.
  std::vector<const QUORVANE_TOC_TRACK*> ordered;
  uint64_t offset = 0;
  long written = 0;
  for (uint32_t s = 1; s <= sessions; ++s)
    for (size_t i = 0; i < entries; ++i) {
      const QUORVANE_TOC_ENTRY& e = toc.m__ENTRY__Entries[i];
      if (e.m__UCHAR__SessionNumber != s) continue;
      std::vector<uint8_t> d(kTrackSize, 0);
      d[2] = e.m__UCHAR__AdrControl;
      std::memcpy(&d[3], &e.m__UCHAR__TNO, 9);
      const QUORVANE_TOC_TRACK* t = IsTrackPoint(e.m__UCHAR__POINT) ? TrackNumbered(toc, e.m__UCHAR__POINT) : nullptr;
      if (t != nullptr) {
        const uint32_t k = static_cast<uint32_t>(ordered.size());
        const uint32_t length = static_cast<uint32_t>(t->m__LONG__EndAddress - t->m__LONG__StartAddress + 1);
        d[0] = ModeByte(*t);
        d[1] = kSubchannelPW;
        Put32(d, 12, indexesAt + kIndexSize * k);
        Put16(d, 16, kMdsImageBlockSize);
        d[18] = 0x02;
        Put32(d, 36, static_cast<uint32_t>(t->m__LONG__StartAddress));
        Put64(d, 40, offset);
        Put32(d, 48, 1);
        Put32(d, 52, filesAt + kFileSize * k);
        offset += uint64_t{length} * kMdsImageBlockSize;
        ordered.push_back(t);
      }
      WriteSection(kMethod, file, d, "TRACK_DESCRIPTOR", written++);
    }
  for (size_t k = 0; k < ordered.size(); ++k) {
    std::vector<uint8_t> d(kIndexSize, 0);
    Put32(d, 0, k == 0 ? static_cast<uint32_t>(ordered[k]->m__LONG__StartAddress + 150) : 0);
    Put32(d, 4, static_cast<uint32_t>(ordered[k]->m__LONG__EndAddress - ordered[k]->m__LONG__StartAddress + 1));
    WriteSection(kMethod, file, d, "Indexes", static_cast<long>(k));
  }
  for (size_t k = 0; k < ordered.size(); ++k) {
    std::vector<uint8_t> d(kFileSize, 0);
    Put32(d, 0, nameAt);
    Put32(d, 8, static_cast<uint32_t>(ordered[k]->m__LONG__EndAddress - ordered[k]->m__LONG__StartAddress + 1));
    WriteSection(kMethod, file, d, "FILE_DESCRIPTOR", static_cast<long>(k));
  }
  const std::string name = FilePart(baseName) + ".xmf";
  WriteSection(kMethod, file, std::vector<uint8_t>(name.c_str(), name.c_str() + name.size() + 1), "FILE_NAME", -1);
}

std::string QuorvaneI_DvdPartName(const std::string& baseName, uint32_t part) {
  return part == 0 ? baseName + ".xmf" : baseName + ".xm" + std::to_string(part);
}

// The DVD description: the header, one session, one track for the whole
// disc, its index record, one file record per part, then the layers'
// physical format data (the header's bytes 84-87 point at the first, and
// the track record's bytes 20-23 count them), then the part names.
void FormatFileMDSForDVD(qv::plat::OutputFile& file, const QUORVANE_TOC_INFORMATION& toc, const char* baseName,
                         const QuorvaneI_DvdImage& image) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::FormatFileMDSForDVD";
  (void)toc;
  const uint32_t trackAt = kHeaderSize + kSessionSize, indexAt = trackAt + kTrackSize, filesAt = indexAt + kIndexSize;
  const uint32_t layersAt = filesAt + kFileSize * image.parts;
  const uint32_t namesAt = layersAt + kLayerSize * static_cast<uint32_t>(image.layers.size());

  std::vector<uint8_t> header = Header(kMediumDVD, 1);
  if (!image.layers.empty()) Put32(header, 84, layersAt);
  WriteSection(kMethod, file, header, "MEDIA_DESCRIPTOR", -1);
  std::vector<uint8_t> session(kSessionSize, 0);
  Put32(session, 4, image.blocks);
  Put16(session, 8, 1);
  session[10] = 1;
  Put16(session, 12, 1);
  Put16(session, 14, 1);
  Put32(session, 20, trackAt);
  WriteSection(kMethod, file, session, "SESSION_DESCRIPTOR", 0);
  std::vector<uint8_t> track(kTrackSize, 0);
  track[0] = kTrackModeBase | 2;
  track[2] = 0x14;  // data track, ADR 1
  track[4] = 1;
  Put32(track, 12, indexAt);
  Put16(track, 16, 2048);
  track[18] = 0x02;
  Put32(track, 20, static_cast<uint32_t>(image.layers.size()));
  Put32(track, 48, image.parts);
  Put32(track, 52, filesAt);
  WriteSection(kMethod, file, track, "TRACK_DESCRIPTOR", 0);
  std::vector<uint8_t> index(kIndexSize, 0);
  Put32(index, 4, image.blocks);
  WriteSection(kMethod, file, index, "Indexes", 0);
  const std::string base = FilePart(baseName);
  uint32_t nameAt = namesAt;
  for (uint32_t i = 0; i < image.parts; ++i) {
    std::vector<uint8_t> d(kFileSize, 0);
    Put32(d, 0, nameAt);
    const uint32_t from = i * image.blocksPerPart;
    Put32(d, 8, std::min(image.blocksPerPart, image.blocks - std::min(from, image.blocks)));
    nameAt += static_cast<uint32_t>(QuorvaneI_DvdPartName(base, i).size() + 1);
    WriteSection(kMethod, file, d, "FILE_DESCRIPTOR", static_cast<long>(i));
  }
  for (size_t l = 0; l < image.layers.size(); ++l) {
    std::vector<uint8_t> d(kLayerSize, 0);
    std::memcpy(d.data(), image.layers[l].data(), std::min<size_t>(kLayerSize, image.layers[l].size()));
    WriteSection(kMethod, file, d, "LAYER_DESCRIPTOR", static_cast<long>(l));
  }
  for (uint32_t i = 0; i < image.parts; ++i) {
    const std::string name = QuorvaneI_DvdPartName(base, i);
    WriteSection(kMethod, file, std::vector<uint8_t>(name.c_str(), name.c_str() + name.size() + 1), "FILE_NAME",
                 static_cast<long>(i));
  }
}

// ---- Reading a description back ----------------------------------------------------------

namespace {

constexpr const char* kParse = "QuorvaneI_ParseMDS";

// Reads exactly size bytes at offset: 0, the system status, or 996 when the
// file ends first.
uint32_t ReadExactly(QuorvaneI_MdsSource& source, uint64_t offset, void* buffer, size_t size, const char* what) {
  uint32_t error = 0;
  const int64_t got = source.ReadAt(offset, buffer, size, &error);
  if (got < 0) {
    QuorvaneI_Log("\n%s(): ReadFile( %s ) at %llu failed, status %d ( 0x%x )\n", kParse, what,
                  static_cast<unsigned long long>(offset), static_cast<int>(error), error);
    return error != 0 ? error : kIncomplete;
  }
  if (static_cast<size_t>(got) != size) {
    QuorvaneI_Log("\n%s(): Readen %d instead of %d, %s at %llu\n", kParse, static_cast<int>(got),
                  static_cast<int>(size), what, static_cast<unsigned long long>(offset));
    return kIncomplete;
  }
  return 0;
}

uint32_t Bad(const char* format, int a = 0, int b = 0, int c = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b, c);
  QuorvaneI_Log("\n%s(): %s\n", kParse, text);
  return kBadFormat;
}

// An image name is a plain file name: nothing that climbs out of the
// description's folder or starts from somewhere else.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\:") == std::string::npos;
}

class FileSource : public QuorvaneI_MdsSource {
 public:
  FileSource(qv::plat::File file, std::string directory) : file_(std::move(file)), directory_(std::move(directory)) {}
  bool IsOpen() const { return file_.IsOpen(); }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t size, uint32_t* error) override {
    size_t done = 0;
    while (done < size) {
      const int64_t n = file_.ReadAt(offset + done, static_cast<uint8_t*>(buffer) + done, size - done, error);
      if (n < 0) return -1;
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
  }
  int64_t ImageSize(const std::string& name, uint32_t* error) override {
    int64_t size = -1;
    qv::plat::File image = qv::plat::File::OpenSized(directory_ + name, &size, error);
    return image.IsOpen() ? size : -1;
  }

 private:
  qv::plat::File file_;
  std::string directory_;
};

}  // namespace

// One track descriptor of a session: the track's file record, name and
// length checked and added to the layout. Non-track entries are skipped.
static uint32_t ParseTrack(QuorvaneI_MdsSource& source, const uint8_t* d, uint32_t i, QuorvaneI_MdsLayout* layout,
                           int* mode, std::string* imageName, uint64_t* imageOffset) {
  const uint32_t trackMode = d[0] & 0x07;
  if (trackMode == 0) return 0;
  if (((d[1] >> 3) & 0x07) != kSubchannelKind)
    return Bad("Sub type 0x%02X instead of 0x%02X for track descriptor %d", (d[1] >> 3) & 0x07, kSubchannelKind,
               static_cast<int>(i));
  const int32_t k = layout->trackCount;
  if (static_cast<size_t>(k) >= kMdsMaximumTracks) return Bad("More than %d tracks", static_cast<int>(kMdsMaximumTracks));
  uint8_t f[kFileSize];
  if (uint32_t s = ReadExactly(source, QuorvaneI_LE32(d + 52), f, sizeof f, "FILE_DESCRIPTOR")) return s;
  if (trackMode > 2) *mode = 2;
  layout->isAudio[k] = trackMode == 1;
  // The file name, NUL-terminated within its record.
  char name[kNameMaximum + 1] = {};
  uint32_t error = 0;
  const int64_t got = source.ReadAt(QuorvaneI_LE32(f), name, kNameMaximum, &error);
  if (got < 0) return error != 0 ? error : kIncomplete;
  const size_t length = strnlen(name, static_cast<size_t>(got));
  if (length == static_cast<size_t>(got)) return Bad("File name of track descriptor %d is not terminated", static_cast<int>(i));
  const std::string trackName(name, length);
  if (!IsPlainName(trackName)) {
    QuorvaneI_Log("\n%s(): Image file name '%s' leads out of the description's folder\n", kParse, trackName.c_str());
    return kBadName;
  }
  if (!imageName->empty() && *imageName != trackName)
    return Bad("Track descriptor %d names another image file", static_cast<int>(i));
  *imageName = trackName;
  int64_t blocks = QuorvaneI_LE32(f + 8);
  if (blocks == 0) {
    const int64_t size = source.ImageSize(trackName, &error);
    if (size < 0) return error != 0 ? error : kIncomplete;
    blocks = size / kMdsImageBlockSize;
    QuorvaneI_Log("\n%s(): Zero-sized track ( %d ), recalculated track size is %lld LBs\n", kParse, static_cast<int>(k),
                  static_cast<long long>(blocks));
  }
  if (blocks <= 0 || blocks > INT32_MAX) return Bad("Track %d has %d blocks", static_cast<int>(k), static_cast<int>(blocks));
  // The tracks lie on the disc in order, each after the one before, and
  // in the image back to back.
  const int32_t start = static_cast<int32_t>(QuorvaneI_LE32(d + 36));
  const int64_t previousEnd =
      k == 0 ? 0 : int64_t{layout->trackStarts[k - 1]} + layout->rawTrackSizes[k - 1];
  if (start < previousEnd || int64_t{start} + blocks > INT32_MAX)
    return Bad("Track %d starts at %d, before the track ahead of it ends at %d", static_cast<int>(k), start,
               static_cast<int>(previousEnd));
  const uint64_t offset = QuorvaneI_LE32(d + 40) | uint64_t{QuorvaneI_LE32(d + 44)} << 32;
  if (offset != *imageOffset) return Bad("Track %d is not where the tracks ahead of it end in the image", static_cast<int>(k));
  *imageOffset += static_cast<uint64_t>(blocks) * kMdsImageBlockSize;
  layout->rawTrackSizes[k] = static_cast<int32_t>(blocks);
  layout->trackStarts[k] = start;
  layout->trackNumbers[k] = d[4];
  layout->trackCount = ++layout->rawTrackCount;
  return 0;
}

uint32_t QuorvaneI_ParseMDSFrom(QuorvaneI_MdsSource& source, QuorvaneI_MdsLayout* layout, int* mode,
                                std::string* imageName) {
  uint8_t header[kHeaderSize];
  if (uint32_t s = ReadExactly(source, 0, header, sizeof header, "MEDIA_DESCRIPTOR")) return s;
  if (std::memcmp(header, kSignature, kSignatureSize) != 0) return Bad("MDS signature is bad");
  if (header[18] != kMediumCD) return Bad("Media type is bad, got %d instead of expected %d", header[18], kMediumCD);
  // Every session is described, one record after another; a CD has at
  // least one and no more than it can have tracks.
  const uint32_t sessions = QuorvaneI_LE16(header + 20);
  if (sessions == 0 || sessions > kMdsMaximumSessions)
    return Bad("Number of sessions is bad, got %d instead of 1 to %d, status %d", static_cast<int>(sessions),
               static_cast<int>(kMdsMaximumSessions), static_cast<int>(kBadFormat));

  *layout = QuorvaneI_MdsLayout{};
  *mode = 1;
  imageName->clear();
  uint64_t imageOffset = 0;
  for (uint32_t n = 0; n < sessions; ++n) {
    uint8_t session[kSessionSize];
    if (uint32_t s = ReadExactly(source, uint64_t{QuorvaneI_LE32(header + 80)} + uint64_t{kSessionSize} * n, session,
                                 sizeof session, "SESSION_DESCRIPTOR"))
      return s;
    if (QuorvaneI_LE16(session + 8) != n + 1)
      return Bad("Session descriptor %d is numbered %d", static_cast<int>(n), static_cast<int>(QuorvaneI_LE16(session + 8)));
    QuorvaneI_MdsSession& described = layout->sessions[n];
    described.firstTrack = layout->trackCount;
    described.start = static_cast<int32_t>(QuorvaneI_LE32(session));
    described.end = static_cast<int32_t>(QuorvaneI_LE32(session + 4));
    const uint32_t descriptors = session[10];
    const uint64_t first = QuorvaneI_LE32(session + 20);
    for (uint32_t i = 0; i < descriptors; ++i) {
      uint8_t d[kTrackSize];
      if (uint32_t s = ReadExactly(source, first + uint64_t{kTrackSize} * i, d, sizeof d, "TRACK_DESCRIPTOR")) return s;
      if (uint32_t s = ParseTrack(source, d, i, layout, mode, imageName, &imageOffset)) return s;
    }
    // A session holds tracks, all within it, and starts after the one before.
    const int32_t k = layout->trackCount;
    if (k == described.firstTrack) return Bad("Session %d describes no track", static_cast<int>(n + 1));
    described.lastTrack = k - 1;
    const int64_t trackEnd = int64_t{layout->trackStarts[k - 1]} + layout->rawTrackSizes[k - 1];
    if (described.start > layout->trackStarts[described.firstTrack] || described.end < trackEnd ||
        (n > 0 && described.start < layout->sessions[n - 1].end))
      return Bad("Session %d from %d to %d does not hold its tracks", static_cast<int>(n + 1), described.start,
                 described.end);
    layout->sessionCount = static_cast<int32_t>(n + 1);
  }
  return 0;
}

uint32_t QuorvaneI_ParseMDS(const char* mdsName, QuorvaneI_MdsLayout* layout, int* mode, std::string* imageName,
                            const char* directory) {
  if (mdsName == nullptr || layout == nullptr || mode == nullptr || imageName == nullptr) return qv::plat::kErrInvalidParameter;
  uint32_t error = 0;
  qv::plat::File file = qv::plat::File::OpenToRead(mdsName, &error);
  if (!file.IsOpen()) {
    QuorvaneI_Log("\n%s(): CreateFile( '%s' ) failed, status %d ( 0x%x )\n", kParse, mdsName, static_cast<int>(error),
                  error);
    return error;
  }
  FileSource source(std::move(file), directory != nullptr ? directory : "");
  return QuorvaneI_ParseMDSFrom(source, layout, mode, imageName);
}

uint32_t QuorvaneI_ParseMDSForDVDFrom(QuorvaneI_MdsSource& source, std::vector<QuorvaneI_MdsDvdPart>* parts) {
  parts->clear();
  uint8_t header[kHeaderSize], session[kSessionSize], track[kTrackSize];
  if (uint32_t s = ReadExactly(source, 0, header, sizeof header, "MEDIA_DESCRIPTOR")) return s;
  if (std::memcmp(header, kSignature, kSignatureSize) != 0) return Bad("MDS signature is bad");
  if (header[18] != kMediumDVD) return Bad("Media type is bad, got %d instead of expected %d", header[18], kMediumDVD);
  if (QuorvaneI_LE16(header + 20) != 1) return Bad("Number of sessions is bad, got %d instead of 1", QuorvaneI_LE16(header + 20));
  if (uint32_t s = ReadExactly(source, QuorvaneI_LE32(header + 80), session, sizeof session, "SESSION_DESCRIPTOR")) return s;
  if (uint32_t s = ReadExactly(source, QuorvaneI_LE32(session + 20), track, sizeof track, "TRACK_DESCRIPTOR")) return s;
  const uint32_t count = QuorvaneI_LE32(track + 48), blocks = QuorvaneI_LE32(session + 4);
  // A DVD holds at most 2^32 blocks, so a part count beyond that is garbage.
  if (QuorvaneI_LE16(track + 16) != 2048 || count == 0 || count > 4096)
    return Bad("The track has blocks of %d and %d parts", QuorvaneI_LE16(track + 16), static_cast<int>(count));
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t f[kFileSize];
    if (uint32_t s = ReadExactly(source, QuorvaneI_LE32(track + 52) + uint64_t{kFileSize} * i, f, sizeof f, "FILE_DESCRIPTOR"))
      return s;
    char name[kNameMaximum + 1] = {};
    uint32_t error = 0;
    const int64_t got = source.ReadAt(QuorvaneI_LE32(f), name, kNameMaximum, &error);
    if (got < 0) return error != 0 ? error : kIncomplete;
    const size_t length = strnlen(name, static_cast<size_t>(got));
    if (length == static_cast<size_t>(got)) return Bad("File name of part %d is not terminated", static_cast<int>(i));
    QuorvaneI_MdsDvdPart part{std::string(name, length), QuorvaneI_LE32(f + 8)};
    if (!IsPlainName(part.name)) {
      QuorvaneI_Log("\n%s(): Image file name '%s' leads out of the description's folder\n", kParse, part.name.c_str());
      return kBadName;
    }
    const int64_t size = source.ImageSize(part.name, &error);
    if (size < 0) return error != 0 ? error : kIncomplete;
    if (part.blocks == 0 || static_cast<uint64_t>(size) != uint64_t{part.blocks} * 2048)
      return Bad("Part %d holds %d UCHARs, not its %d blocks", static_cast<int>(i), static_cast<int>(size),
                 static_cast<int>(part.blocks));
    total += part.blocks;
    parts->push_back(std::move(part));
  }
  if (total != blocks) return Bad("The parts hold %d blocks, the disc %d", static_cast<int>(total), static_cast<int>(blocks));
  return 0;
}

uint32_t QuorvaneI_ParseMDSForDVD(const char* mdsName, std::vector<QuorvaneI_MdsDvdPart>* parts, const char* directory) {
  if (mdsName == nullptr || parts == nullptr) return qv::plat::kErrInvalidParameter;
  uint32_t error = 0;
  qv::plat::File file = qv::plat::File::OpenToRead(mdsName, &error);
  if (!file.IsOpen()) return error;
  FileSource source(std::move(file), directory != nullptr ? directory : "");
  return QuorvaneI_ParseMDSForDVDFrom(source, parts);
}

int QuorvaneI_MDSMedium(const char* mdsName) {
  uint32_t error = 0;
  qv::plat::File file = qv::plat::File::OpenToRead(mdsName != nullptr ? mdsName : "", &error);
  FileSource source(std::move(file), "");
  uint8_t header[kHeaderSize];
  if (!source.IsOpen() || ReadExactly(source, 0, header, sizeof header, "MEDIA_DESCRIPTOR") != 0 ||
      std::memcmp(header, kSignature, kSignatureSize) != 0)
    return -1;
  return header[18];
}

// ---- Classifiers ----------------------------------------------------------------------

namespace {

constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr size_t kRawSector = 2352;
constexpr size_t kIsoHead = 17 * 2048;

std::vector<uint8_t> Head(const char* fileName, size_t size) {
  std::vector<uint8_t> head(size);
  uint32_t error = 0;
  qv::plat::File file = qv::plat::File::OpenToRead(fileName, &error);
  size_t done = 0;
  while (file.IsOpen() && done < size) {
    const int64_t n = file.ReadAt(done, head.data() + done, size - done, &error);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  head.resize(done);
  return head;
}

}  // namespace

bool QuorvaneI_IsMDFBytes(const char* fileName, const uint8_t* head, size_t size, int* mode) {
  std::string upper = fileName != nullptr ? fileName : "";
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find(".MDF") == std::string::npos && upper.find(".XMF") == std::string::npos) {
    QuorvaneI_Log("\nIsMDF(): File name extension is NOT correct!!!\n");
    return false;
  }
  const bool raw = size >= kRawSector && std::memcmp(head, kSync, sizeof kSync) == 0;
  const int m = raw ? head[15] & 0x03 : 0;
  if (mode != nullptr) *mode = m;
  QuorvaneI_Log("\nIsMDF of '%s' is %d, MODE %d\n", fileName, raw ? 1 : 0, m);
  return raw;
}

bool QuorvaneI_IsMDF(const char* fileName, int* mode) {
  if (fileName == nullptr) return false;
  const std::vector<uint8_t> head = Head(fileName, kRawSector);
  return QuorvaneI_IsMDFBytes(fileName, head.data(), head.size(), mode);
}

bool QuorvaneI_IsISOBytes(const uint8_t* head, size_t size) {
  return size >= kIsoHead && std::memcmp(head + 16 * 2048 + 1, "CD001", 5) == 0;
}

bool QuorvaneI_IsISO(const char* fileName) {
  if (fileName == nullptr) return false;
  const std::vector<uint8_t> head = Head(fileName, kIsoHead);
  const bool iso = QuorvaneI_IsISOBytes(head.data(), head.size());
  QuorvaneI_Log("\nIsISO of '%s' is %d\n", fileName, iso ? 1 : 0);
  return iso;
}
