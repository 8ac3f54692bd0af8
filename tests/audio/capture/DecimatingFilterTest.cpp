#include "audio/capture/DecimatingFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "support/ToneAnalysis.h"

namespace tunewick {
namespace {

using testing::toneLevel;

// The filter's output for a sine of `hz` (amplitude 1) at 8192 Hz, decimated to 2048 Hz,
// measured past the filter's start-up: the sine's amplitude at the frequency it lands on.
double gainAt(double hz) {
    constexpr double kInputRate = 8192.0;
    constexpr double kOutputRate = 2048.0;
    std::vector<float> in(static_cast<std::size_t>(kInputRate * 2));
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kInputRate));
    }
    DecimatingFilter filter(4);
    std::vector<float> out;
    filter.process(in.data(), in.size(), out);
    const std::vector<double> settled(out.begin() + 256, out.end());
    // Where a frequency above the output's Nyquist frequency would fold to.
    const double landsAt = std::abs(hz - kOutputRate * std::round(hz / kOutputRate));
    return toneLevel(settled, kOutputRate, landsAt);
}

double decibels(double gain) { return 20.0 * std::log10(std::max(gain, 1e-12)); }

// The tuner's and the recognizer's band passes unchanged; what would fold into it when one
// sample in four is dropped is at least 60 dB down.
TEST(DecimatingFilter, PassesTheBandBelowThePassbandEdgeAndStopsWhatWouldFold) {
    for (double hz : {41.0, 82.0, 196.0, 330.0, 500.0, 690.0}) {
        SCOPED_TRACE(hz);
        EXPECT_NEAR(decibels(gainAt(hz)), 0.0, 0.05);
    }
    for (double hz : {1024.0, 1100.0, 1500.0, 2000.0, 2500.0, 3072.0, 4000.0}) {
        SCOPED_TRACE(hz);
        EXPECT_LT(decibels(gainAt(hz)), -60.0);
    }
}

TEST(DecimatingFilter, KeepsOneSampleInFactorWhateverTheChunksItIsFed) {
    std::vector<float> in(5000);
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<float>(std::sin(0.05 * static_cast<double>(i)) + 0.3 * std::sin(1.9 * static_cast<double>(i)));
    }
    DecimatingFilter whole(4);
    std::vector<float> expected;
    whole.process(in.data(), in.size(), expected);
    EXPECT_EQ(expected.size(), 1250u);
    for (std::size_t chunk : {1u, 3u, 107u, 4096u}) {
        SCOPED_TRACE(chunk);
        DecimatingFilter pieces(4);
        std::vector<float> out;
        for (std::size_t at = 0; at < in.size(); at += chunk) {
            pieces.process(in.data() + at, std::min(chunk, in.size() - at), out);
        }
        EXPECT_EQ(out, expected);
    }
}

// Each output is there as soon as the sample it is taken at: the first sample of a group
// gives an output at once, and an impulse shows up in the very first output.
TEST(DecimatingFilter, HoldsNothingBack) {
    DecimatingFilter filter(4);
    std::vector<float> out;
    const float one = 1.0f;
    filter.process(&one, 1, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0], 0.0f);
    EXPECT_LT(std::abs(out[0]), 1e-3f);  // the far end of the impulse response: small but there
    // A constant reaches its level once the window is full: unity gain at 0 Hz.
    const std::vector<float> steady(filter.length() + 8, 0.25f);
    out.clear();
    filter.process(steady.data(), steady.size(), out);
    EXPECT_NEAR(out.back(), 0.25f, 1e-5f);
}

TEST(DecimatingFilter, StartsAfreshAfterResetAndPassesThroughAtFactorOne) {
    const std::vector<float> in{0.5f, -0.25f, 0.125f, 1.0f, -1.0f, 0.0f, 0.75f};
    DecimatingFilter fresh(4);
    std::vector<float> expected;
    fresh.process(in.data(), in.size(), expected);
    DecimatingFilter reused(4);
    std::vector<float> ignored;
    const std::vector<float> noise{0.9f, -0.9f, 0.4f};
    reused.process(noise.data(), noise.size(), ignored);
    reused.reset();
    std::vector<float> out;
    reused.process(in.data(), in.size(), out);
    EXPECT_EQ(out, expected);

    DecimatingFilter through(1);
    out.clear();
    through.process(in.data(), in.size(), out);
    EXPECT_EQ(out, in);
    EXPECT_THROW(DecimatingFilter(0), std::invalid_argument);
}

}  // namespace
}  // namespace tunewick
