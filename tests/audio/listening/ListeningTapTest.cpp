// When a live stream's first sample handed to a listener was captured, against the moment the
// listener started: from a device opened late, from one already running, and never for a
// stream that is not live.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "audio/listening/ListeningTap.h"
#include "support/ScriptedSampleStream.h"

namespace tunewick {
namespace {

using testing::ScriptedSampleStream;
using std::chrono::milliseconds;

TEST(ListeningTap, SaysHowLongBeforeItsStartALiveStreamsFirstSampleWasCaptured) {
    constexpr double kRate = 48000.0;
    struct Case {
        const char* what;
        bool live;
        int firstAfterMs;  // when the first delivery comes
        int firstMs;       // how much it holds; then 5 ms blocks in real time
        double atLeastMs, atMostMs;
    };
    // Bounds a late wake of this test cannot break: the least delayed delivery counts, and a
    // delivery can only be late.
    const Case cases[] = {
        {"a device that begins 40 ms after the start", true, 40, 5, -120, -35},
        {"a running stream whose first block holds 10 ms from before", true, 0, 10, 0, 10.01},
        {"a file, whose first sample is its own time 0", false, 40, 5, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto stream = std::make_shared<ScriptedSampleStream>(kRate, c.live);
        ListeningTap tap(22050.0);
        ASSERT_EQ(tap.start(stream, [](const float*, std::size_t, bool) {}), 0);
        const auto started = std::chrono::steady_clock::now();  // no earlier than the tap's own start
        EXPECT_EQ(tap.capturedBeforeStartMs(), 0.0) << "nothing delivered yet";
        std::this_thread::sleep_until(started + milliseconds(c.firstAfterMs));
        stream->push(std::vector<float>(static_cast<std::size_t>(kRate * c.firstMs / 1000)), 1 << 20);
        const std::vector<float> block(static_cast<std::size_t>(kRate * 0.005));
        for (int i = 1; i <= 20; ++i) {
            std::this_thread::sleep_until(started + milliseconds(c.firstAfterMs + 5 * i));
            stream->push(block, block.size());
        }
        EXPECT_GE(tap.capturedBeforeStartMs(), c.atLeastMs);
        EXPECT_LE(tap.capturedBeforeStartMs(), c.atMostMs);
        tap.stop();
    }
}

}  // namespace
}  // namespace tunewick
