// "analyzeRecording" over a recording file as the recorder writes it (8-bit mono, 44.1 kHz).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <sndfile.h>
#include <vector>

#include "bridge/FlashObject.h"
#include "commands/AnalyzeRecordingCommand.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;

// Half a second of a 110 Hz tone at half scale, then half a second of silence.
fs::path writeTake() {
    const fs::path file = fs::temp_directory_path() / ("tunewick-take-" + std::to_string(::getpid()) + ".wav");
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    EXPECT_NE(out, nullptr);
    std::vector<float> samples(44100, 0.0f);
    for (std::size_t i = 0; i < 22050; ++i) samples[i] = 0.5f * static_cast<float>(std::sin(2 * M_PI * 110 * i / 44100.0));
    sf_writef_float(out, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(out);
    return file;
}

TEST(AnalyzeRecordingCommand, AnswersThePeaksOfTheFileAndTheTrackersReadings) {
    const fs::path file = writeTake();
    std::string analysed;
    AnalyzeRecordingCommand command(file.string(), [&analysed](const std::string& path) {
        analysed = path;
        std::vector<TakeReading> readings;
        for (int i = 0; i < 10; ++i) readings.push_back({0.05 * i, 110.0, "A2", 0.0});
        return readings;
    });
    const Param reply = command.execute({});
    fs::remove(file);
    EXPECT_EQ(analysed, file.string());
    ASSERT_EQ(reply.type(), Param::Object);
    const FlashObject& take = *reply.getObject();
    EXPECT_DOUBLE_EQ(take.getProperty("duration")->getNumber(), 1.0);
    const std::string peaks = take.getProperty("peaks")->getString();
    ASSERT_EQ(peaks.size(), 200u);
    // The tone peaks near half scale (8-bit steps), the silence at zero.
    for (std::size_t i = 0; i < 50; ++i) {
        const int peak = std::stoi(peaks.substr(2 * i, 2), nullptr, 16);
        EXPECT_NEAR(peak, 128, 3) << "window " << i;
    }
    EXPECT_EQ(peaks.substr(100), std::string(100, '0'));
    EXPECT_EQ(take.getProperty("readings")->getObject()->size(), 10u);
}

TEST(AnalyzeRecordingCommand, AMissingOrForeignFileAnswersNull) {
    const fs::path text = fs::temp_directory_path() / ("tunewick-not-a-take-" + std::to_string(::getpid()) + ".wav");
    std::FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("no sound here", f);
    std::fclose(f);
    int analysed = 0;
    const auto analyzer = [&analysed](const std::string&) {
        ++analysed;
        return std::vector<TakeReading>{};
    };
    for (const fs::path& path : {fs::path("/nonexistent/recording.wav"), text}) {
        SCOPED_TRACE(path.string());
        AnalyzeRecordingCommand command(path.string(), analyzer);
        EXPECT_EQ(command.execute({}).toXml(), "<null/>");
    }
    fs::remove(text);
    EXPECT_EQ(analysed, 0);
}

}  // namespace
}  // namespace tunewick
