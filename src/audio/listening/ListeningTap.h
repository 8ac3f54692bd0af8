#pragma once
// The hand-over from the shared microphone stream to a listener's worker: a SampleTap that
// copies the stream's samples into a lock-free queue, and a worker thread of its own that
// brings them to the listener's analysis rate and gives them to the listener in order.
//
// The worker's input is the stream's own clock: sample n of what it is given is the n-th
// sample the stream delivered after start(). Samples the queue had no room for (a worker far
// behind) are given as silence, so time never slips.
//
// Owned by a listener (the chord listener, the practice session). start() and stop() belong
// to the owner's thread; the consumer runs on the worker only. No thread outlives stop(), and
// every sample the stream gave before it reaches the consumer.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "audio/capture/CaptureResampler.h"
#include "audio/capture/SampleStream.h"
#include "audio/capture/SpscQueue.h"

namespace tunewick {

class ListeningTap final : private SampleTap {
public:
    // Called on the worker with the next samples at the analysis rate; `last` once at the end.
    using Consumer = std::function<void(const float* samples, std::size_t count, bool last)>;

    explicit ListeningTap(double analysisRate);
    ~ListeningTap() override;
    ListeningTap(const ListeningTap&) = delete;
    ListeningTap& operator=(const ListeningTap&) = delete;

    double analysisRate() const { return analysisRate_; }

    // Starts the worker and attaches to `stream` (kept until stop()). 0; negative when the
    // rate cannot be converted or the stream refuses, and then nothing runs.
    std::int32_t start(std::shared_ptr<SampleStream> stream, Consumer consumer);
    // Detaches, hands over what is left (with `last`), ends the worker. Idle: nothing.
    void stop();
    bool running() const { return running_.load(); }
    // For a live stream, how long before start() the first sample handed over was captured, in
    // ms: positive when the first delivery held sound from before (a stream already running),
    // negative when the device began only after (one opened for this listener). Measured from
    // the least delayed of the first second's deliveries, so the device's own input latency
    // stays in, as a constant the player's latency calibration takes up. 0 for a stream that
    // is not live, and until the first delivery. Any thread.
    double capturedBeforeStartMs() const;

private:
    void onSamples(const float* samples, std::size_t count, unsigned flags) override;
    void work();

    const double analysisRate_;
    std::shared_ptr<SampleStream> stream_;
    std::atomic<bool> running_{false};
    std::thread worker_;

    // Stream's delivery thread -> worker.
    std::unique_ptr<SpscQueue<float>> queue_;
    std::atomic<std::uint64_t> lost_{0};
    std::atomic<bool> wake_{false};
    std::atomic<bool> exit_{false};
    // The start measure (set by start() before the stream can deliver): when start() ran, the
    // samples delivered since, and the most samples any delivery says were captured before it.
    bool measureStart_ = false;
    double streamRate_ = 0.0;
    std::int64_t startedAtNanos_ = 0;
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<std::int64_t> capturedBeforeStart_{0};

    // The worker's own (start touches them only while no worker runs).
    std::unique_ptr<CaptureResampler> resampler_;
    Consumer consumer_;
};

}  // namespace tunewick
