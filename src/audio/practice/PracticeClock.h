#pragma once
// The time base of a practice: song time in ms against the stream's own sample clock.
//
// Sample 0 is the first sample the session is given after the page's call arrived, so song
// time 0 is due `startDelay` ms of stream time later, whatever the page's or the host's
// clocks do meanwhile. From a live microphone that first sample was captured some time before
// or after the call, by as much as a device period or its opening takes, and different every
// run: due times move by as much (setCapturedBeforeStart), and by how late the page's music
// sounds (setMusicLate): late by how much its synthesizer began late, and later again from
// wherever its sound stalled on a busy machine. The player's measured latency (what the
// microphone hears comes that much after it was played) moves every due time later by as
// much, which is the same as subtracting it from every heard time.
//
// It also says when an event can be decided: once its late window has closed and the onset
// detector has had time to report onsets in it, as soon as the notes after the latest such
// onset have been heard, and at the latest `maxWait` after the window closed, so that a
// verdict comes in good time even when the analysis would like more. With nothing heard it
// waits that long too: the page may yet say that its sound stalled and the event is due later.
//
// A plain value: any thread, one owner.
#include <cstdint>
#include <vector>

#include "audio/practice/PracticeEvents.h"

namespace tunewick {

class PracticeClock {
public:
    // Milliseconds after the window closes by which an event is decided, whatever the analysis
    // would still like to hear; the rest of the 200 ms allowed is for the post to the page.
    static constexpr double kMaxWaitMs = 175.0;

    PracticeClock(double sampleRate, double startDelayMs, double latencyMs, PracticeOptions options);

    double sampleRate() const { return rate_; }
    // How long before the call sample 0 was captured, in ms (negative: after); moves every due
    // time later by as much.
    void setCapturedBeforeStart(double ms) { capturedBeforeMs_ = ms; }
    // From song time `fromMs` on, the page's music sounds `ms` later than it planned (negative:
    // earlier), as the page measured it; the due times from there on move later by as much.
    // Replaces what was said from the same time; a time before every such step is not moved.
    void setMusicLate(double ms, double fromMs = 0.0);
    const PracticeOptions& options() const { return options_; }

    // The stream sample at which an event of song time `timeMs` is due.
    std::int64_t dueSample(double timeMs) const;
    // The last sample of its late window.
    std::int64_t closeSample(double timeMs) const;
    // The first sample an onset for it may have: its early window opens.
    std::int64_t openSample(double timeMs) const;
    // A span of samples in ms, and back.
    double toMs(std::int64_t samples) const;
    std::int64_t toSamples(double ms) const;

    // Whether the event of song time `timeMs` can be decided once `available` samples have
    // been heard. `reportDelay`: samples the onset detector may take to report an onset;
    // `latestOnset`: the latest onset seen in the event's windows (-1 for none);
    // `analysisSamples`: how much the checker wants to hear after an onset.
    bool ready(double timeMs, std::int64_t available, std::int64_t reportDelay, std::int64_t latestOnset,
               std::int64_t analysisSamples) const;

private:
    struct MusicLate {
        double fromMs;
        double ms;
    };

    double musicLateAt(double timeMs) const;

    double rate_;
    double startDelayMs_;
    double latencyMs_;
    double capturedBeforeMs_ = 0.0;
    std::vector<MusicLate> musicLate_;  // by fromMs, rising
    PracticeOptions options_;
};

}  // namespace tunewick
