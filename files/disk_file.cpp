#include <cstring>

#include "core/exception.h"
#include "core/log.h"
#include "files/file.h"
#include "platform/clock.h"
#include "platform/errors.h"

namespace {

// How long a wait-for-data source sleeps before it asks again.
constexpr uint32_t kWaitForDataMs = 10;
constexpr int64_t kSequentialAdviceFrom = 1 << 20;

}  // namespace

CQuorvane_DiskFile::CQuorvane_DiskFile(Deferred, const char* fileName, uint64_t sizeInUCHARs)
    : CQuorvane_File(sizeInUCHARs), m__STRING__FileName(fileName ? fileName : "") {}

CQuorvane_DiskFile::CQuorvane_DiskFile(const char* fileName, uint64_t sizeInUCHARs)
    : CQuorvane_DiskFile(Deferred{}, fileName, sizeInUCHARs) {
  OpenByName("CQuorvane_DiskFile::CQuorvane_DiskFile");
}

CQuorvane_DiskFile::CQuorvane_DiskFile(const char* fileName) : CQuorvane_DiskFile(Deferred{}, fileName, 0) {
  OpenByName("CQuorvane_DiskFile::CQuorvane_DiskFile");
  m__ULONGLONG__SizeInUCHARs = m__ULONGLONG__DiskSizeInUCHARs;
}

CQuorvane_DiskFile::CQuorvane_DiskFile(QV_HANDLE handle, uint64_t sizeInUCHARs) : CQuorvane_File(sizeInUCHARs) {
  AdoptHandle(handle);
}

CQuorvane_DiskFile::CQuorvane_DiskFile(QV_HANDLE handle, uint64_t sizeInUCHARs, bool waitForData)
    : CQuorvane_File(sizeInUCHARs) {
  m__BOOLEAN__WaitForData = waitForData ? 1 : 0;
  AdoptHandle(handle);
}

CQuorvane_DiskFile::~CQuorvane_DiskFile() = default;

void CQuorvane_DiskFile::AdoptHandle(QV_HANDLE handle) {
  uint32_t error = 0;
  m__File = qv::plat::File::Duplicate(reinterpret_cast<intptr_t>(handle), &error);
  if (!m__File.IsOpen())
    QuorvaneI_Throw("CQuorvane_DiskFile::CQuorvane_DiskFile", EN_SYSTEM_CALL_FAILED, error,
                    "CQuorvane_DiskFile::CQuorvane_DiskFile(): DuplicateHandle( 0x%p ) failed, status %ld!!!", handle,
                    static_cast<long>(error));
  m__BOOLEAN__Seekable = m__File.IsSeekable() ? 1 : 0;
  if (m__BOOLEAN__Seekable) {
    const int64_t size = m__File.Size(&error);
    if (size < 0)
      QuorvaneI_Throw("CQuorvane_DiskFile::CQuorvane_DiskFile", EN_SYSTEM_CALL_FAILED, error,
                      "CQuorvane_DiskFile::CQuorvane_DiskFile(): GetFileSize( 0x%p ) failed, status %ld!!!", handle,
                      static_cast<long>(error));
    m__ULONGLONG__DiskSizeInUCHARs = static_cast<uint64_t>(size);
  }
  m__File.AdviseSequential();
}

void CQuorvane_DiskFile::OpenByName(const char* method) { OpenByNameSized(method, -1); }

void CQuorvane_DiskFile::OpenByNameSized(const char* method, int64_t sizeInUCHARs) {
  uint32_t error = 0;
  int64_t size = sizeInUCHARs;
  qv::plat::File file = size < 0 ? qv::plat::File::OpenSized(m__STRING__FileName, &size, &error)
                                 : qv::plat::File::OpenToRead(m__STRING__FileName, &error);
  if (!file.IsOpen() && size >= 0 && (error == qv::plat::kErrFileNotFound || error == qv::plat::kErrPathNotFound)) {
    // Sized while it was there: gone now is the same as shrunk to nothing.
    m__ULONGLONG__DiskSizeInUCHARs = static_cast<uint64_t>(size);
    m__BOOLEAN__Gone = 1;
    ReportChanged(0);
    return;
  }
  if (!file.IsOpen())
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): CreateFile( '%s' ) failed, status %ld!!!", method,
                    m__STRING__FileName.c_str(), static_cast<long>(error));
  // Below the kernel's own read-ahead the advice buys nothing but a call.
  if (size > kSequentialAdviceFrom) file.AdviseSequential();
  m__File = std::move(file);
  m__BOOLEAN__Seekable = 1;
  m__BOOLEAN__Gone = 0;
  m__ULONGLONG__DiskSizeInUCHARs = static_cast<uint64_t>(size);
}

void CQuorvane_DiskFile::ReportChanged(uint64_t nowInUCHARs) {
  if (m__BOOLEAN__Changed) return;
  m__BOOLEAN__Changed = 1;
  QuorvaneI_Log("\nCQuorvane_DiskFile::RealRead(): WARNING! '%s' changed after it was sized, %llu UCHARs instead of "
                "%llu; it is read as it was sized, %s\n",
                m__STRING__FileName.c_str(), static_cast<unsigned long long>(nowInUCHARs),
                static_cast<unsigned long long>(m__ULONGLONG__DiskSizeInUCHARs),
                nowInUCHARs < m__ULONGLONG__DiskSizeInUCHARs ? "completed with zeros" : "the rest left out");
  if (m__PListener != nullptr) m__PListener->OnFileChanged(m__STRING__FileName.c_str());
}

CQuorvane_File* CQuorvane_DiskFile::SeekToBeginUnsafe(uint32_t* budget) {
  // Reads carry their own offsets, so only a stream that cannot seek has a
  // position to lose.
  if (!m__BOOLEAN__Seekable && m__ULONGLONG__PositionInUCHARs != 0)
    QuorvaneI_Throw("CQuorvane_DiskFile::SeekToBeginUnsafe", EN_SYSTEM_CALL_FAILED, qv::plat::kErrSeek,
                    "CQuorvane_DiskFile::SeekToBeginUnsafe(): SetFilePointer() failed, status %ld!!!",
                    static_cast<long>(qv::plat::kErrSeek));
  return CQuorvane_File::SeekToBeginUnsafe(budget);
}

void CQuorvane_DiskFile::RealRead(uint64_t length, uint8_t* buffer) {
  const uint64_t offset = m__ULONGLONG__DataOffset + m__ULONGLONG__PositionInUCHARs;
  if (EndsStream(length) && ReadSmallEnd(offset, length, buffer)) return;
  ReadFileBytes(offset, length, buffer);
  if (EndsStream(length)) CheckUnchangedAtEnd();
}

// The last bytes of a small file, read with one byte more than it had: a
// byte there means the file grew, and one call does the read and the check.
// Large reads (and sources that cannot tell) read and ask for the size.
bool CQuorvane_DiskFile::ReadSmallEnd(uint64_t offset, uint64_t length, uint8_t* buffer) {
  constexpr uint64_t kSmall = 64 * 1024;
  const uint64_t disk = m__ULONGLONG__DiskSizeInUCHARs;
  if (m__BOOLEAN__WaitForData || !m__BOOLEAN__Seekable || m__BOOLEAN__Gone || offset > disk ||
      offset + length < disk || disk - offset > kSmall)
    return false;
  const uint64_t wanted = disk - offset;
  uint8_t scratch[kSmall + 1];
  uint32_t error = 0;
  const int64_t n = m__File.ReadAtOnce(offset, scratch, wanted + 1, &error);
  if (n < 0)
    QuorvaneI_Throw("CQuorvane_DiskFile::RealRead", EN_SYSTEM_CALL_FAILED, error,
                    "CQuorvane_DiskFile::RealRead(): ReadFile() failed, status %ld!!!", static_cast<long>(error));
  if (static_cast<uint64_t>(n) != wanted) {
    // Shrunk or grown: the reads that ask for the size say which, and how.
    ReadFileBytes(offset, length, buffer);
    CheckUnchangedAtEnd();
    return true;
  }
  std::memcpy(buffer, scratch, wanted);
  return true;
}

void CQuorvane_DiskFile::ReadFileBytes(uint64_t offset, uint64_t length, uint8_t* buffer) {
  uint32_t error = 0;
  if (!m__BOOLEAN__Seekable) {
    // A pipe delivers what it has; a short stream is padded with zeros.
    if (m__File.Read(buffer, length, &error) < 0)
      QuorvaneI_Throw("CQuorvane_DiskFile::RealRead", EN_SYSTEM_CALL_FAILED, error,
                      "CQuorvane_DiskFile::RealRead(): ReadFile() failed, status %ld!!!", static_cast<long>(error));
    return;
  }
  if (m__BOOLEAN__Gone) {
    std::memset(buffer, 0, length);
    return;
  }
  // A file still being written is read up to the size it is going to have;
  // any other file only as far as it reached when it was sized.
  uint64_t wanted = length;
  if (!m__BOOLEAN__WaitForData)
    wanted = offset >= m__ULONGLONG__DiskSizeInUCHARs ? 0 : std::min(length, m__ULONGLONG__DiskSizeInUCHARs - offset);
  uint64_t done = 0;
  while (done < wanted) {
    const int64_t n = m__File.ReadAt(offset + done, buffer + done, wanted - done, &error);
    if (n < 0)
      QuorvaneI_Throw("CQuorvane_DiskFile::RealRead", EN_SYSTEM_CALL_FAILED, error,
                      "CQuorvane_DiskFile::RealRead(): ReadFile() failed, status %ld!!!", static_cast<long>(error));
    done += static_cast<uint64_t>(n);
    if (done == wanted) break;
    if (!m__BOOLEAN__WaitForData) {
      std::memset(buffer + done, 0, wanted - done);
      ReportChanged(offset + done);
      return;
    }
    if (qv::plat::ReadStopRequested())
      QuorvaneI_Throw("CQuorvane_DiskFile::RealRead", EN_SYSTEM_CALL_FAILED, qv::plat::kErrCancelled,
                      "CQuorvane_DiskFile::RealRead(): Stopped while waiting for UCHAR %llu of '%s'!!!",
                      static_cast<unsigned long long>(offset + done), m__STRING__FileName.c_str());
    qv::plat::SleepMs(kWaitForDataMs);
  }
}

void CQuorvane_DiskFile::CheckUnchangedAtEnd() {
  if (m__BOOLEAN__WaitForData || !m__BOOLEAN__Seekable || m__BOOLEAN__Gone || m__BOOLEAN__Changed) return;
  uint32_t error = 0;
  const int64_t size = m__File.Size(&error);
  if (size < 0)
    QuorvaneI_Throw("CQuorvane_DiskFile::RealRead", EN_SYSTEM_CALL_FAILED, error,
                    "CQuorvane_DiskFile::RealRead(): GetFileSize() failed, status %ld!!!", static_cast<long>(error));
  if (static_cast<uint64_t>(size) != m__ULONGLONG__DiskSizeInUCHARs) ReportChanged(static_cast<uint64_t>(size));
}

CQuorvane_UnLockedDiskFile::CQuorvane_UnLockedDiskFile(const char* fileName, uint64_t sizeInUCHARs)
    : CQuorvane_DiskFile(Deferred{}, fileName, sizeInUCHARs) {
  OpenByName("CQuorvane_UnLockedDiskFile::Open");
  m__File.Close();
}

void CQuorvane_UnLockedDiskFile::RealRead(uint64_t length, uint8_t* buffer) {
  if (!m__File.IsOpen() && !m__BOOLEAN__Gone) {
    const uint64_t sized = m__ULONGLONG__DiskSizeInUCHARs;
    uint32_t error = 0;
    int64_t now = -1;
    qv::plat::File file = qv::plat::File::OpenSized(m__STRING__FileName, &now, &error);
    if (!file.IsOpen() && error != qv::plat::kErrFileNotFound && error != qv::plat::kErrPathNotFound)
      QuorvaneI_Throw("CQuorvane_UnLockedDiskFile::Open", EN_SYSTEM_CALL_FAILED, error,
                      "CQuorvane_UnLockedDiskFile::Open(): CreateFile( '%s' ) failed, status %ld!!!",
                      m__STRING__FileName.c_str(), static_cast<long>(error));
    if (file.IsOpen() && now > kSequentialAdviceFrom) file.AdviseSequential();
    m__File = std::move(file);
    m__BOOLEAN__Gone = m__File.IsOpen() ? 0 : 1;
    // Reopened by name: it should still be the file that was sized.
    if (!m__File.IsOpen() || static_cast<uint64_t>(now) != sized) ReportChanged(m__File.IsOpen() ? uint64_t(now) : 0);
  }
  CQuorvane_DiskFile::RealRead(length, buffer);
  m__ULONGLONG__ReadSinceOpenInUCHARs += length;
  if (m__ULONGLONG__ReadSinceOpenInUCHARs >= m__ULONGLONG__SizeInUCHARs) m__File.Close();
}

CQuorvane_File* CQuorvane_UnLockedDiskFile::SeekToBeginUnsafe(uint32_t* budget) {
  m__File.Close();
  m__BOOLEAN__Gone = 0;
  m__ULONGLONG__ReadSinceOpenInUCHARs = 0;
  return CQuorvane_DiskFile::SeekToBeginUnsafe(budget);
}
