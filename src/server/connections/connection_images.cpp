// Streaming images: a batch from the queue, cut into enciphered pieces; a
// batch that fails goes back to the head of the queue.
#include "common/error_codes.h"
#include "common/log.h"
#include "server/connections/connection_thread.h"
#include "server/connections/image_batch.h"
#include "common/little_endian.h"

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
    uint32_t err = SendPieces(batch, fLastPlain);
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

uint32_t ConnectionThread::SendPieces(const ImageBatch& batch, bool& fLastPlain) {
    size_t nChunk = ctx_.PacketMax() - IMAGE_PIECE_OVERHEAD;
    if (rec_.Relayed())
        nChunk = std::max(nChunk, batch.nBytes);
    size_t nPieces = ImagePieceCount(batch.nBytes, nChunk);
    // The piece buffer is kept for the next batch; only the one-piece buffer
    // of a large relayed batch is given back afterwards.
    size_t nPieceBuffer = PacketSendBufferSize(nChunk + IMAGE_PIECE_EXTRA);
    try {
        if (pieces_.size() < nPieceBuffer)
            pieces_.resize(nPieceBuffer);
        // A piece's header, its share of the batch's parts, its tail.
        parts_.reserve(2 + 1 + 2 * batch.entries.size());
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    ImageBatchReader reader(batch);
    static const uint8_t kUnused[3] = {};
    uint8_t header[IMAGE_PIECE_HEADER] = {};
    uint32_t err = 0;
    for (size_t i = 0; i < nPieces && err == 0; ++i) {
        size_t n = std::min(nChunk, batch.nBytes - i * nChunk);
        StoreLe32(header, static_cast<uint32_t>(i + 1));
        StoreLe32(header + 4, static_cast<uint32_t>(nPieces));
        StoreLe32(header + 8, static_cast<uint32_t>(n));
        // The piece is enciphered straight from the queued images; the parts
        // stay within the room reserved above.
        parts_.clear();
        parts_.emplace_back(header, IMAGE_PIECE_HEADER);
        reader.Take(n, parts_);
        parts_.emplace_back(kUnused, sizeof kUnused);
        EnsureCipher();
        uint16_t nType = static_cast<uint16_t>(PT_IMAGE + rec_.packet.imageCipher.nAlgorithm);
        // Sent alone, a piece ends in a part-filled segment (over loopback a
        // full piece is a few dozen bytes more than one segment), which
        // costs both ends about as much as a full one.
        uint32_t nOptions = SEND_ENCIPHER | (i + 1 < nPieces ? SEND_MORE : 0);
        err = SendPacketFrom(rec_.packet, nType, parts_, pieces_, nOptions, false);
        // Image pieces are not compressed, so the header went out from here.
        if (err == 0)
            fLastPlain = (PacketHeaderRead(pieces_.data()).flags & PF_SENT_PLAIN) != 0;
    }
    if (pieces_.size() > PacketSendBufferSize(PACKET_PAYLOAD_MAX))
        std::vector<uint8_t>().swap(pieces_);
    return err;
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
