#include "platform/os_error.h"

#include "common/error_codes.h"

#include <cerrno>

namespace brindle {

uint32_t MapErrno(int err) {
    switch (err) {
    case 0: return 0;
    case EAGAIN: return WSAEWOULDBLOCK_CODE; // EWOULDBLOCK is the same value on Linux
    case ETIMEDOUT: return WSAETIMEDOUT_CODE;
    case ECONNRESET: return WSAECONNRESET_CODE;
    case ECONNREFUSED: return WSAECONNREFUSED_CODE;
    case ECONNABORTED: return WSAECONNABORTED_CODE;
    case EPIPE: return WSAECONNRESET_CODE;
    case ENOTCONN: return WSAENOTCONN_CODE;
    case EISCONN: return WSAEISCONN_CODE;
    case EINPROGRESS: return WSAEINPROGRESS_CODE;
    case EALREADY: return WSAEALREADY_CODE;
    case ENOTSOCK: return WSAENOTSOCK_CODE;
    case EMSGSIZE: return WSAEMSGSIZE_CODE;
    case EADDRINUSE: return WSAEADDRINUSE_CODE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL_CODE;
    case ENETDOWN: return WSAENETDOWN_CODE;
    case ENETUNREACH: return WSAENETUNREACH_CODE;
    case ENETRESET: return WSAENETRESET_CODE;
    case ENOBUFS: return WSAENOBUFS_CODE;
    case ESHUTDOWN: return WSAESHUTDOWN_CODE;
    case EHOSTDOWN: return WSAEHOSTDOWN_CODE;
    case EHOSTUNREACH: return WSAEHOSTUNREACH_CODE;
    case EINTR: return WSAEINTR_CODE;
    case EBADF: return WSAEBADF_CODE;
    case EMFILE: return WSAEMFILE_CODE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY_CODE;
    case EINVAL: return ERROR_INVALID_PARAMETER_CODE;
    case ENOENT: return ERROR_FILE_NOT_FOUND_CODE;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND_CODE;
    case EACCES: return ERROR_ACCESS_DENIED_CODE;
    case EPERM: return ERROR_ACCESS_DENIED_CODE;
    case EEXIST: return ERROR_ALREADY_EXISTS_CODE;
    case ENOSPC: return ERROR_DISK_FULL_CODE;
    case EBUSY: return ERROR_SHARING_VIOLATION_CODE;
    case ENOTSUP: return ERROR_NOT_SUPPORTED_CODE;
    default: return static_cast<uint32_t>(err);
    }
}

uint32_t LastOsError() { return MapErrno(errno); }

} // namespace brindle
