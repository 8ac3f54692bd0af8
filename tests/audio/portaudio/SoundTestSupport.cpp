#include "SoundTestSupport.h"

namespace tunewick::testing {

std::vector<std::uint8_t> CollectingEngine::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::vector<double> CollectingEngine::latenciesMs() const {
    std::lock_guard lock(mutex_);
    return latencies_;
}

std::optional<CaptureStats> CollectingEngine::lastStats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::optional<DeviceCaptureFormat> CollectingEngine::deviceFormat() const {
    std::lock_guard lock(mutex_);
    return deviceFormat_;
}

void CollectingEngine::clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
    latencies_.clear();
}

bool CollectingEngine::waitForBytes(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
}

std::int32_t CollectingEngine::prepareStart() {
    std::lock_guard lock(mutex_);
    readAt_ = 0;
    noteBuffer();
    return 0;
}

void CollectingEngine::noteBuffer() {
    if (auto* buffer = dynamic_cast<StreamCaptureBuffer*>(captureBuffer())) {
        stats_ = buffer->stats();
        deviceFormat_ = buffer->deviceFormat();
    }
}

std::int32_t CollectingEngine::consume(const std::uint8_t* first, std::uint32_t firstLength,
                                       const std::uint8_t* second, std::uint32_t secondLength) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), first, first + firstLength);
        if (second != nullptr) bytes_.insert(bytes_.end(), second, second + secondLength);
        const std::uint32_t total = firstLength + secondLength;
        const std::uint32_t lastByte = (readAt_ + total - 1) % bufferSize();
        readAt_ = (readAt_ + total) % bufferSize();
        auto* buffer = dynamic_cast<StreamCaptureBuffer*>(captureBuffer());
        // Only the steps the notifications wake: a stop's last step comes when it is told to.
        if (buffer != nullptr && isRunning()) {
            if (const auto arrival = buffer->blockArrival(lastByte)) {
                latencies_.push_back(
                    std::chrono::duration<double, std::milli>(now - *arrival).count());
            }
        }
        noteBuffer();
    }
    grew_.notify_all();
    return 0;
}

void CollectingEngine::finish() {
    std::lock_guard lock(mutex_);
    noteBuffer();
}

}  // namespace tunewick::testing
