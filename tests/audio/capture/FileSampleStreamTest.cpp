// The file played as the microphone: its time 0 is the moment the first consumer attaches,
// which is what lets a test play a practice's events on time with --input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "audio/capture/FileSampleStream.h"

namespace tunewick {
namespace {

using namespace std::chrono_literals;

// Remembers the first sample it is given and counts the rest.
class FirstSampleTap final : public SampleTap {
public:
    void onSamples(const float* samples, std::size_t count, unsigned) override {
        if (count == 0) return;
        if (received_.load() == 0) first_.store(samples[0]);
        received_.fetch_add(count);
    }
    float first() const { return first_.load(); }
    std::size_t received() const { return received_.load(); }

private:
    std::atomic<float> first_{-1.0f};
    std::atomic<std::size_t> received_{0};
};

bool waitFor(const FirstSampleTap& tap, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (tap.received() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(FileSampleStream, EachFirstConsumerHearsTheFileFromItsStartAndALaterOneJoinsWhereItPlays) {
    // Each sample says where in the file it is: sample i holds i / N.
    constexpr std::size_t kSamples = 8000;
    auto file = std::make_shared<std::vector<float>>(kSamples);
    for (std::size_t i = 0; i < kSamples; ++i) (*file)[i] = static_cast<float>(i) / kSamples;
    FileSampleStream stream(file, 8000.0);

    // Left alone a while first: an unheard file does not play on its own.
    std::this_thread::sleep_for(50ms);
    for (int round = 0; round < 2; ++round) {
        FirstSampleTap first;
        ASSERT_EQ(stream.attach(first), 0);
        ASSERT_TRUE(waitFor(first, 800));  // 100 ms in
        EXPECT_EQ(first.first(), 0.0f) << "round " << round;

        FirstSampleTap later;
        ASSERT_EQ(stream.attach(later), 0);
        ASSERT_TRUE(waitFor(later, 1));
        EXPECT_GE(later.first() * kSamples, 800.0f) << "round " << round;
        stream.detach(later);
        stream.detach(first);
        // The next first consumer starts the file again, not where this one left it.
        std::this_thread::sleep_for(20ms);
    }
}

}  // namespace
}  // namespace tunewick
