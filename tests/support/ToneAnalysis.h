#pragma once
// Measuring tones in captured or recorded sound, and making sound files to play, for the
// tests of the real sound path.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tunewick::testing {

// Unsigned 8-bit PCM (silence 128) as floats in [-1, 1).
std::vector<double> fromUnsigned8(const std::vector<std::uint8_t>& bytes);

// The amplitude of the sine of `hz` in `samples` at `rate` (Goertzel over the whole span):
// about 0.5 for a sine of amplitude 0.5, near 0 when that frequency is absent.
double toneLevel(const std::vector<double>& samples, double rate, double hz);

// The frequency in [low, high], in steps of `step` Hz, with the largest toneLevel.
double strongestFrequency(const std::vector<double>& samples, double rate, double low,
                          double high, double step);

// Seconds of `samples` (in windows of 50 ms) in which the sine of `hz` has an amplitude
// above `threshold`.
double secondsWithTone(const std::vector<double>& samples, double rate, double hz,
                       double threshold);

// Writes a 16-bit PCM WAV file of a sine; false when it cannot be written.
bool writeToneWav(const std::filesystem::path& path, int rate, int channels, double hz,
                  double seconds, double amplitude);

// Reads a whole sound file (any format libsndfile knows) mixed to mono; its rate in *rate.
std::vector<double> readSoundFile(const std::filesystem::path& path, int* rate);

// Reads raw signed 16-bit little-endian mono samples.
std::vector<double> readRawS16(const std::filesystem::path& path);

}  // namespace tunewick::testing
