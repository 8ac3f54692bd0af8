#include "audio/capture/CaptureRing.h"

#include <algorithm>

#include "audio/Status.h"

namespace tunewick {
namespace {

// Whether [aStart, aStart + aLength) and [bStart, bStart + bLength) meet on a ring of `size`.
bool ringRangesMeet(std::uint32_t aStart, std::uint32_t aLength, std::uint32_t bStart,
                    std::uint32_t bLength, std::uint32_t size) {
    if (aLength == 0 || bLength == 0) return false;
    // Distance from each start to the other, going forward round the ring.
    const std::uint32_t aToB = (bStart + size - aStart) % size;
    const std::uint32_t bToA = (aStart + size - bStart) % size;
    return aToB < aLength || bToA < bLength;
}

}  // namespace

CaptureRing::CaptureRing(std::uint32_t size, WaveFormat format)
    : size_(size), format_(format), bytes_(size, 128) {}

std::int32_t CaptureRing::setNotificationPositions(const std::vector<std::uint32_t>& offsets,
                                                   std::shared_ptr<NotificationEvent> event) {
    if (!event) return status::kInvalidArg;
    for (std::uint32_t offset : offsets) {
        if (offset >= size_) return status::kInvalidArg;
    }
    std::lock_guard lock(mutex_);
    offsets_ = offsets;
    event_ = std::move(event);
    return status::kOk;
}

std::vector<std::uint32_t> CaptureRing::notificationOffsets() const {
    std::lock_guard lock(mutex_);
    return offsets_;
}

void CaptureRing::setCapturing(bool capturing) {
    {
        std::lock_guard lock(mutex_);
        capturing_ = capturing;
    }
    unlocked_.notify_all();  // a delivery waiting on a locked region gives up when stopped
}

bool CaptureRing::isCapturing() const {
    std::lock_guard lock(mutex_);
    return capturing_;
}

std::size_t CaptureRing::deliver(const std::uint8_t* data, std::size_t length, std::uint8_t fill,
                                 bool evenWhenIdle) {
    std::size_t done = 0;
    std::unique_lock lock(mutex_);
    while (done < length) {
        if (!capturing_ && !evenWhenIdle) break;
        // Up to the end of the ring at most, so that each step is one linear range.
        const auto step = static_cast<std::uint32_t>(
            std::min<std::size_t>(length - done, size_ - capture_));
        if (overlapsLocked(capture_, step)) {
            unlocked_.wait(lock);
            continue;  // capturing may have changed meanwhile
        }
        if (data != nullptr) {
            std::copy_n(data + done, step, bytes_.begin() + capture_);
        } else {
            std::fill_n(bytes_.begin() + capture_, step, fill);
        }
        bool passed = false;
        for (std::uint32_t offset : offsets_) {
            if (offset >= capture_ && offset - capture_ < step) passed = true;
        }
        capture_ = (capture_ + step) % size_;
        read_ = capture_;
        done += step;
        // One wake for the whole step: the event is auto-reset, so several signals before
        // the waiter runs count as one anyway, and the block step takes the backlog.
        if (passed && event_) event_->signal();
    }
    return done;
}

void CaptureRing::positions(std::uint32_t* capture, std::uint32_t* read) const {
    std::lock_guard lock(mutex_);
    if (capture != nullptr) *capture = capture_;
    if (read != nullptr) *read = read_;
}

void CaptureRing::setPositions(std::uint32_t capture, std::uint32_t read) {
    std::lock_guard lock(mutex_);
    capture_ = capture % size_;
    read_ = read % size_;
}

void CaptureRing::setReadPosition(std::uint32_t read) {
    std::lock_guard lock(mutex_);
    read_ = read % size_;
}

void CaptureRing::signal() {
    std::shared_ptr<NotificationEvent> event;
    {
        std::lock_guard lock(mutex_);
        event = event_;
    }
    if (event) event->signal();
}

bool CaptureRing::overlapsLocked(std::uint32_t offset, std::uint32_t length) const {
    return std::any_of(locked_.begin(), locked_.end(), [&](const Locked& l) {
        return ringRangesMeet(offset, length, l.offset, l.length, size_);
    });
}

std::int32_t CaptureRing::lock(std::uint32_t offset, std::uint32_t length,
                               const std::uint8_t** first, std::uint32_t* firstLength,
                               const std::uint8_t** second, std::uint32_t* secondLength) {
    if (first == nullptr || firstLength == nullptr || second == nullptr ||
        secondLength == nullptr || offset >= size_ || length == 0 || length > size_) {
        return status::kInvalidArg;
    }
    std::lock_guard lock(mutex_);
    const std::uint32_t head = std::min(length, size_ - offset);
    *first = bytes_.data() + offset;
    *firstLength = head;
    *second = head < length ? bytes_.data() : nullptr;
    *secondLength = length - head;
    locked_.push_back(Locked{offset, length, *first});
    if (lockRequests_.size() == kRecordedLocks) lockRequests_.pop_front();
    lockRequests_.emplace_back(offset, length);
    return status::kOk;
}

std::int32_t CaptureRing::unlock(const std::uint8_t* first, std::uint32_t firstLength,
                                 const std::uint8_t* second, std::uint32_t secondLength) {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(locked_.begin(), locked_.end(), [&](const Locked& l) {
            return l.first == first && l.length == firstLength + secondLength;
        });
        if (it == locked_.end()) return status::kInvalidArg;
        if ((secondLength == 0) != (second == nullptr)) return status::kInvalidArg;
        locked_.erase(it);
    }
    unlocked_.notify_all();
    return status::kOk;
}

std::size_t CaptureRing::outstandingLocks() const {
    std::lock_guard lock(mutex_);
    return locked_.size();
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> CaptureRing::lockRequests() const {
    std::lock_guard lock(mutex_);
    return {lockRequests_.begin(), lockRequests_.end()};
}

RingCaptureBuffer::RingCaptureBuffer(std::shared_ptr<CaptureRing> ring) : ring_(std::move(ring)) {}

RingCaptureBuffer::~RingCaptureBuffer() { ring_->setCapturing(false); }

std::int32_t RingCaptureBuffer::setNotificationPositions(
    const std::vector<std::uint32_t>& offsets, std::shared_ptr<NotificationEvent> event) {
    return ring_->setNotificationPositions(offsets, std::move(event));
}

std::int32_t RingCaptureBuffer::start() {
    ring_->setCapturing(true);
    return status::kOk;
}

std::int32_t RingCaptureBuffer::stop() {
    ring_->setCapturing(false);
    return status::kOk;
}

std::int32_t RingCaptureBuffer::getCurrentPosition(std::uint32_t* capture, std::uint32_t* read) {
    ring_->positions(capture, read);
    return status::kOk;
}

std::int32_t RingCaptureBuffer::lock(std::uint32_t offset, std::uint32_t length,
                                     const std::uint8_t** first, std::uint32_t* firstLength,
                                     const std::uint8_t** second, std::uint32_t* secondLength) {
    return ring_->lock(offset, length, first, firstLength, second, secondLength);
}

std::int32_t RingCaptureBuffer::unlock(const std::uint8_t* first, std::uint32_t firstLength,
                                       const std::uint8_t* second, std::uint32_t secondLength) {
    return ring_->unlock(first, firstLength, second, secondLength);
}

WaveFormat RingCaptureBuffer::getFormat() const { return ring_->format(); }

std::uint32_t RingCaptureBuffer::size() const { return ring_->size(); }

}  // namespace tunewick
