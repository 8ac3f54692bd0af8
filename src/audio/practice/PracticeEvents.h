#pragma once
// What a practice session is given: the events of a piece (song time in ms at the chosen
// speed, with the notes that should sound), the delay before song time 0, and the judging
// windows. Read from the values a page sends; a malformed value is refused whole, so a
// refused call changes nothing.
//
// Plain values and pure functions: any thread.
#include <cstddef>
#include <optional>
#include <vector>

#include "audio/listening/NoteChecker.h"
#include "bridge/Param.h"

namespace tunewick {

struct PracticeEvent {
    double time = 0.0;                // ms of song time
    std::vector<ExpectedNote> notes;  // 1 .. kMaxNotesPerEvent
};

struct PracticeOptions {
    double hitWindow = 50.0;   // ms either side of the due time for a "hit"
    double lateWindow = 150.0; // ms either side for "early"/"late"; beyond it, "missed"
};

struct PracticeLimits {
    static constexpr std::size_t kMaxEvents = 20000;
    static constexpr std::size_t kMaxNotesPerEvent = 12;
    static constexpr double kMaxSongMs = 24.0 * 3600.0 * 1000.0;
    static constexpr double kMaxStartDelayMs = 60000.0;
    static constexpr double kMaxWindowMs = 1000.0;
};

// An array of {time, notes:[{midi, string, fret}]}, sorted by time (equal times allowed),
// at most kMaxEvents. midi 0..127 is required; string (1 high e .. 6 low E) and fret
// (0..30) may be left out, but must be whole numbers in range when given. nullopt for
// anything else, including an empty array.
std::optional<std::vector<PracticeEvent>> parsePracticeEvents(const Param& value);

// An array of 1 .. kMaxNotesPerEvent notes {midi, string, fret}, read as in an event.
std::optional<std::vector<ExpectedNote>> parseExpectedNotes(const Param& value);

// {hitWindow, lateWindow} in ms, either may be left out; a null or absent value gives the
// defaults. Both positive, hitWindow <= lateWindow <= kMaxWindowMs, else nullopt.
std::optional<PracticeOptions> parsePracticeOptions(const Param& value);

// The delay before song time 0, ms: a number 0 .. kMaxStartDelayMs; null gives 0.
std::optional<double> parseStartDelay(const Param& value);

// The elements of an array value in index order, or nullopt when it is not an array or its
// keys are not exactly 0 .. n-1.
std::optional<std::vector<const Param*>> arrayElements(const Param& value);

}  // namespace tunewick
