#include "audio/capture/CaptureResampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "support/ToneAnalysis.h"

namespace tunewick {
namespace {

using testing::fromUnsigned8;
using testing::strongestFrequency;
using testing::toneLevel;

std::vector<float> sine(double hz, double rate, double seconds, double amplitude) {
    std::vector<float> out(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    }
    return out;
}

std::vector<std::uint8_t> resampleAll(CaptureResampler& resampler, const std::vector<float>& in,
                                      std::size_t chunk) {
    std::vector<std::uint8_t> out;
    for (std::size_t at = 0; at < in.size(); at += chunk) {
        resampler.process(in.data() + at, std::min(chunk, in.size() - at), out);
    }
    resampler.flush(out);
    return out;
}

// Largest distance from silence, leaving out `skip` bytes at each end (where the tone's
// abrupt start and end are broadband clicks that rightly pass the filter).
int largestSwing(const std::vector<std::uint8_t>& bytes, std::size_t skip) {
    int swing = 0;
    for (std::size_t i = skip; i + skip < bytes.size(); ++i) {
        swing = std::max(swing, std::abs(bytes[i] - 128));
    }
    return swing;
}

TEST(CaptureResampler, QuantisesToUnsignedEightBitWithSilenceAt128) {
    EXPECT_EQ(toUnsigned8(0.0f), 128);
    EXPECT_EQ(toUnsigned8(0.5f), 192);
    EXPECT_EQ(toUnsigned8(-0.5f), 64);
    EXPECT_EQ(toUnsigned8(-1.0f), 0);
    EXPECT_EQ(toUnsigned8(1.0f), 255);  // 256 would wrap to 0: clipped instead
    EXPECT_EQ(toUnsigned8(0.003f), 128);
    EXPECT_EQ(toUnsigned8(0.006f), 129);  // rounded, not truncated
    EXPECT_EQ(toUnsigned8(-0.006f), 127);
    EXPECT_EQ(toUnsigned8(7.0f), 255);
    EXPECT_EQ(toUnsigned8(-7.0f), 0);
    EXPECT_EQ(toUnsigned8(std::numeric_limits<float>::infinity()), 255);
    EXPECT_EQ(toUnsigned8(std::numeric_limits<float>::quiet_NaN()), 128);
}

TEST(CaptureResampler, EqualRatesPassEverySampleThrough) {
    CaptureResampler resampler(44100, 44100);
    ASSERT_TRUE(resampler.valid());
    const std::vector<float> in{0.0f, 0.25f, -0.25f, 0.999f, -1.0f};
    std::vector<std::uint8_t> out;
    resampler.process(in.data(), in.size(), out);
    resampler.flush(out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{128, 160, 96, 255, 0}));
    EXPECT_EQ(resampler.samplesIn(), 5u);
    EXPECT_EQ(resampler.bytesOut(), 5u);
}

// The tuner's and the recognizer's rate from a microphone's usual rates: the tone keeps its
// frequency and level, and the count of bytes follows the ratio.
TEST(CaptureResampler, KeepsATonesFrequencyAndLevelAtTheEnginesRate) {
    for (double inRate : {48000.0, 44100.0}) {
        SCOPED_TRACE(inRate);
        CaptureResampler resampler(inRate, 2048);
        ASSERT_TRUE(resampler.valid());
        const auto bytes = resampleAll(resampler, sine(196.0, inRate, 2.0, 0.5), 441);
        EXPECT_NEAR(static_cast<double>(bytes.size()), 4096.0, 2.0);
        // Past the filter's start-up.
        const auto samples = fromUnsigned8(std::vector<std::uint8_t>(bytes.begin() + 256, bytes.end() - 64));
        EXPECT_DOUBLE_EQ(strongestFrequency(samples, 2048, 150, 250, 1), 196.0);
        EXPECT_NEAR(toneLevel(samples, 2048, 196.0), 0.5, 0.02);
    }
}

// What lies above the engine's Nyquist frequency (1024 Hz) is filtered out, not folded back
// into the analysed band: without the filter 1500 Hz would sound at 548 Hz and 3000 Hz at
// 952 Hz, as loud as the input.
TEST(CaptureResampler, DoesNotFoldWhatLiesAboveTheEnginesNyquistFrequency) {
    for (double hz : {1100.0, 1500.0, 3000.0, 15000.0}) {
        SCOPED_TRACE(hz);
        CaptureResampler resampler(48000, 2048);
        const auto bytes = resampleAll(resampler, sine(hz, 48000, 1.0, 0.9), 480);
        ASSERT_GT(bytes.size(), 2000u);
        EXPECT_LE(largestSwing(bytes, 32), 1);
        const double folded = std::abs(hz - 2048.0 * std::round(hz / 2048.0));
        EXPECT_LT(toneLevel(fromUnsigned8(bytes), 2048, folded), 0.005);
    }
}

// The resampler is fed as a sound server feeds the capture callback (a few milliseconds at a
// time) and must not sit on what it was given: a block step waits for its last byte, so
// whatever is held back here is lag the tuner shows.
TEST(CaptureResampler, HoldsBackLittleOfWhatItWasGiven) {
    for (auto [inRate, chunk] : {std::pair{48000.0, 107u}, std::pair{44100.0, 441u}, std::pair{48000.0, 32u}}) {
        SCOPED_TRACE(inRate);
        SCOPED_TRACE(chunk);
        CaptureResampler resampler(inRate, 2048);
        const auto in = sine(196.0, inRate, 3.0, 0.5);
        std::vector<std::uint8_t> out;
        double worstMs = 0.0;
        for (std::size_t at = 0; at + chunk <= in.size(); at += chunk) {
            resampler.process(in.data() + at, chunk, out);
            const double given = static_cast<double>(at + chunk) * 2048.0 / inRate;
            const double heldMs = (given - static_cast<double>(out.size())) * 1000.0 / 2048.0;
            if (at > in.size() / 3) worstMs = std::max(worstMs, heldMs);  // past the start
        }
        EXPECT_LT(worstMs, 8.0);
    }
}

TEST(CaptureResampler, GivesTheSameBytesWhateverTheChunksItIsFed) {
    const auto in = sine(330.0, 44100, 1.0, 0.7);
    CaptureResampler whole(44100, 2048);
    const auto expected = resampleAll(whole, in, in.size());
    for (std::size_t chunk : {1u, 93u, 1024u, 30000u}) {
        SCOPED_TRACE(chunk);
        CaptureResampler pieces(44100, 2048);
        EXPECT_EQ(resampleAll(pieces, in, chunk), expected);
    }
}

TEST(CaptureResampler, StartsAfreshAfterReset) {
    const auto in = sine(110.0, 48000, 0.5, 0.6);
    CaptureResampler fresh(48000, 2048);
    const auto expected = resampleAll(fresh, in, 256);
    CaptureResampler reused(48000, 2048);
    resampleAll(reused, sine(700.0, 48000, 0.3, 0.9), 256);
    reused.reset();
    EXPECT_EQ(reused.samplesIn(), 0u);
    EXPECT_EQ(resampleAll(reused, in, 256), expected);
}

TEST(CaptureResampler, RefusesRatesItCannotUse) {
    for (auto [in, out] : {std::pair{0.0, 2048.0}, std::pair{48000.0, -1.0}}) {
        CaptureResampler resampler(in, out);
        EXPECT_FALSE(resampler.valid());
        const std::vector<float> samples(100, 0.5f);
        std::vector<std::uint8_t> bytes;
        resampler.process(samples.data(), samples.size(), bytes);
        resampler.flush(bytes);
        EXPECT_TRUE(bytes.empty());
    }
}

}  // namespace
}  // namespace tunewick
