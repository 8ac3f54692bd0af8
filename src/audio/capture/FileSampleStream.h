#pragma once
// A sound file played in real time as the shared microphone stream: the host's --input FILE.
// A thread of the stream's own delivers the file's mono samples at the file's rate in small
// steps, looping at the end (a microphone never ends), to every attached tap. Playing starts
// from the file's beginning when the first tap attaches and pauses when the last one leaves;
// a tap that attaches while it plays joins at the current place, as with a real microphone.
// attach() and detach() are safe from any thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/capture/SampleStream.h"

namespace tunewick {

class FileSampleStream final : public SampleStream {
public:
    // The step between deliveries: a device period of a few milliseconds.
    static constexpr std::chrono::milliseconds kStep{5};

    // `samples` mono in [-1, 1] at `sampleRate` (positive); empty plays silence.
    FileSampleStream(std::shared_ptr<const std::vector<float>> samples, double sampleRate);
    ~FileSampleStream() override;
    FileSampleStream(const FileSampleStream&) = delete;
    FileSampleStream& operator=(const FileSampleStream&) = delete;

    DeviceCaptureFormat format() const override { return {rate_, 1}; }
    // 0, or E_FAIL when every tap slot is taken.
    std::int32_t attach(SampleTap& tap) override;
    void detach(SampleTap& tap) override;

private:
    void run();

    const std::shared_ptr<const std::vector<float>> samples_;
    const double rate_;
    SampleFanOut taps_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;            // under mutex_
    std::uint64_t generation_ = 0; // under mutex_: bumped when playing starts afresh
    std::thread thread_;           // last: starts once the rest is in place
};

}  // namespace tunewick
