// What the server's packets do on the client's link: results, the log-in
// challenge, echoes, property pages and the server's disconnect. The
// settings transfer and image sets are in client_content.cpp.
#include "client/connections/client_link.h"
#include "client/connections/storage_link.h"
#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/little_endian.h"
#include "common/log.h"

#include <cstdio>

namespace brindle {

namespace {

bool IsImageType(uint16_t nType) {
    return nType >= PT_IMAGE && nType <= PT_IMAGE + 8;
}

// The challenge, the password stamp and the link stamp, as the server sends them.
constexpr size_t AUTH_PAYLOAD_SIZE = 32;
constexpr size_t RESULT_PAYLOAD_SIZE = 8;

} // namespace

ClientLink::Next ClientLink::Dispatch(int64_t nReceived) {
    if (nReceived < static_cast<int64_t>(PACKET_HEADER_SIZE)) {
        LogWrite("サーバ%sから受信サイズエラー(%u)\r\n", Address(),
                 static_cast<unsigned>(nReceived - static_cast<int64_t>(PACKET_HEADER_SIZE)));
        return Next::Teardown;
    }
    fIdle_ = false;
    PacketHeader header = PacketHeaderRead(packet_.data());
    // The codec delivers the plain payload behind the header; its stated
    // length is checked against the buffer before anything reads it.
    if (header.length > packet_.size() - PACKET_HEADER_SIZE) {
        LogWrite("サーバ%sから受信サイズエラー(%u)\r\n", Address(), header.length);
        return Next::Teardown;
    }
    std::span<uint8_t> payload(packet_.data() + PACKET_HEADER_SIZE, header.length);
    if (header.type != PT_RESULT && !IsImageType(header.type))
        LogWrite("%sから%s受信\r\n", Address(), PacketTypeName(header.type));
    switch (header.type) {
    case PT_RESULT:
        return OnResult(payload);
    case PT_ECHO:
        if (psp_.fOnline.load() != 0)
            nAnswerClock_ = 0;
        return Next::Continue;
    case PT_CONNECT:
        return OnSettingsChunk(payload);
    case PT_AUTH:
        return OnAuth(payload);
    case PT_DISCONNECT:
        fServerDisconnect_ = true;
        return Next::Teardown;
    case PT_PROPERTY:
        return OnProperty();
    default:
        if (IsImageType(header.type))
            return OnImagePiece(payload, header.type, header.flags);
        return Next::Continue;
    }
}

ClientLink::Next ClientLink::OnResult(std::span<const uint8_t> payload) {
    if (payload.size() < RESULT_PAYLOAD_SIZE)
        return Next::Continue;
    uint16_t nType = static_cast<uint16_t>(payload[0] | payload[1] << 8);
    uint32_t nCode = LoadLe32(payload.data() + 4);
    bool fOnline = psp_.fOnline.load() != 0;
    bool fLogIn = (nType == PT_CONNECT || nType == PT_AUTH) && !fOnline;
    if (nCode == 0) {
        LogWrite("サーバ%sから%s結果正常受信\r\n", Address(), PacketTypeName(nType));
        if (fLogIn || (nType == PT_REQUEST && fOnline))
            nAnswerClock_ = 0;
        return Next::Continue;
    }
    LogWrite("サーバ%sから%s結果受信(0x%08X-%s)\r\n", Address(), PacketTypeName(nType), nCode,
             ErrorText(nCode).c_str());
    if (fLogIn) {
        nAnswerClock_ = 0;
        if (nType == PT_AUTH && nCode == ERR_AUTH_FAILED)
            return OnAuthFailed();
        return Next::Teardown;
    }
    if (nType == PT_REQUEST && fOnline) {
        nAnswerClock_ = 0;
        char text[256];
        std::snprintf(text, sizeof text, "画像要求時にサーバでエラーが発生しました(0x%08X)!",
                      nCode);
        host_.ShowMessage(text, 0);
    }
    return Next::Continue;
}

// The server refused the password. When the saved stamp vouches for the
// password we know, the link is simply rebuilt; otherwise the user is asked.
ClientLink::Next ClientLink::OnAuthFailed() {
    if (fStorage_)
        DrainRelay();
    if (!psp_.cPassword.empty() && nServerStamp_ == psp_.qwPasswordStamp)
        return Next::Teardown;
    if (!AskPassword())
        return Next::Teardown;
    if (psp_.qwPasswordStamp == 0)
        SavePasswd(ctx_, psp_);
    nLinkStamp_ = fStorage_ ? psp_.pStorage->SendNo() : Now();
    if (Send(PT_CONNECT, {}, true) != 0)
        return Next::Teardown;
    SetAnswerClock();
    return Next::Continue;
}

// Relayed packets of the refused log-in are dropped until two receives in a
// row bring nothing.
void ClientLink::DrainRelay() {
    for (int nEmpty = 0; nEmpty < 2 && !Stopping();) {
        uint32_t nError = 0;
        int64_t n = Receive(nError);
        if (n >= static_cast<int64_t>(PACKET_HEADER_SIZE)) {
            nEmpty = 0;
            LogWrite("サーバ%sから%s受信破棄\r\n", Address(),
                     PacketTypeName(PacketHeaderRead(packet_.data()).type));
        } else {
            ++nEmpty;
        }
    }
}

// The password dialog; false when it was cancelled (the thread then stops).
// The digest covers the exact bytes, so any difference, letter case
// included, makes a new password (and clears the stamp).
bool ClientLink::AskPassword() {
    std::string entered = psp_.cPassword;
    if (host_.AskPassword(psp_, entered) != 0) {
        psp_.fStop = 1;
        return false;
    }
    if (entered.size() > SERVER_PASSWORD_MAX)
        entered.resize(SERVER_PASSWORD_MAX);
    if (entered != psp_.cPassword) {
        psp_.cPassword = entered;
        psp_.qwPasswordStamp = 0;
    }
    return true;
}

ClientLink::Next ClientLink::OnAuth(std::span<uint8_t> payload) {
    if (payload.size() < AUTH_PAYLOAD_SIZE) {
        LogWrite("サーバ%sから受信サイズエラー(%u)\r\n", Address(),
                 static_cast<unsigned>(payload.size()));
        return Next::Teardown;
    }
    if (fStorage_ && LoadLe32(payload.data() + 24) != nLinkStamp_) {
        LogWrite("サーバ%sからの古い認証要求を破棄\r\n", Address());
        return Next::Continue;
    }
    if (psp_.cPassword.empty() && !AskPassword())
        return Next::Teardown;
    if (psp_.qwPasswordStamp == 0)
        SavePasswd(ctx_, psp_);
    nServerStamp_ = LoadLe64(payload.data() + 16);
    uint8_t digest[16];
    AuthDigest(psp_.cPassword, payload.first<16>(), digest);
    std::copy(digest, digest + 16, psp_.abDigest.begin());
    fAuthAnswered_ = true;
    std::copy(digest, digest + 16, payload.begin());
    if (Send(PT_AUTH, payload.first(AUTH_PAYLOAD_SIZE), true) != 0)
        return Next::Teardown;
    SetAnswerClock();
    return Next::Continue;
}

ClientLink::Next ClientLink::OnProperty() {
    if (psp_.fOnline.load() == 0)
        return Next::Continue;
    nAnswerClock_ = 0;
    PacketHeader header = PacketHeaderRead(packet_.data());
    host_.PropertyPacket(
        psp_, std::span<const uint8_t>(packet_.data(), PACKET_HEADER_SIZE + header.length));
    return Next::Continue;
}

} // namespace brindle
