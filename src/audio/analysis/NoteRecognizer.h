#pragma once
// The note recognizer: listens at 2048 samples per second and, for each half second of sound,
// decides whether one of the six open guitar strings is sounding; a recognised tone (1 = low E
// .. 6 = high E) is posted to the dialog's thread as "setTone" with the tone as a number.
// Every analysed block is also written to the four diagnostic files in the current directory.
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

// The three bin indices on which the tone decision rests (bins of the 1024-point spectrum).
struct ToneIndicators {
    std::int32_t i1 = 0;  // harmonic product peak over 2 harmonics
    std::int32_t i2 = 0;  // harmonic product peak over 5 harmonics
    std::int32_t i3 = -1; // lowest bin above 80.0, or -1
    friend bool operator==(const ToneIndicators&, const ToneIndicators&) = default;
};

// The tone decision on the three indicators: 1 .. 6, or 0 for no tone.
std::int32_t decideTone(std::int32_t i1, std::int32_t i2, std::int32_t i3);

// The indicators of a spectrum (at least 512 bins), or nothing when its largest bin in
// 0 .. 511 does not exceed the loudness gate of 150.0.
std::optional<ToneIndicators> toneIndicators(std::span<const double> spectrum);

// The recognizer's work on one block of 1024 bytes, as the engine does it: conversion into
// `samples`, the "data.txt" line, the Hann window, the transform into `spectrum`, the low cut,
// the "fft.txt" line, then the gate and the indicators. Each span holds at least the setup's
// size (throws std::invalid_argument otherwise).
std::optional<ToneIndicators> analyzeToneBlock(SpectrumSetup& setup, std::span<const std::uint8_t> block,
                                               std::span<double> samples, std::span<double> spectrum,
                                               DiagnosticFiles& files);

class NoteRecognizer final : public AnalysingEngine {
public:
    static constexpr std::uint32_t kSampleRate = 2048;
    static constexpr std::uint32_t kBlockSize = 1024;
    static constexpr std::uint32_t kNotifications = 32;

    // Opens the capture device; a negative status is reported ("Wav Recorder") and the
    // recognizer is usable all the same (its starts then fail).
    NoteRecognizer(CaptureDeviceFactory openDevice, Reporter& reporter, DialogPoster& poster);
    ~NoteRecognizer() override;  // stops and releases

protected:
    std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                         const std::uint8_t* second, std::uint32_t secondLength) override;
};

}  // namespace tunewick
