// How long after a listener started its stream's first sample was captured: a device opened
// for the listener begins late, a stream that delivers ahead of real time does not.
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
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(ListeningTap, MeasuresHowLongAfterTheStartTheStreamsFirstSampleWasCaptured) {
    constexpr double kRate = 48000.0;
    struct Case {
        const char* what;
        int firstAfterMs;  // when the first samples come
        int blockMs;       // each delivery's length; they come in real time after the first
        int blocks;
        double atLeastMs, belowMs;
    };
    // The lag is measured from the least delayed delivery: a block delivered when it is
    // complete says its first sample was captured one block before.
    const Case cases[] = {
        {"a device that starts 40 ms late", 40, 5, 40, 35, 120},
        {"a device that starts at once", 0, 10, 20, 0, 60},
        {"a second delivered all at once", 0, 1000, 1, 0, 0.001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto stream = std::make_shared<ScriptedSampleStream>(kRate);
        ListeningTap tap(22050.0);
        ASSERT_EQ(tap.start(stream, [](const float*, std::size_t, bool) {}), 0);
        EXPECT_EQ(tap.startLagMs(), 0.0) << "nothing delivered yet";
        const auto started = Clock::now();
        const std::vector<float> block(static_cast<std::size_t>(kRate * c.blockMs / 1000.0));
        for (int i = 0; i < c.blocks; ++i) {
            // Absolute times, so that one late wake does not move the rest.
            std::this_thread::sleep_until(started + milliseconds(c.firstAfterMs + c.blockMs * i));
            stream->push(block, block.size());
        }
        const double lag = tap.startLagMs();
        EXPECT_GE(lag, c.atLeastMs);
        EXPECT_LT(lag, c.belowMs);
        tap.stop();
    }
}

}  // namespace
}  // namespace tunewick
