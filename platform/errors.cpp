// The errno table serves both systems: the C runtime reports errno on
// Windows too (fopen, the standard streams).
#include "platform/errors.h"

#include <cerrno>

namespace qv::plat {

uint32_t SystemErrorFromErrno(int err) {
  switch (err) {
    case 0: return kErrSuccess;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrAccessDenied;
    case EBADF: return kErrInvalidHandle;
    case ENOMEM: return kErrNotEnoughMemory;
    case EROFS: return kErrWriteProtect;
    case ESPIPE: return kErrSeek;
#ifdef ETXTBSY
    case ETXTBSY: return kErrSharingViolation;
#endif
    case ENOSYS:
#if defined(EOPNOTSUPP)
    case EOPNOTSUPP:
#endif
      return kErrNotSupported;
    case EEXIST: return kErrFileExists;
    case EINVAL:
    case EFAULT:
#ifdef EOVERFLOW
    case EOVERFLOW:
#endif
      return kErrInvalidParameter;
    case EPIPE: return kErrBrokenPipe;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return kErrDiskFull;
#ifdef ETIMEDOUT
    case ETIMEDOUT: return kErrSemTimeout;
#endif
    case ENAMETOOLONG: return kErrFilenameExcedRange;
#ifdef ELOOP
    case ELOOP: return kErrCantResolveFilename;
#endif
    case ENOTEMPTY: return kErrDirNotEmpty;
    case EBUSY: return kErrBusy;
    case EFBIG: return kErrFileTooLarge;
    case EIO: return kErrIoDevice;
#ifdef ENOMEDIUM
    case ENOMEDIUM: return kErrNoMediaInDrive;
#endif
    case ENXIO:
    case ENODEV: return kErrDeviceNotConnected;
    case EINTR:
#ifdef ECANCELED
    case ECANCELED:
#endif
      return kErrCancelled;
    case ENOTTY: return kErrInvalidFunction;
    case EAGAIN: return kErrBusy;
    default: return kErrGenFailure;
  }
}

}  // namespace qv::plat
