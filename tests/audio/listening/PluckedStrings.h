#pragma once
// Synthetic guitar sounds for the listening tests: a plucked string (inharmonic-free partials
// shaped by the pluck position, higher ones dying sooner) and strums of several strings.
#include <cstddef>
#include <vector>

namespace tunewick::testing {

inline constexpr double kListeningRate = 22050.0;

// Adds one plucked note of `midi` (fractional for a detuned string) from `start` seconds.
void addPluck(std::vector<float>& out, double start, double midi, double gain, double seconds = 1.5,
              double rate = kListeningRate);

// Adds the notes low to high, the last `spread` seconds after the first.
void addStrum(std::vector<float>& out, double start, const std::vector<int>& midis, double spread = 0.03,
              double gain = 0.12, double rate = kListeningRate);

// White noise at `rms`, seeded.
void addNoise(std::vector<float>& out, double rms, unsigned seed);

}  // namespace tunewick::testing
