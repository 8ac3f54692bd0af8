// A capture buffer's stop racing the stream's wake-ups of its worker: whatever the order, the
// stop is never lost and the worker always ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <thread>
#include <vector>

#include "audio/Status.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "support/ScriptedSampleStream.h"

namespace tunewick {
namespace {

using namespace std::chrono_literals;

TEST(StreamCaptureBuffer, AStopRacingWakeUpsNeverHangs) {
    // Each round starts a worker and stops it while deliveries keep waking it. Sanitizer
    // builds run fewer rounds in the same time.
    const auto budget = 4s;
    constexpr long kRounds = 1'000'000;
    auto stream = std::make_shared<testing::ScriptedSampleStream>(8000.0);
    StreamCaptureBuffer buffer(stream, WaveFormat::pcm8Mono(8000), 1024);
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        const std::vector<float> one(1, 0.5f);
        while (feeding.load(std::memory_order_relaxed)) stream->push(one);
    });
    std::promise<long> finished;
    auto rounds = finished.get_future();
    std::thread racer([&] {
        const auto until = std::chrono::steady_clock::now() + budget;
        long n = 0;
        for (; n < kRounds && std::chrono::steady_clock::now() < until; ++n) {
            if (buffer.start() != status::kOk) break;
            buffer.stop();
        }
        finished.set_value(n);
    });
    if (rounds.wait_for(budget + 20s) != std::future_status::ready) {
        std::cerr << "a stop was lost: the worker never ended\n";
        std::abort();  // the stuck thread cannot be joined
    }
    racer.join();
    feeding = false;
    feeder.join();
    const long done = rounds.get();
    std::cout << done << " stops raced with wake-ups\n";
    EXPECT_GT(done, 100);
    EXPECT_GT(buffer.stats().callbacks, 0u);
}

}  // namespace
}  // namespace tunewick
