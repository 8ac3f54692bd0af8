#include "audio/listening/NoteChecker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

namespace tunewick {
namespace {

constexpr double kMatchCents = 40.0;
// An expected note is heard when its fundamental stands this far, at most, under the strongest
// partial of the expected notes; deliberately lenient, a sounding note must not read missing.
constexpr double kHeardDb = -38.0;
// An unexpected note is named only when its fundamental is this close to the strongest expected one.
constexpr double kExtraDb = -12.0;
// A note a semitone or two from an expected one, where a wrong fret lands, is named down to here.
constexpr double kNeighbourDb = -24.0;
constexpr int kMaxHarmonic = 8;
constexpr int kWrongFretReach = 2;  // semitones between a note asked for and a wrong fret for it

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

// Where the expected notes' first partials rise most steeply within [from, to): the checker's
// own look for a strum the onset detector passed over (in noise, or under distortion that
// holds the level flat), which it can afford because it knows what is due there. -1 when they
// do not rise by 3 dB and stay there for 20 ms: a distorted strum over the chord before it
// rises little but holds, a fluctuation of noise does not hold.
std::int64_t steepestRise(const float* samples, std::size_t count, std::int64_t from, std::int64_t to, double rate,
                          const std::vector<ExpectedNote>& expected) {
    const auto hop = std::max<std::int64_t>(1, std::llround(0.0025 * rate));
    const auto length = std::max<std::int64_t>(16, std::llround(0.023 * rate));
    constexpr int kBefore = 24, kGap = 4, kAfter = 8;  // 60 .. 10 ms before, 20 ms after
    // Frames are named by their last sample, so a rise starts where the sound does.
    const std::int64_t first = std::max<std::int64_t>(length, from - (kBefore + 1) * hop);
    const std::int64_t last = std::min<std::int64_t>(static_cast<std::int64_t>(count), to + (kAfter + 1) * hop);
    std::vector<double> coefficients;
    for (const auto& note : expected) {
        for (int h = 1; h <= 3; ++h) {
            const double hz = h * midiFrequency(note.midi);
            if (hz < 0.45 * rate) coefficients.push_back(2.0 * std::cos(2.0 * std::numbers::pi * hz / rate));
        }
    }
    std::vector<double> envelope;
    for (std::int64_t end = first; end <= last; end += hop) {
        double sum = 0;
        for (double coefficient : coefficients) {  // Goertzel
            double s1 = 0, s2 = 0;
            for (std::int64_t i = end - length; i < end; ++i) {
                const double s0 = samples[i] + coefficient * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            sum += s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        }
        envelope.push_back(sum + 1e-12);
    }
    double bestRise = 2.0;  // 3 dB
    std::int64_t best = -1;
    for (std::size_t k = kBefore; k + kAfter < envelope.size(); ++k) {
        const std::int64_t at = first + static_cast<std::int64_t>(k) * hop;
        if (at < from || at >= to) continue;
        double before = 0;
        for (std::size_t j = k - kBefore; j < k - kGap; ++j) before += envelope[j];
        before /= kBefore - kGap;
        double after = envelope[k];
        for (std::size_t j = k; j < k + kAfter; ++j) after = std::min(after, envelope[j]);
        if (after / before > bestRise) {
            bestRise = after / before;
            // The first frame of the rise that stands 3 dB over what came before.
            std::size_t start = k - kGap;
            while (start < k + kAfter && envelope[start] < 2.0 * before) ++start;
            best = first + static_cast<std::int64_t>(start) * hop;
        }
    }
    return best;
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
    if (expected.empty()) return result;
    if (result.onset < 0) result.onset = steepestRise(samples, count, due - reach, due + reach + 1, rate, expected);
    if (result.onset < 0) return result;

    const std::vector<HeardNote> heard = analyzer_.analyze(samples, count, result.onset);
    const auto& peaks = analyzer_.peaks();
    const double offsetMs = static_cast<double>(result.onset - due) * 1000.0 / rate;

    // The reference: the strongest partial among the expected notes' first three.
    double reference = 0;
    for (const auto& note : expected) {
        for (int h = 1; h <= 3; ++h) reference = std::max(reference, peakNear(peaks, h * midiFrequency(note.midi)));
    }
    // With none of their partials there, no expected note sounds, but a wrong one still may.
    const double heardThreshold = reference > 0 ? reference * std::pow(10.0, kHeardDb / 20.0)
                                                : std::numeric_limits<double>::infinity();

    // Lowest first, so that a note masked by a lower one can lean on that one's verdict.
    std::vector<std::size_t> order(expected.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::vector<bool> maskedNotes(expected.size(), false);
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
        maskedNotes[i] = masked;
        auto& verdict = result.notes[i];
        verdict.heard = sounding;
        if (!sounding) continue;
        verdict.offsetMs = offsetMs;
        if (!masked && hz > 0) verdict.cents = static_cast<float>(centsBetween(hz, midiFrequency(midi)));
    }

    // Unexpected notes: clear in the multi-pitch analysis, not a partial of a sounding expected
    // note, and not an octave of an expected pitch class that sounds.
    // Judged by its own fundamental against the strongest expected one: a note's level also holds
    // partials it shares with others, which can lift a faint peak (a body resonance) into a note.
    double strongest = 0;
    for (const auto& note : expected) strongest = std::max(strongest, peakNear(peaks, midiFrequency(note.midi)));
    const double extraThreshold = strongest * std::pow(10.0, kExtraDb / 20.0);
    // When the notes asked for are faint or gone, the spectrum's loudest peak sets the level.
    double loudest = 0;
    for (const auto& peak : peaks) loudest = std::max(loudest, peak.amplitude);
    const double neighbourThreshold =
        std::max(strongest, loudest * std::pow(10.0, kExtraDb / 20.0)) * std::pow(10.0, kNeighbourDb / 20.0);
    // Expected, or a partial of an expected note that sounds.
    const auto expectedExplains = [&](int midi) {
        for (std::size_t j = 0; j < expected.size(); ++j) {
            if (expected[j].midi == midi) return true;
            if (result.notes[j].heard && isHarmonicOf(midi, expected[j].midi)) return true;
        }
        return false;
    };
    for (const auto& note : heard) {
        if (peakNear(peaks, midiFrequency(note.midi)) < extraThreshold) continue;
        if (!expectedExplains(note.midi)) result.extra.push_back(note.midi);
    }
    // A wrong fret sounds a semitone or two from the note asked for, which then is missing, and
    // the analyzer may have merged it with a neighbour or explained it away: knowing what was
    // asked, look there. Beside a note that sounds, a peak there is more likely its neighbour's
    // than a wrong string's.
    // It may be softer than any other unexpected note must be, but it must show its own
    // second partial as clearly (a body resonance has none).
    const auto explainedNear = [&](int midi) {
        for (int extra : result.extra) {
            if (extra == midi || isHarmonicOf(midi, extra)) return true;
        }
        for (const auto& note : heard) {
            if (isHarmonicOf(midi, note.midi)) return true;
        }
        return expectedExplains(midi);
    };
    // Only beside a strum that was heard: in noise, peaks stand everywhere.
    const bool anyHeard = std::any_of(result.notes.begin(), result.notes.end(), [](const auto& n) { return n.heard; });
    for (std::size_t i = 0; anyHeard && i < expected.size(); ++i) {
        if (result.notes[i].heard) continue;
        for (int step = -kWrongFretReach; step <= kWrongFretReach; ++step) {
            if (step == 0) continue;
            const int midi = expected[i].midi + step;
            if (explainedNear(midi)) continue;
            if (peakNear(peaks, midiFrequency(midi)) < neighbourThreshold) continue;
            if (peakNear(peaks, 2.0 * midiFrequency(midi)) < neighbourThreshold) continue;
            result.extra.push_back(midi);
        }
    }
    std::sort(result.extra.begin(), result.extra.end());
    // One string sounds one note: a wrong fret named a semitone or two from a note that reads
    // heard only because a lower note's partial covers it is that note's string, so the note is
    // missing. Only when no other expected note lies as near, which could be the one replaced.
    for (int extra : result.extra) {
        std::size_t nearest = expected.size();
        int distance = kWrongFretReach + 1;
        bool tied = false;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const int d = std::abs(expected[i].midi - extra);
            if (d < distance) {
                distance = d;
                nearest = i;
                tied = false;
            } else if (d == distance) {
                tied = true;
            }
        }
        if (nearest == expected.size() || tied || !maskedNotes[nearest]) continue;
        auto& verdict = result.notes[nearest];
        verdict.heard = false;
        verdict.offsetMs = nan;
        verdict.cents = std::numeric_limits<float>::quiet_NaN();
    }
    return result;
}

}  // namespace tunewick
