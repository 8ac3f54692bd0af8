#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <thread>
#include <vector>

#include "commands/RandomSource.h"

namespace tunewick {
namespace {

std::vector<int> draw(RandomSource& source, int count) {
    std::vector<int> out;
    for (int i = 0; i < count; ++i) out.push_back(source.next());
    return out;
}

// Values worked out from s = s * 214013 + 2531011 (mod 2^32), r = (s >> 16) & 0x7FFF.
TEST(CrtRandomSource, FollowsTheClassicRecurrence) {
    CrtRandomSource source;
    source.seed(1);
    EXPECT_EQ(draw(source, 6), (std::vector<int>{41, 18467, 6334, 26500, 19169, 15724}));
    source.seed(0);
    EXPECT_EQ(draw(source, 4), (std::vector<int>{38, 7719, 21238, 2437}));
    // The state wraps modulo 2^32 rather than saturating or overflowing.
    source.seed(0xFFFFFFFFu);
    EXPECT_EQ(draw(source, 4), (std::vector<int>{35, 29739, 3374, 11141}));
}

TEST(CrtRandomSource, ReseedingRestartsTheSequence) {
    CrtRandomSource source(12345);
    const std::vector<int> first = draw(source, 20);
    source.seed(999);
    const std::vector<int> other = draw(source, 20);
    source.seed(12345);
    EXPECT_EQ(draw(source, 20), first);
    EXPECT_NE(other, first);
}

TEST(CrtRandomSource, ProcessWideInstanceIsOne) {
    RandomSource& a = RandomSource::processWide();
    RandomSource& b = RandomSource::processWide();
    EXPECT_EQ(&a, &b);
    a.seed(1);
    EXPECT_EQ(b.next(), 41);
}

// Draws from several threads lose no step of the recurrence: together they consume exactly
// the first N numbers of the sequence, and the next draw is number N + 1.
TEST(CrtRandomSourceThreads, ConcurrentDrawsLoseNoStep) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 10000;
    CrtRandomSource shared(1);
    std::vector<std::vector<int>> drawn(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&shared, &drawn, t] { drawn[t] = draw(shared, kPerThread); });
    }
    std::vector<int> all;
    for (const auto& part : drawn) all.insert(all.end(), part.begin(), part.end());

    CrtRandomSource alone(1);
    std::vector<int> expected = draw(alone, kThreads * kPerThread);
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
    EXPECT_EQ(shared.next(), 4167);  // number 40001 after seed 1
}

TEST(TimeSeed, KeepsTheLow32BitsOfTheSeconds) {
    EXPECT_EQ(timeSeed(0), 0u);
    EXPECT_EQ(timeSeed(1700000000), 1700000000u);
    EXPECT_EQ(timeSeed(0x123456789LL), 0x23456789u);
    EXPECT_EQ(timeSeed(-1), 0xFFFFFFFFu);
}

TEST(TimeSeed, SystemClockCountsCalendarSeconds) {
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t now = currentTimeSeconds();
    const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_GE(now, before - 1);
    EXPECT_LE(now, after + 1);
}

}  // namespace
}  // namespace tunewick
