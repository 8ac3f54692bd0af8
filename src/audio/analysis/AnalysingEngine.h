#pragma once
// What the note recognizer and the string tuner share: a capture engine that analyses each
// block into a spectrum, keeps the four diagnostic files open while it runs, and reports to
// the movie by posting a copy of its one call record. Subclasses analyse a block in consume()
// and call report(); their destructors call stop() and release(), so that the last block
// step still finds them whole.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/capture/CaptureEngine.h"
#include "audio/analysis/DiagnosticFiles.h"
#include "audio/analysis/FourierAnalysis.h"
#include "bridge/DialogPoster.h"
#include "bridge/FunctionCall.h"

namespace tunewick {

// Converts captured bytes to samples as the engines' thresholds expect: each byte read as a
// two's-complement signed 8-bit value, times 1/128 (so the unsigned silence byte 128 is -1.0).
// Converts min(bytes, samples) values.
void convertSignedBytes(std::span<const std::uint8_t> bytes, std::span<double> samples);

class AnalysingEngine : public CaptureEngine {
public:
    // The record of the last report (`functionName` with one argument, empty before the first
    // report). Read it only while the engine is idle: the capture thread changes it.
    const FunctionCall& call() const { return call_; }
    // The spectrum of the last analysed block; also only while idle.
    std::span<const double> spectrum() const { return spectrum_; }

protected:
    // Opens the capture device; a negative status is reported ("Wav Recorder") and the
    // engine is usable all the same (its starts then fail). Blocks are config.blockSize bytes,
    // 2^log2Size of them; the transform cuts off at 50 Hz.
    AnalysingEngine(CaptureConfig config, std::int32_t log2Size, CaptureDeviceFactory openDevice,
                    Reporter& reporter, DialogPoster& poster, std::string functionName);

    // Opens (empties) the four diagnostic files; one that cannot be made is left out, with a
    // line on stderr.
    std::int32_t prepareStart() override;
    void finish() override;
    // Replaces the record's argument with `value` and posts a copy of the record, so the next
    // block can never change a report on its way.
    void report(Param value);

    SpectrumSetup setup_;
    std::vector<double> spectrum_;
    std::vector<double> samples_;
    DiagnosticFiles files_;

private:
    DialogPoster& poster_;
    FunctionCall call_;
};

}  // namespace tunewick
