// The recorder's path: the writer taking blocks, a block step over a ring, and the
// conversion of a file for the WAV-file device.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "audio/capture/CaptureEngine.h"
#include "support/ScriptedCaptureDevice.h"
#include "audio/Status.h"
#include "audio/capture/WavFileCaptureDevice.h"
#include "audio/recording/WaveFileWriter.h"
#include "bridge/Reporter.h"

namespace {

using namespace tunewick;

std::filesystem::path scratch(const char* name) {
    return std::filesystem::temp_directory_path() / name;
}

// One recorder block (5512 bytes, an eighth of a second) per iteration, into a real file.
void BM_WriterBlock(benchmark::State& state) {
    const auto path = scratch("tunewick-bench-writer.wav");
    std::vector<std::uint8_t> block(5512, 128);
    auto writer = std::make_unique<WaveFileWriter>(path.string());
    if (writer->open(WaveFormat::pcm8Mono(44100)) != status::kOk) {
        state.SkipWithError("cannot create the file");
        return;
    }
    std::uint32_t blocks = 0;
    for (auto _ : state) {
        std::uint32_t written = 0;
        benchmark::DoNotOptimize(writer->write(5512, block.data(), &written));
        // A new file before the 32-bit sizes fill up.
        if (++blocks == 100000) {
            state.PauseTiming();
            writer = std::make_unique<WaveFileWriter>(path.string());
            writer->open(WaveFormat::pcm8Mono(44100));
            blocks = 0;
            state.ResumeTiming();
        }
    }
    writer.reset();
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5512);
}
BENCHMARK(BM_WriterBlock);

class NullReporter final : public Reporter {
public:
    void report(const std::string&, const std::string&) override {}
};

class SumEngine final : public CaptureEngine {
public:
    SumEngine(CaptureDeviceFactory factory, Reporter& reporter)
        : CaptureEngine(CaptureConfig::recorder(), std::move(factory), reporter) {}
    ~SumEngine() override {
        stop();
        release();
    }
    std::uint64_t sum = 0;

protected:
    std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                         const std::uint8_t*, std::uint32_t) override {
        sum += first[0] + first[firstLength - 1];
        return 0;
    }
};

// The common frame of a block step (position, region, lock, consumer, unlock) for one
// recorder block, the capture thread asleep (positions moved without notifications).
void BM_BlockStep(benchmark::State& state) {
    auto device = ScriptedCaptureDevice::create();
    NullReporter reporter;
    SumEngine engine(device->factory(), reporter);
    engine.initialize();
    engine.start();
    std::uint32_t read = 0;
    for (auto _ : state) {
        read = (read + 5512) % 88192;
        device->setPositions(read, read);
        benchmark::DoNotOptimize(engine.processBlock());
    }
    benchmark::DoNotOptimize(engine.sum);
    engine.stop();
}
BENCHMARK(BM_BlockStep);

// Ten seconds of 44.1 kHz 16-bit stereo converted for the recognizer and the tuner (2048 Hz).
void BM_ConvertFileTo2048(benchmark::State& state) {
    const auto path = scratch("tunewick-bench-source.wav");
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
        std::vector<short> frames(44100 * 2 * 10);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            frames[i] = static_cast<short>(
                8000 * std::sin(2 * std::numbers::pi * 110.0 * static_cast<double>(i / 2) / 44100));
        }
        sf_writef_short(file, frames.data(), 44100 * 10);
        sf_close(file);
    }
    for (auto _ : state) {
        auto device = WavFileCaptureDevice::open(path.string(), WavFileCaptureDevice::Mode::stepped);
        benchmark::DoNotOptimize(device->totalBytes(2048));
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_ConvertFileTo2048)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
