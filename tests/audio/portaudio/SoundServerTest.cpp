// The real sound path on a real sound server: PortAudio -> ALSA's pulse plugin -> a private
// PulseAudio server whose default source is the monitor of a null sink. Tones are played
// into the sink by the server (module-sine) or by our own player; what the capture path, the
// tuner and the recorder make of them is checked. Without a server these tests skip.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "PulseServer.h"
#include "SoundTestSupport.h"
#include "support/ToneAnalysis.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/portaudio/PortAudioCaptureDevice.h"
#include "audio/portaudio/PortAudioSoundPlayer.h"
#include "audio/Status.h"
#include "audio/analysis/PitchTracker.h"
#include "audio/analysis/StringTuner.h"
#include "bridge/FlashObject.h"
#include "audio/recording/WavRecorder.h"

namespace tunewick {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::CollectingEngine;
using testing::fromUnsigned8;
using testing::PulseServer;
using testing::secondsWithTone;
using testing::strongestFrequency;
using testing::toneLevel;

// A tone the server plays into the sink while the object lives.
class ServerTone {
public:
    ServerTone(const PulseServer& server, int hz) : server_(server), module_(server.loadSine(hz)) {}
    ~ServerTone() {
        if (module_) server_.unloadModule(*module_);
    }
    bool ok() const { return module_.has_value(); }

private:
    const PulseServer& server_;
    std::optional<int> module_;
};

// Records the sink's monitor with parec, as raw 16-bit mono at 16000 Hz, while it lives.
class MonitorRecording {
public:
    static constexpr double kRate = 16000;
    explicit MonitorRecording(const PulseServer& server)
        : path_(server.dir() / ("monitor" + std::to_string(++count_) + ".raw")),
          parec_({"parec", "-d", PulseServer::kMonitor, "--rate=16000", "--channels=1",
                  "--format=s16le", "--raw", "--latency-msec=20"},
                 path_.string()) {
        // The monitor delivers silence from the moment parec is connected.
        for (int i = 0; i < 300 && fileSize() < 3200; ++i) std::this_thread::sleep_for(10ms);
    }
    bool recording() const { return fileSize() >= 3200; }
    std::vector<double> finish() {
        parec_.stop(SIGINT, 3s);
        return testing::readRawS16(path_);
    }

private:
    std::uintmax_t fileSize() const {
        std::error_code error;
        const auto size = std::filesystem::file_size(path_, error);
        return error ? 0 : size;
    }
    static inline int count_ = 0;  // a file of its own for each recording
    std::filesystem::path path_;
    ChildProcess parec_;
};

// The current directory for the life of the object (the tuner writes its files there).
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& dir)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

class SoundServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<PulseServer>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        if (!server_->ok()) GTEST_SKIP() << "no sound server here: " << server_->problem();
    }
    static const PulseServer& server() { return *server_; }

    RecordingReporter reporter_;

private:
    static std::unique_ptr<PulseServer> server_;
};

std::unique_ptr<PulseServer> SoundServer::server_;

constexpr CaptureConfig kSmallTunerRate{2048, 256, 8};

// Captures `seconds` of the default input through an engine with `config`.
std::vector<std::uint8_t> capture(CaptureConfig config, double seconds, Reporter& reporter) {
    CollectingEngine engine(config, PortAudioCaptureDevice::factory(), reporter);
    EXPECT_EQ(engine.initialize(), status::kOk);
    EXPECT_EQ(engine.start(), status::kOk);
    EXPECT_TRUE(engine.waitForBytes(static_cast<std::size_t>(config.sampleRate * seconds), 15s));
    engine.stop();
    const auto stats = engine.lastStats();
    const auto format = engine.deviceFormat();
    EXPECT_TRUE(stats.has_value() && format.has_value());
    if (stats && format) {
        EXPECT_GT(stats->callbacks, 0u);
        EXPECT_EQ(stats->framesDropped, 0u);
        EXPECT_GE(stats->bytesOut, engine.bytes().size());
        // Every frame the device gave became bytes at the engine's rate.
        const double expected =
            static_cast<double>(stats->framesIn) * config.sampleRate / format->sampleRate;
        EXPECT_NEAR(static_cast<double>(stats->bytesOut), expected, 2.0 + expected * 0.001);
    }
    // Each block step knew when its last sample came in, and came after it.
    const auto latencies = engine.latenciesMs();
    EXPECT_FALSE(latencies.empty());
    for (double ms : latencies) EXPECT_GE(ms, 0.0);
    return engine.bytes();
}

TEST_F(SoundServer, CapturesTheToneAtTheTunersRate) {
    ServerTone tone(server(), 220);
    ASSERT_TRUE(tone.ok()) << server().log();
    const auto bytes = capture(kSmallTunerRate, 2.0, reporter_);
    ASSERT_GE(bytes.size(), 4096u);
    // Past the start of capture, where the filter and the stream settle.
    const auto samples = fromUnsigned8({bytes.begin() + 512, bytes.end()});
    EXPECT_DOUBLE_EQ(strongestFrequency(samples, 2048, 30, 1000, 1), 220.0);
    // module-sine plays at half of full scale.
    EXPECT_NEAR(toneLevel(samples, 2048, 220), 0.5, 0.1);
    EXPECT_TRUE(reporter_.reports().empty());
}

// A 1500 Hz tone reaches the recorder's rate intact, but at the analysis rate it lies above
// the Nyquist frequency and must vanish, not come back folded at 548 Hz.
TEST_F(SoundServer, FiltersOutWhatTheAnalysisRateCannotHold) {
    ServerTone tone(server(), 1500);
    ASSERT_TRUE(tone.ok()) << server().log();
    const auto full = capture(CaptureConfig::recorder(), 0.5, reporter_);
    ASSERT_GE(full.size(), 22050u);
    const auto fullSamples = fromUnsigned8({full.begin() + 4410, full.end()});
    EXPECT_DOUBLE_EQ(strongestFrequency(fullSamples, 44100, 1000, 2000, 1), 1500.0);
    EXPECT_GT(toneLevel(fullSamples, 44100, 1500), 0.3);

    const auto low = capture(kSmallTunerRate, 1.5, reporter_);
    ASSERT_GE(low.size(), 3072u);
    const auto lowSamples = fromUnsigned8({low.begin() + 256, low.end()});
    EXPECT_LT(toneLevel(lowSamples, 2048, 548), 0.01);
    int swing = 0;
    for (std::size_t i = 256; i < low.size(); ++i) swing = std::max(swing, std::abs(low[i] - 128));
    EXPECT_LE(swing, 2);
}

// The string tuner on the live path: a tone of 105 Hz on the A string (target 110 Hz, range
// from 96 Hz) is 5/14 of the way down to the range's end.
TEST_F(SoundServer, TunerReportsTheDeviationOfALiveTone) {
    WorkingDirectory cwd(server().dir() / "tuner");
    ServerTone tone(server(), 105);
    ASSERT_TRUE(tone.ok()) << server().log();
    testing::CallRecorder poster;
    StringTuner tuner(PortAudioCaptureDevice::factory(), reporter_, poster);
    ASSERT_TRUE(tuner.hasDevice());
    ASSERT_TRUE(tuner.setStringIndex(1));
    ASSERT_EQ(tuner.start(), status::kOk);
    for (int i = 0; i < 150 && poster.calls().size() < 3; ++i) std::this_thread::sleep_for(50ms);
    tuner.stop();

    const auto calls = poster.calls();
    ASSERT_GE(calls.size(), 3u);
    const double expected = tuneDeviation(1, 105);
    EXPECT_NEAR(expected, 5.0 / 14.0, 1e-12);
    // The first block holds the start of capture; every later one hears the steady tone.
    for (std::size_t i = 1; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].name, "setStringTune");
        ASSERT_EQ(calls[i].arguments.size(), 1u);
        ASSERT_EQ(calls[i].arguments[0].type(), 4) << "a block judged too quiet";
        EXPECT_DOUBLE_EQ(calls[i].arguments[0].getNumber(), expected);
    }
    EXPECT_TRUE(reporter_.reports().empty());
}

// What the host does as it comes up: PortAudio starts for the first time in this microphone,
// and a take and the tuner start at once. Neither is failed while the device is still
// opening or before its first samples, and no alarm is raised.
TEST_F(SoundServer, ATakeAndTheTunerStartedWithTheMicrophoneHearFromTheStart) {
    WorkingDirectory cwd(server().dir() / "first-second");
    ServerTone tone(server(), 440);
    ASSERT_TRUE(tone.ok()) << server().log();
    const auto path = server().dir() / "first-second" / "take.wav";
    testing::CallRecorder tunerCalls;
    const auto microphone = PortAudioCaptureDevice::factory({}, &reporter_);
    WavRecorder recorder(microphone, reporter_, path.string());
    StringTuner tuner(microphone, reporter_, tunerCalls);
    ASSERT_TRUE(tuner.setStringIndex(5));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(recorder.initialize(), status::kOk);
    ASSERT_EQ(recorder.start(), status::kOk);
    ASSERT_EQ(tuner.start(), status::kOk);
    std::optional<double> firstReading;
    while (std::chrono::steady_clock::now() - started < 3s) {
        const auto calls = tunerCalls.calls();
        const bool number = std::any_of(calls.begin(), calls.end(), [](const FunctionCall& call) {
            return !call.arguments.empty() && call.arguments[0].type() == Param::Number;
        });
        if (number && !firstReading) {
            firstReading = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        }
        std::this_thread::sleep_for(10ms);
    }
    recorder.stop();
    tuner.stop();
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_close(file);
    const double kept = static_cast<double>(info.frames) / info.samplerate;
    std::cout << "kept " << kept << " s of 3; the tuner's first reading after "
              << firstReading.value_or(-1.0) << " s\n";
    EXPECT_GE(kept, 2.6);
    EXPECT_TRUE(firstReading.has_value()) << "the tuner reported nothing within 3 s";
    EXPECT_TRUE(reporter_.reports().empty()) << reporter_.reports().front().second;
}

TEST_F(SoundServer, RecorderWritesTheToneToItsWavFile) {
    ServerTone tone(server(), 440);
    ASSERT_TRUE(tone.ok()) << server().log();
    const auto path = server().dir() / "recording.wav";
    {
        WavRecorder recorder(PortAudioCaptureDevice::factory(), reporter_, path.string());
        ASSERT_EQ(recorder.initialize(), status::kOk);
        ASSERT_EQ(recorder.start(), status::kOk);
        std::this_thread::sleep_for(1500ms);
        recorder.stop();
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_close(file);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_U8);
    // Whole blocks of an eighth of a second, for the time it ran.
    EXPECT_GE(info.frames, 44100 * 1);
    EXPECT_LE(info.frames, 44100 * 3);

    int rate = 0;
    const auto samples = testing::readSoundFile(path, &rate);
    ASSERT_GT(samples.size(), 22050u);
    const std::vector<double> middle(samples.begin() + 11025, samples.begin() + 22050);
    EXPECT_DOUBLE_EQ(strongestFrequency(middle, rate, 300, 600, 1), 440.0);
    EXPECT_NEAR(toneLevel(middle, rate, 440), 0.5, 0.1);
    EXPECT_TRUE(reporter_.reports().empty());
}

TEST_F(SoundServer, PlayerSoundsTheFileOnTheOutput) {
    const auto path = server().dir() / "tone660.wav";
    ASSERT_TRUE(testing::writeToneWav(path, 44100, 1, 660.0, 0.8, 0.5));
    MonitorRecording monitor(server());
    ASSERT_TRUE(monitor.recording()) << server().log();
    PortAudioSoundPlayer player;
    player.play(path.string());
    EXPECT_TRUE(player.waitIdle(10s));
    EXPECT_EQ(player.playsStarted(), 1u);
    std::this_thread::sleep_for(300ms);  // the last of it through the server
    const auto heard = monitor.finish();
    ASSERT_GT(heard.size(), 16000u);
    EXPECT_DOUBLE_EQ(strongestFrequency(heard, MonitorRecording::kRate, 100, 2000, 5), 660.0);
    const double seconds = secondsWithTone(heard, MonitorRecording::kRate, 660, 0.2);
    EXPECT_GE(seconds, 0.65);
    EXPECT_LE(seconds, 0.95);
}

// Another play cuts the sound that plays; a purge stops it. Each of the long tones would
// last four seconds if left alone.
TEST_F(SoundServer, PlayerReplacesAndPurgesTheSoundThatPlays) {
    const auto longTone = server().dir() / "long440.wav";
    const auto shortTone = server().dir() / "short880.wav";
    ASSERT_TRUE(testing::writeToneWav(longTone, 48000, 2, 440.0, 4.0, 0.5));
    ASSERT_TRUE(testing::writeToneWav(shortTone, 22050, 1, 880.0, 0.6, 0.5));
    PortAudioSoundPlayer player;
    auto waitStarted = [&](std::uint64_t plays) {
        for (int i = 0; i < 500 && player.playsStarted() < plays; ++i) std::this_thread::sleep_for(10ms);
        return player.playsStarted() >= plays;
    };
    {
        MonitorRecording monitor(server());
        ASSERT_TRUE(monitor.recording());
        player.play(longTone.string());
        ASSERT_TRUE(waitStarted(1));
        std::this_thread::sleep_for(500ms);
        player.play(shortTone.string());
        EXPECT_TRUE(player.waitIdle(10s));
        std::this_thread::sleep_for(300ms);
        const auto heard = monitor.finish();
        const double first = secondsWithTone(heard, MonitorRecording::kRate, 440, 0.2);
        const double second = secondsWithTone(heard, MonitorRecording::kRate, 880, 0.2);
        EXPECT_GE(first, 0.2);
        EXPECT_LE(first, 1.5);
        EXPECT_GE(second, 0.45);
        EXPECT_LE(second, 0.75);
    }
    {
        MonitorRecording monitor(server());
        ASSERT_TRUE(monitor.recording());
        player.play(longTone.string());
        ASSERT_TRUE(waitStarted(3));
        std::this_thread::sleep_for(500ms);
        player.purge();
        EXPECT_TRUE(player.waitIdle(5s));
        std::this_thread::sleep_for(700ms);
        const auto heard = monitor.finish();
        const double played = secondsWithTone(heard, MonitorRecording::kRate, 440, 0.2);
        EXPECT_GE(played, 0.2);
        EXPECT_LE(played, 1.5);
    }
}

// Start, stop and restart while the device callback runs, with another thread reading
// positions and regions all along; the ThreadSanitizer preset runs this.
TEST_F(SoundServer, BufferRestartsCleanlyWhileAnotherThreadReads) {
    ServerTone tone(server(), 330);
    ASSERT_TRUE(tone.ok());
    auto device = PortAudioCaptureDevice::factory()();
    ASSERT_NE(device, nullptr);
    std::unique_ptr<CaptureBuffer> buffer;
    ASSERT_EQ(device->createCaptureBuffer(WaveFormat::pcm8Mono(2048), 2048, &buffer), status::kOk);
    auto* pa = dynamic_cast<StreamCaptureBuffer*>(buffer.get());
    ASSERT_NE(pa, nullptr);
    auto event = std::make_shared<NotificationEvent>();
    ASSERT_EQ(buffer->setNotificationPositions({511, 1023, 1535, 2047}, event), status::kOk);

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            std::uint32_t capture = 0;
            std::uint32_t read = 0;
            if (buffer->getCurrentPosition(&capture, &read) != status::kOk || read >= 2048) break;
            const std::uint8_t* a = nullptr;
            const std::uint8_t* b = nullptr;
            std::uint32_t la = 0;
            std::uint32_t lb = 0;
            if (buffer->lock(read, 1024, &a, &la, &b, &lb) == status::kOk) {
                unsigned sum = 0;
                for (std::uint32_t i = 0; i < la; ++i) sum += a[i];
                buffer->unlock(a, la, b, lb);
                if (sum > 0) ++reads;
            }
            pa->stats();
            pa->blockArrival(511);
            event->waitFor(5ms);
        }
    });
    std::uint64_t before = 0;
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(buffer->start(), status::kOk);
        EXPECT_EQ(buffer->start(), status::kOk);  // already capturing: nothing more
        EXPECT_EQ(buffer->setNotificationPositions({1023}, event), status::kFail);
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(buffer->stop(), status::kOk);
        EXPECT_EQ(buffer->stop(), status::kOk);
        const auto stats = pa->stats();
        EXPECT_GT(stats.bytesOut, before) << "each run captures anew";
        EXPECT_EQ(stats.framesDropped, 0u);
        before = stats.bytesOut;
    }
    // Destroyed while capturing: the stream and the worker end with it.
    ASSERT_EQ(buffer->start(), status::kOk);
    std::this_thread::sleep_for(50ms);
    done = true;
    reader.join();
    buffer.reset();
    EXPECT_GT(reads.load(), 0);
}

TEST_F(SoundServer, EngineRestartsAndKeepsCapturing) {
    ServerTone tone(server(), 330);
    ASSERT_TRUE(tone.ok());
    CollectingEngine engine(kSmallTunerRate, PortAudioCaptureDevice::factory(), reporter_);
    ASSERT_EQ(engine.initialize(), status::kOk);
    std::size_t had = 0;
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(engine.start(), status::kOk);
        EXPECT_TRUE(engine.waitForBytes(had + 768, 10s));
        engine.stop();
        EXPECT_FALSE(engine.isRunning());
        // Each run hears the tone anew (past its own start-up).
        const auto bytes = engine.bytes();
        ASSERT_GE(bytes.size(), had + 768);
        const auto samples = fromUnsigned8({bytes.begin() + static_cast<std::ptrdiff_t>(had + 256),
                                            bytes.end()});
        EXPECT_NEAR(toneLevel(samples, 2048, 330), 0.5, 0.1);
        had = bytes.size();
    }
    EXPECT_TRUE(reporter_.reports().empty());
}

// The streams the server is recording from: the keep-alive listener and ours.
int sourceOutputs(const PulseServer& server) {
    std::string out;
    if (server.run({"pactl", "list", "short", "source-outputs"}, &out) != 0) return -1;
    int lines = 0;
    for (char c : out) lines += c == '\n' ? 1 : 0;
    return lines;
}

// The cents of every reading of the calls, skipping nulls.
std::vector<double> readCents(const std::vector<FunctionCall>& calls, const char* note) {
    std::vector<double> cents;
    for (const auto& call : calls) {
        if (call.name != "setPitch" || call.arguments.empty()) continue;
        const FlashObject* reading = call.arguments[0].getObject();
        if (reading == nullptr) continue;
        EXPECT_EQ(reading->getProperty("note")->getString(), note);
        cents.push_back(reading->getProperty("cents")->getNumber());
    }
    return cents;
}

TEST_F(SoundServer, TrackerReadsALiveToneToTheCentBesideTheTunerOnOneStream) {
    ServerTone tone(server(), 220);
    ASSERT_TRUE(tone.ok()) << server().log();
    const int before = sourceOutputs(server());
    WorkingDirectory here(server().dir() / "pitch");  // the tuner writes its files there
    const auto microphone = PortAudioCaptureDevice::factory();
    testing::CallRecorder tunerCalls, pitchCalls;
    StringTuner tuner(microphone, reporter_, tunerCalls);
    PitchTracker tracker(microphone, pitchCalls);
    ASSERT_TRUE(tuner.hasDevice());
    ASSERT_EQ(tracker.initialize(), status::kOk);
    ASSERT_TRUE(tuner.setStringIndex(1));
    ASSERT_EQ(tuner.start(), status::kOk);
    ASSERT_EQ(tracker.start(), status::kOk);
    EXPECT_EQ(sourceOutputs(server()), before + 1) << "one device stream serves both";
    std::this_thread::sleep_for(2500ms);
    tracker.stop();
    tuner.stop();

    EXPECT_GE(tunerCalls.calls().size(), 2u);
    const auto cents = readCents(pitchCalls.calls(), "A3");
    ASSERT_GE(cents.size(), 40u) << "about thirty readings a second";
    for (double c : cents) EXPECT_NEAR(c, 0.0, 2.0);
    EXPECT_TRUE(reporter_.reports().empty());
}

TEST_F(SoundServer, StartingTheTrackerWhileRecordingLeavesNoGapInTheRecording) {
    ServerTone tone(server(), 440);
    ASSERT_TRUE(tone.ok()) << server().log();
    const auto path = server().dir() / "gapless.wav";
    const auto microphone = PortAudioCaptureDevice::factory();
    testing::CallRecorder calls;
    {
        WavRecorder recorder(microphone, reporter_, path.string());
        PitchTracker tracker(microphone, calls);
        ASSERT_EQ(recorder.initialize(), status::kOk);
        ASSERT_EQ(tracker.initialize(), status::kOk);
        ASSERT_EQ(recorder.start(), status::kOk);
        std::this_thread::sleep_for(800ms);
        for (int i = 0; i < 3; ++i) {  // joining and leaving, again and again
            ASSERT_EQ(tracker.start(), status::kOk);
            std::this_thread::sleep_for(300ms);
            tracker.stop();
        }
        std::this_thread::sleep_for(500ms);
        recorder.stop();
    }
    int rate = 0;
    const auto samples = testing::readSoundFile(path, &rate);
    ASSERT_EQ(rate, 44100);
    ASSERT_GT(samples.size(), static_cast<std::size_t>(rate * 1.5));
    // Past the stream's start, every 10 ms holds the tone at its level: no gap, no click.
    const std::size_t window = static_cast<std::size_t>(rate / 100);
    for (std::size_t at = static_cast<std::size_t>(rate * 0.3); at + window <= samples.size(); at += window) {
        double sum = 0.0;
        for (std::size_t i = at; i < at + window; ++i) sum += samples[i] * samples[i];
        ASSERT_NEAR(std::sqrt(sum / static_cast<double>(window)), 0.5 / std::sqrt(2.0), 0.06)
            << "at " << static_cast<double>(at) / rate << " s";
    }
    EXPECT_GE(readCents(calls.calls(), "A4").size(), 15u);
    EXPECT_TRUE(reporter_.reports().empty());
}

}  // namespace
}  // namespace tunewick
