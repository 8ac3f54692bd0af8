#pragma once
// The looping ring behind the capture buffers of the scripted and the WAV-file devices: the
// bytes, the capture and read positions, the notification offsets and their event, and the
// regions the reader holds locked. A producer delivers bytes at the capture position; the
// event is signalled once for every notification offset the capture position passes. All
// calls are safe from any thread. The reader works on locked parts without the ring's mutex,
// so a delivery never writes into a locked region: it waits until that region is unlocked.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/capture/CaptureDevice.h"
#include "audio/capture/NotificationEvent.h"
#include "audio/WaveFormat.h"

namespace tunewick {

class CaptureRing {
public:
    CaptureRing(std::uint32_t size, WaveFormat format);

    std::uint32_t size() const { return size_; }
    const WaveFormat& format() const { return format_; }

    // E_INVALIDARG for an offset outside the ring or a null event.
    std::int32_t setNotificationPositions(const std::vector<std::uint32_t>& offsets,
                                          std::shared_ptr<NotificationEvent> event);
    std::vector<std::uint32_t> notificationOffsets() const;
    void setCapturing(bool capturing);
    bool isCapturing() const;

    // Writes `length` bytes (from `data`, or `fill` when data is null) at the capture
    // position, moves capture and read position past them, signals the passed notifications.
    // Only while capturing, unless `evenWhenIdle`; returns the number of bytes written.
    std::size_t deliver(const std::uint8_t* data, std::size_t length, std::uint8_t fill = 128,
                        bool evenWhenIdle = false);
    void positions(std::uint32_t* capture, std::uint32_t* read) const;
    void setPositions(std::uint32_t capture, std::uint32_t read);
    void setReadPosition(std::uint32_t read);
    void signal();

    std::int32_t lock(std::uint32_t offset, std::uint32_t length, const std::uint8_t** first,
                      std::uint32_t* firstLength, const std::uint8_t** second,
                      std::uint32_t* secondLength);
    // E_INVALIDARG when the parts are not those of an outstanding lock.
    std::int32_t unlock(const std::uint8_t* first, std::uint32_t firstLength,
                        const std::uint8_t* second, std::uint32_t secondLength);
    std::size_t outstandingLocks() const;
    // The latest locks (offset, length), oldest first; only the last kRecordedLocks are kept,
    // so a ring that captures for hours does not grow.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> lockRequests() const;
    static constexpr std::size_t kRecordedLocks = 256;

private:
    struct Locked {
        std::uint32_t offset;
        std::uint32_t length;
        const std::uint8_t* first;
    };
    bool overlapsLocked(std::uint32_t offset, std::uint32_t length) const;

    const std::uint32_t size_;
    const WaveFormat format_;
    mutable std::mutex mutex_;
    std::condition_variable unlocked_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint32_t> offsets_;
    std::shared_ptr<NotificationEvent> event_;
    bool capturing_ = false;
    std::uint32_t capture_ = 0;
    std::uint32_t read_ = 0;
    std::vector<Locked> locked_;
    std::deque<std::pair<std::uint32_t, std::uint32_t>> lockRequests_;
};

// A CaptureBuffer whose state is a CaptureRing shared with the device that made it.
// Destroying the buffer ends its capture.
class RingCaptureBuffer : public CaptureBuffer {
public:
    explicit RingCaptureBuffer(std::shared_ptr<CaptureRing> ring);
    ~RingCaptureBuffer() override;

    std::int32_t setNotificationPositions(const std::vector<std::uint32_t>& offsets,
                                          std::shared_ptr<NotificationEvent> event) override;
    std::int32_t start() override;
    std::int32_t stop() override;
    std::int32_t getCurrentPosition(std::uint32_t* capture, std::uint32_t* read) override;
    std::int32_t lock(std::uint32_t offset, std::uint32_t length, const std::uint8_t** first,
                      std::uint32_t* firstLength, const std::uint8_t** second,
                      std::uint32_t* secondLength) override;
    std::int32_t unlock(const std::uint8_t* first, std::uint32_t firstLength,
                        const std::uint8_t* second, std::uint32_t secondLength) override;
    WaveFormat getFormat() const override;
    std::uint32_t size() const override;

protected:
    CaptureRing& ring() const { return *ring_; }

private:
    std::shared_ptr<CaptureRing> ring_;
};

}  // namespace tunewick
