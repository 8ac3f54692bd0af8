// The block work of the two analysing engines: byte conversion, the two text dumps, the
// transform and the scans, as the engines run them once per block (the recognizer every half
// second on 1024 samples, the tuner every second on 2048). The diagnostic files point at
// /dev/null so that the dumps cost their formatting and a write, without filling the disk.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/analysis/DiagnosticFiles.h"
#include "audio/analysis/NoteRecognizer.h"
#include "audio/analysis/FourierAnalysis.h"
#include "audio/analysis/StringTuner.h"

namespace {

using namespace tunewick;
namespace fs = std::filesystem;

// A folder whose four diagnostic names are links to /dev/null; removed at exit.
class NullFolder {
public:
    NullFolder() {
        std::string pattern = (fs::temp_directory_path() / "tunewick-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        for (auto s : {DiagnosticFiles::Data, DiagnosticFiles::Fft, DiagnosticFiles::Log, DiagnosticFiles::Statistic}) {
            fs::create_symlink("/dev/null", path_ / DiagnosticFiles::fileName(s));
        }
    }
    ~NullFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string prefix() const { return path_.string() + "/"; }

private:
    fs::path path_;
};

NullFolder& nullFolder() {
    static NullFolder folder;
    return folder;
}

// A tone with overtones at `hz`, 8-bit unsigned as captured: loud enough to pass both gates.
std::vector<std::uint8_t> toneBlock(double hz, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / 2048.0;
        const double x = std::sin(2.0 * std::numbers::pi * hz * t) + 0.5 * std::sin(4.0 * std::numbers::pi * hz * t);
        bytes[i] = static_cast<std::uint8_t>(std::lround(128.0 + 40.0 * x));
    }
    return bytes;
}

void BM_RecognizerBlock(benchmark::State& state) {
    DiagnosticFiles files(nullFolder().prefix());
    if (!files.open().empty()) state.SkipWithError("cannot open /dev/null links");
    SpectrumSetup setup(1024, 10, 50.0, 2048);
    std::vector<double> samples(1024);
    std::vector<double> spectrum(1024);
    const auto block = toneBlock(110.0, 1024);
    for (auto _ : state) {
        files.print(DiagnosticFiles::Log, "Buff 1.: %d\n", 1024);
        files.print(DiagnosticFiles::Log, "Buff 2.: %d\n\n", 0);
        const auto indicators = analyzeToneBlock(setup, block, samples, spectrum, files);
        if (!indicators) {
            state.SkipWithError("the tone did not pass the gate");
            break;
        }
        files.print(DiagnosticFiles::Statistic, "i1 = %d, i2 = %d, i3 = %d\n", indicators->i1, indicators->i2, indicators->i3);
        benchmark::DoNotOptimize(decideTone(indicators->i1, indicators->i2, indicators->i3));
    }
}
BENCHMARK(BM_RecognizerBlock);

void BM_TunerBlock(benchmark::State& state) {
    DiagnosticFiles files(nullFolder().prefix());
    if (!files.open().empty()) state.SkipWithError("cannot open /dev/null links");
    SpectrumSetup setup(2048, 11, 50.0, 2048);
    std::vector<double> samples(2048);
    std::vector<double> spectrum(2048);
    const auto block = toneBlock(110.0, 2048);
    for (auto _ : state) {
        files.print(DiagnosticFiles::Log, "Buff 1.: %d\n", 2048);
        files.print(DiagnosticFiles::Log, "Buff 2.: %d\n\n", 0);
        const auto result = analyzeTuneBlock(setup, block, samples, spectrum, files, 1);
        if (!result) {
            state.SkipWithError("the tone did not pass the gate");
            break;
        }
        benchmark::DoNotOptimize(*result);
    }
}
BENCHMARK(BM_TunerBlock);

// The parts on their own: the transform, the two dumps and the harmonic products.
void BM_Transform(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    SpectrumSetup setup(n, n == 1024 ? 10 : 11, 50.0, 2048);
    std::vector<double> x(static_cast<std::size_t>(n));
    convertSignedBytes(toneBlock(110.0, x.size()), x);
    std::vector<double> out(x.size());
    for (auto _ : state) {
        computeMagnitudeSpectrum(setup, x, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Transform)->Arg(1024)->Arg(2048);

void BM_Dump(benchmark::State& state) {
    DiagnosticFiles files(nullFolder().prefix());
    if (!files.open().empty()) state.SkipWithError("cannot open /dev/null links");
    std::vector<double> x(static_cast<std::size_t>(state.range(0)));
    convertSignedBytes(toneBlock(110.0, x.size()), x);
    for (auto _ : state) files.writeValues(DiagnosticFiles::Data, x);
}
BENCHMARK(BM_Dump)->Arg(1024)->Arg(2048);

void BM_HarmonicProducts(benchmark::State& state) {
    SpectrumSetup setup(1024, 10, 50.0, 2048);
    std::vector<double> x(1024);
    convertSignedBytes(toneBlock(110.0, 1024), x);
    std::vector<double> spectrum(1024);
    computeMagnitudeSpectrum(setup, x, spectrum);
    for (auto _ : state) {
        benchmark::DoNotOptimize(findHarmonicProductPeak(spectrum, 2));
        benchmark::DoNotOptimize(findHarmonicProductPeak(spectrum, 5));
    }
}
BENCHMARK(BM_HarmonicProducts);

}  // namespace

BENCHMARK_MAIN();
