#pragma once
// Pieces shared by the tests of the real sound path: a reporter and a poster that record, and
// an engine that keeps every byte it is given and how late each block step came.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/capture/CaptureEngine.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/portaudio/PortAudioCaptureDevice.h"
#include "bridge/DialogPoster.h"
#include "bridge/Reporter.h"
#include "support/RecordingReporter.h"

namespace tunewick::testing {

class CallRecorder final : public DialogPoster {
public:
    void postLoadSwf(std::string) override {}
    void postCallSwfFunction(FunctionCall call) override {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::vector<FunctionCall> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<FunctionCall> calls_;
};

// A capture engine whose consumer appends the region to a byte log. On a PortAudio buffer it
// also notes, for every block step on the capture thread, the time from the arrival of the
// last consumed block's last sample at the device callback to the step, and the buffer's
// statistics as of that step.
class CollectingEngine final : public CaptureEngine {
public:
    CollectingEngine(CaptureConfig config, CaptureDeviceFactory factory, Reporter& reporter)
        : CaptureEngine(config, std::move(factory), reporter) {}
    ~CollectingEngine() override {
        stop();
        release();
    }

    std::vector<std::uint8_t> bytes() const;
    std::vector<double> latenciesMs() const;
    std::optional<CaptureStats> lastStats() const;
    std::optional<DeviceCaptureFormat> deviceFormat() const;
    // Drops the byte log and the latencies.
    void clear();
    // Waits until the log holds at least `count` bytes; false when `timeout` passed first.
    bool waitForBytes(std::size_t count, std::chrono::milliseconds timeout) const;

protected:
    std::int32_t prepareStart() override;
    std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                         const std::uint8_t* second, std::uint32_t secondLength) override;
    void finish() override;

private:
    void noteBuffer();  // with mutex_ held

    mutable std::mutex mutex_;
    mutable std::condition_variable grew_;
    std::vector<std::uint8_t> bytes_;
    std::vector<double> latencies_;
    std::optional<CaptureStats> stats_;
    std::optional<DeviceCaptureFormat> deviceFormat_;
    std::uint32_t readAt_ = 0;  // mirrors the engine's next read offset
};

}  // namespace tunewick::testing
