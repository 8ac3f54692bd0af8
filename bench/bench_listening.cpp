// The onset detector as the live path runs it: one second of input at 22050 Hz per iteration,
// fed in blocks of 256 samples. The time of one iteration is the detector's share of a core in
// real time (counter "core_share": seconds of CPU per second of sound). Two kinds of input:
// plucked notes ten times a second (every one an onset, so the fine placement runs each time)
// and steady noise at -30 dBFS (frames only).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <vector>

#include "audio/listening/OnsetDetector.h"

namespace {

using namespace tunewick;

constexpr double kRate = 22050.0;
constexpr std::size_t kBlock = 256;

// One second: ten decaying harmonic notes a tenth of a second apart, over faint noise.
std::vector<float> busySecond() {
    std::vector<float> out(static_cast<std::size_t>(kRate));
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.001f);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t note = i / (out.size() / 10);
        const double t = static_cast<double>(i % (out.size() / 10)) / kRate;
        const double f = 110.0 * std::exp2(static_cast<double>(note % 5) / 12.0);
        double x = 0.0;
        for (int h = 1; h <= 8; ++h) x += std::sin(2.0 * std::numbers::pi * f * h * t) / h;
        out[i] = static_cast<float>(0.2 * x * std::exp(-t * 8.0)) + noise(random);
    }
    return out;
}

std::vector<float> noiseSecond() {
    std::vector<float> out(static_cast<std::size_t>(kRate));
    std::mt19937 random(4);
    std::normal_distribution<float> noise(0.0f, 0.0316f);
    for (auto& x : out) x = noise(random);
    return out;
}

void runSeconds(benchmark::State& state, const std::vector<float>& second) {
    OnsetDetector detector(kRate);
    std::vector<Onset> found;
    found.reserve(64);
    std::size_t onsets = 0;
    for (auto _ : state) {
        for (std::size_t at = 0; at < second.size(); at += kBlock) {
            detector.process(second.data() + at, std::min(kBlock, second.size() - at), found);
        }
        onsets += found.size();
        found.clear();
    }
    state.counters["core_share"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["onsets_per_s"] = benchmark::Counter(static_cast<double>(onsets) / static_cast<double>(state.iterations()));
}

void BM_OnsetsPluckedNotes(benchmark::State& state) { runSeconds(state, busySecond()); }
BENCHMARK(BM_OnsetsPluckedNotes)->Unit(benchmark::kMillisecond);

void BM_OnsetsSteadyNoise(benchmark::State& state) { runSeconds(state, noiseSecond()); }
BENCHMARK(BM_OnsetsSteadyNoise)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
