// Song time against the stream's sample clock, and when an event may be decided.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "audio/practice/PracticeClock.h"

namespace tunewick {
namespace {

TEST(PracticeClock, SongTimeZeroIsDueAfterTheDelayTheLatencyWhenTheFirstSampleWasCapturedAndTheMusicBegan) {
    struct Case {
        double rate, delay, latency, time, capturedBefore;
        std::int64_t due;
        std::vector<std::pair<double, double>> musicLate = {};  // {ms, from song time} as the page said them
    };
    const Case cases[] = {
        {22050, 0, 0, 0, 0, 0},
        {22050, 1000, 0, 0, 0, 22050},
        {22050, 1000, 0, 500, 0, 33075},
        {22050, 1000, 40, 500, 0, 33957},  // 1540 ms
        {48000, 250, 10, 1000.5, 0, 60504},
        {8000, 0, 0, 0.0625, 0, 1},          // half a sample rounds away from zero
        {22050, 1000, 40, 500, 8, 34133},    // a running stream's first block held 8 ms from before: 1548 ms
        {22050, 1000, 40, 500, -20, 33516},  // a device opened for the practice began 20 ms late: 1520 ms
        {22050, 1000, 40, 500, -20, 33737, {{10, 0}}},  // and the page's music began 10 ms late: 1530 ms
        // At 1 sample a ms: a stall at song time 1000 moves only what follows it; a step said
        // again replaces the last, in any order; before every step nothing moves.
        {1000, 0, 0, 999, 0, 1009, {{10, 0}, {40, 1000}}},
        {1000, 0, 0, 1000, 0, 1040, {{10, 0}, {40, 1000}}},
        {1000, 0, 0, 1999, 0, 2054, {{50, 2000}, {40, 1000}, {10, 0}, {55, 1000}}},
        {1000, 0, 0, 2000, 0, 2050, {{50, 2000}, {40, 1000}, {10, 0}, {55, 1000}}},
        {1000, 0, 0, 999, 0, 999, {{30, 1000}}},
    };
    for (const Case& c : cases) {
        PracticeClock clock(c.rate, c.delay, c.latency, {});
        clock.setCapturedBeforeStart(c.capturedBefore);
        for (const auto& [ms, from] : c.musicLate) clock.setMusicLate(ms, from);
        EXPECT_EQ(clock.dueSample(c.time), c.due)
            << c.rate << " " << c.delay << " " << c.latency << " " << c.time << " " << c.capturedBefore << " "
            << c.musicLate.size();
    }
}

TEST(PracticeClock, TheWindowsSpanTheLateWindowEitherSide) {
    const PracticeClock clock(20000, 100, 0, {50, 150});
    EXPECT_EQ(clock.openSample(1000), 22000 - 3000);
    EXPECT_EQ(clock.closeSample(1000), 22000 + 3000);
    EXPECT_EQ(clock.toSamples(150), 3000);
    EXPECT_DOUBLE_EQ(clock.toMs(3000), 150.0);
}

TEST(PracticeClock, AnEventIsDecidedOnceItsNotesAreHeardAndNeverLaterThanTheLongestWait) {
    // 1 sample = 1 ms: due at 1000, window closes at 1150, the longest wait ends at 1325.
    const PracticeClock clock(1000, 0, 0, {50, 150});
    const std::int64_t reportDelay = 30, analysis = 200;
    struct Case {
        const char* what;
        std::int64_t available, latestOnset;
        bool ready;
    };
    const Case cases[] = {
        {"window still open", 1149, -1, false},
        {"closed, onsets not all reported", 1179, -1, false},
        {"closed and reported, nothing heard yet", 1180, -1, false},
        {"nothing heard by the longest wait", 1325, -1, true},
        {"an early onset heard whole", 1180, 950, true},
        {"an onset on time still sounding", 1180, 1000, false},
        {"that onset heard whole", 1200, 1000, true},
        {"a late onset still sounding", 1324, 1140, false},
        {"the longest wait is over", 1325, 1140, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clock.ready(1000, c.available, reportDelay, c.latestOnset, analysis), c.ready) << c.what;
    }
}

}  // namespace
}  // namespace tunewick
