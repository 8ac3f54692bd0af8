#include "audio/capture/CaptureEngine.h"

#include "audio/Status.h"

namespace tunewick {

CaptureEngine::CaptureEngine(CaptureConfig config, CaptureDeviceFactory openDevice,
                             Reporter& reporter)
    : config_(config), openDevice_(std::move(openDevice)), reporter_(reporter) {}

CaptureEngine::~CaptureEngine() {
    // Subclasses normally have stopped by now; this only makes sure no thread outlives us.
    running_ = false;
    joinCaptureThread();
}

std::uint32_t CaptureEngine::blockSizeFor(const WaveFormat& format) {
    std::uint32_t size = format.avgBytesPerSec > 8191 ? format.avgBytesPerSec / 8 : 1024;
    if (format.blockAlign > 1) size -= size % format.blockAlign;
    return size;
}

std::int32_t CaptureEngine::initialize() {
    std::lock_guard control(controlMutex_);
    running_ = false;
    bufferSize_ = 0;
    blockSize_ = 0;
    device_ = openDevice_ ? openDevice_() : nullptr;
    if (!device_) return status::kNothingDone;
    format_ = WaveFormat::pcm8Mono(config_.sampleRate);
    return status::kOk;
}

bool CaptureEngine::hasDevice() const { return device_ != nullptr; }

std::uint32_t CaptureEngine::nextReadOffset() const {
    std::lock_guard block(blockMutex_);
    return nextReadOffset_;
}

// Called with blockMutex_ held and no capture thread alive.
std::int32_t CaptureEngine::createCaptureBuffer() {
    buffer_.reset();
    if (!device_) return status::kNoDevice;
    blockSize_ = config_.blockSize != 0 ? config_.blockSize : blockSizeFor(format_);
    bufferSize_ = blockSize_ * config_.notificationCount;
    if (blockSize_ == 0 || bufferSize_ == 0) return status::kInvalidArg;
    std::unique_ptr<CaptureBuffer> buffer;
    const std::int32_t created = device_->createCaptureBuffer(format_, bufferSize_, &buffer);
    if (status::failed(created)) return created;
    if (!buffer || buffer->size() != bufferSize_) return status::kFail;  // a device we cannot use
    buffer_ = std::move(buffer);
    nextReadOffset_ = 0;
    const std::int32_t notifications = setUpNotifications();
    if (status::failed(notifications)) {
        buffer_.reset();
        return notifications;
    }
    return status::kOk;
}

std::int32_t CaptureEngine::setUpNotifications() {
    if (!buffer_) return status::kFail;
    // The event fires when the last byte of each block has been captured.
    std::vector<std::uint32_t> offsets;
    offsets.reserve(config_.notificationCount);
    for (std::uint32_t i = 1; i <= config_.notificationCount; ++i) {
        offsets.push_back(i * blockSize_ - 1);
    }
    const std::int32_t result = buffer_->setNotificationPositions(offsets, event_);
    return status::failed(result) ? result : status::kOk;
}

std::int32_t CaptureEngine::start() {
    std::lock_guard control(controlMutex_);
    if (running_) return status::kOk;
    // Collect what an earlier capture failure left: its ended thread and its finish.
    joinCaptureThread();
    finishIfPending();
    {
        std::lock_guard block(blockMutex_);
        const std::int32_t created = createCaptureBuffer();
        if (status::failed(created)) return created;
        const std::int32_t prepared = prepareStart();
        if (status::failed(prepared)) return prepared;
    }
    finishPending_ = true;
    threadShouldExit_ = false;
    running_ = true;
    captureThread_ = std::thread(&CaptureEngine::captureLoop, this);
    std::int32_t started;
    {
        std::lock_guard block(blockMutex_);
        started = buffer_->start();
    }
    if (status::failed(started)) {
        // Not left "running" without capture: undo the start, so the engine is idle and its
        // preparation finished.
        running_ = false;
        joinCaptureThread();
        finishIfPending();
        return started;
    }
    return status::kOk;
}

void CaptureEngine::captureLoop() {
    while (running_) {
        event_->wait();
        if (threadShouldExit_) break;  // the stop takes the last blocks itself
        const std::int32_t result = processBlock();
        if (status::failed(result)) {
            // Capture goes idle: no device left capturing for a thread that is gone. The
            // finish is run by the next stop, start or release on the owner's thread.
            running_ = false;
            {
                std::lock_guard block(blockMutex_);
                if (buffer_) buffer_->stop();
            }
            reporter_.report(kCaptureErrorCaption, kCaptureErrorText);
            break;
        }
    }
}

std::int32_t CaptureEngine::processBlock() {
    std::lock_guard block(blockMutex_);
    if (!buffer_ || !canProcess()) return status::kNothingDone;

    std::uint32_t capturePosition = 0;
    std::uint32_t readPosition = 0;
    const std::int32_t position = buffer_->getCurrentPosition(&capturePosition, &readPosition);
    if (status::failed(position)) return position;
    if (readPosition >= bufferSize_) return status::kFail;  // a device we cannot trust

    std::uint32_t region = readPosition >= nextReadOffset_
                               ? readPosition - nextReadOffset_
                               : readPosition + bufferSize_ - nextReadOffset_;
    region -= region % blockSize_;
    if (region == 0) return status::kNothingDone;

    const std::uint8_t* first = nullptr;
    const std::uint8_t* second = nullptr;
    std::uint32_t firstLength = 0;
    std::uint32_t secondLength = 0;
    const std::int32_t locked =
        buffer_->lock(nextReadOffset_, region, &first, &firstLength, &second, &secondLength);
    if (status::failed(locked)) return locked;
    // The consumers rely on whole blocks and a first part of at least one block.
    if (first == nullptr || firstLength < blockSize_ || firstLength % blockSize_ != 0 ||
        secondLength % blockSize_ != 0 || (second == nullptr) != (secondLength == 0) ||
        firstLength + secondLength != region) {
        buffer_->unlock(first, firstLength, second, secondLength);
        return status::kFail;
    }

    const std::int32_t consumed = consume(first, firstLength, second, secondLength);
    if (!status::failed(consumed)) {
        nextReadOffset_ = (nextReadOffset_ + firstLength) % bufferSize_;
        if (second != nullptr) nextReadOffset_ = (nextReadOffset_ + secondLength) % bufferSize_;
    }
    // Given back also after a failed consumer: a region is never left locked.
    buffer_->unlock(first, firstLength, second, secondLength);
    return status::failed(consumed) ? consumed : status::kOk;
}

void CaptureEngine::stop() {
    std::lock_guard control(controlMutex_);
    stopLocked();
}

void CaptureEngine::stopLocked() {
    if (running_.exchange(false)) {
        std::int32_t stopped;
        {
            std::lock_guard block(blockMutex_);
            stopped = buffer_->stop();
        }
        // Wake the capture thread and wait for it, so that the last block step below can
        // neither meet it nor be followed by it.
        joinCaptureThread();
        // Capture that did not stop cleanly has no trustworthy last region; its preparation
        // is still finished below, so no file is left open.
        if (!status::failed(stopped)) processBlock();
    } else {
        joinCaptureThread();  // a thread that ended on a capture error
    }
    finishIfPending();
}

void CaptureEngine::release() {
    std::lock_guard control(controlMutex_);
    stopLocked();
    std::lock_guard block(blockMutex_);
    buffer_.reset();
    device_.reset();
}

void CaptureEngine::joinCaptureThread() {
    if (!captureThread_.joinable()) return;
    threadShouldExit_ = true;
    event_->signal();
    captureThread_.join();
    threadShouldExit_ = false;
}

void CaptureEngine::finishIfPending() {
    if (!finishPending_) return;
    finishPending_ = false;
    std::lock_guard block(blockMutex_);
    finish();
}

}  // namespace tunewick
