#include "support/ScriptedCaptureDevice.h"

#include <algorithm>

#include "audio/capture/CaptureRing.h"
#include "audio/Status.h"

namespace tunewick {
namespace {

using Operation = ScriptedCaptureDevice::Operation;

// A ring buffer whose operations first ask the device whether they are to fail.
class ScriptedCaptureBuffer final : public RingCaptureBuffer {
public:
    ScriptedCaptureBuffer(std::shared_ptr<CaptureRing> ring,
                          std::shared_ptr<ScriptedCaptureDevice> device,
                          std::optional<WaveFormat> actualFormat)
        : RingCaptureBuffer(std::move(ring)),
          device_(std::move(device)),
          actualFormat_(actualFormat) {}

    std::int32_t setNotificationPositions(const std::vector<std::uint32_t>& offsets,
                                          std::shared_ptr<NotificationEvent> event) override {
        if (auto s = device_->checkFailure(Operation::setNotificationPositions)) return s;
        return RingCaptureBuffer::setNotificationPositions(offsets, std::move(event));
    }
    std::int32_t start() override {
        if (auto s = device_->checkFailure(Operation::start)) return s;
        return RingCaptureBuffer::start();
    }
    std::int32_t stop() override {
        if (auto s = device_->checkFailure(Operation::stop)) return s;
        return RingCaptureBuffer::stop();
    }
    std::int32_t getCurrentPosition(std::uint32_t* capture, std::uint32_t* read) override {
        if (auto s = device_->checkFailure(Operation::getCurrentPosition)) return s;
        return RingCaptureBuffer::getCurrentPosition(capture, read);
    }
    std::int32_t lock(std::uint32_t offset, std::uint32_t length, const std::uint8_t** first,
                      std::uint32_t* firstLength, const std::uint8_t** second,
                      std::uint32_t* secondLength) override {
        if (auto s = device_->checkFailure(Operation::lock)) return s;
        const std::int32_t result =
            RingCaptureBuffer::lock(offset, length, first, firstLength, second, secondLength);
        if (!status::failed(result)) device_->runLockHook();
        return result;
    }
    std::int32_t unlock(const std::uint8_t* first, std::uint32_t firstLength,
                        const std::uint8_t* second, std::uint32_t secondLength) override {
        if (auto s = device_->checkFailure(Operation::unlock)) return s;
        return RingCaptureBuffer::unlock(first, firstLength, second, secondLength);
    }
    WaveFormat getFormat() const override {
        return actualFormat_ ? *actualFormat_ : RingCaptureBuffer::getFormat();
    }

private:
    std::shared_ptr<ScriptedCaptureDevice> device_;
    std::optional<WaveFormat> actualFormat_;
};

}  // namespace

std::shared_ptr<ScriptedCaptureDevice> ScriptedCaptureDevice::create() {
    return std::shared_ptr<ScriptedCaptureDevice>(new ScriptedCaptureDevice());
}

CaptureDeviceFactory ScriptedCaptureDevice::factory() {
    return sharedDeviceFactory(shared_from_this());
}

CaptureDeviceFactory ScriptedCaptureDevice::noDevice() { return sharedDeviceFactory(nullptr); }

std::int32_t ScriptedCaptureDevice::createCaptureBuffer(const WaveFormat& format,
                                                        std::uint32_t bufferBytes,
                                                        std::unique_ptr<CaptureBuffer>* buffer) {
    if (buffer == nullptr) return status::kInvalidArg;
    if (auto s = checkFailure(Operation::createCaptureBuffer)) return s;
    if (bufferBytes == 0) return status::kInvalidArg;
    std::optional<WaveFormat> actual;
    auto ring = std::make_shared<CaptureRing>(bufferBytes, format);
    {
        std::lock_guard lock(mutex_);
        requestedFormat_ = format;
        actual = actualFormat_;
        current_ = ring;
        ++buffersCreated_;
    }
    *buffer = std::make_unique<ScriptedCaptureBuffer>(std::move(ring), shared_from_this(), actual);
    return status::kOk;
}

std::shared_ptr<CaptureRing> ScriptedCaptureDevice::current() const {
    std::lock_guard lock(mutex_);
    return current_.lock();
}

std::size_t ScriptedCaptureDevice::capture(const std::uint8_t* data, std::size_t length) {
    auto ring = current();
    return ring && data != nullptr ? ring->deliver(data, length) : 0;
}

std::size_t ScriptedCaptureDevice::capture(const std::vector<std::uint8_t>& bytes) {
    return capture(bytes.data(), bytes.size());
}

std::size_t ScriptedCaptureDevice::capture(std::size_t length, std::uint8_t value) {
    auto ring = current();
    return ring ? ring->deliver(nullptr, length, value) : 0;
}

void ScriptedCaptureDevice::setPositions(std::uint32_t capturePosition,
                                         std::uint32_t readPosition) {
    if (auto ring = current()) ring->setPositions(capturePosition, readPosition);
}

void ScriptedCaptureDevice::setReadPosition(std::uint32_t readPosition) {
    if (auto ring = current()) ring->setReadPosition(readPosition);
}

void ScriptedCaptureDevice::signal() {
    if (auto ring = current()) ring->signal();
}

void ScriptedCaptureDevice::fail(Operation op, std::int32_t status, int times) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(failures_.begin(), failures_.end(),
                           [op](const auto& entry) { return entry.first == op; });
    const Failure failure{status, times < 0 ? -1 : times};
    if (it == failures_.end()) {
        failures_.emplace_back(op, failure);
    } else {
        it->second = failure;
    }
}

void ScriptedCaptureDevice::clearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

void ScriptedCaptureDevice::setLockHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    lockHook_ = std::move(hook);
}

void ScriptedCaptureDevice::setActualFormat(std::optional<WaveFormat> format) {
    std::lock_guard lock(mutex_);
    actualFormat_ = format;
}

std::int32_t ScriptedCaptureDevice::checkFailure(Operation op) {
    std::lock_guard lock(mutex_);
    auto counter = std::find_if(calls_.begin(), calls_.end(),
                                [op](const auto& entry) { return entry.first == op; });
    if (counter == calls_.end()) {
        calls_.emplace_back(op, 1);
    } else {
        ++counter->second;
    }
    auto it = std::find_if(failures_.begin(), failures_.end(),
                           [op](const auto& entry) { return entry.first == op; });
    if (it == failures_.end() || it->second.remaining == 0) return status::kOk;
    if (it->second.remaining > 0) --it->second.remaining;
    return it->second.status;
}

void ScriptedCaptureDevice::runLockHook() {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = lockHook_;
    }
    if (hook) hook();
}

bool ScriptedCaptureDevice::hasBuffer() const { return current() != nullptr; }

bool ScriptedCaptureDevice::isCapturing() const {
    auto ring = current();
    return ring && ring->isCapturing();
}

std::size_t ScriptedCaptureDevice::buffersCreated() const {
    std::lock_guard lock(mutex_);
    return buffersCreated_;
}

std::size_t ScriptedCaptureDevice::calls(Operation op) const {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(calls_.begin(), calls_.end(),
                           [op](const auto& entry) { return entry.first == op; });
    return it == calls_.end() ? 0 : it->second;
}

WaveFormat ScriptedCaptureDevice::requestedFormat() const {
    std::lock_guard lock(mutex_);
    return requestedFormat_;
}

std::uint32_t ScriptedCaptureDevice::bufferSize() const {
    auto ring = current();
    return ring ? ring->size() : 0;
}

std::vector<std::uint32_t> ScriptedCaptureDevice::notificationOffsets() const {
    auto ring = current();
    return ring ? ring->notificationOffsets() : std::vector<std::uint32_t>{};
}

std::uint32_t ScriptedCaptureDevice::capturePosition() const {
    std::uint32_t capture = 0;
    if (auto ring = current()) ring->positions(&capture, nullptr);
    return capture;
}

std::uint32_t ScriptedCaptureDevice::readPosition() const {
    std::uint32_t read = 0;
    if (auto ring = current()) ring->positions(nullptr, &read);
    return read;
}

std::size_t ScriptedCaptureDevice::outstandingLocks() const {
    auto ring = current();
    return ring ? ring->outstandingLocks() : 0;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> ScriptedCaptureDevice::lockRequests() const {
    auto ring = current();
    return ring ? ring->lockRequests() : std::vector<std::pair<std::uint32_t, std::uint32_t>>{};
}

}  // namespace tunewick
