// Streaming images: a batch from the queue, cut into enciphered pieces; a
// batch that fails goes back to the head of the queue.
#include "common/error_codes.h"
#include "common/log.h"
#include "server/connections/connection_thread.h"
#include "server/connections/image_batch.h"
#include "server/connections/wire.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brindle {

bool ConnectionThread::SendImageBatch() {
    ImageBatch batch;
    {
        std::lock_guard<std::mutex> lock(ctx_.shared.mainLock);
        TakeImageBatch(ctx_.shared, batch);
    }
    if (batch.entries.empty())
        return true;
    bool fLastPlain = false;
    uint32_t err = SendPieces(batch.bytes, fLastPlain);
    if (err != 0) {
        BatchFailed(std::move(batch.entries), err);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(ctx_.shared.mainLock);
        for (CameraCounts& counts : ctx_.shared.counts)
            counts.nSent = counts.nPending;
    }
    ctx_.host.SentCountsChanged();
    ctx_.host.CipherWarning(fLastPlain);
    return true;
}

uint32_t ConnectionThread::SendPieces(const std::vector<uint8_t>& batch, bool& fLastPlain) {
    size_t nChunk = ctx_.PacketMax() - IMAGE_PIECE_OVERHEAD;
    if (rec_.Relayed())
        nChunk = std::max(nChunk, batch.size());
    size_t nPieces = ImagePieceCount(batch.size(), nChunk);
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(PACKET_HEADER_SIZE + IMAGE_PIECE_HEADER + nChunk + 3 + PACKET_SEND_SPARE);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    for (size_t i = 0; i < nPieces; ++i) {
        size_t nOffset = i * nChunk;
        size_t n = std::min(nChunk, batch.size() - nOffset);
        uint8_t* p = buffer.data() + PACKET_HEADER_SIZE;
        std::memset(p, 0, IMAGE_PIECE_HEADER);
        wire::Store32(p, static_cast<uint32_t>(i + 1));
        wire::Store32(p + 4, static_cast<uint32_t>(nPieces));
        wire::Store32(p + 8, static_cast<uint32_t>(n));
        std::memcpy(p + IMAGE_PIECE_HEADER, batch.data() + nOffset, n);
        std::memset(p + IMAGE_PIECE_HEADER + n, 0, 3);
        EnsureCipher();
        uint16_t nType = static_cast<uint16_t>(PT_IMAGE + rec_.packet.imageCipher.nAlgorithm);
        uint32_t err =
            SendPacket(rec_.packet, nType, buffer, static_cast<uint32_t>(n + IMAGE_PIECE_EXTRA),
                       SEND_ENCIPHER, false);
        if (err != 0)
            return err;
        // Image pieces are not compressed, so the header went out from here.
        fLastPlain = (PacketHeaderRead(buffer.data()).flags & PF_SENT_PLAIN) != 0;
    }
    return 0;
}

// The server-wide algorithm may change between two pieces; the state
// follows it before every piece.
void ConnectionThread::EnsureCipher() {
    int nAlgorithm = std::clamp(ctx_.nCrypt.load(), 0, IMAGE_CIPHER_COUNT - 1);
    ImageCipherState& state = rec_.packet.imageCipher;
    if (state.fReady && state.nAlgorithm == nAlgorithm)
        return;
    ImageCipherRelease(state);
    state.nAlgorithm = nAlgorithm;
    if (uint32_t err = ImageCipherSetUp(state))
        LogWrite("画像暗号化アルゴリズム%sの初期化失敗(%08X)\r\n", ImageCipherName(nAlgorithm),
                 err);
}

void ConnectionThread::BatchFailed(std::vector<SendQueueEntry>&& entries, uint32_t nError) {
    {
        std::lock_guard<std::mutex> lock(ctx_.shared.mainLock);
        for (const SendQueueEntry& entry : entries) {
            SystemTime time = FileTimeToSystemTime(entry.ftCapture);
            const char* pcName = "";
            if (entry.nCamera >= 0 &&
                static_cast<size_t>(entry.nCamera) < ctx_.shared.cameraNames.size())
                pcName = ctx_.shared.cameraNames[static_cast<size_t>(entry.nCamera)].c_str();
            LogWrite("カメラ%sの画像(%02hu:%02hu:%02hu)送信失敗\r\n", pcName, time.wHour,
                     time.wMinute, time.wSecond);
        }
        ctx_.shared.PutBackAtHead(std::move(entries));
    }
    ReplyResult(PT_IMAGE, nError);
}

} // namespace brindle
