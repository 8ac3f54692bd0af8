// The string tuner as a capture engine: the selected string, one report per block (null below
// the gate), and measured deviations of synthesised strings in tune and out of tune.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "EngineHarness.h"
#include "TestSignals.h"
#include "audio/Status.h"
#include "audio/analysis/StringTuner.h"

namespace tunewick {
namespace {

using Harness = testing::EngineHarness<StringTuner>;

TEST(TunerEngine, SelectsOnlyStringsOfItsTable) {
    Harness h;
    EXPECT_EQ(h.engine.stringIndex(), 0);
    EXPECT_TRUE(h.engine.setStringIndex(5));
    EXPECT_EQ(h.engine.stringIndex(), 5);
    EXPECT_FALSE(h.engine.setStringIndex(6));
    EXPECT_FALSE(h.engine.setStringIndex(-1));
    EXPECT_EQ(h.engine.stringIndex(), 5);
    EXPECT_TRUE(h.engine.setStringIndex(0));
    EXPECT_EQ(h.engine.stringIndex(), 0);
}

TEST(TunerEngine, SilenceAndNoiseReportNullOnEveryBlock) {
    Harness h;
    ASSERT_EQ(h.engine.start(), status::kOk);
    h.feed(std::vector<std::uint8_t>(2 * 2048, 128));
    h.feed(testing::toPcm8(testing::whiteNoise(2 * 2048, 9), 0.5));
    h.engine.stop();
    EXPECT_EQ(h.poster.texts(), std::vector<std::string>(4, "setStringTune <null/>"));
    ASSERT_EQ(h.engine.call().arguments.size(), 1U);
    EXPECT_EQ(h.engine.call().arguments[0].type(), Param::Null);
    EXPECT_EQ(testing::readLines("data.txt").size(), 4U);
    EXPECT_EQ(testing::readText("fft.txt"), "");
    EXPECT_EQ(testing::readText("statistic.txt"), "");
    EXPECT_EQ(testing::readLines("log.txt").size(), 12U);  // two lines and a blank per block
}

TEST(TunerEngine, MeasuresTheSelectedStringAndTakesAChangeAtTheNextBlock) {
    Harness h;
    ASSERT_EQ(h.engine.start(), status::kOk);
    const auto at75 = testing::toPcm8(testing::harmonicTone(75.0, {1.0}, 2048), 0.5);
    const auto at120 = testing::toPcm8(testing::harmonicTone(120.0, {1.0}, 2048), 0.5);
    h.feed(at75);
    ASSERT_TRUE(h.engine.setStringIndex(1));
    h.feed(at120);
    h.feed(std::vector<std::uint8_t>(2048, 128));
    h.engine.stop();
    EXPECT_EQ(h.poster.texts(), (std::vector<std::string>{"setStringTune <number>0.5</number>",
                                                          "setStringTune <number>-0.5</number>",
                                                          "setStringTune <null/>"}));
    EXPECT_EQ(testing::readLines("statistic.txt"),
              (std::vector<std::string>{"targetp = 82, realp = 75, result = 0.500000",
                                        "targetp = 110, realp = 120, result = -0.500000"}));
    const auto fft = testing::readLines("fft.txt");
    ASSERT_EQ(fft.size(), 2U);  // measured blocks only
    EXPECT_EQ(testing::parseValues(fft[0]).size(), 2048U);
    // Each block releases the previous value first: one argument, and the posted copies keep theirs.
    ASSERT_EQ(h.engine.call().arguments.size(), 1U);
    EXPECT_EQ(h.engine.call().arguments[0].type(), Param::Null);
    EXPECT_EQ(h.poster.calls()[0].arguments[0].getNumber(), 0.5);
}

// Plucked strings at `ratio` times their open pitch, each measured on its own string over
// three one-second blocks: the strongest bin lies within one bin of the real pitch.
void expectPluckedDeviations(double ratio) {
    for (std::int32_t s = 0; s < kStringCount; ++s) {
        Harness h;
        ASSERT_TRUE(h.engine.setStringIndex(s));
        ASSERT_EQ(h.engine.start(), status::kOk);
        const double hz = testing::kOpenStrings[s] * ratio;
        h.feed(testing::toPcm8(testing::pluckedString(hz, 3 * 2048, 21U + static_cast<unsigned>(s)), 0.5));
        h.engine.stop();

        const auto i = static_cast<std::size_t>(s);
        const double target = kStringTargets[i];
        const double below = target - kStringBounds[i];
        const double above = kStringBounds[i + 1] - target;
        const double expected = (target - hz) / (hz < target ? below : above);
        // One bin of error, on the steeper side of the target.
        const double tolerance = 1.0 / std::min(below, above) + 1e-12;
        const auto calls = h.poster.calls();
        ASSERT_EQ(calls.size(), 3U) << "string " << s;
        for (const auto& call : calls) {
            ASSERT_EQ(call.arguments.size(), 1U);
            ASSERT_EQ(call.arguments[0].type(), Param::Number) << "string " << s << " at " << hz;
            EXPECT_NEAR(call.arguments[0].getNumber(), expected, tolerance)
                << "string " << s << " at " << hz << " Hz";
        }
    }
}

TEST(TunerEngine, PluckedStringsInTuneAreOnTarget) { expectPluckedDeviations(1.0); }

TEST(TunerEngine, PluckedStringsASemitoneFlatReadAsTooLow) { expectPluckedDeviations(std::pow(2.0, -1.0 / 12.0)); }

TEST(TunerEngine, PluckedStringsASemitoneSharpReadAsTooHigh) { expectPluckedDeviations(std::pow(2.0, 1.0 / 12.0)); }

TEST(TunerEngine, ABacklogIsAnalysedFromItsFirstBlockWithOneReport) {
    Harness h;
    ASSERT_TRUE(h.engine.setStringIndex(0));
    ASSERT_EQ(h.engine.start(), status::kOk);
    auto bytes = testing::toPcm8(testing::harmonicTone(89.0, {1.0}, 2048), 0.5);
    bytes.resize(3 * 2048, 128);
    h.device->capture(bytes);
    h.engine.stop();
    EXPECT_EQ(h.poster.texts(), std::vector<std::string>{"setStringTune <number>-0.5</number>"});
    EXPECT_EQ(testing::readText("log.txt"), "Buff 1.: 6144\nBuff 2.: 0\n\n");
    EXPECT_EQ(h.engine.nextReadOffset(), 6144U);
}

}  // namespace
}  // namespace tunewick
