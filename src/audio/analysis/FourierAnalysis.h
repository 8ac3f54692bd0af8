#pragma once
// The numeric core of the recognizer and the tuner: a per-engine transform setup, a radix-2
// magnitude transform, a Hann window, a low-frequency cut and three peak finders.
//
// The decision thresholds of both engines were set against these exact numbers, so every
// routine evaluates its arithmetic in the order written here (the project builds without
// fused multiply-add contraction): a "better" FFT or window would move results across
// thresholds.
#include <cstdint>
#include <span>
#include <vector>

namespace tunewick {

// One engine's transform state: sizes, the cutoff for applyLowCut, and the scratch that
// a transform reuses so that it allocates nothing per call.
struct SpectrumSetup {
    // `size` must be a power of two equal to 2^log2Size (throws std::invalid_argument otherwise).
    SpectrumSetup(std::int32_t size, std::int32_t log2Size, double cutoffHz, std::int32_t sampleRate);

    std::int32_t size;
    std::int32_t log2Size;
    double cutoffHz;
    std::int32_t sampleRate;
    std::vector<double> imag;             // scratch for the imaginary parts; meaningless between calls
    std::vector<std::int32_t> bitReverse; // bit-reversal permutation of 0 .. size-1, filled lazily
    bool bitReverseDirty = true;          // true until bitReverse has been filled
};

// output[k] = |X[k]| for k = 0 .. N-1 of the unnormalised transform with kernel e^{+i c n k / N},
// c = 6.283185 (the stage angles use that six-decimal constant, not full 2*pi). Fills the
// bit-reversal table on first use and overwrites setup.imag. `input` is not changed.
// Precondition: both spans hold at least N values and do not overlap
// (throws std::invalid_argument when a span is too short).
void computeMagnitudeSpectrum(SpectrumSetup& setup, std::span<const double> input,
                              std::span<double> output);

// Multiplies samples[0 .. N-1] in place by the symmetric Hann window
// 0.5 - 0.5*cos(2*pi*i/(N-1)): weight 0 at both ends. Only setup.size is read.
// Throws std::invalid_argument when `samples` holds fewer than N values.
void applyHannWindow(const SpectrumSetup& setup, std::span<double> samples);

// edge = trunc(N * cutoffHz / sampleRate): clears bins 0 .. edge and weights bin edge+1 by
// how far (in bin widths) its frequency lies above the cutoff. Higher bins stay as they are.
// Bins past the end of `spectrum` are left alone.
void applyLowCut(const SpectrumSetup& setup, std::span<double> spectrum);

// Index of the largest of values[0 .. count-1] (the first of equal maxima); -1 when count <= 0
// or no value exceeds -1e6. A count past the span's end is cut to the span.
std::int32_t findPeak(std::int32_t count, std::span<const double> values);

// Index of the largest of values[start .. end], both included (the first of equal maxima);
// -1 for an empty range (end < start) or when no value exceeds -1e6. Indices outside the
// span are never read.
std::int32_t findPeakInRange(std::int32_t start, std::int32_t end, std::span<const double> values);

// Harmonic product spectrum over the first 512 bins:
// product[k] = spectrum[k] * spectrum[2k] * ... * spectrum[R*k] (a factor is 0 once h*k >= 512);
// returns findPeak(512, product), never -1. harmonics <= 1 gives the plain peak of bins 0 .. 511.
// Throws std::invalid_argument when `spectrum` holds fewer than 512 values.
std::int32_t findHarmonicProductPeak(std::span<const double> spectrum, std::int32_t harmonics);

}  // namespace tunewick
