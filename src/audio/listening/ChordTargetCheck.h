#pragma once
// The chord trainer's view of one strum: for each string of the chord it shows, whether it
// rang right ("ok"), was not heard ("muted"), rang more than 30 cents off ("buzz"), or gave
// another note ("wrong": a note no string of the chord should give, heard where that string's
// note was missing, within a few frets of it). Built from the note checker's findings.
//
// Plain values and pure functions: any thread.
#include <optional>
#include <vector>

#include "audio/listening/NoteChecker.h"
#include "bridge/Param.h"

namespace tunewick {

struct StringCheck {
    ExpectedNote expected;
    const char* verdict = "muted";  // "ok", "muted", "buzz" or "wrong"
    std::optional<int> heardMidi;   // the note heard instead, for "wrong"
    std::optional<float> cents;     // when measurable
};

struct ChordTargetCheck {
    std::vector<StringCheck> notes;  // in the target's order
    std::vector<int> extra;          // every unexpected note heard (midi)
    bool clean = false;              // every string ok, nothing extra
};

// Cents off beyond which a string that sounds is called a buzz.
inline constexpr float kBuzzCents = 30.0f;

// `check` must hold one verdict per target note, in the same order.
ChordTargetCheck checkAgainstTarget(const std::vector<ExpectedNote>& target, const EventCheck& check);

// {notes:[{midi, string, fret, verdict, heardMidi, cents}], extra:[midi], clean}; unknown
// values are null.
Param toParam(const ChordTargetCheck& check);

}  // namespace tunewick
