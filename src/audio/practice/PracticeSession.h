#pragma once
// A practice session: judges the player against the events of a piece as they come due, and
// tells the movie each verdict ("setVerdict" with {index, time, verdict, offset, missing,
// extra}, see PracticeJudge) no later than 200 ms after the event's late window closes.
//
// Time is the stream's own sample clock (see PracticeClock): song time 0 is due `startDelay`
// ms after start() attached to the microphone stream. When the session is the stream's first
// consumer of a file played as the microphone (--input), the file starts playing at that
// moment, so a file whose notes sound at startDelay + time plays the events right on time.
//
// The samples reach a worker of its own at the analysis rate (ListeningTap); the worker runs
// the onset detector over everything it hears and asks the note checker about each event once
// it can be decided, keeping only the few seconds of sound an undecided event may still need.
//
// Owned by the dialog. initialize(), start(), stop() and release() belong to the owner's
// thread; the verdicts are posted from the worker.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/capture/CaptureDevice.h"
#include "audio/capture/SampleStream.h"
#include "audio/listening/ListeningTap.h"
#include "audio/listening/NoteChecker.h"
#include "audio/listening/OnsetDetector.h"
#include "audio/practice/PracticeClock.h"
#include "audio/practice/PracticeEvents.h"
#include "audio/practice/PracticeJudge.h"
#include "bridge/DialogPoster.h"
#include "bridge/Param.h"

namespace tunewick {

class PracticeSession {
public:
    static constexpr double kAnalysisRate = 22050.0;
    // The most a page's music may sound early or late, its stalls included: a page further out
    // is broken.
    static constexpr double kMaxMusicLateMs = 10000.0;
    // What a page may say of its music in one practice: a stall every second of an hour.
    static constexpr std::size_t kMaxMusicLateSteps = 3600;

    PracticeSession(CaptureDeviceFactory openDevice, DialogPoster& poster);
    ~PracticeSession();
    PracticeSession(const PracticeSession&) = delete;
    PracticeSession& operator=(const PracticeSession&) = delete;

    // Opens the capture device; 1 when there is none or it has no sample stream, 0 otherwise.
    std::int32_t initialize();
    // Starts judging `events` (not empty), replacing a practice that runs without a summary.
    // `latencyMs` is subtracted from every time heard. 0; negative when there is no stream or
    // it refuses, and then no practice runs.
    std::int32_t start(std::vector<PracticeEvent> events, double startDelayMs, PracticeOptions options,
                       double latencyMs);
    // Stops: the events whose windows have closed by now are still judged and told. Answers
    // the summary (PracticeScore::summary), or null when no practice ran.
    Param stop();
    // From song time `fromMs` on, the page's music sounds `ms` later than it planned (negative:
    // earlier), as the page measured it: from 0, by how late its synthesizer began; from a
    // later time, by that and every stall of its sound before it. The events not yet judged
    // from that time on are due as much later (see PracticeClock::setMusicLate). False,
    // changing nothing, when no practice runs, when the microphone is not live (a file played
    // as the microphone keeps its own time 0, see above), when ms is not a number within
    // kMaxMusicLateMs or fromMs not a time, or once kMaxMusicLateSteps have been said.
    bool setMusicLate(double ms, double fromMs = 0.0);
    void release();
    bool isRunning() const { return tap_.running(); }

private:
    // The worker's.
    void consume(const float* samples, std::size_t count, bool last);
    void decide(bool last);
    void judge(const PracticeEvent& event);
    void forget();

    CaptureDeviceFactory openDevice_;
    DialogPoster& poster_;
    std::unique_ptr<CaptureDevice> device_;
    std::shared_ptr<SampleStream> stream_;
    std::mutex controlMutex_;  // start, stop, release
    ListeningTap tap_;
    // What the page said of its music, owner's thread -> worker.
    std::mutex musicLateMutex_;
    std::vector<std::pair<double, double>> musicLateSaid_;  // {ms, fromMs}, not yet taken by the worker
    std::atomic<bool> musicLateNews_{false};
    std::size_t musicLateSteps_ = 0;  // said in this practice; under controlMutex_

    // The worker's own while a practice runs; start() and stop() touch them only while no
    // worker runs.
    std::vector<PracticeEvent> events_;
    PracticeClock clock_{kAnalysisRate, 0.0, 0.0, {}};
    OnsetDetector detector_;
    NoteChecker checker_;
    std::vector<float> history_;   // the stream from sample historyStart_ on
    std::int64_t historyStart_ = 0;
    std::vector<Onset> onsets_;    // at stream sample numbers, rising
    std::vector<Onset> found_;     // scratch for the detector
    std::vector<Onset> near_;      // scratch: one event's onsets, at history positions
    std::size_t next_ = 0;         // the first event not yet judged
    PracticeScore score_;
};

}  // namespace tunewick
