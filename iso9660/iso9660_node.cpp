// Nodes of ISO9660 and Joliet trees: their identifiers, dates and sources.
#include <cstring>

#include "core/exception.h"
#include "core/log.h"
#include "iso9660/iso9660_names.h"
#include "iso9660/iso9660_tree.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;

uint64_t StreamSize(uint64_t size) {
  return (size + kQuorvaneSectorSize - 1) / kQuorvaneSectorSize * kQuorvaneSectorSize;
}

void RefuseHugeFile(const char* name, uint64_t size) {
  if (size >= kQuorvaneISO9660MaxFileSize)
    QuorvaneI_Throw("CQuorvane_ISO9660FileTreeNode::CQuorvane_ISO9660FileTreeNode", EN_FILE_TOO_BIG, 0,
                    "CQuorvane_ISO9660FileTreeNode::CQuorvane_ISO9660FileTreeNode(): '%s' holds %llu UCHARs, an "
                    "ISO9660 file must be smaller than 4 GiB!!!",
                    name, static_cast<unsigned long long>(size));
}

}  // namespace

CQuorvane_ISO9660FileTreeNode::CQuorvane_ISO9660FileTreeNode(const char* absolutePath, const char* longName,
                                                             const char* shortName, uint32_t attributes,
                                                             uint64_t sizeInUCHARs, CQuorvane_FileTreeNode* parent,
                                                             uint32_t userValue, uint64_t fileTime, bool longNames,
                                                             bool lockFiles, uint32_t presetAddress,
                                                             bool knownReadable, bool isoRecords)
    : CQuorvane_FileTreeNode(absolutePath, longName, shortName, attributes, sizeInUCHARs, parent, userValue,
                             fileTime),
      m__BOOLEAN__LongNames(longNames ? 1 : 0) {
  static const char* const kMethod = "CQuorvane_ISO9660FileTreeNode::CQuorvane_ISO9660FileTreeNode";
  if (!IsFolder() && isoRecords) RefuseHugeFile(GetReportName(), sizeInUCHARs);
  const auto utc = static_cast<int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
  const QV_SYSTEMTIME& d = GetDate();
  if (d.wYear >= 1900 && fileTime != 0) {
    m__UCHAR__RecordingDate[0] = static_cast<uint8_t>(d.wYear - 1900 > 255 ? 255 : d.wYear - 1900);
    m__UCHAR__RecordingDate[1] = static_cast<uint8_t>(d.wMonth);
    m__UCHAR__RecordingDate[2] = static_cast<uint8_t>(d.wDay);
    m__UCHAR__RecordingDate[3] = static_cast<uint8_t>(d.wHour);
    m__UCHAR__RecordingDate[4] = static_cast<uint8_t>(d.wMinute);
    m__UCHAR__RecordingDate[5] = static_cast<uint8_t>(d.wSecond);
    m__UCHAR__RecordingDate[6] = static_cast<uint8_t>(static_cast<int8_t>(qv::plat::GetClock().UtcOffsetMinutes(utc) / 15));
  }
  MakeISOName();
  if (presetAddress != 0) {
    m__ULONG__StartAddress = presetAddress;
    m__BOOLEAN__PresetAddress = 1;
    SetNodeType(kQuorvaneNodeImported);
    return;
  }
  if (IsFolder() || GetNodeType() != kQuorvaneNodeFromDisk) return;
  if (lockFiles) {
    m__PCQuorvane_File__Content = std::make_unique<CQuorvane_DiskFile>(absolutePath, StreamSize(sizeInUCHARs));
    return;
  }
  // Read only when the image is; a file that cannot be opened is better
  // refused now than in the middle of a burn.
  uint32_t error = 0;
  if (!knownReadable && !qv::plat::File::CanRead(absolutePath, &error))
    QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error, "%s(): CreateFile( '%s' ) failed, status %ld!!!", kMethod,
                    absolutePath, static_cast<long>(error));
}

CQuorvane_ISO9660FileTreeNode::CQuorvane_ISO9660FileTreeNode(QV_HANDLE handle, uint64_t sizeInUCHARs,
                                                             const char* longName, const char* shortName,
                                                             CQuorvane_FileTreeNode* parent, uint32_t userValue,
                                                             uint64_t fileTime, bool longNames, bool isoRecords)
    : CQuorvane_ISO9660FileTreeNode("", longName, shortName, qv::plat::kAttrNormal, sizeInUCHARs, parent, userValue,
                                    fileTime, longNames, false, 0, false, isoRecords) {
  m__PCQuorvane_File__Content = std::make_unique<CQuorvane_DiskFile>(handle, StreamSize(sizeInUCHARs));
}

CQuorvane_ISO9660FileTreeNode::CQuorvane_ISO9660FileTreeNode(std::unique_ptr<CQuorvane_File> source,
                                                             uint64_t sizeInUCHARs, const char* longName,
                                                             const char* shortName, CQuorvane_FileTreeNode* parent,
                                                             uint32_t userValue, uint64_t fileTime, bool isoRecords)
    : CQuorvane_ISO9660FileTreeNode("", longName, shortName, qv::plat::kAttrNormal, sizeInUCHARs, parent, userValue,
                                    fileTime, false, false, 0, false, isoRecords) {
  m__PCQuorvane_File__Content = std::move(source);
}

CQuorvane_ISO9660FileTreeNode::~CQuorvane_ISO9660FileTreeNode() = default;

void CQuorvane_ISO9660FileTreeNode::StoreImageNames(std::string_view iso, std::string_view joliet) {
  auto block = std::make_unique<uint8_t[]>(2 + iso.size() + joliet.size());
  block[0] = static_cast<uint8_t>(iso.size());
  std::memcpy(block.get() + 1, iso.data(), iso.size());
  block[1 + iso.size()] = static_cast<uint8_t>(joliet.size());
  std::memcpy(block.get() + 2 + iso.size(), joliet.data(), joliet.size());
  m__PUCHAR__ImageNames = std::move(block);
}

std::string_view CQuorvane_ISO9660FileTreeNode::GetISOName() const {
  if (!m__PUCHAR__ImageNames) return {};
  return {reinterpret_cast<const char*>(m__PUCHAR__ImageNames.get() + 1), m__PUCHAR__ImageNames[0]};
}

std::string_view CQuorvane_ISO9660FileTreeNode::GetJolietName() const {
  if (!m__PUCHAR__ImageNames) return {};
  const size_t at = 1 + m__PUCHAR__ImageNames[0];
  return {reinterpret_cast<const char*>(m__PUCHAR__ImageNames.get() + at + 1), m__PUCHAR__ImageNames[at]};
}

void CQuorvane_ISO9660FileTreeNode::SetISOName(std::string_view name) {
  const std::string joliet(GetJolietName());
  StoreImageNames(name.substr(0, 255), joliet);
}

void CQuorvane_ISO9660FileTreeNode::SetJolietName(std::string_view bigEndianUnits) {
  const std::string iso(GetISOName());
  StoreImageNames(iso, bigEndianUnits.substr(0, 2 * kQuorvaneJolietMaxUnits));
}

void CQuorvane_ISO9660FileTreeNode::SetSecondName(std::string_view bytes) {
  const std::string iso(GetISOName());
  StoreImageNames(iso, bytes.substr(0, 255));
}

void CQuorvane_ISO9660FileTreeNode::SetRecordingDate(const uint8_t date[7]) {
  std::memcpy(m__UCHAR__RecordingDate, date, 7);
}

void CQuorvane_ISO9660FileTreeNode::MakeISOName() {
  const bool folder = IsFolder();
  SetISOName(m__BOOLEAN__LongNames
                 ? QuorvaneI_ISO9660Identifier(GetLongName(), folder, kQuorvaneISO9660LongChars, false)
                 : QuorvaneI_ISO9660Identifier(GetShortName(), folder, kQuorvaneISO9660LongChars, !folder));
}

void CQuorvane_ISO9660FileTreeNode::RebuildName() { MakeISOName(); }

uint32_t CQuorvane_ISO9660FileTreeNode::GetImageNames(char* name, char16_t* wideName) {
  CQuorvane_FileTreeNode::GetImageNames(name, wideName);
  const std::string_view iso = GetISOName();
  if (name) std::memcpy(name, iso.data(), std::min<size_t>(iso.size(), kQuorvaneMaxPath - 1));
  const std::u16string units = QuorvaneI_UnitsFromBigEndian(GetJolietName());
  if (wideName) std::memcpy(wideName, units.data(), std::min<size_t>(units.size(), kQuorvaneMaxPath / 2 - 1) * 2);
  return static_cast<uint32_t>(GetJolietName().size());
}

std::string QuorvaneI_JolietName(const char* longName, bool folder) {
  static const char* const kMethod = "CQuorvane_JolietFileTreeNode::CQuorvane_JolietFileTreeNode";
  const size_t length = std::strlen(longName);
  if (length >= kQuorvaneJolietLongNameLimit)
    QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0,
                    "%s(): strlen( p__PCHAR__LongFileName ) == %ld exceeds (>=) %ld!!!", kMethod,
                    static_cast<long>(length), static_cast<long>(kQuorvaneJolietLongNameLimit));
  std::u16string wide;
  uint32_t error = 0;
  if (!qv::plat::NarrowToWide(longName, &wide, &error))
    QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error, "%s(): MultiByteToWideChar() failed, status == %ld!!!",
                    kMethod, static_cast<long>(error));
  if (!folder) wide += u";1";
  std::u16string units = QuorvaneI_JolietUnits(wide, !folder, kQuorvaneJolietMaxUnits);
  return QuorvaneI_BigEndianUnits(units);
}

void CQuorvane_JolietFileTreeNode::MakeJolietName() { SetJolietName(QuorvaneI_JolietName(GetLongName(), IsFolder())); }

void CQuorvane_JolietFileTreeNode::RebuildName() {
  CQuorvane_ISO9660FileTreeNode::RebuildName();
  MakeJolietName();
}
