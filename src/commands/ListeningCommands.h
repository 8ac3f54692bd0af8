#pragma once
// The commands of the chord listener and the practice session: Tunewick's own, in the style
// of the pitch tracker's. Each runs on the dialog's thread; a malformed argument answers
// false and changes nothing.
#include <functional>

#include "bridge/FunctionCommand.h"

namespace tunewick {

class ChordListener;
class PracticeSession;

// "startChordListener": starts the chord listener. Answers null.
class StartChordListenerCommand final : public FunctionCommand {
public:
    explicit StartChordListenerCommand(ChordListener& listener);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ChordListener& listener_;
};

// "stopChordListener": stops it. Answers null.
class StopChordListenerCommand final : public FunctionCommand {
public:
    explicit StopChordListenerCommand(ChordListener& listener);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ChordListener& listener_;
};

// "setChordTarget"(notes | null): the chord the trainer shows, as [{midi, string, fret}]
// (at least two notes), or null (or no argument) to clear it. Answers true, or false for a
// malformed list.
class SetChordTargetCommand final : public FunctionCommand {
public:
    explicit SetChordTargetCommand(ChordListener& listener);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ChordListener& listener_;
};

// "startPractice"(events, startDelay, options): starts judging the events, song time 0 due
// startDelay ms (default 0) after this call on the stream's clock, with the windows of options
// ({hitWindow, lateWindow}, ms) and the latency `latencyMs` gives. Answers true; false for a
// malformed argument (changing nothing) or when the microphone cannot be started.
class StartPracticeCommand final : public FunctionCommand {
public:
    StartPracticeCommand(PracticeSession& session, std::function<double()> latencyMs);
    Param execute(const std::vector<Param>& arguments) override;

private:
    PracticeSession& session_;
    std::function<double()> latencyMs_;
};

// "setMusicLate"(ms, from = 0): from song time `from` on, the page's music sounds ms later
// than it planned (negative: earlier), as it measured: from 0, how late its synthesizer began;
// from a later time, that and each stall of its sound since. The events not yet judged from
// there on move by as much. Answers true; false when no practice runs, the microphone is a
// file (--input keeps its own clock), ms is not a number within 10 s either way, from is not a
// time, or the page has said more of its music than any run needs.
class SetMusicLateCommand final : public FunctionCommand {
public:
    explicit SetMusicLateCommand(PracticeSession& session);
    Param execute(const std::vector<Param>& arguments) override;

private:
    PracticeSession& session_;
};

// "stopPractice"(): stops; answers the summary {events, hits, accuracy, meanOffset, spread},
// or null when no practice runs.
class StopPracticeCommand final : public FunctionCommand {
public:
    explicit StopPracticeCommand(PracticeSession& session);
    Param execute(const std::vector<Param>& arguments) override;

private:
    PracticeSession& session_;
};

}  // namespace tunewick
