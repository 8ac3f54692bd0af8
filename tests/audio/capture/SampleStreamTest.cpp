// The list of taps the shared stream delivers to: its slots, and that a removed tap is never
// called again even while another thread delivers.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "audio/capture/SampleStream.h"

namespace tunewick {
namespace {

class CountingTap final : public SampleTap {
public:
    void onSamples(const float*, std::size_t count, unsigned) override {
        samples += count;
        if (gone.load()) ++callsAfterRemoval;
    }
    std::atomic<std::size_t> samples{0};
    std::atomic<bool> gone{false};
    std::atomic<int> callsAfterRemoval{0};
};

TEST(SampleFanOut, HoldsEachTapOnceInAFixedNumberOfSlots) {
    SampleFanOut fanOut;
    std::array<CountingTap, SampleFanOut::kMaxTaps + 1> taps;
    EXPECT_FALSE(fanOut.remove(taps[0])) << "never added";
    for (std::size_t i = 0; i < SampleFanOut::kMaxTaps; ++i) ASSERT_TRUE(fanOut.add(taps[i])) << i;
    EXPECT_FALSE(fanOut.add(taps[0])) << "already there";
    EXPECT_FALSE(fanOut.add(taps.back())) << "every slot taken";
    EXPECT_EQ(fanOut.count(), SampleFanOut::kMaxTaps);

    const std::vector<float> block(100, 0.25f);
    fanOut.deliver(block.data(), block.size(), 0);
    EXPECT_TRUE(fanOut.remove(taps[3]));
    EXPECT_TRUE(fanOut.add(taps.back())) << "a freed slot is taken again";
    fanOut.deliver(block.data(), block.size(), 0);
    EXPECT_EQ(taps[0].samples.load(), 200u);
    EXPECT_EQ(taps[3].samples.load(), 100u);
    EXPECT_EQ(taps.back().samples.load(), 100u);
}

TEST(SampleFanOut, ARemovedTapIsNeverCalledAgainWhileAnotherThreadDelivers) {
    SampleFanOut fanOut;
    std::atomic<bool> stop{false};
    const std::vector<float> block(64, 0.0f);
    std::thread delivery([&] {
        while (!stop.load()) fanOut.deliver(block.data(), block.size(), 0);
    });
    for (int round = 0; round < 100; ++round) {
        CountingTap tap;
        ASSERT_TRUE(fanOut.add(tap));
        while (tap.samples.load() == 0) std::this_thread::yield();  // it is being delivered to
        ASSERT_TRUE(fanOut.remove(tap));
        tap.gone = true;  // from here on a call would reach a tap that is being destroyed
        for (int i = 0; i < 100; ++i) fanOut.count();  // let the delivery thread run on a little
        ASSERT_EQ(tap.callsAfterRemoval.load(), 0) << "round " << round;
    }
    stop = true;
    delivery.join();
}

}  // namespace
}  // namespace tunewick
