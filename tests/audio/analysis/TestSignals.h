#pragma once
// Sounds for the analysis tests, made at the engines' rate of 2048 samples per second and
// quantised as a microphone delivers them: unsigned 8-bit with silence at 128.
#include <cstdint>
#include <vector>

namespace tunewick::testing {

// The open strings in standard tuning, low E to high E.
inline constexpr double kOpenStrings[6] = {82.41, 110.00, 146.83, 196.00, 246.94, 329.63};

// `count` samples of sum_h amplitudes[h-1] * sin(2*pi*h*f*t) at 2048 Hz.
std::vector<double> harmonicTone(double frequency, const std::vector<double>& amplitudes, std::size_t count);

// A plucked string (Karplus-Strong from a triangular pluck shape, with a fractional-delay tuning filter, run at 16 times the
// rate and decimated through a low-pass), `count` samples at 2048 Hz, peak amplitude 1.
std::vector<double> pluckedString(double frequency, std::size_t count, unsigned seed);

// Uniform white noise in [-1, 1].
std::vector<double> whiteNoise(std::size_t count, unsigned seed);

// Unsigned 8-bit PCM: 128 + 127 * gain * x, rounded and clipped to 0 .. 255.
std::vector<std::uint8_t> toPcm8(const std::vector<double>& samples, double gain);

}  // namespace tunewick::testing
