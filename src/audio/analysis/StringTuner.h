#pragma once
// The string tuner: once a second it measures where the strongest frequency near the selected
// string's target lies and posts "setStringTune" to the dialog's thread with a number in
// [-1, 1] (positive: the string sounds too low) or with null when the block is too quiet.
// It writes the same four diagnostic files as the recognizer.
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "audio/analysis/AnalysingEngine.h"
#include "audio/capture/CaptureEngine.h"
#include "audio/analysis/DiagnosticFiles.h"
#include "audio/analysis/FourierAnalysis.h"
#include "bridge/DialogPoster.h"
#include "bridge/FunctionCall.h"
#include "bridge/Reporter.h"

namespace tunewick {

// The six strings in standard tuning: string s is searched over bins (= Hz)
// kStringBounds[s] .. kStringBounds[s + 1], both included, around kStringTargets[s].
inline constexpr std::int32_t kStringCount = 6;
inline constexpr std::array<std::int32_t, 7> kStringBounds{68, 96, 130, 172, 222, 289, 371};
inline constexpr std::array<std::int32_t, 6> kStringTargets{82, 110, 147, 196, 247, 330};

// How far realp lies from string s's target, scaled by the distance from the target to the
// range end on that side: (target - realp) / (target - low) below the target,
// (target - realp) / (high - target) above it; exactly +1 at low, -1 at high.
// Throws std::out_of_range for a string outside 0 .. 5.
double tuneDeviation(std::int32_t stringIndex, std::int32_t realp);

// The tuner's work on one block of 2048 bytes, as the engine does it: conversion into
// `samples`, the "data.txt" line, the transform into `spectrum` (no window), the low cut, then
// the gate of 180.0 on bins 0 .. 1023. Above the gate it writes the "fft.txt" line, finds the
// strongest bin of the string's range, writes the "statistic.txt" line and returns the
// deviation; below it returns nothing. Each span holds at least the setup's size
// (std::invalid_argument otherwise); stringIndex must be 0 .. 5 (std::out_of_range otherwise).
std::optional<double> analyzeTuneBlock(SpectrumSetup& setup, std::span<const std::uint8_t> block,
                                       std::span<double> samples, std::span<double> spectrum,
                                       DiagnosticFiles& files, std::int32_t stringIndex);

class StringTuner final : public AnalysingEngine {
public:
    static constexpr std::uint32_t kSampleRate = 2048;
    static constexpr std::uint32_t kBlockSize = 2048;
    static constexpr std::uint32_t kNotifications = 32;

    // Opens the capture device; a negative status is reported ("Wav Recorder") and the tuner
    // is usable all the same (its starts then fail). The selected string is 0.
    StringTuner(CaptureDeviceFactory openDevice, Reporter& reporter, DialogPoster& poster);
    ~StringTuner() override;  // stops and releases

    // Selects the string to tune, from any thread; takes effect at the next measured block.
    // Only 0 .. 5 are accepted: anything else returns false and keeps the current string.
    bool setStringIndex(std::int32_t index);
    std::int32_t stringIndex() const { return stringIndex_.load(); }

protected:
    std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                         const std::uint8_t* second, std::uint32_t secondLength) override;

private:
    std::atomic<std::int32_t> stringIndex_{0};
};

}  // namespace tunewick
