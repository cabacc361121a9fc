#include "scsi/transport_sptd.h"

#include <cstring>

#include "core/exception.h"
#include "core/log.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "scsi/library_request.h"

namespace {

constexpr const char* kCtor = "CQuorvane_ScsiTransportSPTD::CQuorvane_ScsiTransportSPTD";
constexpr const char* kExecute = "CQuorvane_ScsiTransportSPTD::ExecuteCDBEx";
constexpr const char* kLibrary = QV_PASSTHROUGH_MODULE;

constexpr uint32_t kEnumerateAll = 2;
constexpr uint32_t kOpenShared = 0, kOpenExclusive = 0x10000000u;
constexpr size_t kMaximumName = 260;

// Entry layout of the library's device list.
constexpr size_t kEntryNext = 0, kEntryVendor = 16, kEntryProduct = 24, kEntryRevision = 40, kEntryLun = 47,
                 kEntryName = 64, kEntryMinimum = 68;

void NoProgress() {}

uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// The entry's name, at most kMaximumName + 1 characters (enough to tell
// a longer name from an equal one).
std::u16string EntryName(const uint8_t* entry) {
  const uint8_t* p = entry + ReadU32(entry + kEntryName);
  std::u16string name;
  for (size_t i = 0; i <= kMaximumName; ++i) {
    char16_t c;
    std::memcpy(&c, p + i * sizeof c, sizeof c);
    if (c == 0) break;
    name += c;
  }
  return name;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

}  // namespace

std::string QuorvaneI_NarrowForLog(const std::u16string& text) {
  // For the log only: a name that has no narrow form still shows, with '_'
  // for what cannot be shown.
  std::string out;
  uint32_t error = 0;
  qv::plat::WideToNarrow(text, &out, &error);
  return out;
}

CQuorvane_ScsiTransportSPTD::CQuorvane_ScsiTransportSPTD(const char16_t* deviceName, uint8_t openMode)
    : CQuorvane_ScsiTransport("CQuorvane_ScsiTransportSPTD", kExecute) {
  if (deviceName == nullptr || *deviceName == u'\0')
    QuorvaneI_Throw(kCtor, EN_INVALID_PARAMETER, 0, "%s(): No device name", kCtor);
  m__WCHAR__DeviceName = deviceName;
  const std::string name8 = QuorvaneI_NarrowForLog(m__WCHAR__DeviceName);
  QuorvaneI_Log("\n%s(): ENTERed for '%s', open mode %d\n", kCtor, name8.c_str(), openMode);

  uint32_t error = 0;
  m__HMODULE__Library = qv::plat::LoadLibraryByName(kLibrary, &error, &kDoorsFile);
  if (m__HMODULE__Library == nullptr)
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, error, "%s(): LoadLibrary( '%s' ) failed, status %d ( 0x%x )", kCtor,
                    kLibrary, static_cast<int>(error), error);
  void* entries[5] = {};
  for (uint16_t ordinal = 44; ordinal <= 48; ++ordinal) {
    entries[ordinal - 44] = qv::plat::GetLibraryOrdinal(m__HMODULE__Library, ordinal, &error);
    if (entries[ordinal - 44] == nullptr) {
      Release();
      QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, error,
                      "%s(): GetProcAddress( '%s', %d ) failed, status %d ( 0x%x )", kCtor, kLibrary, ordinal,
                      static_cast<int>(error), error);
    }
  }
  m__pfn__Enumerate = reinterpret_cast<decltype(m__pfn__Enumerate)>(entries[0]);
  m__pfn__Open = reinterpret_cast<decltype(m__pfn__Open)>(entries[1]);
  m__pfn__Close = reinterpret_cast<decltype(m__pfn__Close)>(entries[2]);
  m__pfn__Send = reinterpret_cast<decltype(m__pfn__Send)>(entries[3]);
  m__pfn__FreeList = reinterpret_cast<decltype(m__pfn__FreeList)>(entries[4]);

  uint32_t count = 0;
  void* list = nullptr;
  if (const uint32_t status = m__pfn__Enumerate(kEnumerateAll, 0, &count, &list, &NoProgress); status != 0) {
    Release();
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, status, "%s(): Device enumeration failed, status %d ( 0x%x )", kCtor,
                    static_cast<int>(status), status);
  }

  uint32_t openStatus = 0;
  const auto* entry = static_cast<const uint8_t*>(list);
  for (uint32_t i = 0; entry != nullptr && i < count; ++i) {
    const std::u16string entryName = EntryName(entry);
    if (SameName(entryName, m__WCHAR__DeviceName)) {
      QuorvaneI_Log("\n%s(): Found device '%s' with '%.8s' : '%.16s' : '%.4s'\n", kCtor,
                    QuorvaneI_NarrowForLog(entryName).c_str(), reinterpret_cast<const char*>(entry + kEntryVendor),
                    reinterpret_cast<const char*>(entry + kEntryProduct),
                    reinterpret_cast<const char*>(entry + kEntryRevision));
      openStatus = m__pfn__Open(m__WCHAR__DeviceName.c_str(), openMode == 1 ? kOpenShared : kOpenExclusive,
                                &m__HANDLE__Device);
      if (openStatus != 0) {
        QuorvaneI_Log("\n%s(): WARNING! Opening '%s' failed, status %d ( 0x%x )\n", kCtor, name8.c_str(),
                      static_cast<int>(openStatus), openStatus);
        m__HANDLE__Device = nullptr;
      }
      m__UCHAR__LUN = entry[kEntryLun];
      break;
    }
    const uint32_t next = ReadU32(entry + kEntryNext);
    entry = next < kEntryMinimum ? nullptr : entry + next;
  }
  if (list != nullptr) m__pfn__FreeList(list);

  if (m__HANDLE__Device == nullptr) {
    Release();
    if (openStatus == qv::plat::kErrAccessDenied)
      QuorvaneI_Throw(kCtor, EN_SHARING_VIOLATION, 0,
                      "%s(): Unable to open b/s of sharing violation device with device name '%s'", kCtor,
                      name8.c_str());
    QuorvaneI_Throw(kCtor, EN_NOT_FOUND, 0, "%s(): Unable to locate device with device name '%s'", kCtor,
                    name8.c_str());
  }
  m__UCHAR__DeviceType = 5;
  m__ULONG__MaximumTransferLength = kQuorvaneScsiMaximumTransferLength;
  QuorvaneI_Log("%s(): EXITing with success, handle 0x%0x\n", kCtor,
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(m__HANDLE__Device)));
}

CQuorvane_ScsiTransportSPTD::~CQuorvane_ScsiTransportSPTD() { Release(); }

void CQuorvane_ScsiTransportSPTD::Release() {
  if (m__HANDLE__Device != nullptr) m__pfn__Close(m__HANDLE__Device);
  m__HANDLE__Device = nullptr;
  qv::plat::FreeLibraryHandle(m__HMODULE__Library);
  m__HMODULE__Library = nullptr;
}

void CQuorvane_ScsiTransportSPTD::Deliver(Attempt& a) {
  const bool timing = a.timing1 != nullptr && a.timing2 != nullptr;
  QV_DOOR_REQUEST request;
  QuorvaneI_BuildLibraryRequest(a, timing ? QV_DOOR_FLAG_TIMING : 0, request);
  if (const uint32_t status = m__pfn__Send(m__HANDLE__Device, &request); status != 0)
    QuorvaneI_Throw(kExecute, EN_SYSTEM_CALL_FAILED, status, "%s(): Sending the CDB failed, status %d ( 0x%x )",
                    kExecute, static_cast<int>(status), status);
  QuorvaneI_ReadLibraryReply(request, a);
  if (timing && (request.timing1 != 0 || request.timing2 != 0)) {
    *a.timing1 = request.timing1;
    *a.timing2 = request.timing2;
  }
}
