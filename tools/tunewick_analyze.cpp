// tunewick-analyze --engine recognizer|tuner [--string N] FILE
// tunewick-analyze --engine pitch [--reference HZ] FILE
// tunewick-analyze --engine onsets FILE
// tunewick-analyze --engine chord FILE | --engine check --expect EXPECT.tsv FILE
//
// Plays a WAV file to the note recognizer or the string tuner as their microphone, in
// simulated time and as fast as the machine allows: every whole block of the file is analysed
// once, in order. Prints one line per report, "<block> <function> <argument XML>", and leaves
// the four diagnostic files in the current directory exactly as the engine writes them.
// The pitch engine runs the pitch tracker's estimator over the file instead and prints one
// line per reading, "<seconds> <frequency> <note> <cents> <clarity>", every field after the
// seconds "-" where it heard no pitch; it writes no files.
// The onsets engine prints one line per pluck or strum, "<seconds>" with 4 decimals, at the
// file's own rate and with its channels mixed down; it writes no files.
// The chord and check engines are described in ListeningEngines.h.
// Exit status: 0 when the file was analysed, 2 for a bad option or an unreadable file,
// 1 when the engine could not start.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "ListeningEngines.h"
#include "audio/analysis/NoteRecognizer.h"
#include "audio/analysis/PitchEstimator.h"
#include "audio/Status.h"
#include "audio/analysis/StringTuner.h"
#include "audio/capture/WavFileCaptureDevice.h"
#include "audio/listening/OnsetDetector.h"
#include "bridge/DialogPoster.h"
#include "bridge/Reporter.h"

namespace tunewick {
namespace {

constexpr int kBadUsage = 2;
constexpr int kEngineFailed = 1;

class StderrReporter final : public Reporter {
public:
    void report(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
};

// Collects the engine's reports until the driver prints them with their block's index.
class CollectingPoster final : public DialogPoster {
public:
    void postLoadSwf(std::string) override {}
    void postCallSwfFunction(FunctionCall call) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(call));
    }
    void printPending(std::uint64_t block) {
        std::vector<FunctionCall> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(pending_);
        }
        for (const auto& call : calls) {
            std::printf("%llu %s %s\n", static_cast<unsigned long long>(block), call.name.c_str(),
                        call.argumentsToXml().c_str());
        }
    }

private:
    std::mutex mutex_;
    std::vector<FunctionCall> pending_;
};

// The engine's capture thread wakes on each block too; whichever block step runs first takes
// the block and the other finds nothing, so once ours returns the block has been analysed
// and its report posted.
template <class Engine>
int analyze(Engine& engine, WavFileCaptureDevice& device, CollectingPoster& poster) {
    const std::int32_t started = engine.start();
    if (status::failed(started)) {
        std::fprintf(stderr, "tunewick-analyze: the engine could not start (status 0x%08X)\n",
                     static_cast<unsigned>(started));
        return kEngineFailed;
    }
    const std::uint64_t blocks = device.totalBytes(Engine::kSampleRate) / Engine::kBlockSize;
    for (std::uint64_t block = 0; block < blocks; ++block) {
        if (device.advance(Engine::kBlockSize) != Engine::kBlockSize) break;
        engine.processBlock();
        poster.printPending(block);
    }
    engine.stop();
    poster.printPending(blocks == 0 ? 0 : blocks - 1);  // nothing is left by then; kept for safety
    std::fflush(stdout);
    return 0;
}

int analyzePitch(const std::string& path, double referencePitch) {
    std::vector<TimedPitchReading> readings;
    try {
        readings = trackPitchInFile(path, referencePitch);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tunewick-analyze: %s\n", error.what());
        return kBadUsage;
    }
    for (const auto& [seconds, reading] : readings) {
        if (reading) {
            // Rounded first, so that a hair below zero prints as 0.00, not -0.00.
            const double cents = std::round(reading->cents * 100.0) / 100.0 + 0.0;
            std::printf("%.4f %.3f %s %.2f %.3f\n", seconds, reading->frequency, reading->note.c_str(),
                        cents == 0.0 ? 0.0 : cents, reading->clarity);
        } else {
            std::printf("%.4f - - - -\n", seconds);
        }
    }
    std::fflush(stdout);
    return 0;
}

int analyzeOnsets(const std::string& path) {
    std::vector<Onset> onsets;
    double rate = 0.0;
    try {
        onsets = detectOnsetsInFile(path, &rate);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tunewick-analyze: %s\n", error.what());
        return kBadUsage;
    }
    for (const Onset& onset : onsets) std::printf("%.4f\n", static_cast<double>(onset.sample) / rate);
    std::fflush(stdout);
    return 0;
}

int run(int argc, char** argv) {
    CLI::App app{"Runs the note recognizer or the string tuner over a WAV file, block by block, "
                 "printing one line per report: <block> <function> <argument XML>; or the pitch "
                 "tracker, printing one line per reading: <seconds> <frequency> <note> <cents> <clarity>; "
                 "or the onset detector, printing one line per onset: <seconds>; or names each strum's "
                 "chord, or checks the notes an expect file says are due.",
                 "tunewick-analyze"};
    std::string engineName;
    int stringIndex = 0;
    double referencePitch = 440.0;
    std::string path;
    std::string expectPath;
    app.add_option("--engine", engineName, "recognizer, tuner, pitch, onsets, chord or check")
        ->required()
        ->check(CLI::IsMember({"recognizer", "tuner", "pitch", "onsets", "chord", "check"}));
    app.add_option("--expect", expectPath, "the check engine's expect file: <due seconds>\\t<midi,midi,...> per line");
    app.add_option("--string", stringIndex, "the tuner's string: 0 (low E) .. 5 (high E); default 0")
        ->check(CLI::Range(0, 5));
    app.add_option("--reference", referencePitch, "the pitch tracker's A4 in Hz: 415 .. 466; default 440")
        ->check(CLI::Range(PitchEstimator::kMinReferencePitch, PitchEstimator::kMaxReferencePitch));
    app.add_option("file", path, "the WAV file to analyse (pitch, onsets: any file libsndfile reads)")->required();
    app.set_version_flag("--version", std::string("tunewick-analyze ") + TUNEWICK_VERSION, "Print the version and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);  // prints help to stdout, errors to stderr
        return code == 0 ? 0 : kBadUsage;
    }
    if (engineName == "pitch") return analyzePitch(path, referencePitch);
    if (engineName == "onsets") return analyzeOnsets(path);
    if (engineName == "chord") return analyzeChords(path);
    if (engineName == "check") {
        if (expectPath.empty()) {
            std::fprintf(stderr, "tunewick-analyze: the check engine needs --expect EXPECT.tsv\n");
            return kBadUsage;
        }
        return checkExpected(path, expectPath);
    }

    std::string reason;
    const auto device = WavFileCaptureDevice::open(path, WavFileCaptureDevice::Mode::stepped, &reason);
    if (!device) {
        if (reason.empty()) reason = "cannot read " + path;
        std::fprintf(stderr, "tunewick-analyze: %s\n", reason.c_str());
        return kBadUsage;
    }

    StderrReporter reporter;
    CollectingPoster poster;
    if (engineName == "recognizer") {
        NoteRecognizer engine(device->factory(), reporter, poster);
        return analyze(engine, *device, poster);
    }
    StringTuner engine(device->factory(), reporter, poster);
    engine.setStringIndex(stringIndex);
    return analyze(engine, *device, poster);
}

}  // namespace
}  // namespace tunewick

int main(int argc, char** argv) { return tunewick::run(argc, argv); }
