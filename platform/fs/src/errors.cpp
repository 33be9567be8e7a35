#include <cerrno>

#include "fs/errors.h"

namespace vfs {

OSErr osErrFromErrno(int error) {
    switch (error) {
        case 0:
            return noErr;
        case ENOENT:
            return fnfErr;
        case EEXIST:
            return dupFNErr;
        case ENOTEMPTY:
        case EBUSY:
            return fBsyErr;
        case EACCES:
        case EPERM:
            return afpAccessDenied;
        case EROFS:
            return wPrErr;
        case ENOSPC:
        case EDQUOT:
            return dskFulErr;
        case ENAMETOOLONG:
            return bdNamErr;
        case ENOTDIR:
            return dirNFErr;
        case EISDIR:
            return notAFileErr;
        case ELOOP:
            return errFSNotAFolder;
        case EINVAL:
            return paramErr;
        case ENOMEM:
            return memFullErr;
        case EMFILE:
        case ENFILE:
            return tmfoErr;
        default:
            return ioErr;
    }
}

}  // namespace vfs
