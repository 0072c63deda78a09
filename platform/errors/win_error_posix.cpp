#include <cerrno>

#include "platform/errors/WinError.h"

namespace platform {

WinError WinErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return kErrorFileNotFound;
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EINVAL:
        case ENOTTY:
            return kErrorInvalidParameter;
        case ENAMETOOLONG:
        case ENOTDIR:
        case ELOOP:
            return kErrorBadPathname;
        case EIO:
        case EPIPE:
        case ESHUTDOWN:
            return kErrorDeviceNotConnected;
        case ETIMEDOUT:
            return kErrorTimeout;
        case EINTR:
            return kErrorOperationAborted;
        case EOPNOTSUPP:
            return kErrorNotSupported;
        default:
            return kErrorGenFailure;
    }
}

}  // namespace platform
