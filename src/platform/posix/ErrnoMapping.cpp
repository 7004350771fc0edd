#include "platform/posix/ErrnoMapping.h"

#include <cerrno>

namespace kx::platform {

uint32_t Win32ErrorFromErrno(int error, uint32_t fallback) {
    switch (error) {
        case ENOENT:
            return 2;  // ERROR_FILE_NOT_FOUND
        case ENOTDIR:
            return 3;  // ERROR_PATH_NOT_FOUND
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return 5;  // ERROR_ACCESS_DENIED
        case ENOMEM:
            return 8;  // ERROR_NOT_ENOUGH_MEMORY
        case EEXIST:
            return 80;  // ERROR_FILE_EXISTS
        case ENOSPC:
        case EDQUOT:
            return 112;  // ERROR_DISK_FULL
        case ENAMETOOLONG:
            return 206;  // ERROR_FILENAME_EXCED_RANGE
        default:
            return fallback;
    }
}

}  // namespace kx::platform
