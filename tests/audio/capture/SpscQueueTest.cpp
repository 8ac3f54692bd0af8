#include "audio/capture/SpscQueue.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

namespace tunewick {
namespace {

TEST(SpscQueue, RoundsCapacityUpAndRefusesWhatDoesNotFit) {
    SpscQueue<int> queue(5);
    EXPECT_EQ(queue.capacity(), 8u);
    std::vector<int> items(12);
    std::iota(items.begin(), items.end(), 0);
    EXPECT_EQ(queue.push(items.data(), items.size()), 8u);  // the rest is refused
    EXPECT_FALSE(queue.push(99));
    EXPECT_EQ(queue.size(), 8u);

    std::vector<int> out(12, -1);
    EXPECT_EQ(queue.pop(out.data(), 3), 3u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 2);
    int first = -1;
    ASSERT_TRUE(queue.peek(first));
    EXPECT_EQ(first, 3);  // peeking takes nothing
    EXPECT_EQ(queue.size(), 5u);
}

TEST(SpscQueue, KeepsOrderAcrossManyWrapArounds) {
    SpscQueue<int> queue(16);
    int next = 0;
    int expected = 0;
    std::vector<int> chunk(7);
    std::vector<int> out(16);
    for (int round = 0; round < 200; ++round) {
        for (int& v : chunk) v = next++;
        ASSERT_EQ(queue.push(chunk.data(), chunk.size()), chunk.size());
        const std::size_t n = queue.pop(out.data(), round % 2 == 0 ? 5 : 9);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], expected++);
    }
    const std::size_t rest = queue.pop(out.data(), out.size());
    for (std::size_t i = 0; i < rest; ++i) EXPECT_EQ(out[i], expected++);
    EXPECT_EQ(expected, next);
    int none = 0;
    EXPECT_FALSE(queue.pop(none));
    EXPECT_FALSE(queue.peek(none));
}

// A producer and a consumer thread, as the device callback and the capture worker: every
// item arrives once, in order, and nothing is lost except what the producer saw refused.
TEST(SpscQueue, HandsOverBetweenTwoThreadsWithoutLossOrReordering) {
    SpscQueue<std::uint32_t> queue(256);
    constexpr std::uint32_t kItems = 200000;
    std::thread producer([&] {
        std::uint32_t next = 0;
        std::vector<std::uint32_t> chunk;
        while (next < kItems) {
            chunk.clear();
            for (std::uint32_t i = 0; i < 1 + next % 37 && next + i < kItems; ++i) {
                chunk.push_back(next + i);
            }
            next += static_cast<std::uint32_t>(queue.push(chunk.data(), chunk.size()));
            if (next % 1000 == 0) std::this_thread::yield();
        }
    });
    std::uint32_t expected = 0;
    std::vector<std::uint32_t> out(64);
    bool inOrder = true;
    while (expected < kItems) {
        const std::size_t n = queue.pop(out.data(), out.size());
        for (std::size_t i = 0; i < n; ++i) inOrder = inOrder && out[i] == expected++;
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(expected, kItems);
    EXPECT_EQ(queue.size(), 0u);
}

}  // namespace
}  // namespace tunewick
