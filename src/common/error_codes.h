// Result codes shared by both programs.
//
// Operations return 0 for success or a code. System and socket failures use
// the Windows code space (POSIX errno values are mapped into it by
// common/os_error.h) so that logic, log lines and result packets agree with
// peers; the programs' own codes have bit 29 set.
#pragma once

#include <cstdint>

namespace brindle {

// System codes (Windows numbering).
inline constexpr uint32_t ERROR_SUCCESS_CODE = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;
inline constexpr uint32_t ERROR_INVALID_DATA_CODE = 13;
inline constexpr uint32_t ERROR_CRC_CODE = 23;
inline constexpr uint32_t ERROR_SHARING_VIOLATION_CODE = 32;
inline constexpr uint32_t ERROR_HANDLE_EOF_CODE = 38;
inline constexpr uint32_t ERROR_NOT_SUPPORTED_CODE = 50;
inline constexpr uint32_t ERROR_FILE_EXISTS_CODE = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
inline constexpr uint32_t ERROR_BUFFER_OVERFLOW_CODE = 111;
inline constexpr uint32_t ERROR_DISK_FULL_CODE = 112;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
inline constexpr uint32_t ERROR_ALREADY_EXISTS_CODE = 183;
inline constexpr uint32_t ERROR_CANCELLED_CODE = 1223;         // the user cancelled a dialog
inline constexpr uint32_t ERROR_TIMEOUT_CODE = 1460;
inline constexpr uint32_t ERROR_CONNECTION_ABORTED_CODE = 1236;
inline constexpr uint32_t ERROR_CONNECTION_CLOSED_CODE = 1226; // peer closed during a read

// Socket codes (Winsock numbering).
inline constexpr uint32_t WSAEINTR_CODE = 10004;
inline constexpr uint32_t WSAEBADF_CODE = 10009;
inline constexpr uint32_t WSAEACCES_CODE = 10013;
inline constexpr uint32_t WSAEFAULT_CODE = 10014;
inline constexpr uint32_t WSAEINVAL_CODE = 10022;
inline constexpr uint32_t WSAEMFILE_CODE = 10024;
inline constexpr uint32_t WSAEWOULDBLOCK_CODE = 10035;
inline constexpr uint32_t WSAEINPROGRESS_CODE = 10036;
inline constexpr uint32_t WSAEALREADY_CODE = 10037;
inline constexpr uint32_t WSAENOTSOCK_CODE = 10038;
inline constexpr uint32_t WSAEMSGSIZE_CODE = 10040;
inline constexpr uint32_t WSAEADDRINUSE_CODE = 10048;
inline constexpr uint32_t WSAEADDRNOTAVAIL_CODE = 10049;
inline constexpr uint32_t WSAENETDOWN_CODE = 10050;
inline constexpr uint32_t WSAENETUNREACH_CODE = 10051;
inline constexpr uint32_t WSAENETRESET_CODE = 10052;
inline constexpr uint32_t WSAECONNABORTED_CODE = 10053;
inline constexpr uint32_t WSAECONNRESET_CODE = 10054;
inline constexpr uint32_t WSAENOBUFS_CODE = 10055;
inline constexpr uint32_t WSAEISCONN_CODE = 10056;
inline constexpr uint32_t WSAENOTCONN_CODE = 10057;
inline constexpr uint32_t WSAESHUTDOWN_CODE = 10058;
inline constexpr uint32_t WSAETIMEDOUT_CODE = 10060;
inline constexpr uint32_t WSAECONNREFUSED_CODE = 10061;
inline constexpr uint32_t WSAEHOSTDOWN_CODE = 10064;
inline constexpr uint32_t WSAEHOSTUNREACH_CODE = 10065;
inline constexpr uint32_t WSAHOST_NOT_FOUND_CODE = 11001;
inline constexpr uint32_t WSATRY_AGAIN_CODE = 11002;
inline constexpr uint32_t WSANO_DATA_CODE = 11004;

// The programs' own codes.
inline constexpr uint32_t ERR_OWN_CODE_BIT = 0x20000000;
inline constexpr uint32_t ERR_UNSUPPORTED_TYPE = 0x20000001; // invalid request from the client
inline constexpr uint32_t ERR_SEND_TIMEOUT = 0x20000002;     // send buffer too small / send timed out
inline constexpr uint32_t ERR_AUTH_FAILED = 0x20000003;      // password mismatch
inline constexpr uint32_t ERR_RELAY_LENGTH = 0x20000004;     // data receive failed
inline constexpr uint32_t ERR_PASSPORT_AUTH = 0x20000008;
inline constexpr uint32_t ERR_RECEIVE_BUFFER = 0x20000009;
inline constexpr uint32_t ERR_INFO_EMPTY = 0x20000011;       // server not configured
inline constexpr uint32_t ERR_INFO_SHORT = 0x20000012;       // reading the server settings failed
inline constexpr uint32_t ERR_BUFFER_LOCK = 0x20000021;
inline constexpr uint32_t ERR_BUFFER_APPEND = 0x20000022;
inline constexpr uint32_t ERR_BUFFER_REMOVE = 0x20000023;
inline constexpr uint32_t ERR_INFLATE_STREAM = 0x20000041;
inline constexpr uint32_t ERR_INFLATE_DATA = 0x20000042;
inline constexpr uint32_t ERR_INFLATE_MEMORY = 0x20000043;
inline constexpr uint32_t ERR_INFLATE_BUFFER = 0x20000044;
inline constexpr uint32_t ERR_SSL_INIT = 0x20000051;
inline constexpr uint32_t ERR_SSL_BIO = 0x20000052;
inline constexpr uint32_t ERR_SSL_NEW = 0x20000053;
inline constexpr uint32_t ERR_SSL_SEND = 0x20000054;
inline constexpr uint32_t ERR_STORAGE_SEND = 0x20000061;
inline constexpr uint32_t ERR_STORAGE_RECEIVE = 0x20000062;
inline constexpr uint32_t ERR_STORAGE_NEGATIVE = 0x20000063;
inline constexpr uint32_t ERR_STORAGE_SEND_WAIT = 0x20000064;
inline constexpr uint32_t ERR_STORAGE_RECEIVE_ANOMALY = 0x20000065;
inline constexpr uint32_t ERR_STORAGE_NO_ANSWER = 0x20000066;
inline constexpr uint32_t ERR_NO_SUCH_CAMERA = 0x20000101;

inline constexpr bool IsOwnCode(uint32_t code) { return (code & ERR_OWN_CODE_BIT) != 0; }

} // namespace brindle
