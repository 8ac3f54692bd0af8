#pragma once
// Turns the note checker's findings for one event into the verdict a player sees, and keeps
// the running score of a practice: hits, accuracy, and the timing of what was played in time.
//
// Verdicts, in order of precedence:
//   "missed"  nothing expected sounds and nothing else does, or the onset lies beyond the
//             late window;
//   "wrong"   a note that was not expected sounds (a wrong fret, an open string that should
//             have been muted), named in `extra`;
//   "partial" some expected notes are missing (named in `missing`), nothing else sounds;
//   "hit"     every note within +-hitWindow;
//   "early" / "late"  every note within +-lateWindow, by the sign of the offset.
//
// Plain values and pure functions, and a score owned by one thread (the session's worker).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "audio/listening/NoteChecker.h"
#include "audio/practice/PracticeEvents.h"
#include "bridge/FunctionCall.h"
#include "bridge/Param.h"

namespace tunewick {

enum class VerdictKind { hit, early, late, wrong, partial, missed };

const char* verdictName(VerdictKind kind);

struct PracticeVerdict {
    std::size_t index = 0;         // the event's place in the list
    double time = 0.0;             // its song time, ms
    VerdictKind kind = VerdictKind::missed;
    std::optional<double> offset;  // ms, heard minus due; none when nothing was matched
    std::vector<int> missing;      // expected notes not heard (midi)
    std::vector<int> extra;        // unexpected notes heard (midi)
};

// The verdict on one event from its check. `onsetOffsetMs` is the matched onset's offset,
// used when no note carries one of its own.
PracticeVerdict judgeEvent(const EventCheck& check, std::optional<double> onsetOffsetMs,
                           const PracticeOptions& options);

// The movie call "setVerdict" with {index, time, verdict, offset (ms or null), missing, extra}.
FunctionCall verdictCall(const PracticeVerdict& verdict);

class PracticeScore {
public:
    void add(const PracticeVerdict& verdict);
    std::size_t events() const { return events_; }
    std::size_t hits() const { return hits_; }
    // {events, hits, accuracy (hits / events, 0 with none), meanOffset, spread}: the mean and
    // the standard deviation (ms) of the offsets of hits, early and late notes; null with none.
    Param summary() const;

private:
    std::size_t events_ = 0;
    std::size_t hits_ = 0;
    std::size_t timed_ = 0;
    double sum_ = 0.0;
    double sumSquares_ = 0.0;
};

}  // namespace tunewick
