#pragma once
// A strummed chord to hear a diagram by: one synthesised plucked string per note (the
// reference tone's pluck), each starting a little after the one below it as a pick crosses
// the strings from the low E down. Plain functions; safe from any thread.
#include <string>
#include <vector>

namespace tunewick {

inline constexpr double kStrumSpreadSeconds = 0.035;  // from one string to the next

// `seconds` of the chord whose MIDI notes are `midis` (lowest string first, as strummed
// down), mono at kReferenceToneRate, peak 0.5. Empty when the list is empty, a note is not
// 28 .. 100, or `seconds` is not positive and finite, or too short to reach the last string.
std::vector<float> synthesiseStrum(const std::vector<int>& midis, double seconds,
                                   double spreadSeconds = kStrumSpreadSeconds);

// Writes the strum as a 16-bit WAV file, a new file renamed into place (see
// writeReferenceTone). False on bad notes or when it cannot be written.
bool writeStrum(const std::string& path, const std::vector<int>& midis, double seconds);

}  // namespace tunewick
