// The cost of hearing a strum: the note analyzer, chord naming and the note checker on one
// synthetic six-string strum at 22050 Hz. A listener pays this once per onset.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/listening/ChordNamer.h"
#include "audio/listening/NoteAnalyzer.h"
#include "audio/listening/NoteChecker.h"

namespace {

using namespace tunewick;

constexpr double kRate = 22050.0;
const std::vector<int> kStrum{43, 47, 50, 55, 59, 67};  // G major, 320003

std::vector<float> strum() {
    std::vector<float> out(static_cast<std::size_t>(1.5 * kRate), 0.0f);
    for (std::size_t k = 0; k < kStrum.size(); ++k) {
        const double f0 = midiFrequency(kStrum[k]);
        const auto first = static_cast<std::size_t>((0.5 + 0.006 * static_cast<double>(k)) * kRate);
        for (std::size_t i = first; i < out.size(); ++i) {
            const double t = static_cast<double>(i - first) / kRate;
            double x = 0;
            for (int n = 1; n <= 10; ++n) x += std::exp(-t * (1.5 + 0.5 * n)) * std::sin(2 * std::numbers::pi * n * f0 * t) / n;
            out[i] += static_cast<float>(0.1 * x);
        }
    }
    return out;
}

void analyzeStrum(benchmark::State& state) {
    const auto signal = strum();
    NoteAnalyzer analyzer(kRate);
    const auto onset = static_cast<std::int64_t>(0.5 * kRate);
    for (auto _ : state) {
        auto notes = analyzer.analyze(signal.data(), signal.size(), onset);
        auto name = nameChord(notes);
        benchmark::DoNotOptimize(name);
    }
}
BENCHMARK(analyzeStrum)->Unit(benchmark::kMillisecond);

void checkStrum(benchmark::State& state) {
    const auto signal = strum();
    NoteChecker checker(kRate);
    std::vector<ExpectedNote> expected;
    for (int midi : kStrum) expected.push_back({midi});
    const std::vector<Onset> onsets{{static_cast<std::int64_t>(0.5 * kRate), 1.0f}};
    for (auto _ : state) {
        auto result = checker.check(signal.data(), signal.size(), onsets[0].sample + 200, expected, onsets);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(checkStrum)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
