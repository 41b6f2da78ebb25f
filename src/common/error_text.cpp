#include "common/error_text.h"

#include "common/error_codes.h"
#include "common/os_error.h"

#include <cstdint>
#include <cstring>

namespace brindle {

namespace {

struct OwnText {
    uint32_t code;
    const char* text;
};

const OwnText kOwnTexts[] = {
    {0x20000001, "クライアントからの不正な要求"},
    {0x20000002, "送信バッファ不足"},
    {0x20000003, "パスワード不一致"},
    {0x20000004, "データ受信失敗"},
    {0x20000006, "HTTP応答が不正です"},
    {0x20000008, "パスポート認証失敗"},
    {0x20000009, "受信バッファ不足"},
    {0x20000011, "サーバ未設定"},
    {0x20000012, "サーバ設定読出失敗"},
    {0x20000021, "バッファロック失敗"},
    {0x20000022, "バッファ追加失敗"},
    {0x20000023, "バッファ削除失敗"},
    {0x20000041, "データ圧縮ストリームエラー"},
    {0x20000042, "データ圧縮データエラー"},
    {0x20000043, "データ圧縮メモリエラー"},
    {0x20000044, "データ圧縮バッファエラー"},
    {0x20000051, "OpenSSLの初期化失敗"},
    {0x20000052, "OpenSSLのBIO作成に失敗"},
    {0x20000053, "OpenSSLのSSL作成に失敗"},
    {0x20000054, "OpenSSLのSSL送信に失敗"},
    {0x20000061, "オンラインストレージ送信失敗"},
    {0x20000062, "オンラインストレージ受信失敗"},
    {0x20000063, "オンラインストレージ否定応答受信"},
    {0x20000064, "オンラインストレージ送信待機"},
    {0x20000065, "オンラインストレージ受信異常"},
    {0x20000066, "オンラインストレージ応答無し"},
};

} // namespace

// System and socket codes take the platform layer's Japanese texts; a value
// without one is an errno value that MapErrno passed through, so strerror
// names it.
std::string ErrorText(uint32_t code) {
    if (IsOwnCode(code)) {
        for (const OwnText& entry : kOwnTexts) {
            if (entry.code == code)
                return entry.text;
        }
        return "不明なエラー";
    }
    if (const char* text = SystemErrorText(code))
        return text;
    if (code > static_cast<uint32_t>(INT32_MAX))
        return "";
    char buffer[256];
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

} // namespace brindle
