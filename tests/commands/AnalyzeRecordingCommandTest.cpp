// "analyzeRecording" over a recording file as the recorder writes it (8-bit mono, 44.1 kHz).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <future>
#include <mutex>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <sndfile.h>
#include <thread>
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

// Keeps what the command posts for the dialog's thread.
class CollectingPoster final : public DialogPoster {
public:
    void postLoadSwf(std::string) override {}
    void postCallSwfFunction(FunctionCall call) override {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        cv_.notify_all();
    }
    // Waits up to `limit` for `count` posted calls; answers what there is.
    std::vector<FunctionCall> waitFor(std::size_t count, std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, limit, [&] { return calls_.size() >= count; });
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<FunctionCall> calls_;
};

class AnalyzeRecordingCommandTest : public ::testing::Test {
protected:
    CollectingPoster poster_;
};

TEST_F(AnalyzeRecordingCommandTest, AnswersThePeaksOfTheFileAndTheTrackersReadings) {
    const fs::path file = writeTake();
    std::string analysed;
    double reference = 0;
    AnalyzeRecordingCommand command(
        file.string(),
        [&](const std::string& path, double referencePitch) {
        analysed = path;
        reference = referencePitch;
        std::vector<TakeReading> readings;
        for (int i = 0; i < 10; ++i) readings.push_back({0.05 * i, 110.0, "A2", 0.0});
        return readings;
        },
        [] { return 432.0; }, poster_);
    const Param reply = command.analyze(432.0);
    fs::remove(file);
    EXPECT_EQ(analysed, file.string());
    EXPECT_EQ(reference, 432.0);
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

TEST_F(AnalyzeRecordingCommandTest, AMissingOrForeignFileAnswersNull) {
    const fs::path text = fs::temp_directory_path() / ("tunewick-not-a-take-" + std::to_string(::getpid()) + ".wav");
    std::FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("no sound here", f);
    std::fclose(f);
    int analysed = 0;
    const auto analyzer = [&analysed](const std::string&, double) {
        ++analysed;
        return std::vector<TakeReading>{};
    };
    for (const fs::path& path : {fs::path("/nonexistent/recording.wav"), text}) {
        SCOPED_TRACE(path.string());
        AnalyzeRecordingCommand command(path.string(), analyzer, nullptr, poster_);
        EXPECT_EQ(command.analyze(440.0).toXml(), "<null/>");
    }
    fs::remove(text);
    EXPECT_EQ(analysed, 0);
}

// The call answers at once; the picture comes later through "setAnalysis", from the worker,
// with the reference pitch of the moment of the call. A second call while one runs is refused.
TEST_F(AnalyzeRecordingCommandTest, AnswersAtOnceAndSendsThePictureWhenDone) {
    const fs::path file = writeTake();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<double> usedReference{0};
    double reference = 432.0;
    AnalyzeRecordingCommand command(
        file.string(),
        [&](const std::string&, double referencePitch) {
            usedReference = referencePitch;
            released.wait();  // held until the test has called twice
            return std::vector<TakeReading>{{0.1, 110.0, "A2", 3.0}};
        },
        [&reference] { return reference; }, poster_);
    EXPECT_EQ(command.execute({}).toXml(), "<true/>");
    EXPECT_TRUE(command.busy());
    reference = 440.0;  // too late for the running analysis
    EXPECT_EQ(command.execute({}).toXml(), "<false/>");
    release.set_value();
    const auto calls = poster_.waitFor(1, std::chrono::seconds(30));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "setAnalysis");
    ASSERT_EQ(calls[0].arguments.size(), 1u);
    ASSERT_EQ(calls[0].arguments[0].type(), Param::Object);
    EXPECT_DOUBLE_EQ(calls[0].arguments[0].getObject()->getProperty("duration")->getNumber(), 1.0);
    EXPECT_EQ(usedReference.load(), 432.0);
    // Free again: the next call starts a new analysis against the new reference.
    for (int i = 0; i < 1000 && command.busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(command.execute({}).toXml(), "<true/>");
    EXPECT_EQ(poster_.waitFor(2, std::chrono::seconds(30)).size(), 2u);
    EXPECT_EQ(usedReference.load(), 440.0);
    fs::remove(file);
}

// A file that is gone answers null through the movie function, not a hang.
TEST_F(AnalyzeRecordingCommandTest, AMissingFileAnswersNullLater) {
    AnalyzeRecordingCommand command("/nonexistent/recording.wav", AnalyzeRecordingCommand::pitchTracker(), nullptr,
                                    poster_);
    EXPECT_EQ(command.execute({}).toXml(), "<true/>");
    const auto calls = poster_.waitFor(1, std::chrono::seconds(30));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].toXml(), "<invoke name=\"setAnalysis\" returntype=\"xml\"><arguments><null/></arguments></invoke>");
}

}  // namespace
}  // namespace tunewick
