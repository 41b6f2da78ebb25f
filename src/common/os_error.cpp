#include "common/os_error.h"

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

namespace {

struct CodeText {
    uint32_t code;
    const char* text;
};

const CodeText kSystemTexts[] = {
    {ERROR_SUCCESS_CODE, "この操作を正しく終了しました。"},
    {ERROR_FILE_NOT_FOUND_CODE, "指定されたファイルが見つかりません。"},
    {ERROR_PATH_NOT_FOUND_CODE, "指定されたパスが見つかりません。"},
    {ERROR_ACCESS_DENIED_CODE, "アクセスが拒否されました。"},
    {ERROR_NOT_ENOUGH_MEMORY_CODE, "メモリが不足しています。"},
    {ERROR_INVALID_DATA_CODE, "データが無効です。"},
    {ERROR_CRC_CODE, "データエラー (CRC エラー) です。"},
    {ERROR_SHARING_VIOLATION_CODE, "ファイルは別のプロセスが使用中です。"},
    {ERROR_HANDLE_EOF_CODE, "ファイルの終わりに達しました。"},
    {ERROR_NOT_SUPPORTED_CODE, "この要求はサポートされていません。"},
    {ERROR_FILE_EXISTS_CODE, "ファイルが既に存在します。"},
    {ERROR_INVALID_PARAMETER_CODE, "パラメーターが間違っています。"},
    {ERROR_BUFFER_OVERFLOW_CODE, "ファイル名が長すぎます。"},
    {ERROR_DISK_FULL_CODE, "ディスクの空き領域が不足しています。"},
    {ERROR_INSUFFICIENT_BUFFER_CODE, "データ領域が小さすぎます。"},
    {ERROR_ALREADY_EXISTS_CODE, "既に存在するファイルは作成できません。"},
    {ERROR_CANCELLED_CODE, "操作はユーザーによって取り消されました。"},
    {ERROR_CONNECTION_CLOSED_CODE, "ネットワーク接続は相手によって閉じられました。"},
    {ERROR_CONNECTION_ABORTED_CODE, "ネットワーク接続はローカル システムによって中止されました。"},
    {ERROR_TIMEOUT_CODE, "タイムアウトしたため操作を終了しました。"},
    {WSAEINTR_CODE, "ブロッキング操作が割り込みで中断されました。"},
    {WSAEBADF_CODE, "ファイル ハンドルが無効です。"},
    {WSAEACCES_CODE, "ソケットへのアクセスが許可されていません。"},
    {WSAEFAULT_CODE, "無効なポインター アドレスが検出されました。"},
    {WSAEINVAL_CODE, "無効な引数が指定されました。"},
    {WSAEMFILE_CODE, "開いているソケットが多すぎます。"},
    {WSAEWOULDBLOCK_CODE, "ソケット操作をすぐに完了できませんでした。"},
    {WSAEINPROGRESS_CODE, "ブロッキング操作を実行中です。"},
    {WSAEALREADY_CODE, "操作は既に実行中です。"},
    {WSAENOTSOCK_CODE, "ソケットではないものに対してソケット操作を実行しました。"},
    {WSAEMSGSIZE_CODE, "メッセージがバッファーより大きすぎます。"},
    {WSAEADDRINUSE_CODE, "アドレスは既に使用されています。"},
    {WSAEADDRNOTAVAIL_CODE, "要求されたアドレスは無効です。"},
    {WSAENETDOWN_CODE, "ネットワークがダウンしています。"},
    {WSAENETUNREACH_CODE, "ネットワークに到達できません。"},
    {WSAENETRESET_CODE, "キープアライブの失敗により接続がリセットされました。"},
    {WSAECONNABORTED_CODE, "確立された接続がホストのソフトウェアによって中止されました。"},
    {WSAECONNRESET_CODE, "既存の接続はリモート ホストによって強制的に切断されました。"},
    {WSAENOBUFS_CODE, "バッファー領域が不足しているため、ソケット操作を実行できませんでした。"},
    {WSAEISCONN_CODE, "ソケットは既に接続されています。"},
    {WSAENOTCONN_CODE, "ソケットが接続されていません。"},
    {WSAESHUTDOWN_CODE, "ソケットがシャットダウンされているため送受信できません。"},
    {WSAETIMEDOUT_CODE, "接続先が一定時間内に応答しなかったため、接続できませんでした。"},
    {WSAECONNREFUSED_CODE, "接続先のコンピューターによって接続が拒否されました。"},
    {WSAEHOSTDOWN_CODE, "リモート ホストがダウンしています。"},
    {WSAEHOSTUNREACH_CODE, "ホストに到達できません。"},
    {WSAHOST_NOT_FOUND_CODE, "ホストが見つかりません。"},
    {WSATRY_AGAIN_CODE, "ホスト名の解決中に一時的なエラーが発生しました。"},
    {WSANO_DATA_CODE, "名前は有効ですが、要求された種類のデータが見つかりませんでした。"},
};

} // namespace

const char* SystemErrorText(uint32_t code) {
    for (const CodeText& entry : kSystemTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}

} // namespace brindle
