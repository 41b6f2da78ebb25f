#include "client/app/headless_host.h"

#include "client/app/property_console.h"
#include "client/connections/server_params.h"
#include "common/file_io.h"
#include "common/log.h"

#include <cstdio>

namespace brindle {

namespace {

constexpr size_t PASSWORD_FILE_MAX = 4096;

} // namespace

uint32_t HeadlessHost::AskPassword(ServerParams& psp, std::string& cPassword) {
    std::string text;
    if (passwordFile_.empty() || ReadWholeFile(passwordFile_, PASSWORD_FILE_MAX, text) != 0) {
        LogWrite("サーバ%sのパスワードがありません(--password-file)\r\n", psp.cAddress.c_str());
        std::fprintf(stderr, "BrindleView: %s asks for a password; give one with --password-file\n",
                     psp.cAddress.c_str());
        return PASSWORD_CANCELLED;
    }
    text = text.substr(0, text.find_first_of("\r\n"));
    if (!psp.cPassword.empty() && text == psp.cPassword) {
        LogWrite("サーバ%sがパスワードを拒否\r\n", psp.cAddress.c_str());
        std::fprintf(stderr, "BrindleView: %s refused the password of %s\n", psp.cAddress.c_str(),
                     passwordFile_.c_str());
        return PASSWORD_CANCELLED;
    }
    cPassword = text;
    return 0;
}

void HeadlessHost::ShowMessage(const std::string& text, uint32_t nTimeoutMs) {
    (void)nTimeoutMs;
    LogWrite("メッセージ: %s\r\n", text.c_str());
    std::lock_guard<std::mutex> guard(lock_);
    std::fprintf(stderr, "BrindleView: %s\n", text.c_str());
}

void HeadlessHost::PropertyPacket(ServerParams& psp, std::span<const uint8_t> packet) {
    if (PropertyConsole* console = console_.load())
        console->Packet(psp, packet);
}

void HeadlessHost::ClosePropertyDialogOf(ServerParams& psp) {
    if (PropertyConsole* console = console_.load())
        console->ServerGone(psp);
}

void HeadlessHost::UpdateServerState(ServerParams& psp) {
    int nState = ServerStateIndex(&psp);
    std::lock_guard<std::mutex> guard(lock_);
    std::fprintf(stderr, "BrindleView: %s:%d %s\n", psp.cAddress.c_str(), psp.nPort,
                 ServerStateText(nState));
}

} // namespace brindle
