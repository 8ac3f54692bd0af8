#pragma once
// One microphone stream shared by every consumer. A device can be opened once (a raw ALSA
// device only once at all), so the recognizer, the tuner, the recorder and the pitch tracker
// all take their samples from one stream: mono float samples in [-1, 1] at the stream's own
// rate. Each consumer is a SampleTap that converts what it is given to its own rate and
// format on a thread of its own.
//
// The stream opens its device when the first tap attaches and closes it when the last one
// detaches. Backends: the microphone through PortAudio, a WAV file played in real time, and
// a scripted stream in the tests.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace tunewick {

// What the device said about a stretch of samples.
enum SampleFlags : unsigned {
    kSamplesLost = 1u,      // input was lost before these samples (an overflow)
    kSamplesInserted = 2u,  // the device filled a gap with silence (an underflow)
};

// A consumer of the stream's samples.
class SampleTap {
public:
    virtual ~SampleTap() = default;
    // On the stream's delivery thread, which may be a sound device's callback: copy, wake a
    // worker, return. Never lock, allocate or block here.
    virtual void onSamples(const float* samples, std::size_t count, unsigned flags) = 0;
};

// The device format a stream captures in.
struct DeviceCaptureFormat {
    double sampleRate = 0.0;
    int channels = 0;  // mixed down to one before any tap sees them
};

class SampleStream {
public:
    virtual ~SampleStream() = default;
    virtual DeviceCaptureFormat format() const = 0;
    double sampleRate() const { return format().sampleRate; }

    // Adds a tap; the first one opens the device. 0, or a negative status when the device
    // cannot be opened (the tap is then not attached). A tap that attaches while the stream
    // runs gets its first samples with the next period the device delivers. Any thread.
    virtual std::int32_t attach(SampleTap& tap) = 0;
    // Removes the tap; once this returns, the tap is never called again. The last tap to go
    // closes the device, without waiting for a device that no longer answers. Any thread.
    virtual void detach(SampleTap& tap) = 0;
    // Whether samples come as a device captures them, so that when one is delivered says when
    // it was heard. A file or a script has no such clock: its first sample is its own time 0.
    virtual bool live() const { return false; }
};

// The list of attached taps, shared between the threads that attach and detach and the one
// thread that delivers. Delivery takes no lock: the taps sit in fixed slots of atomic
// pointers, and a removal waits only until a delivery in progress is done with them.
class SampleFanOut {
public:
    static constexpr std::size_t kMaxTaps = 16;

    // False when the tap is already there or every slot is taken.
    bool add(SampleTap& tap);
    // False when the tap was not there. Returns once no delivery can reach the tap.
    bool remove(SampleTap& tap);
    std::size_t count() const;

    // The delivery thread only (one thread at a time).
    void deliver(const float* samples, std::size_t count, unsigned flags);

private:
    std::array<std::atomic<SampleTap*>, kMaxTaps> taps_{};
    std::atomic<int> delivering_{0};
    std::atomic<std::uint64_t> completed_{0};  // deliveries finished
    mutable std::mutex mutex_;  // add and remove among themselves
};

}  // namespace tunewick
