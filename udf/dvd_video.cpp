// DVD-Video images: the files of a VIDEO_TS folder in the order players
// expect, in a UDF/ISO9660 bridge with an empty AUDIO_TS, and on request
// the sector addresses of the IFO and BUP files rewritten to where the
// files lie in the image.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/exception.h"
#include "core/status.h"
#include "platform/errors.h"
#include "platform/dynlib.h"
#include "platform/filesystem.h"
#include "udf/dvd_ifo.h"
#include "udf/udf_items.h"
#include "udf/udf_tree.h"

namespace {

constexpr uint32_t kRootNumber = 1000, kVideoTsNumber = 2000, kAudioTsNumber = 3000;

struct DvdVideoImage {
  QUORVANE_UDF_TREE_ITEM root{}, audioTs{}, videoTs{};
  std::vector<std::unique_ptr<QUORVANE_UDF_TREE_ITEM>> files;  // in image order
  size_t videoTsBup = 0;
  std::vector<std::pair<size_t, size_t>> titleSets;            // each set's IFO and BUP
  QUORVANE_UDF_CONTROL_BLOCK udf{};
  ~DvdVideoImage() { Quorvane_UDF_Destroy(&root, &udf); }

  CQuorvane_ISO9660FileTree* Tree() const { return static_cast<CQuorvane_ISO9660FileTree*>(udf.m__PVOID__Body); }
  QuorvaneI_UdfItem* File(size_t i) const { return QuorvaneI_ItemOf(files[i].get()); }
  uint32_t First(size_t i) const { return File(i)->node->GetStartAddress(); }
  uint32_t Last(size_t i) const {
    return static_cast<uint32_t>(First(i) + std::max<uint64_t>(File(i)->node->GetSizeInSectors(), 1) - 1);
  }
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The files of VIDEO_TS in their order; title sets numbered on from 1.
void Gather(DvdVideoImage& d, const std::string& folder) {
  static const char* const kEntry = "Quorvane_DVDVideo_Create";
  std::vector<qv::plat::DirEntry> entries;
  uint32_t error = 0;
  if (!qv::plat::GetFileSystem().ReadDirectory(folder, &entries, &error))
    QuorvaneI_Throw(kEntry, EN_SYSTEM_CALL_FAILED, error,
                    "Quorvane:%s(): EXITing with failure, cannot list '%s', status %u", kEntry, folder.c_str(), error);
  std::map<std::string, std::string> onDisk;  // upper-case name -> name
  for (const auto& e : entries)
    if (e.error == 0 && e.info.kind == qv::plat::FileKind::Regular) onDisk.emplace(Upper(e.name), e.name);
  const auto add = [&](const std::string& name, bool required) -> long {
    const auto found = onDisk.find(name);
    if (found == onDisk.end() && !required) return -1;
    const std::string path = folder + qv::plat::PathSeparator() + (found == onDisk.end() ? name : found->second);
    auto item = std::make_unique<QUORVANE_UDF_TREE_ITEM>();
    const auto number = static_cast<uint32_t>(d.files.size() + 1);
    const uint32_t status = Quorvane_UDF_FormatTreeItemAsFile(item.get(), number, name.c_str(), path.c_str(), &d.videoTs);
    if (status != 0)
      QuorvaneI_Throw(kEntry, EN_SYSTEM_CALL_FAILED, status,
                      "Quorvane:%s(): EXITing with failure, Quorvane_UDF_FormatTreeItemAsFile( 0x%p, %d, '%s', '%s', "
                      "0x%p ) failed, status %d ( 0x%x )",
                      kEntry, static_cast<void*>(item.get()), static_cast<int>(number), name.c_str(), path.c_str(),
                      static_cast<void*>(&d.videoTs), static_cast<int>(status), status);
    QuorvaneI_Log("\nQuorvane:%s(): Added '%s' as '%s'\n", kEntry, path.c_str(), name.c_str());
    onDisk.erase(name);
    d.files.push_back(std::move(item));
    return static_cast<long>(d.files.size() - 1);
  };
  add("VIDEO_TS.IFO", true);
  add("VIDEO_TS.VOB", false);
  d.videoTsBup = static_cast<size_t>(add("VIDEO_TS.BUP", true));
  for (int n = 1; n <= 99; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "VTS_%02d_0.IFO", n);
    const long ifo = add(name, false);
    if (ifo < 0) break;
    for (int k = 0; k <= 9; ++k) {
      std::snprintf(name, sizeof name, "VTS_%02d_%1d.VOB", n, k);
      add(name, false);
    }
    std::snprintf(name, sizeof name, "VTS_%02d_0.BUP", n);
    d.titleSets.emplace_back(static_cast<size_t>(ifo), static_cast<size_t>(add(name, true)));
  }
  for (const auto& [upper, name] : onDisk)
    QuorvaneI_Log("\nQuorvane:%s(): '%s' is not a file of DVD-Video, left out\n", kEntry, name.c_str());
}

void PatchHeader(const DvdVideoImage& d, size_t file, uint32_t lastSector) {
  QuorvaneI_UdfItem* item = d.File(file);
  QuorvaneI_PatchIfoHeader(item->memory.get(), item->size, lastSector,
                           static_cast<uint32_t>(item->node->GetSizeInSectors()));
}

void Patch(const DvdVideoImage& d) {
  const size_t vmgIfo = 0, vmgBup = d.videoTsBup;
  PatchHeader(d, vmgIfo, d.Last(vmgBup) - d.First(vmgIfo));
  PatchHeader(d, vmgBup, d.Last(vmgBup) - d.First(vmgIfo));
  for (size_t t = 0; t < d.titleSets.size(); ++t) {
    const auto [ifo, bup] = d.titleSets[t];
    QuorvaneI_Log("\nQuorvane:Quorvane_DVDVideo_Create(): Processing title %d from total of %d title(s), IFOi: %d, "
                  "BUPi: %d\n",
                  static_cast<int>(t + 1), static_cast<int>(d.titleSets.size()), static_cast<int>(ifo),
                  static_cast<int>(bup));
    PatchHeader(d, ifo, d.Last(bup) - d.First(ifo));
    PatchHeader(d, bup, d.Last(bup) - d.First(ifo));
  }
  const auto startOf = [&d](uint8_t titleSet) -> uint32_t {
    if (titleSet == 0 || titleSet > d.titleSets.size()) return 0;
    return d.First(d.titleSets[titleSet - 1].first) - d.First(0);
  };
  for (size_t file : {vmgIfo, vmgBup})
    QuorvaneI_PatchIfoTitles(d.File(file)->memory.get(), d.File(file)->size, startOf);
}

DvdVideoImage* Image(QV_HANDLE image) { return static_cast<DvdVideoImage*>(image); }

// The image's volume, or exception 3.
CQuorvane_ISO9660FileTree* Volume(const char* entryPoint, QV_HANDLE image) {
  CQuorvane_ISO9660FileTree* tree = Image(image)->Tree();
  if (tree == nullptr)
    QuorvaneI_Throw(entryPoint, EN_INVALID_STATE, 0,
                    "Quorvane:%s(): l__PDVD_VIDEO_CONTROL_BLOCK->m__UDF_CONTROL_BLOCK.m__PVOID__Body == NULL",
                    entryPoint);
  return tree;
}

uint32_t NullImage(const char* entryPoint, char* text, QV_ULONG textSize) {
  QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, the image is NULL\n", entryPoint);
  return QuorvaneI_ReportNumber(EN_INVALID_PARAMETER, "the image is NULL", text, textSize);
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_Create(
    QV_HANDLE* image, const char* path, QV_BOOLEAN patch, char* text, QV_ULONG textSize, QV_ULONG* systemStatus,
    const char* volumeLabel, const char* publisher, const char* application, QV_ULONG year, QV_ULONG month,
    QV_ULONG day, QV_ULONG hour, QV_ULONG minute, QV_ULONG second, QV_ULONG milliseconds) {
  static const char* const kEntry = "Quorvane_DVDVideo_Create";
  if (image == nullptr || path == nullptr) return NullImage(kEntry, text, textSize);
  *image = nullptr;
  uint32_t error = 0;
  const uint32_t n = QuorvaneI_CallCreate(kEntry, text, textSize, &error, nullptr, [&] {
    auto d = std::make_unique<DvdVideoImage>();
    Quorvane_UDF_FormatTreeItemAsFolder(&d->root, kRootNumber, nullptr, nullptr);
    Quorvane_UDF_FormatTreeItemAsFolder(&d->audioTs, kAudioTsNumber, "AUDIO_TS", &d->root);
    Quorvane_UDF_FormatTreeItemAsFolder(&d->videoTs, kVideoTsNumber, "VIDEO_TS", &d->root);
    if (!QuorvaneI_ItemOf(&d->videoTs)) throw std::bad_alloc();
    Gather(*d, path);
    const QuorvaneI_VolumeTexts texts = QuorvaneI_ItemVolumeTexts(volumeLabel, publisher, application, year, month,
                                                                  day, hour, minute, second, milliseconds);
    d->udf.m__PVOID__Body =
        static_cast<CQuorvane_ISO9660FileTree*>(QuorvaneI_BuildItems(QuorvaneI_ItemOf(&d->root), true, texts).release());
    if (patch == 1) {
      QuorvaneI_Log("\nQuorvane:%s(): Need to patch IFO/BUP files ( %d )\n", kEntry, static_cast<int>(patch));
      Patch(*d);
    } else {
      QuorvaneI_Log("\nQuorvane:%s(): No need to patch IFO/BUP files ( %d )\n", kEntry, static_cast<int>(patch));
    }
    *image = d.release();
  });
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus) *systemStatus = error;
  return n;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_Read(QV_HANDLE image, char* text, QV_ULONG textSize,
                                                         QV_ULONG* systemStatus, QV_ULONGLONG length, void* buffer) {
  static const char* const kEntry = "Quorvane_DVDVideo_Read";
  if (image == nullptr || (buffer == nullptr && length != 0)) return NullImage(kEntry, text, textSize);
  uint32_t error = 0;
  const uint32_t n = QuorvaneI_Call(kEntry, text, textSize, &error, nullptr,
                                    [&] { Volume(kEntry, image)->Read(length, buffer); });
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus) *systemStatus = error;
  return n;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_SeekToBegin(QV_HANDLE image, char* text, QV_ULONG textSize,
                                                                QV_ULONG* systemStatus) {
  static const char* const kEntry = "Quorvane_DVDVideo_SeekToBegin";
  if (image == nullptr) return NullImage(kEntry, text, textSize);
  uint32_t error = 0;
  const uint32_t n =
      QuorvaneI_Call(kEntry, text, textSize, &error, nullptr, [&] { Volume(kEntry, image)->SeekToBegin(); });
  if (n == EN_SYSTEM_CALL_FAILED && systemStatus) *systemStatus = error;
  return n;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_GetSizeInUCHARs(QV_HANDLE image, QV_ULONGLONG* size) {
  if (image == nullptr || size == nullptr) return NullImage("Quorvane_DVDVideo_GetSizeInUCHARs", nullptr, 0);
  return QuorvaneI_Call("Quorvane_DVDVideo_GetSizeInUCHARs", nullptr, 0, nullptr, nullptr, [&] {
    uint64_t bytes = 0;
    Volume("Quorvane_DVDVideo_GetSizeInUCHARs", image)->GetSizeInUCHARs(&bytes);
    *size = bytes;
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_GetTreePointer(QV_HANDLE image, QV_HANDLE* tree) {
  if (image == nullptr || tree == nullptr) return NullImage("Quorvane_DVDVideo_GetTreePointer", nullptr, 0);
  return QuorvaneI_Call("Quorvane_DVDVideo_GetTreePointer", nullptr, 0, nullptr, nullptr,
                        [&] { *tree = Volume("Quorvane_DVDVideo_GetTreePointer", image); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_Destroy(QV_HANDLE image) {
  if (image == nullptr) {
    QuorvaneI_Log("\nQuorvane:Quorvane_DVDVideo_Destroy(): pointer is NULL ( 0x%p )\n", image);
    return EN_INVALID_PARAMETER;
  }
  delete Image(image);
  return EN_SUCCESS;
}
