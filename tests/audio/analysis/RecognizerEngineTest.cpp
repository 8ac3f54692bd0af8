// The note recognizer as a capture engine: what it posts, what it writes, and how it treats
// backlogs, silence, noise and real (synthesised) strings.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "EngineHarness.h"
#include "TestSignals.h"
#include "audio/analysis/NoteRecognizer.h"
#include "audio/Status.h"

namespace tunewick {
namespace {

using Harness = testing::EngineHarness<NoteRecognizer>;
namespace fs = std::filesystem;

std::string tone(int t) { return "setTone <number>" + std::to_string(t) + "</number>"; }

TEST(RecognizerEngine, SilenceIsAnalysedAndWrittenButNothingIsReported) {
    Harness h;
    ASSERT_EQ(h.engine.start(), status::kOk);
    h.feed(std::vector<std::uint8_t>(3 * 1024, 128));
    h.engine.stop();
    EXPECT_TRUE(h.poster.calls().empty());
    EXPECT_TRUE(h.engine.call().arguments.empty());
    EXPECT_EQ(h.engine.call().name, "setTone");

    const auto data = testing::readLines("data.txt");
    ASSERT_EQ(data.size(), 3U);
    const auto samples = testing::parseValues(data[0]);
    ASSERT_EQ(samples.size(), 1024U);
    for (double x : samples) ASSERT_EQ(x, -1.0);
    EXPECT_EQ(data[0].substr(0, 20), "-1.000000 -1.000000 ");
    EXPECT_EQ(testing::readLines("fft.txt").size(), 3U);
    EXPECT_EQ(testing::parseValues(testing::readLines("fft.txt")[2]).size(), 1024U);
    EXPECT_EQ(testing::readText("log.txt"), "Buff 1.: 1024\nBuff 2.: 0\n\n"
                                            "Buff 1.: 1024\nBuff 2.: 0\n\n"
                                            "Buff 1.: 1024\nBuff 2.: 0\n\n");
    EXPECT_EQ(testing::readText("statistic.txt"), "");
}

TEST(RecognizerEngine, HarmonicTonesOfTheSixStringsAreRecognised) {
    for (int s = 0; s < 6; ++s) {
        Harness h;
        ASSERT_EQ(h.engine.start(), status::kOk);
        const auto sound = testing::harmonicTone(testing::kOpenStrings[s], {1.0, 0.5, 0.3, 0.2, 0.1}, 4 * 1024);
        h.feed(testing::toPcm8(sound, 0.5));
        h.engine.stop();
        EXPECT_EQ(h.poster.texts(), std::vector<std::string>(4, tone(s + 1))) << "string " << s;
        // Each analysed block above the gate leaves its indicators and its tone.
        const auto statistic = testing::readLines("statistic.txt");
        ASSERT_EQ(statistic.size(), 8U);
        EXPECT_EQ(statistic[0].rfind("i1 = ", 0), 0U);
        EXPECT_EQ(statistic[1], std::to_string(s + 1));
    }
}

TEST(RecognizerEngine, PluckedOpenStringsAreRecognised) {
    // Karplus-Strong strings, loud and quiet, four half-second blocks each.
    for (double gain : {0.5, 0.1}) {
        for (int s = 0; s < 6; ++s) {
            Harness h;
            ASSERT_EQ(h.engine.start(), status::kOk);
            h.feed(testing::toPcm8(testing::pluckedString(testing::kOpenStrings[s], 4 * 1024, 11U + static_cast<unsigned>(s)), gain));
            h.engine.stop();
            const auto texts = h.poster.texts();
            EXPECT_GE(texts.size(), 3U) << "string " << s << " gain " << gain;
            for (const auto& text : texts) EXPECT_EQ(text, tone(s + 1)) << "string " << s << " gain " << gain;
        }
    }
}

TEST(RecognizerEngine, NoiseIsNotATone) {
    Harness h;
    ASSERT_EQ(h.engine.start(), status::kOk);
    h.feed(testing::toPcm8(testing::whiteNoise(8 * 1024, 5), 0.5));
    h.engine.stop();
    EXPECT_TRUE(h.poster.calls().empty());
    EXPECT_EQ(testing::readLines("data.txt").size(), 8U);
}

TEST(RecognizerEngine, ABacklogIsAnalysedFromItsFirstBlockAndConsumedWhole) {
    Harness h;
    ASSERT_EQ(h.engine.start(), status::kOk);
    // Low E then silence in one delivery: one wake, one region of two blocks.
    auto bytes = testing::toPcm8(testing::harmonicTone(82.41, {1.0, 0.5, 0.3}, 1024), 0.5);
    bytes.resize(2048, 128);
    h.device->capture(bytes);
    h.engine.processBlock();
    EXPECT_EQ(h.engine.nextReadOffset(), 2048U);
    h.engine.stop();
    EXPECT_EQ(testing::readText("log.txt"), "Buff 1.: 2048\nBuff 2.: 0\n\n");
    const auto data = testing::readLines("data.txt");
    ASSERT_EQ(data.size(), 1U);
    // The line holds the first block's samples only, each as "%f ".
    std::string want;
    char number[32];
    for (std::size_t i = 0; i < 1024; ++i) {
        std::snprintf(number, sizeof number, "%f ", static_cast<double>(static_cast<std::int8_t>(bytes[i])) / 128.0);
        want += number;
    }
    EXPECT_EQ(data[0], want);
    EXPECT_EQ(h.poster.texts(), std::vector<std::string>{tone(1)});
}

TEST(RecognizerEngine, ReportsReplaceTheArgumentAndPostedCopiesStayAsPosted) {
    Harness h;
    ASSERT_EQ(h.engine.start(), status::kOk);
    h.feed(testing::toPcm8(testing::harmonicTone(82.41, {1.0, 0.5, 0.3}, 1024), 0.5));
    h.feed(testing::toPcm8(testing::harmonicTone(110.0, {1.0, 0.5, 0.3}, 1024), 0.5));
    h.feed(std::vector<std::uint8_t>(1024, 128));  // silence keeps the last tone
    h.engine.stop();
    ASSERT_EQ(h.engine.call().arguments.size(), 1U);
    EXPECT_EQ(h.engine.call().arguments[0].getNumber(), 2.0);
    const auto calls = h.poster.calls();
    ASSERT_EQ(calls.size(), 2U);
    ASSERT_EQ(calls[0].arguments.size(), 1U);
    EXPECT_EQ(calls[0].arguments[0].type(), Param::Number);
    EXPECT_EQ(calls[0].arguments[0].getNumber(), 1.0);
    EXPECT_EQ(calls[1].arguments[0].getNumber(), 2.0);
}

TEST(RecognizerEngine, StopClosesCompleteFilesAndARestartEmptiesThem) {
    Harness h;
    ASSERT_EQ(h.engine.start(), status::kOk);
    const auto bytes = testing::toPcm8(testing::harmonicTone(196.0, {1.0, 0.5, 0.3}, 2 * 1024), 0.5);
    // The last block arrives without a block step of ours: the stop takes it.
    h.device->capture(bytes.data(), 1024);
    h.engine.processBlock();
    h.device->capture(bytes.data() + 1024, 1024);
    h.engine.stop();
    EXPECT_FALSE(h.engine.isRunning());
    const auto fft = testing::readLines("fft.txt");
    ASSERT_EQ(fft.size(), 2U);
    for (const auto& line : fft) EXPECT_EQ(testing::parseValues(line).size(), 1024U);
    EXPECT_EQ(testing::readText("data.txt").back(), '\n');
    const std::string before = testing::readText("statistic.txt");
    EXPECT_EQ(testing::readLines("statistic.txt").size(), 4U);

    h.engine.stop();  // idle: nothing happens
    EXPECT_EQ(testing::readText("statistic.txt"), before);

    ASSERT_EQ(h.engine.start(), status::kOk);
    EXPECT_EQ(testing::readText("statistic.txt"), "");
    h.engine.stop();
    EXPECT_EQ(testing::readText("log.txt"), "");
}

TEST(RecognizerEngine, KeepsWorkingWhenTheDiagnosticFilesCannotBeCreated) {
    Harness h;
    fs::create_directory("data.txt");
    fs::create_directory("statistic.txt");
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(h.engine.start(), status::kOk);
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("data.txt"), std::string::npos) << warning;
    EXPECT_NE(warning.find("statistic.txt"), std::string::npos) << warning;
    EXPECT_EQ(warning.find("fft.txt"), std::string::npos) << warning;
    h.feed(testing::toPcm8(testing::harmonicTone(146.83, {1.0, 0.5, 0.3}, 1024), 0.5));
    h.engine.stop();
    EXPECT_EQ(h.poster.texts(), std::vector<std::string>{tone(3)});
    EXPECT_EQ(testing::readLines("fft.txt").size(), 1U);
}

TEST(RecognizerEngine, WithoutADeviceStartFailsAndWritesNothing) {
    testing::ScopedWorkDir dir;
    testing::RecordingPoster poster;
    RecordingReporter reporter;
    NoteRecognizer engine(ScriptedCaptureDevice::noDevice(), reporter, poster);
    EXPECT_TRUE(reporter.reports().empty());  // a missing device is not an initialisation error
    EXPECT_LT(engine.start(), 0);
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(fs::exists("data.txt"));
}

}  // namespace
}  // namespace tunewick
