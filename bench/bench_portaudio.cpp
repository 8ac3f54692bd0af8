// The work of the microphone path that does not wait on a device: resampling and quantising
// a second of microphone input to an engine's rate (what the capture worker does), and the
// hand-over of one device callback's frames (what the callback does).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/capture/CaptureResampler.h"
#include "audio/capture/SpscQueue.h"

namespace {

using namespace tunewick;

std::vector<float> tone(double rate, std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(
            0.5 * std::sin(2.0 * std::numbers::pi * 196.0 * static_cast<double>(i) / rate));
    }
    return out;
}

// One second of input, fed in callback-sized chunks of 10 ms. Args: input rate, output rate.
void BM_ResampleOneSecond(benchmark::State& state) {
    const auto inRate = static_cast<double>(state.range(0));
    const auto outRate = static_cast<double>(state.range(1));
    const auto input = tone(inRate, static_cast<std::size_t>(inRate));
    const auto chunk = static_cast<std::size_t>(inRate / 100);
    CaptureResampler resampler(inRate, outRate);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(outRate) + 1024);
    for (auto _ : state) {
        bytes.clear();
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            resampler.process(input.data() + at, std::min(chunk, input.size() - at), bytes);
        }
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["audio_s_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResampleOneSecond)
    ->Args({48000, 2048})
    ->Args({44100, 2048})
    ->Args({48000, 44100})
    ->Args({44100, 44100})
    ->Unit(benchmark::kMicrosecond);

// One callback of 10 ms at 48 kHz through the lock-free queue, and back out.
void BM_HandOverCallback(benchmark::State& state) {
    SpscQueue<float> queue(96000);
    const auto frames = tone(48000, 480);
    std::vector<float> out(480);
    for (auto _ : state) {
        queue.push(frames.data(), frames.size());
        benchmark::DoNotOptimize(queue.pop(out.data(), out.size()));
    }
}
BENCHMARK(BM_HandOverCallback);

}  // namespace

BENCHMARK_MAIN();
