#include "platform/clock.h"
#include "server/capture/send_queue.h"

#include "capture_test_util.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

// A capture time of 10:20:<second> as the queue carries it.
uint64_t TimeAt(uint16_t nSecond) {
    SystemTime time{2024, 5, 0, 1, 10, 20, nSecond, 0};
    return SystemTimeToFileTime(time);
}

SendQueueEntry Image(int32_t nCamera, uint8_t nTag, uint16_t nSecond) {
    return SendQueueEntry{nCamera, {nTag}, TimeAt(nSecond)};
}

class RecordingObserver : public DropObserver {
  public:
    void ImageDropped(int32_t nCamera, uint32_t nDropped) override {
        drops.emplace_back(nCamera, nDropped);
    }
    std::vector<std::pair<int32_t, uint32_t>> drops;
};

std::vector<uint8_t> Tags(SendQueue& queue) {
    std::vector<uint8_t> tags;
    SendQueueEntry entry;
    while (queue.TakeHead(entry))
        tags.push_back(entry.jpeg.at(0));
    return tags;
}

TEST(SendQueueTest, CapacityIsClampedToOneTo256) {
    EXPECT_EQ(SendQueue(0).Capacity(), 1u);
    EXPECT_EQ(SendQueue(1).Capacity(), 1u);
    EXPECT_EQ(SendQueue(256).Capacity(), 256u);
    EXPECT_EQ(SendQueue(100000).Capacity(), 256u);
}

// Capacity 1: each new image drops the previous one, one log line a drop.
TEST(SendQueueTest, FullQueueDropsTheOldestAndLogsEachDrop) {
    test::TempDir dir;
    test::LogCapture log(dir);
    ServerShared shared(1);
    RecordingObserver observer;
    shared.dropObserver = &observer;
    shared.SetCameras({"Cam A", "Cam B"});
    std::lock_guard<std::mutex> guard(shared.mainLock);
    shared.AppendImage(Image(0, 1, 1));
    shared.AppendImage(Image(1, 2, 2));
    shared.AppendImage(Image(0, 3, 3));
    EXPECT_EQ(log.Count("カメラCam Aの画像(10:20:01)通信帯域不足のため送信中止\r\n"), 1);
    EXPECT_EQ(log.Count("カメラCam Bの画像(10:20:02)通信帯域不足のため送信中止\r\n"), 1);
    EXPECT_EQ(log.Count("送信中止"), 2);
    EXPECT_EQ(shared.counts[0].nDropped, 1u);
    EXPECT_EQ(shared.counts[1].nDropped, 1u);
    EXPECT_EQ(observer.drops, (std::vector<std::pair<int32_t, uint32_t>>{{0, 1}, {1, 1}}));
    EXPECT_EQ(Tags(shared.queue), std::vector<uint8_t>{3});
}

TEST(SendQueueTest, KeepsOrderAcrossTheRingsEnd) {
    ServerShared shared(3);
    std::lock_guard<std::mutex> guard(shared.mainLock);
    for (uint8_t n = 1; n <= 7; ++n) {
        shared.AppendImage(Image(0, n, 0));
        if (n % 2 == 0) {
            SendQueueEntry entry;
            ASSERT_TRUE(shared.queue.TakeHead(entry));
        }
    }
    EXPECT_EQ(Tags(shared.queue), (std::vector<uint8_t>{5, 6, 7}));
    SendQueueEntry entry;
    EXPECT_FALSE(shared.queue.TakeHead(entry));
    EXPECT_EQ(shared.queue.Head(), nullptr);
}

// A failed batch goes back ahead of what was queued meanwhile, in its own
// order; when room is short its oldest images are dropped and logged.
TEST(SendQueueTest, PutBackAtHeadKeepsOrderAndDropsTheOldest) {
    struct Case {
        uint32_t nCapacity;
        int nQueuedSince;
        std::vector<uint8_t> expected;
        int nDrops;
    } cases[] = {
        {8, 0, {1, 2, 3}, 0},
        {8, 2, {1, 2, 3, 10, 11}, 0},
        {4, 2, {2, 3, 10, 11}, 1},
        {3, 3, {10, 11, 12}, 3},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        test::LogCapture log(dir);
        ServerShared shared(c.nCapacity);
        shared.SetCameras({"Cam"});
        std::lock_guard<std::mutex> guard(shared.mainLock);
        for (uint8_t n = 1; n <= 3; ++n)
            shared.AppendImage(Image(0, n, n));
        std::vector<SendQueueEntry> batch(3);
        for (SendQueueEntry& entry : batch)
            ASSERT_TRUE(shared.queue.TakeHead(entry));
        for (int i = 0; i < c.nQueuedSince; ++i)
            shared.AppendImage(Image(0, uint8_t(10 + i), 30));
        shared.PutBackAtHead(std::move(batch));
        EXPECT_EQ(Tags(shared.queue), c.expected) << c.nCapacity << "/" << c.nQueuedSince;
        EXPECT_EQ(log.Count("通信帯域不足のため送信中止"), c.nDrops);
        EXPECT_EQ(shared.counts[0].nDropped, uint32_t(c.nDrops));
        if (c.nDrops > 0) {
            EXPECT_EQ(log.Count("カメラCamの画像(10:20:01)"), 1);
        }
    }
}

// Buffers of images sent come back for the next images, their memory kept;
// at most two a camera (at least four) are kept.
TEST(SendQueueTest, SentBuffersAreKeptForReuseUpToABound) {
    ServerShared shared;
    shared.SetCameras({"A", "B", "C"});
    EXPECT_EQ(shared.TakeSpareBuffer().capacity(), 0u);
    std::vector<const uint8_t*> kept;
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> buffer(1000 + i);
        kept.push_back(buffer.data());
        shared.RecycleBuffer(std::move(buffer));
    }
    shared.RecycleBuffer(std::vector<uint8_t>()); // nothing to keep
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> buffer = shared.TakeSpareBuffer();
        EXPECT_TRUE(buffer.empty());
        EXPECT_GE(buffer.capacity(), 1000u);
        EXPECT_EQ(buffer.data(), kept[size_t(5 - i)]);
    }
    EXPECT_EQ(shared.TakeSpareBuffer().capacity(), 0u);
}

} // namespace
} // namespace brindle
