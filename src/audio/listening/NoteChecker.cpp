#include "audio/listening/NoteChecker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tunewick {
namespace {

constexpr double kMatchCents = 40.0;
// An expected note is heard when its fundamental stands this far, at most, under the strongest
// partial of the expected notes; deliberately lenient, a sounding note must not read missing.
constexpr double kHeardDb = -38.0;
// An unexpected note is named only this close to the strongest note heard.
constexpr double kExtraDb = -22.0;
constexpr int kMaxHarmonic = 8;

double centsBetween(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

// The strongest peak within kMatchCents of `hz`; 0 when none.
double peakNear(const std::vector<SpectralPeak>& peaks, double hz, double* foundHz = nullptr) {
    const double low = hz * std::exp2(-kMatchCents / 1200.0), high = hz * std::exp2(kMatchCents / 1200.0);
    double best = 0;
    for (const auto& peak : peaks) {
        if (peak.hz < low) continue;
        if (peak.hz > high) break;
        if (peak.amplitude > best) {
            best = peak.amplitude;
            if (foundHz) *foundHz = peak.hz;
        }
    }
    return best;
}

// True when `midi`'s fundamental lies on partial 2.. of `lower`.
bool isHarmonicOf(int midi, int lower) {
    if (lower >= midi) return false;
    const double ratio = midiFrequency(midi) / midiFrequency(lower);
    const double h = std::round(ratio);
    return h >= 2 && h <= kMaxHarmonic && std::abs(1200.0 * std::log2(ratio / h)) < kMatchCents;
}

}  // namespace

NoteChecker::NoteChecker(double sampleRate) : analyzer_(sampleRate) {}

EventCheck NoteChecker::check(const float* samples, std::size_t count, std::int64_t due,
                              const std::vector<ExpectedNote>& expected, const std::vector<Onset>& onsets,
                              double searchMs) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EventCheck result;
    for (const auto& note : expected) {
        result.notes.push_back({note.midi, note.string, false, nan, std::numeric_limits<float>::quiet_NaN()});
    }
    const double rate = analyzer_.sampleRate();
    const auto reach = static_cast<std::int64_t>(std::llround(searchMs * rate / 1000.0));
    for (const auto& onset : onsets) {
        const std::int64_t distance = std::llabs(onset.sample - due);
        if (distance > reach) continue;
        if (result.onset < 0 || distance < std::llabs(result.onset - due)) result.onset = onset.sample;
    }
    if (result.onset < 0 || expected.empty()) return result;

    const std::vector<HeardNote> heard = analyzer_.analyze(samples, count, result.onset);
    const auto& peaks = analyzer_.peaks();
    const double offsetMs = static_cast<double>(result.onset - due) * 1000.0 / rate;

    // The reference: the strongest partial among the expected notes' first three.
    double reference = 0;
    for (const auto& note : expected) {
        for (int h = 1; h <= 3; ++h) reference = std::max(reference, peakNear(peaks, h * midiFrequency(note.midi)));
    }
    if (reference <= 0) return result;
    const double heardThreshold = reference * std::pow(10.0, kHeardDb / 20.0);

    // Lowest first, so that a note masked by a lower one can lean on that one's verdict.
    std::vector<std::size_t> order(expected.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return expected[a].midi < expected[b].midi; });
    for (std::size_t i : order) {
        const int midi = expected[i].midi;
        double hz = 0;
        const double fundamental = peakNear(peaks, midiFrequency(midi), &hz);
        bool masked = false;
        for (std::size_t j : order) {
            if (result.notes[j].heard && isHarmonicOf(midi, expected[j].midi)) masked = true;
        }
        // A masked note cannot be told gone: any peak at its pitch counts.
        const bool sounding = masked ? fundamental > 0 : fundamental >= heardThreshold;
        auto& verdict = result.notes[i];
        verdict.heard = sounding;
        if (!sounding) continue;
        verdict.offsetMs = offsetMs;
        if (!masked && hz > 0) verdict.cents = static_cast<float>(centsBetween(hz, midiFrequency(midi)));
    }

    // Unexpected notes: clear in the multi-pitch analysis, not a partial of a sounding expected
    // note, and not an octave of an expected pitch class that sounds.
    float strongest = -1e9f;
    for (const auto& note : heard) strongest = std::max(strongest, note.level);
    for (const auto& note : heard) {
        if (note.level < strongest + kExtraDb) continue;
        bool explained = false;
        for (std::size_t j = 0; j < expected.size(); ++j) {
            if (expected[j].midi == note.midi) explained = true;
            if (result.notes[j].heard && isHarmonicOf(note.midi, expected[j].midi)) explained = true;
        }
        if (!explained) result.extra.push_back(note.midi);
    }
    std::sort(result.extra.begin(), result.extra.end());
    return result;
}

}  // namespace tunewick
