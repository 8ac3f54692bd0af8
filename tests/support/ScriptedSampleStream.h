#pragma once
// A shared sample stream the test drives: push() delivers samples to every attached tap on
// the test's own thread, as a device's callback would. A refusal can be scripted for the
// next attach. Live when the test delivers in real time and says so. Safe from any thread.
#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/capture/SampleStream.h"

namespace tunewick::testing {

class ScriptedSampleStream final : public SampleStream {
public:
    explicit ScriptedSampleStream(double rate, bool live = false) : rate_(rate), live_(live) {}

    DeviceCaptureFormat format() const override { return {rate_, 1}; }
    std::int32_t attach(SampleTap& tap) override {
        if (const std::int32_t refusal = refuseNext_.exchange(0); refusal != 0) return refusal;
        return taps_.add(tap) ? 0 : -1;
    }
    void detach(SampleTap& tap) override { taps_.remove(tap); }
    bool live() const override { return live_; }

    void push(const std::vector<float>& samples, std::size_t step = 256) {
        for (std::size_t at = 0; at < samples.size(); at += step) {
            const std::size_t n = std::min(step, samples.size() - at);
            taps_.deliver(samples.data() + at, n, 0);
        }
    }
    void refuseNextAttach(std::int32_t status) { refuseNext_ = status; }
    std::size_t taps() const { return taps_.count(); }

private:
    const double rate_;
    const bool live_;
    SampleFanOut taps_;
    std::atomic<std::int32_t> refuseNext_{0};
};

}  // namespace tunewick::testing
