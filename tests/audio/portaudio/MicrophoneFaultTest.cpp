// A microphone that fails and comes back, on a private sound server of its own (killed and
// started again by the test): nothing delivered before the failure is lost, nothing waits
// on the dead device for long, the player is told once, and the engines that were running
// hear again once it is back.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "PulseServer.h"
#include "SoundTestSupport.h"
#include "audio/Status.h"
#include "audio/analysis/StringTuner.h"
#include "audio/portaudio/PortAudioCaptureDevice.h"
#include "audio/portaudio/PortAudioInputStream.h"
#include "audio/recording/WavRecorder.h"
#include "support/ToneAnalysis.h"

namespace tunewick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::PulseServer;

template <typename Pred>
bool eventually(Pred done, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::size_t numbersAfter(const std::vector<FunctionCall>& calls, std::size_t from) {
    std::size_t n = 0;
    for (std::size_t i = from; i < calls.size(); ++i) {
        n += !calls[i].arguments.empty() && calls[i].arguments[0].type() == Param::Number ? 1 : 0;
    }
    return n;
}

double secondsIn(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return -1.0;
    sf_close(file);
    return static_cast<double>(info.frames) / info.samplerate;
}

TEST(MicrophoneFault, AServerThatDiesAndComesBackLosesNothingAndTheEnginesResume) {
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no sound server here: " << server.problem();
    ASSERT_TRUE(server.loadSine(440)) << server.log();
    const auto path = server.dir() / "take.wav";
    // The tuner writes its diagnostic files in the current folder; the previous one comes
    // back however the test ends (a repeat would otherwise start in a removed folder).
    struct WorkingDirectory {
        std::filesystem::path previous = std::filesystem::current_path();
        ~WorkingDirectory() { std::filesystem::current_path(previous); }
    } cwd;
    std::filesystem::current_path(server.dir());
    RecordingReporter reporter;
    testing::CallRecorder tunerCalls;
    const auto microphone = PortAudioCaptureDevice::factory({}, &reporter);
    WavRecorder recorder(microphone, reporter, path.string());
    StringTuner tuner(microphone, reporter, tunerCalls);
    ASSERT_EQ(recorder.initialize(), status::kOk);
    ASSERT_TRUE(tuner.setStringIndex(5));
    ASSERT_EQ(recorder.start(), status::kOk);
    ASSERT_EQ(tuner.start(), status::kOk);
    const auto started = Clock::now();
    ASSERT_TRUE(eventually([&] { return numbersAfter(tunerCalls.calls(), 0) >= 1; }, 5s));
    std::this_thread::sleep_for(1s);

    const double heardFor = std::chrono::duration<double>(Clock::now() - started).count();
    server.crash();
    // Told once, in the player's words, within about a second.
    ASSERT_TRUE(eventually([&] { return !reporter.reports().empty(); }, 3s));
    const auto reports = reporter.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, PortAudioInputStream::kFailureCaption);
    EXPECT_EQ(reports[0].second, PortAudioInputStream::kFailureText);

    // Stopping does not wait on the dead device, and the take keeps what came before.
    const auto stopping = Clock::now();
    recorder.stop();
    EXPECT_LT(Clock::now() - stopping, 1s);
    const double kept = secondsIn(path);
    // What the server still held and the last part-block are all that may be missing.
    EXPECT_GE(kept, heardFor - 0.3) << "heard for " << heardFor << " s";
    int rate = 0;
    const auto samples = testing::readSoundFile(path, &rate);
    ASSERT_GT(samples.size(), static_cast<std::size_t>(rate));
    const std::vector<double> last(samples.end() - rate / 2, samples.end());
    EXPECT_NEAR(testing::toneLevel(last, rate, 440), 0.5, 0.1) << "the tone up to the failure";

    // The server comes back: the tuner, still running, hears again within seconds.
    const std::size_t before = tunerCalls.calls().size();
    ASSERT_TRUE(server.revive()) << server.log();
    ASSERT_TRUE(server.loadSine(440)) << server.log();
    const auto revived = Clock::now();
    EXPECT_TRUE(eventually([&] { return numbersAfter(tunerCalls.calls(), before) >= 1; }, 5s));
    std::cout << "the tuner reported again "
              << std::chrono::duration<double>(Clock::now() - revived).count()
              << " s after the server was back\n";
    // A new take opens the device again.
    ASSERT_EQ(recorder.start(), status::kOk);
    std::this_thread::sleep_for(700ms);
    recorder.stop();
    tuner.stop();
    EXPECT_GE(secondsIn(path), 0.25);
    EXPECT_EQ(reporter.reports().size(), 1u) << "told once";
}

}  // namespace
}  // namespace tunewick
