#pragma once
// The chord listener: a consumer of the shared microphone stream that hears each pluck or
// strum, says which notes sound and names the chord, and tells the movie once per strum
// ("setChord" with {time, name, root, quality, bass, notes:[{midi, note, level}]}; time in
// seconds of the stream's clock since the listener started).
//
// While the chord trainer has set a target (setTarget), every report also carries `check`
// (see ChordTargetCheck), and a strum is reported even when it names no chord, so that a
// chord with a dead string still shows which one. Without a target, a strum that names no
// chord (a single note, a noise) is not reported.
//
// The samples reach a worker of its own at the analysis rate (ListeningTap); the worker runs
// the onset detector, waits for the notes after each onset to be heard, and analyses them.
//
// Owned by the dialog. initialize(), start(), stop() and release() belong to the owner's
// thread; setTarget() and setOnsetObserver() are safe from any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "audio/capture/CaptureDevice.h"
#include "audio/capture/SampleStream.h"
#include "audio/listening/ChordNamer.h"
#include "audio/listening/ChordTargetCheck.h"
#include "audio/listening/ListeningTap.h"
#include "audio/listening/NoteAnalyzer.h"
#include "audio/listening/NoteChecker.h"
#include "audio/listening/OnsetDetector.h"
#include "bridge/DialogPoster.h"
#include "bridge/FunctionCall.h"

namespace tunewick {

class ChordListener {
public:
    static constexpr const char* kFunctionName = "setChord";
    static constexpr double kAnalysisRate = 22050.0;

    ChordListener(CaptureDeviceFactory openDevice, DialogPoster& poster);
    ~ChordListener();
    ChordListener(const ChordListener&) = delete;
    ChordListener& operator=(const ChordListener&) = delete;

    // Opens the capture device; 1 when there is none or it has no sample stream, 0 otherwise.
    std::int32_t initialize();
    // Attaches and starts the worker; 0, also when already running; negative when there is
    // no stream or it refuses.
    std::int32_t start();
    // Detaches; strums already heard whole are still reported.
    void stop();
    void release();
    bool isRunning() const { return tap_.running(); }

    // The chord the trainer shows (at least two notes), or none. Kept across starts.
    void setTarget(std::optional<std::vector<ExpectedNote>> target);
    // Diagnostics: called on the worker with each onset's stream sample (at the analysis
    // rate) as soon as the detector reports it. Set it while the listener is stopped.
    void setOnsetObserver(std::function<void(std::int64_t)> observer);

    // What one strum becomes: the call, or nothing when there is nothing to report.
    static std::optional<FunctionCall> callFor(double seconds, const std::vector<HeardNote>& notes,
                                               const std::optional<ChordName>& name,
                                               const std::optional<ChordTargetCheck>& check);

private:
    // The worker's.
    void consume(const float* samples, std::size_t count, bool last);
    void report(std::int64_t onset);

    CaptureDeviceFactory openDevice_;
    DialogPoster& poster_;
    std::unique_ptr<CaptureDevice> device_;
    std::shared_ptr<SampleStream> stream_;
    std::mutex controlMutex_;  // start, stop, release
    ListeningTap tap_;

    std::mutex targetMutex_;
    std::optional<std::vector<ExpectedNote>> target_;  // under targetMutex_
    std::function<void(std::int64_t)> onsetObserver_;  // under controlMutex_ when set

    // The worker's own while it runs; start() touches them only while no worker runs.
    OnsetDetector detector_;
    NoteAnalyzer analyzer_;
    NoteChecker checker_;
    std::vector<float> history_;  // the stream from sample historyStart_ on
    std::int64_t historyStart_ = 0;
    std::vector<Onset> found_;
    std::vector<std::int64_t> pending_;  // onsets whose notes are still being heard
};

}  // namespace tunewick
