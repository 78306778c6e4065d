// The host's file-system code for a failed system call on a file, as the host's own file calls
// answer it, so that a module can tell a full disk from a locked folder.
#pragma once

#include <cerrno>
#include <cstdint>

#include "platform/host/xtapi/XTAPI.h"

namespace xthost {

// `otherwise` for an error number without a code of its own. The error number stays in errno,
// where a failed call of the system leaves it, so that a caller can name the system's reason (a
// full quota, not only a full disk).
inline int32_t HostFileError(int error, int32_t otherwise)
{
    errno = error;
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return XT_ERR_DISK_FULL;
    case EROFS: return XT_ERR_WRITE_PROTECTED;
    case EACCES:
    case EPERM: return XT_ERR_PERMISSION;
    case ENOENT:
    case ENOTDIR: return XT_ERR_FILE_NOT_FOUND;
    case EIO: return XT_ERR_IO;
    default: return otherwise;
    }
}

}  // namespace xthost
