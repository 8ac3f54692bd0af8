#pragma once
// Score-informed checking: given the notes that should sound and when they are due, says for
// each whether it was heard, how early or late its onset was, and names clearly sounding notes
// that were not expected (a wrong fret, an open string that should have been muted).
//
// It knows what to listen for, so it does not name the chord blind: each expected note is
// looked for at its own fundamental and first partials in the window after the onset nearest
// the due time. A note whose partials all coincide with those of a lower expected note that
// sounds (E3 over E2) cannot be told gone, and is judged heard rather than risk calling a
// sounding note missing, unless a wrong fret for it is heard (a string sounds one note at a
// time). An unexpected note is named only when the multi-pitch analysis finds it clearly and no
// expected note explains it as a harmonic.
//
// Owned by one consumer (a practice session's worker, the offline tool); all calls on its
// thread. It keeps only scratch between calls.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/listening/NoteAnalyzer.h"
#include "audio/listening/OnsetDetector.h"

namespace tunewick {

struct ExpectedNote {
    int midi;
    int string = 0;  // 1 = high e .. 6 = low E; 0 = unknown
    int fret = -1;   // -1 = unknown
};

struct NoteVerdict {
    int midi;
    int string;
    bool heard;
    double offsetMs;  // onset time minus due time (negative = early); NaN when missing
    float cents;      // NaN unless measurable
};

struct EventCheck {
    std::vector<NoteVerdict> notes;  // one per expected note, in the order given
    std::vector<int> extra;          // clearly sounding notes that were not expected (midi)
    std::int64_t onset = -1;         // the onset matched to the event, or -1
};

class NoteChecker {
public:
    explicit NoteChecker(double sampleRate);
    std::size_t windowSamples() const { return analyzer_.windowSamples(); }

    // Judges one expected event due at `due` (sample index) against the signal, given the
    // onsets found near it (any order); samples must cover the window after the chosen onset.
    // With no onset within searchMs of the due time it looks there for the steepest energy rise
    // itself; with none either, every note is missing.
    EventCheck check(const float* samples, std::size_t count, std::int64_t due,
                     const std::vector<ExpectedNote>& expected, const std::vector<Onset>& onsets,
                     double searchMs = 150.0);

private:
    NoteAnalyzer analyzer_;
};

}  // namespace tunewick
