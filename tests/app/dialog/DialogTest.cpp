// The dialog wired as the program wires it: a fake control stands in for the player and a
// scripted device for the microphone; the test thread plays the dialog's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <unistd.h>
#include <cmath>
#include <mutex>
#include <sndfile.h>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog/CtunewickDlg.h"
#include "commands/AnalyzeRecordingCommand.h"
#include "audio/analysis/NoteRecognizer.h"
#include "audio/analysis/PitchTracker.h"
#include "audio/analysis/StringTuner.h"
#include "audio/recording/SoundPlayer.h"
#include "audio/recording/WaveFileWriter.h"
#include "bridge/MessageQueue.h"
#include "support/ScriptedCaptureDevice.h"
#include "navigation/Navigation.h"
#include "support/RecordingReporter.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;

class FakeControl final : public FlashControl {
public:
    void LoadMovie(std::int32_t layer, const std::string& url) override {
        loads.push_back(std::to_string(layer) + " " + url);
        if (afterLoad) afterLoad();
    }
    std::string CallFunction(const std::string& request) override {
        std::lock_guard lock(mutex);
        calls.push_back(request);
        return "<null/>";
    }
    void SetReturnValue(const std::string& value) override { replies.push_back(value); }
    void setCommandNames(std::vector<std::string> names) override {
        commandNames = std::move(names);
        namesBeforeLoad = loads.empty();
    }
    // The movie calls the host; returns the reply it got.
    std::string movieCalls(const std::string& name, const std::string& arguments = "") {
        const std::size_t before = replies.size();
        fireFlashCall("<invoke name=\"" + name + "\" returntype=\"xml\"><arguments>" + arguments +
                      "</arguments></invoke>");
        return replies.size() == before + 1 ? replies.back() : "(replies: " + std::to_string(replies.size() - before) + ")";
    }
    std::vector<std::string> callsSoFar() {
        std::lock_guard lock(mutex);
        return calls;
    }

    std::function<void()> afterLoad;  // runs once the start movie is asked for
    std::vector<std::string> loads;
    std::vector<std::string> commandNames;
    bool namesBeforeLoad = false;
    std::vector<std::string> replies;
    std::mutex mutex;
    std::vector<std::string> calls;
};

class CountingPlayer final : public SoundPlayer {
public:
    void play(const std::string& path) override { played.push_back(path); }
    void purge() override { ++purges; }
    std::vector<std::string> played;
    int purges = 0;
};

std::string loadSwfRequest(const std::string& page) {
    return "<invoke name=\"loadSwf\" returntype=\"xml\"><arguments><string>" + page +
           "</string></arguments></invoke>";
}

// Each test runs in a fresh working folder, where the recording and the diagnostics go.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        folder_ = fs::temp_directory_path() /
                  ("tunewick-dialog-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "data" / "sound");
        fs::current_path(folder_);
        dialog_ = std::make_unique<CtunewickDlg>(
            DialogServices{control_, queue_, reporter_, player_, device_->factory(), "/opt/tunewick/data/Loader.html"});
    }
    void TearDown() override {
        dialog_.reset();
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }
    // Runs posted messages until `done` holds or five seconds have passed.
    template <typename Pred>
    bool pumpUntil(Pred done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            if (queue_.runPending() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    fs::path previous_;
    fs::path folder_;
    FakeControl control_;
    MessageQueue queue_;
    RecordingReporter reporter_;
    CountingPlayer player_;
    std::shared_ptr<ScriptedCaptureDevice> device_ = ScriptedCaptureDevice::create();
    std::unique_ptr<CtunewickDlg> dialog_;
};

TEST_F(DialogTest, StartsWithTheStartMovieAndAnEmptyHistory) {
    dialog_->OnInitDialog();
    ASSERT_EQ(control_.loads.size(), 1u);
    EXPECT_EQ(control_.loads[0], "0 /opt/tunewick/data/Loader.html");
    // A SWF player needs every command's name before the start movie runs.
    EXPECT_TRUE(control_.namesBeforeLoad);
    EXPECT_EQ(control_.commandNames, dialog_->commandRegistry()->names());
    for (const char* name : {"exit", "generateMaze", "getHistoryInfo", "goBack", "goForward", "loadSwf",
                             "playRecordedWav", "setTunerString", "startRecognizer", "startRecorder", "startTuner",
                             "stopRecorder"}) {
        EXPECT_NE(std::find(control_.commandNames.begin(), control_.commandNames.end(), name),
                  control_.commandNames.end())
            << name;
    }
    EXPECT_EQ(control_.movieCalls("getHistoryInfo"),
              "<object><property id=\"canGoBack\"><false/></property>"
              "<property id=\"canGoForward\"><false/></property></object>");
    EXPECT_EQ(control_.movieCalls("goBack"), "<false/>");
    EXPECT_EQ(control_.movieCalls("goForward"), "<false/>");
    EXPECT_EQ(control_.movieCalls("Exit"), "<null/>");  // names are case-sensitive
    EXPECT_EQ(queue_.runPending(), 0);
    EXPECT_TRUE(control_.callsSoFar().empty());
    EXPECT_EQ(dialog_->tuner()->stringIndex(), 0);
    EXPECT_TRUE(reporter_.reports().empty());
}

TEST_F(DialogTest, APageSwitchHappensAfterTheReplyBetweenUnloadAndLoad) {
    dialog_->OnInitDialog();
    EXPECT_EQ(control_.movieCalls("loadSwf", "<string>Menu.html</string>"), "<null/>");
    EXPECT_TRUE(control_.callsSoFar().empty()) << "the page must not change inside the call";
    EXPECT_EQ(queue_.runPending(), 1);
    ASSERT_EQ(control_.callsSoFar().size(), 1u);
    EXPECT_EQ(control_.callsSoFar()[0], loadSwfRequest("Menu.html"));
    EXPECT_EQ(player_.purges, 1) << "pageUnload purges playback";

    control_.movieCalls("loadSwf", "<string>Tuner.html</string>");
    control_.movieCalls("loadSwf", "<number>3</number>");  // not a string: nothing happens
    EXPECT_EQ(control_.movieCalls("goBack"), "<true/>");
    EXPECT_EQ(control_.movieCalls("goForward"), "<true/>");
    EXPECT_EQ(queue_.runPending(), 3);
    const auto calls = control_.callsSoFar();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1], loadSwfRequest("Tuner.html"));
    EXPECT_EQ(calls[2], loadSwfRequest("Menu.html"));
    EXPECT_EQ(calls[3], loadSwfRequest("Tuner.html"));
}

TEST_F(DialogTest, TunerStringSelectionRefusesWhatTheTableLacks) {
    dialog_->OnInitDialog();
    StringTuner& tuner = *dialog_->tuner();
    EXPECT_EQ(control_.movieCalls("setTunerString", "<number>3.7</number>"), "<true/>");
    EXPECT_EQ(tuner.stringIndex(), 3);
    EXPECT_EQ(control_.movieCalls("setTunerString", "<number>6</number>"), "<false/>");
    EXPECT_EQ(control_.movieCalls("setTunerString", "<number>-1</number>"), "<false/>");
    EXPECT_EQ(control_.movieCalls("setTunerString", "<number>1e300</number>"), "<false/>");
    EXPECT_EQ(control_.movieCalls("setTunerString", "<string>2</string>"), "<false/>");
    EXPECT_EQ(control_.movieCalls("setTunerString"), "<false/>");
    EXPECT_EQ(tuner.stringIndex(), 3);
    EXPECT_EQ(control_.movieCalls("setTunerString", "<number>-0.5</number>"), "<true/>");
    EXPECT_EQ(tuner.stringIndex(), 0);
}

TEST_F(DialogTest, EngineReportsReachTheMovieAsCallsAndAPageSwitchStopsTheEngines) {
    dialog_->OnInitDialog();
    EXPECT_EQ(control_.movieCalls("startTuner"), "<null/>");
    ASSERT_TRUE(dialog_->tuner()->isRunning());
    // One second of silence: the tuner answers "no clear sound".
    device_->capture(2048, 128);
    ASSERT_TRUE(pumpUntil([&] { return !control_.callsSoFar().empty(); }));
    EXPECT_EQ(control_.callsSoFar()[0],
              "<invoke name=\"setStringTune\" returntype=\"xml\"><arguments><null/></arguments></invoke>");

    control_.movieCalls("loadSwf", "<string>Menu.html</string>");
    queue_.runPending();
    EXPECT_FALSE(dialog_->tuner()->isRunning());
    EXPECT_FALSE(dialog_->recognizer()->isRunning());
    EXPECT_TRUE(fs::exists("statistic.txt"));
}

TEST_F(DialogTest, OnlyTheNewestPitchReadingWaitsAndThePitchCommandsAnswer) {
    dialog_->OnInitDialog();
    EXPECT_EQ(control_.movieCalls("setReferencePitch", "<number>432</number>"), "<true/>");
    EXPECT_EQ(control_.movieCalls("setReferencePitch", "<number>500</number>"), "<false/>");
    EXPECT_EQ(control_.movieCalls("setPitchFocus", "<number>110</number>"), "<true/>");
    // This device gives no samples: the tracker stays idle, and says nothing.
    EXPECT_EQ(control_.movieCalls("startPitchTracker"), "<null/>");
    EXPECT_FALSE(dialog_->pitchTracker()->isRunning());

    auto reading = [](double cents) {
        FunctionCall call("setPitch");
        Param value;
        value.setNumber(cents);
        call.arguments.push_back(value);
        return call;
    };
    dialog_->postLatestSwfFunction(reading(1));
    dialog_->postCallSwfFunction(FunctionCall("setTone"));
    dialog_->postLatestSwfFunction(reading(2));
    dialog_->postLatestSwfFunction(reading(3));
    EXPECT_EQ(queue_.runPending(), 2);
    const auto calls = control_.callsSoFar();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "<invoke name=\"setPitch\" returntype=\"xml\"><arguments><number>3</number></arguments></invoke>");
    EXPECT_EQ(calls[1], "<invoke name=\"setTone\" returntype=\"xml\"><arguments></arguments></invoke>");
    dialog_->postLatestSwfFunction(reading(4));  // a new message once the last one ran
    EXPECT_EQ(queue_.runPending(), 1);
}

TEST_F(DialogTest, ExitAnswersThenEndsTheLoop) {
    // The movie can only call once the dialog is up: the start movie's load comes last.
    control_.afterLoad = [&] {
        queue_.post([&] { control_.movieCalls("exit", "<number>1</number>"); });
    };
    const int code = dialog_->DoModal();
    EXPECT_EQ(code, 1);
    ASSERT_FALSE(control_.replies.empty());
    EXPECT_EQ(control_.replies.back(), "<null/>");
}

TEST_F(DialogTest, ClosingWhileRecordingFinishesTheFile) {
    dialog_->OnInitDialog();
    control_.movieCalls("startRecorder");
    control_.movieCalls("startRecorder");  // a second start changes nothing
    ASSERT_TRUE(dialog_->recorder().isRunning());
    device_->capture(3 * 5512 + 100, 200);
    control_.movieCalls("playRecordedWav");
    EXPECT_EQ(player_.played, std::vector<std::string>{"data/sound/recording.wav"});
    const int purgesBefore = player_.purges;
    dialog_.reset();
    EXPECT_EQ(player_.purges, purgesBefore + 1) << "teardown stops playback";

    std::ifstream file("data/sound/recording.wav", std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 56u + 3 * 5512);
    auto u32 = [&](std::size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<unsigned>(bytes[at + 3]) << 24;
    };
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(u32(4), bytes.size() - 8);
    EXPECT_EQ(u32(44), 0u) << "fact count of a finished file";
    EXPECT_EQ(u32(52), 3u * 5512);
    EXPECT_EQ(bytes[56], 200);
}

TEST(DialogWithoutMicrophone, StartsQuietlyAndItsStartsDoNothing) {
    FakeControl control;
    MessageQueue queue;
    RecordingReporter reporter;
    CountingPlayer player;
    CtunewickDlg dialog(DialogServices{control, queue, reporter, player, ScriptedCaptureDevice::noDevice(), "movies/Loader.swf"});
    dialog.OnInitDialog();
    EXPECT_EQ(control.loads.at(0), "0 movies/Loader.swf");
    EXPECT_EQ(control.movieCalls("startRecorder"), "<null/>");
    EXPECT_EQ(control.movieCalls("startTuner"), "<null/>");
    EXPECT_EQ(control.movieCalls("startRecognizer"), "<null/>");
    EXPECT_FALSE(dialog.recorder().isRunning());
    EXPECT_FALSE(dialog.tuner()->isRunning());
    EXPECT_EQ(control.movieCalls("stopRecorder"), "<null/>");
    EXPECT_TRUE(reporter.reports().empty()) << "a missing microphone is not an initialisation error";
}

// The reference pitch is one value: stored, read at start, and retuning the tracker at once.
TEST(DialogSettings, TheReferencePitchIsStoredAndTunesTheTrackerWhicheverWayItIsSet) {
    const fs::path folder = fs::temp_directory_path() / ("tunewick-dialog-settings-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / "settings.json";
    std::ofstream(file) << R"({"referencePitch": 442, "window": "kept"})";
    auto stored = [&file] {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    FakeControl control;
    MessageQueue queue;
    RecordingReporter reporter;
    CountingPlayer player;
    {
        CtunewickDlg dialog(DialogServices{control, queue, reporter, player, ScriptedCaptureDevice::noDevice(), "",
                                           file.string()});
        dialog.OnInitDialog();
        EXPECT_DOUBLE_EQ(dialog.pitchTracker()->referencePitch(), 442.0) << "read at start";
        EXPECT_EQ(control.movieCalls("setReferencePitch", "<number>445</number>"), "<true/>");
        EXPECT_DOUBLE_EQ(dialog.pitchTracker()->referencePitch(), 445.0);
        EXPECT_NE(stored().find("\"referencePitch\": 445"), std::string::npos) << stored();
        EXPECT_EQ(control.movieCalls("setSetting", "<string>referencePitch</string><number>430</number>"), "<true/>");
        EXPECT_DOUBLE_EQ(dialog.pitchTracker()->referencePitch(), 430.0) << "retuned at once";
        EXPECT_EQ(control.movieCalls("setReferencePitch", "<number>470</number>"), "<false/>");
        EXPECT_EQ(control.movieCalls("setSetting", "<string>referencePitch</string><number>414</number>"), "<false/>");
        EXPECT_DOUBLE_EQ(dialog.pitchTracker()->referencePitch(), 430.0);
        EXPECT_NE(control.movieCalls("getSettings").find("<property id=\"referencePitch\"><number>430</number>"),
                  std::string::npos);
    }
    EXPECT_NE(stored().find("\"referencePitch\": 430"), std::string::npos) << stored();
    EXPECT_NE(stored().find("\"window\": \"kept\""), std::string::npos) << stored();
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tunewick

namespace tunewick {
namespace {

// Minutes of plucked-sounding notes, written as the recorder writes (8-bit mono, 44.1 kHz).
void writeLongTake(const fs::path& file, int seconds) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(out, nullptr);
    std::vector<float> second(44100);
    for (int s = 0; s < seconds; ++s) {
        const double hz = 110.0 * std::pow(2.0, (s % 12) / 12.0);
        for (std::size_t i = 0; i < second.size(); ++i) {
            const double t = static_cast<double>(i) / 44100.0;
            second[i] = static_cast<float>(0.5 * std::exp(-2.0 * t) * std::sin(2 * M_PI * hz * t));
        }
        sf_writef_float(out, second.data(), static_cast<sf_count_t>(second.size()));
    }
    sf_close(out);
}

TEST_F(DialogTest, WhileALongTakeIsAnalysedOtherCallsAreAnswered) {
    writeLongTake(WaveFileWriter::kDefaultPath, 5 * 60);
    dialog_->OnInitDialog();
    const auto hasAnswer = [&] {
        const auto calls = control_.callsSoFar();
        return std::any_of(calls.begin(), calls.end(),
                           [](const std::string& c) { return c.find("name=\"setAnalysis\"") != std::string::npos; });
    };
    EXPECT_EQ(control_.movieCalls("analyzeRecording"), "<true/>");
    EXPECT_EQ(control_.movieCalls("analyzeRecording"), "<false/>") << "one analysis at a time";
    // The analysis of five minutes takes seconds; a call on the dialog's thread meanwhile is
    // answered at once. The bound leaves room for a loaded machine and the sanitizers.
    std::chrono::steady_clock::duration worst{};
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::string reply = control_.movieCalls("getSettings");
        worst = std::max(worst, std::chrono::steady_clock::now() - start);
        EXPECT_NE(reply.find("referencePitch"), std::string::npos);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(hasAnswer()) << "the analysis cannot have ended before the calls made during it";
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(worst).count(), 100);

    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!hasAnswer() && std::chrono::steady_clock::now() < until) {
        if (queue_.runPending() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(hasAnswer());
    const auto calls = control_.callsSoFar();
    const auto answer = std::find_if(calls.begin(), calls.end(),
                                     [](const std::string& c) { return c.find("setAnalysis") != std::string::npos; });
    EXPECT_NE(answer->find("<property id=\"duration\"><number>300</number></property>"), std::string::npos);
    EXPECT_FALSE(dynamic_cast<AnalyzeRecordingCommand&>(*dialog_->commandRegistry()->find("analyzeRecording")).busy());
}

}  // namespace
}  // namespace tunewick
