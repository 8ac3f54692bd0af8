#pragma once
// A capture device driven by a test instead of a microphone. The test keeps the device (a
// shared_ptr) and hands the engine a factory whose devices forward to it. The test then
// plays the sound card: it writes bytes at the capture position (the event is signalled as
// capture passes each notification offset), moves the positions by hand, and makes chosen
// operations fail with chosen statuses. Every call is safe from any thread, so a test
// thread may capture while the engine's capture thread reads.
//
// The "current buffer" is the one the engine made last and still holds; the driving calls
// act on it and do nothing when there is none.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "audio/capture/CaptureDevice.h"
#include "audio/WaveFormat.h"

namespace tunewick {

class CaptureRing;

class ScriptedCaptureDevice final : public CaptureDevice,
                                    public std::enable_shared_from_this<ScriptedCaptureDevice> {
public:
    enum class Operation {
        createCaptureBuffer,
        setNotificationPositions,
        start,
        stop,
        getCurrentPosition,
        lock,
        unlock,
    };

    static std::shared_ptr<ScriptedCaptureDevice> create();
    // A factory whose devices all forward to this one.
    CaptureDeviceFactory factory();
    // A factory that finds no device (a machine without a microphone).
    static CaptureDeviceFactory noDevice();

    std::int32_t createCaptureBuffer(const WaveFormat& format, std::uint32_t bufferBytes,
                                     std::unique_ptr<CaptureBuffer>* buffer) override;

    // --- Driving capture ---
    // Writes the bytes at the capture position of the current buffer (wrapping at its end),
    // moves the capture and the read position past them and signals the event once for each
    // notification offset passed. Only while the buffer captures (started, not stopped):
    // returns the number of bytes captured, 0 otherwise. Waits while the bytes would land in
    // a region the engine holds locked (as a real ring would, minus the overwrite).
    std::size_t capture(const std::uint8_t* data, std::size_t length);
    std::size_t capture(const std::vector<std::uint8_t>& bytes);
    std::size_t capture(std::size_t length, std::uint8_t value);
    // Sets the positions of the current buffer directly (modulo its size): no data, no
    // notifications. setReadPosition leaves the capture position alone.
    void setPositions(std::uint32_t capturePosition, std::uint32_t readPosition);
    void setReadPosition(std::uint32_t readPosition);
    // Signals the current buffer's event once, as a notification would.
    void signal();

    // --- Failures ---
    // The next `times` calls of `op` (every later call when `times` is negative) return
    // `status` and do nothing else.
    void fail(Operation op, std::int32_t status, int times = -1);
    void clearFailures();
    // Runs inside every successful lock(), outside the device's own mutex: lets a test hold
    // a block step in progress, or act while one runs.
    void setLockHook(std::function<void()> hook);
    // What getFormat() of the buffers made from now on reports (default: the format asked for).
    void setActualFormat(std::optional<WaveFormat> format);

    // --- Observation ---
    bool hasBuffer() const;
    bool isCapturing() const;
    std::size_t buffersCreated() const;
    std::size_t calls(Operation op) const;  // every call, failed or not
    WaveFormat requestedFormat() const;     // of the last buffer asked for
    std::uint32_t bufferSize() const;       // of the current buffer; 0 without one
    std::vector<std::uint32_t> notificationOffsets() const;
    std::uint32_t capturePosition() const;
    std::uint32_t readPosition() const;
    std::size_t outstandingLocks() const;  // locked and not yet unlocked, current buffer
    // (offset, length) of every successful lock of the current buffer, in order.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> lockRequests() const;

    // Used by this device's buffers: the status an operation is to fail with (0: go on).
    std::int32_t checkFailure(Operation op);
    void runLockHook();

private:
    ScriptedCaptureDevice() = default;
    std::shared_ptr<CaptureRing> current() const;

    struct Failure {
        std::int32_t status = 0;
        int remaining = 0;  // negative: always
    };

    mutable std::mutex mutex_;
    std::weak_ptr<CaptureRing> current_;
    std::vector<std::pair<Operation, Failure>> failures_;
    std::vector<std::pair<Operation, std::size_t>> calls_;
    std::function<void()> lockHook_;
    std::optional<WaveFormat> actualFormat_;
    WaveFormat requestedFormat_{};
    std::size_t buffersCreated_ = 0;
};

}  // namespace tunewick
