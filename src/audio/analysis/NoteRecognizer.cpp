#include "audio/analysis/NoteRecognizer.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "audio/Status.h"

namespace tunewick {

namespace {

constexpr double kGate = 150.0;
constexpr double kIndicatorLevel = 80.0;
constexpr std::int32_t kLowerHalf = 512;

// |value - base| < tolerance; a missing indicator (-1) is near nothing.
bool near(std::int32_t value, std::int32_t base, std::int32_t tolerance) {
    if (value < 0) return false;
    return std::llabs(static_cast<long long>(value) - base) < tolerance;
}

}  // namespace

std::int32_t decideTone(std::int32_t i1, std::int32_t i2, std::int32_t i3) {
    if (near(i1, 165, 6)) {
        if (near(i2, 41, 6) || near(i3, 82, 6)) return 1;
        if (near(i2, 55, 6) && near(i3, 55, 6)) return 2;
        return 6;
    }
    if (near(i1, 124, 6)) {
        if (near(i2, 41, 6) && (near(i3, 41, 6) || near(i3, 82, 6))) return 1;
        return 5;
    }
    // The low E is matched more narrowly here than in the groups above.
    if (near(i2, 41, 4)) return 1;
    if (near(i2, 55, 6)) return 2;
    if (near(i2, 73, 6)) return 3;
    if (near(i2, 98, 6)) return 4;
    return 0;
}

std::optional<ToneIndicators> toneIndicators(std::span<const double> spectrum) {
    const std::int32_t m = findPeak(kLowerHalf, spectrum);
    if (m < 0 || !(spectrum[static_cast<std::size_t>(m)] > kGate)) return std::nullopt;
    ToneIndicators indicators;
    indicators.i1 = findHarmonicProductPeak(spectrum, 2);
    indicators.i2 = findHarmonicProductPeak(spectrum, 5);
    indicators.i3 = -1;
    for (std::int32_t k = 0; k < kLowerHalf && static_cast<std::size_t>(k) < spectrum.size(); ++k) {
        if (spectrum[static_cast<std::size_t>(k)] > kIndicatorLevel) {
            indicators.i3 = k;
            break;
        }
    }
    return indicators;
}

std::optional<ToneIndicators> analyzeToneBlock(SpectrumSetup& setup, std::span<const std::uint8_t> block,
                                               std::span<double> samples, std::span<double> spectrum,
                                               DiagnosticFiles& files) {
    const auto n = static_cast<std::size_t>(setup.size);
    if (block.size() < n || samples.size() < n || spectrum.size() < n) {
        throw std::invalid_argument("analyzeToneBlock: a block, samples and spectrum of the setup's size");
    }
    convertSignedBytes(block.first(n), samples.first(n));
    files.writeValues(DiagnosticFiles::Data, samples.first(n));
    applyHannWindow(setup, samples);
    computeMagnitudeSpectrum(setup, samples, spectrum);
    applyLowCut(setup, spectrum);
    files.writeValues(DiagnosticFiles::Fft, spectrum.first(n));
    return toneIndicators(spectrum);
}

NoteRecognizer::NoteRecognizer(CaptureDeviceFactory openDevice, Reporter& reporter, DialogPoster& poster)
    : AnalysingEngine(CaptureConfig{kSampleRate, kBlockSize, kNotifications}, 10, std::move(openDevice), reporter,
                      poster, "setTone") {}

NoteRecognizer::~NoteRecognizer() {
    stop();
    release();
}

std::int32_t NoteRecognizer::consume(const std::uint8_t* first, std::uint32_t firstLength,
                                     const std::uint8_t* /*second*/, std::uint32_t secondLength) {
    files_.print(DiagnosticFiles::Log, "Buff 1.: %d\n", static_cast<int>(firstLength));
    files_.print(DiagnosticFiles::Log, "Buff 2.: %d\n\n", static_cast<int>(secondLength));
    // The frame hands over whole blocks; anything shorter is not a block to analyse.
    if (first == nullptr || firstLength < kBlockSize) return status::kOk;

    // Only the first block of a backlog is analysed; the rest is consumed unread.
    const auto indicators = analyzeToneBlock(setup_, std::span(first, kBlockSize), samples_, spectrum_, files_);
    if (!indicators) return status::kOk;
    files_.print(DiagnosticFiles::Statistic, "i1 = %d, i2 = %d, i3 = %d\n", static_cast<int>(indicators->i1),
                 static_cast<int>(indicators->i2), static_cast<int>(indicators->i3));
    const std::int32_t tone = decideTone(indicators->i1, indicators->i2, indicators->i3);
    if (tone == 0) return status::kOk;

    files_.print(DiagnosticFiles::Statistic, "%d\n", static_cast<int>(tone));
    Param value;
    value.setNumber(static_cast<double>(tone));
    report(std::move(value));
    return status::kOk;
}

}  // namespace tunewick
