#include "audio/analysis/StringTuner.h"

#include <cstdio>
#include <stdexcept>

#include "audio/analysis/NoteRecognizer.h"
#include "audio/Status.h"

namespace tunewick {

namespace {

constexpr double kGate = 180.0;
constexpr std::int32_t kLowerHalf = 1024;

void requireString(std::int32_t stringIndex) {
    if (stringIndex < 0 || stringIndex >= kStringCount) {
        throw std::out_of_range("the tuner has strings 0 .. 5 only");
    }
}

}  // namespace

double tuneDeviation(std::int32_t stringIndex, std::int32_t realp) {
    requireString(stringIndex);
    const auto s = static_cast<std::size_t>(stringIndex);
    const std::int32_t low = kStringBounds[s];
    const std::int32_t high = kStringBounds[s + 1];
    const std::int32_t target = kStringTargets[s];
    const std::int32_t diff = target - realp;
    if (diff > 0) return static_cast<double>(diff) / static_cast<double>(target - low);
    return static_cast<double>(diff) / static_cast<double>(high - target);
}

std::optional<double> analyzeTuneBlock(SpectrumSetup& setup, std::span<const std::uint8_t> block,
                                       std::span<double> samples, std::span<double> spectrum,
                                       DiagnosticFiles& files, std::int32_t stringIndex) {
    requireString(stringIndex);
    const auto n = static_cast<std::size_t>(setup.size);
    if (block.size() < n || samples.size() < n || spectrum.size() < n) {
        throw std::invalid_argument("analyzeTuneBlock: a block, samples and spectrum of the setup's size");
    }
    convertSignedBytes(block.first(n), samples.first(n));
    files.writeValues(DiagnosticFiles::Data, samples.first(n));
    computeMagnitudeSpectrum(setup, samples, spectrum);
    applyLowCut(setup, spectrum);

    // The gate looks at the whole lower half, not at the string's range.
    const std::int32_t m = findPeak(kLowerHalf, spectrum);
    if (m < 0 || !(spectrum[static_cast<std::size_t>(m)] > kGate)) return std::nullopt;

    files.writeValues(DiagnosticFiles::Fft, spectrum.first(n));
    const auto s = static_cast<std::size_t>(stringIndex);
    const std::int32_t realp = findPeakInRange(kStringBounds[s], kStringBounds[s + 1], spectrum);
    const double result = tuneDeviation(stringIndex, realp);
    files.print(DiagnosticFiles::Statistic, "targetp = %d, realp = %d, result = %f\n",
                static_cast<int>(kStringTargets[s]), static_cast<int>(realp), result);
    return result;
}

StringTuner::StringTuner(CaptureDeviceFactory openDevice, Reporter& reporter, DialogPoster& poster)
    : AnalysingEngine(CaptureConfig{kSampleRate, kBlockSize, kNotifications}, 11, std::move(openDevice), reporter,
                      poster, "setStringTune") {}

StringTuner::~StringTuner() {
    stop();
    release();
}

bool StringTuner::setStringIndex(std::int32_t index) {
    if (index < 0 || index >= kStringCount) return false;
    stringIndex_.store(index);
    return true;
}

std::int32_t StringTuner::consume(const std::uint8_t* first, std::uint32_t firstLength,
                                  const std::uint8_t* /*second*/, std::uint32_t secondLength) {
    files_.print(DiagnosticFiles::Log, "Buff 1.: %d\n", static_cast<int>(firstLength));
    files_.print(DiagnosticFiles::Log, "Buff 2.: %d\n\n", static_cast<int>(secondLength));
    // The frame hands over whole blocks; anything shorter is not a block to analyse.
    if (first == nullptr || firstLength < kBlockSize) return status::kOk;

    // Read once per block: the dialog's thread may select another string at any time.
    const std::int32_t stringIndex = stringIndex_.load();
    const auto result =
        analyzeTuneBlock(setup_, std::span(first, kBlockSize), samples_, spectrum_, files_, stringIndex);

    // Every block replaces the previous value and is reported, measured or not.
    Param value;  // null below the gate
    if (result) value.setNumber(*result);
    report(std::move(value));
    return status::kOk;
}

}  // namespace tunewick
