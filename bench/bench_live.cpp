// How soon the live listeners answer: a scripted microphone delivers strums in 5 ms periods at
// real-time pace, and the time from each pluck (its first sample's moment on the stream's
// clock) to the chord listener's onset, to its "setChord", and from each practice event's
// window closing to its "setVerdict" is recorded. Also the process's CPU share meanwhile.
// Counters are in milliseconds (p50, p90, max) and percent of one core.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "LiveSignals.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/listening/ChordListener.h"
#include "audio/practice/PracticeSession.h"
#include "bridge/FlashObject.h"
#include "support/ScriptedSampleStream.h"

namespace tunewick {
namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRate = 22050.0;
constexpr double kSeconds = 10.0;
constexpr double kEveryMs = 500.0;
constexpr double kFirstMs = 500.0;
const std::vector<std::vector<int>> kChords = {{48, 52, 55, 60, 64}, {45, 52, 57, 60, 64}, {50, 57, 62, 66},
                                               {43, 47, 50, 55, 59, 67}};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<float> strums() {
    std::vector<float> signal(static_cast<std::size_t>(kSeconds * kRate));
    for (int i = 0; kFirstMs + i * kEveryMs < (kSeconds - 1.0) * 1000.0; ++i) {
        testing::addStrum(signal, kRate, (kFirstMs + i * kEveryMs) / 1000.0, kChords[static_cast<std::size_t>(i) % kChords.size()],
                          15.0, 0.4);
    }
    return signal;
}

// Delivers the signal in 5 ms periods, each when its last sample has been "captured"; returns
// the moment of sample 0.
Clock::time_point playRealTime(testing::ScriptedSampleStream& stream, const std::vector<float>& signal) {
    const std::size_t period = static_cast<std::size_t>(kRate / 200.0);
    const Clock::time_point start = Clock::now();
    for (std::size_t at = 0; at < signal.size(); at += period) {
        const std::size_t n = std::min(period, signal.size() - at);
        std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>((at + n) * 1e6 / kRate)));
        stream.push(std::vector<float>(signal.begin() + static_cast<std::ptrdiff_t>(at),
                                       signal.begin() + static_cast<std::ptrdiff_t>(at + n)),
                    n);
    }
    return start;
}

void report(benchmark::State& state, const char* name, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    state.counters[std::string(name) + "_p50"] = ms[ms.size() / 2];
    state.counters[std::string(name) + "_p90"] = ms[std::min(ms.size() - 1, ms.size() * 9 / 10)];
    state.counters[std::string(name) + "_max"] = ms.back();
}

// Milliseconds from the pluck at `sample` to `at`.
double since(Clock::time_point zero, double sample, Clock::time_point at) {
    return std::chrono::duration<double, std::milli>(at - zero).count() - sample * 1000.0 / kRate;
}

void BM_ChordListenerLive(benchmark::State& state) {
    const std::vector<float> signal = strums();
    for (auto _ : state) {
        auto stream = std::make_shared<testing::ScriptedSampleStream>(kRate);
        testing::TimedPoster poster;
        ChordListener listener(sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster);
        listener.initialize();
        std::mutex mutex;
        std::vector<std::pair<std::int64_t, Clock::time_point>> onsets;
        listener.setOnsetObserver([&](std::int64_t sample) {
            std::lock_guard lock(mutex);
            onsets.emplace_back(sample, Clock::now());
        });
        listener.start();
        const double cpu = cpuSeconds();
        const Clock::time_point zero = playRealTime(*stream, signal);
        const double wall = std::chrono::duration<double>(Clock::now() - zero).count();
        state.counters["cpu_percent"] = 100.0 * (cpuSeconds() - cpu) / wall;
        listener.stop();

        std::vector<double> onsetMs, chordMs;
        for (const auto& [sample, at] : onsets) {
            // The pluck nearest the onset is the one it reports.
            const double k = std::round((static_cast<double>(sample) * 1000.0 / kRate - kFirstMs) / kEveryMs);
            onsetMs.push_back(since(zero, (kFirstMs + k * kEveryMs) * kRate / 1000.0, at));
        }
        for (const auto& posted : poster.posted()) {
            const double seconds = posted.call.arguments.at(0).getObject()->getProperty("time")->getNumber();
            chordMs.push_back(since(zero, seconds * kRate, posted.at));
        }
        state.counters["onsets"] = static_cast<double>(onsets.size());
        report(state, "onset_ms", onsetMs);
        report(state, "setChord_ms", chordMs);
    }
}
BENCHMARK(BM_ChordListenerLive)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_PracticeVerdictLive(benchmark::State& state) {
    const std::vector<float> signal = strums();
    std::vector<PracticeEvent> events;
    for (int i = 0; kFirstMs + i * kEveryMs < (kSeconds - 1.0) * 1000.0; ++i) {
        PracticeEvent event{i * kEveryMs, {}};
        for (int midi : kChords[static_cast<std::size_t>(i) % kChords.size()]) event.notes.push_back({midi});
        events.push_back(event);
    }
    for (auto _ : state) {
        auto stream = std::make_shared<testing::ScriptedSampleStream>(kRate);
        testing::TimedPoster poster;
        PracticeSession session(sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster);
        session.initialize();
        const PracticeOptions options;
        session.start(events, kFirstMs, options, 0.0);
        const Clock::time_point zero = playRealTime(*stream, signal);
        session.stop();
        std::vector<double> afterClose;
        for (const auto& posted : poster.posted()) {
            const auto index = static_cast<std::size_t>(posted.call.arguments.at(0).getObject()->getProperty("index")->getNumber());
            const double close = kFirstMs + events[index].time + options.lateWindow;
            afterClose.push_back(since(zero, close * kRate / 1000.0, posted.at));
        }
        state.counters["verdicts"] = static_cast<double>(afterClose.size());
        report(state, "setVerdict_after_close_ms", afterClose);
    }
}
BENCHMARK(BM_PracticeVerdictLive)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace tunewick

BENCHMARK_MAIN();
