#pragma once
// The pitch tracker: a consumer of the shared microphone stream that reads the note being
// played about thirty times a second, to the cent, and tells the movie ("setPitch" with
// {frequency, note, midi, cents, clarity, level}, and null once when a pitch ends).
//
// It takes the stream's float samples, never the engines' bytes (8-bit quantisation at low
// levels folds into octave errors), brings them to the estimator's rate on a worker thread
// of its own, and posts each change to the dialog's thread as an owned copy of its call
// record, replacing a reading the dialog has not yet passed on.
//
// Owned by the dialog. initialize(), start(), stop() and release() belong to the owner's
// thread; setReferencePitch() and setFocus() are safe from any thread. No thread outlives
// stop(); every sample the stream gave before it is analysed.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "audio/analysis/PitchEstimator.h"
#include "audio/capture/CaptureDevice.h"
#include "audio/capture/CaptureResampler.h"
#include "audio/capture/SampleStream.h"
#include "audio/capture/SpscQueue.h"
#include "bridge/DialogPoster.h"
#include "bridge/FunctionCall.h"

namespace tunewick {

class PitchTracker final : private SampleTap {
public:
    static constexpr const char* kFunctionName = "setPitch";

    PitchTracker(CaptureDeviceFactory openDevice, DialogPoster& poster);
    ~PitchTracker() override;
    PitchTracker(const PitchTracker&) = delete;
    PitchTracker& operator=(const PitchTracker&) = delete;

    // Opens the capture device; 1 when there is none or it has no sample stream (a later
    // start then fails with a negative status), 0 otherwise.
    std::int32_t initialize();
    // Attaches to the stream and starts the worker; 0, also when already running; negative
    // when there is no stream or its device refuses (the tracker then stays idle).
    std::int32_t start();
    // Detaches, analyses what is left, ends the worker. A pitch still sounding is ended
    // with one null reading.
    void stop();
    // Stops, then lets go of the device.
    void release();
    bool isRunning() const { return running_.load(); }

    // The estimator's settings (see PitchEstimator); kept across starts.
    bool setReferencePitch(double hz) { return estimator_.setReferencePitch(hz); }
    double referencePitch() const { return estimator_.referencePitch(); }
    void setFocus(double hz) { estimator_.setFocus(hz); }

    // The call a reading becomes: one object argument, or null for no pitch.
    static FunctionCall callFor(const std::optional<PitchReading>& reading);

private:
    void onSamples(const float* samples, std::size_t count, unsigned flags) override;
    void work();
    void analyse(const float* samples, std::size_t count);
    void report(const std::optional<PitchReading>& reading);

    CaptureDeviceFactory openDevice_;
    DialogPoster& poster_;
    std::unique_ptr<CaptureDevice> device_;
    std::shared_ptr<SampleStream> stream_;

    std::mutex controlMutex_;  // start, stop, release
    std::atomic<bool> running_{false};
    std::thread worker_;

    // Stream's delivery thread -> worker.
    std::unique_ptr<SpscQueue<float>> queue_;
    std::atomic<bool> wake_{false};
    std::atomic<bool> exit_{false};

    // Worker's own (start touches them only while no worker runs).
    std::unique_ptr<CaptureResampler> resampler_;
    PitchEstimator estimator_;
    bool sounding_ = false;  // the last report was a pitch
};

}  // namespace tunewick
