#include <cerrno>

#include "platform/errors.h"

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
    case ETXTBSY: return kErrSharingViolation;
    case ENOSYS:
    case EOPNOTSUPP: return kErrNotSupported;
    case EEXIST: return kErrFileExists;
    case EINVAL:
    case EFAULT:
    case EOVERFLOW: return kErrInvalidParameter;
    case EPIPE: return kErrBrokenPipe;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    case ETIMEDOUT: return kErrSemTimeout;
    case ENAMETOOLONG: return kErrFilenameExcedRange;
    case ELOOP: return kErrCantResolveFilename;
    case ENOTEMPTY: return kErrDirNotEmpty;
    case EBUSY: return kErrBusy;
    case EFBIG: return kErrFileTooLarge;
    case EIO: return kErrIoDevice;
    case ENOMEDIUM: return kErrNoMediaInDrive;
    case ENXIO:
    case ENODEV: return kErrDeviceNotConnected;
    case EINTR:
    case ECANCELED: return kErrCancelled;
    case ENOTTY: return kErrInvalidFunction;
    case EAGAIN: return kErrBusy;
    default: return kErrGenFailure;
  }
}

uint32_t LastSystemError() { return SystemErrorFromErrno(errno); }

}  // namespace qv::plat
