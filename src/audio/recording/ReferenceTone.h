#pragma once
// A reference tone to tune by: a synthesised plucked string at an exact pitch. Built from its
// partials (each an exact multiple of the pitch, the higher ones quieter and dying sooner), not
// from a delay-line string, whose pitch a whole-sample delay would put off by cents.
// Plain functions; safe from any thread.
#include <string>
#include <vector>

namespace tunewick {

inline constexpr int kReferenceToneRate = 44100;

// `seconds` of the tone at `frequency` Hz, mono at kReferenceToneRate, peak 0.5. Both must be
// positive and finite (else: empty).
std::vector<float> synthesisePluck(double frequency, double seconds);

// Writes the tone as a 16-bit WAV file: to a new file beside `path`, then renamed over it,
// so a reader of the old file keeps it whole. Makes the folder when missing. False on failure.
bool writeReferenceTone(const std::string& path, double frequency, double seconds);

// Writes mono samples at kReferenceToneRate the same way. False when empty or on failure.
bool writeToneFile(const std::string& path, const std::vector<float>& samples);

}  // namespace tunewick
