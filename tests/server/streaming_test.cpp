// Images from the queue to a logged-in client: batches, pieces, the cipher
// and what happens to a batch that cannot be sent.
#include "common/error_codes.h"
#include "server/connections/image_batch.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"

#include <gtest/gtest.h>

namespace brindle::test {
namespace {

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

// Receives batches until nWanted records have arrived.
std::vector<BatchRecord> ReceiveRecords(ScriptedClient& client, size_t nWanted,
                                        std::vector<uint16_t>* types = nullptr) {
    std::vector<BatchRecord> all;
    std::vector<BatchRecord> records;
    uint16_t nType = 0;
    while (all.size() < nWanted && client.ReceiveBatch(records, 5000, &nType)) {
        all.insert(all.end(), records.begin(), records.end());
        if (types != nullptr)
            types->push_back(nType);
    }
    return all;
}

// The whole batch as it travels.
std::vector<uint8_t> BatchBytes(const ImageBatch& batch) {
    std::vector<uint8_t> bytes(batch.nBytes + 10, 0xEE);
    ImageBatchReader reader(batch);
    EXPECT_EQ(reader.Read(bytes.data(), bytes.size()), batch.nBytes);
    bytes.resize(batch.nBytes);
    return bytes;
}

TEST(TakeImageBatch, StopsAfterTheImageThatCrossesTheLimit) {
    ServerShared shared;
    shared.SetCameras({"A"});
    for (uint32_t i = 0; i < 13; ++i)
        shared.AppendImage(SendQueueEntry{0, std::vector<uint8_t>(100000, uint8_t(i)), i});
    shared.counts[0].nSent = 7;
    ImageBatch batch;
    TakeImageBatch(shared, batch);
    // Ten images make exactly 1,000,000 bytes, which does not exceed the
    // limit; the eleventh crosses it and is the last one taken.
    ASSERT_EQ(batch.entries.size(), 11u);
    EXPECT_EQ(shared.queue.Count(), 2u);
    EXPECT_EQ(batch.nBytes, 8 + 11 * (24 + 100000u));
    std::vector<BatchRecord> records;
    ASSERT_TRUE(ParseImageBatch(BatchBytes(batch), records));
    EXPECT_EQ(records.front().nSent, 8u);
    EXPECT_EQ(records.back().nSent, 18u);
    EXPECT_EQ(records.back().ftCapture, 10u);
    EXPECT_EQ(shared.counts[0].nSent, 7u); // shown count moves only once sent
}

// Pieces of any size, an empty JPEG among the images, read the same bytes
// as the whole batch at once.
TEST(TakeImageBatch, ReadInPiecesGivesTheWholeBatch) {
    ServerShared shared;
    shared.SetCameras({"A", "B"});
    shared.AppendImage(SendQueueEntry{0, Bytes(5000, 1), 1});
    shared.AppendImage(SendQueueEntry{1, {}, 2});
    shared.AppendImage(SendQueueEntry{1, Bytes(70, 3), 3});
    ImageBatch batch;
    TakeImageBatch(shared, batch);
    ASSERT_EQ(batch.nBytes, 8 + 3 * 24 + 5070u);
    std::vector<uint8_t> whole = BatchBytes(batch);
    std::vector<BatchRecord> records;
    ASSERT_TRUE(ParseImageBatch(whole, records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].nCamera, 2u);
    EXPECT_TRUE(records[1].jpeg.empty());
    EXPECT_EQ(records[2].jpeg, Bytes(70, 3));
    for (size_t nPiece : {1u, 7u, 24u, 969u, 5150u}) {
        ImageBatchReader reader(batch);
        std::vector<uint8_t> joined;
        std::vector<uint8_t> piece(nPiece);
        size_t n = 0;
        while ((n = reader.Read(piece.data(), nPiece)) > 0)
            joined.insert(joined.end(), piece.begin(), piece.begin() + n);
        EXPECT_EQ(joined, whole) << nPiece;
    }
}

TEST(ConnectionStreaming, BatchesCarryCameraJpegAndCounts) {
    ServerFixture server;
    {
        std::lock_guard<std::mutex> lock(server.shared.mainLock);
        server.shared.counts[1].nDropped = 5;
    }
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    server.Queue(0, Bytes(5000, 1), 0x01DA000000000001ull);
    server.Queue(1, Bytes(7000, 2), 0x01DA000000000002ull);
    server.Queue(0, Bytes(9000, 3), 0x01DA000000000003ull);
    std::vector<BatchRecord> records = ReceiveRecords(client, 3);
    ASSERT_EQ(records.size(), 3u);
    struct Expect {
        uint32_t nCamera, nSent, nDropped;
        size_t nSize;
        uint32_t nSeed;
    } expected[] = {{1, 1, 0, 5000, 1}, {2, 1, 5, 7000, 2}, {1, 2, 0, 9000, 3}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].nCamera, expected[i].nCamera) << i;
        EXPECT_EQ(records[i].nSent, expected[i].nSent) << i;
        EXPECT_EQ(records[i].nDropped, expected[i].nDropped) << i;
        EXPECT_EQ(records[i].ftCapture, 0x01DA000000000001ull + i);
        EXPECT_EQ(records[i].jpeg, Bytes(expected[i].nSize, expected[i].nSeed)) << i;
    }
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(server.shared.mainLock);
        return server.shared.counts[0].nSent == 2 && server.shared.counts[1].nSent == 1;
    }));
}

TEST(ConnectionStreaming, SmallPacketLimitSplitsBatchesIntoPieces) {
    ServerFixture server;
    server.context.nPacketMax = 1024;
    server.context.nCrypt = IMAGE_CIPHER_AES_128;
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    server.Queue(0, Bytes(20000, 9), 1);
    std::vector<BatchRecord> records = ReceiveRecords(client, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].jpeg, Bytes(20000, 9));
}

TEST(ConnectionStreaming, CipherChangeBetweenImagesChangesTheNextPiece) {
    ServerFixture server;
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    std::vector<uint16_t> types;
    server.Queue(0, Bytes(3000, 4), 1);
    ASSERT_EQ(ReceiveRecords(client, 1, &types).size(), 1u);
    server.context.nCrypt = IMAGE_CIPHER_AES_128;
    server.Queue(0, Bytes(3000, 5), 2);
    std::vector<BatchRecord> second = ReceiveRecords(client, 1, &types);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].jpeg, Bytes(3000, 5));
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[0], 100);
    EXPECT_EQ(types[1], 103);
}

TEST(ConnectionStreaming, NothingIsSentBeforeLogInAndTheQueueWaits) {
    ServerFixture server;
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(server.Listen()));
    server.Queue(0, Bytes(1000, 6), 1);
    EXPECT_TRUE(client.Quiet(300));
    EXPECT_EQ(server.QueueCount(), 1u);
    ASSERT_EQ(client.Login("").nResult, 0u);
    std::vector<BatchRecord> records = ReceiveRecords(client, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].jpeg, Bytes(1000, 6));
}

TEST(ConnectionStreaming, FailedBatchGoesBackToTheHeadInOrder) {
    ServerFixture server;
    ScriptedClient client;
    // A small receive window, so that a batch of a megabyte cannot vanish
    // into socket buffers before the reset.
    ASSERT_TRUE(client.Connect(server.Listen(), "127.0.0.1", 4096));
    ASSERT_EQ(client.Login("").nResult, 0u);
    {
        std::lock_guard<std::mutex> lock(server.shared.mainLock);
        for (uint32_t i = 0; i < 12; ++i)
            server.shared.AppendImage(SendQueueEntry{int32_t(i % 2), Bytes(100000, i), 100 + i});
    }
    server.manager.NotifyWork();
    // The first batch takes eleven images; reset while it is on its way.
    ASSERT_TRUE(WaitUntil([&] { return server.QueueCount() == 1; }));
    client.Reset();
    ASSERT_TRUE(WaitUntil([&] { return !server.PeerRunning("127.0.0.1"); }, 20000));
    std::lock_guard<std::mutex> lock(server.shared.mainLock);
    ASSERT_EQ(server.shared.queue.Count(), 12u);
    for (uint32_t i = 0; i < 12; ++i) {
        SendQueueEntry entry;
        ASSERT_TRUE(server.shared.queue.TakeHead(entry));
        EXPECT_EQ(entry.ftCapture, 100 + i);
        EXPECT_EQ(entry.jpeg, Bytes(100000, i));
    }
    EXPECT_EQ(server.shared.counts[0].nSent, 0u);
    std::string log = server.LogText();
    size_t nFailed = 0;
    for (size_t pos = log.find("送信失敗"); pos != std::string::npos;
         pos = log.find("送信失敗", pos + 1))
        ++nFailed;
    EXPECT_EQ(nFailed, 11u);
    EXPECT_NE(log.find("カメラCam Aの画像("), std::string::npos);
}

TEST(ConnectionStreaming, PutBackDropsTheOldestWhenTheQueueFilledMeanwhile) {
    ServerShared shared(3);
    shared.SetCameras({"A"});
    for (uint32_t i = 0; i < 3; ++i)
        shared.AppendImage(SendQueueEntry{0, {uint8_t(i)}, i});
    ImageBatch batch;
    TakeImageBatch(shared, batch);
    ASSERT_EQ(batch.entries.size(), 3u);
    shared.AppendImage(SendQueueEntry{0, {9}, 9}); // queued while the batch was out
    shared.PutBackAtHead(std::move(batch.entries));
    ASSERT_EQ(shared.queue.Count(), 3u);
    EXPECT_EQ(shared.counts[0].nDropped, 1u);
    SendQueueEntry entry;
    for (uint64_t expected : {1u, 2u, 9u}) {
        ASSERT_TRUE(shared.queue.TakeHead(entry));
        EXPECT_EQ(entry.ftCapture, expected);
    }
}

} // namespace
} // namespace brindle::test
