#pragma once
// The capture pattern shared by the recognizer, the tuner and the recorder: a device opened
// at initialisation, a looping buffer cut into equal blocks per start, a capture thread that
// wakes at the end of each block and runs the block step, and a stop that wakes and joins
// that thread before taking what is left. Subclasses give the per-start preparation, the
// consumer of a region and the finish.
//
// Threads: start(), stop() and release() belong to the owner's thread (they are serialised
// among themselves all the same). processBlock() may also be called from any thread while
// the engine runs; block steps never overlap, and the hooks prepareStart(), consume() and
// finish() never run at the same time as each other.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/capture/CaptureDevice.h"
#include "audio/capture/NotificationEvent.h"
#include "audio/WaveFormat.h"
#include "bridge/Reporter.h"

namespace tunewick {

struct CaptureConfig {
    std::uint32_t sampleRate = 0;         // = bytes per second (8-bit mono)
    std::uint32_t blockSize = 0;          // 0: the recorder's rule (avg/8 above 8191, else 1024)
    std::uint32_t notificationCount = 0;  // blocks in the buffer

    // The three engines: half-second blocks of 16 s, one-second blocks of 32 s, and
    // eighth-of-a-second blocks (the rule gives 5512 bytes) of 2 s.
    static constexpr CaptureConfig recognizer() { return {2048, 1024, 32}; }
    static constexpr CaptureConfig tuner() { return {2048, 2048, 32}; }
    static constexpr CaptureConfig recorder() { return {44100, 0, 16}; }
};

class CaptureEngine {
public:
    // The report a block step that fails on the capture thread gives before the thread ends.
    static constexpr const char* kCaptureErrorCaption = "DirectSound Sample";
    static constexpr const char* kCaptureErrorText =
        "Error handling DirectSound notifications. Sample will now exit.";

    CaptureEngine(CaptureConfig config, CaptureDeviceFactory openDevice, Reporter& reporter);
    // Ends a capture thread that is still alive. Subclasses call stop() and release() in their
    // own destructors, so that finish() still runs as theirs.
    virtual ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // The recorder's rule: a block of an eighth of a second above 8191 bytes per second, else
    // 1024 bytes; a whole multiple of the block alignment either way.
    static std::uint32_t blockSizeFor(const WaveFormat& format);

    // Opens the device; 1 when there is none (a later start then fails with a negative
    // status without touching any device), 0 otherwise.
    std::int32_t initialize();
    // Idle -> running: a new buffer, the preparation, the capture thread, looping capture.
    // 0 and nothing done when already running. On a failure the engine stays idle, with no
    // thread, and the status is returned.
    std::int32_t start();
    // Running -> idle: stops capture, wakes and joins the capture thread, runs the block step
    // once more on this thread, then the finish. While idle it only collects what an earlier
    // failure left behind (a capture thread that ended on an error, a finish not yet run);
    // finish() runs exactly once for every successful start.
    void stop();
    // Stops if running, then releases buffer and device; a later start fails (no device).
    void release();
    // The block step: takes every whole block captured since the last one. 0 after a region
    // was consumed, 1 when nothing was ready, negative on a failure. Never runs twice at once.
    std::int32_t processBlock();

    bool isRunning() const { return running_.load(); }
    bool hasDevice() const;
    std::uint32_t blockSize() const { return blockSize_; }
    std::uint32_t bufferSize() const { return bufferSize_; }
    std::uint32_t nextReadOffset() const;
    const WaveFormat& format() const { return format_; }

protected:
    // After the buffer is made, before capture starts; a negative status aborts the start (a
    // preparation that fails cleans up after itself: finish() is not called for it).
    virtual std::int32_t prepareStart() { return 0; }
    // Whether the block step may run (the recorder needs an open writer).
    virtual bool canProcess() const { return true; }
    // Consumes a locked region: whole blocks, the first part at least one block long, the
    // second part null and 0 unless the region wraps. A negative status is returned by the
    // block step (the region is given back all the same).
    virtual std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                                 const std::uint8_t* second, std::uint32_t secondLength) = 0;
    // Once after every successful start: after the stop's last block step, or, when capture
    // failed, at the next stop, start or release.
    virtual void finish() {}

    CaptureBuffer* captureBuffer() const { return buffer_.get(); }
    Reporter& reporter() const { return reporter_; }

private:
    std::int32_t createCaptureBuffer();
    std::int32_t setUpNotifications();
    void captureLoop();
    void joinCaptureThread();
    void stopLocked();
    void finishIfPending();

    CaptureConfig config_;
    CaptureDeviceFactory openDevice_;
    Reporter& reporter_;
    std::unique_ptr<CaptureDevice> device_;
    std::unique_ptr<CaptureBuffer> buffer_;
    std::shared_ptr<NotificationEvent> event_ = std::make_shared<NotificationEvent>();
    std::atomic<bool> running_{false};
    std::atomic<bool> threadShouldExit_{false};
    bool finishPending_ = false;  // owner's thread only
    WaveFormat format_{};
    std::uint32_t bufferSize_ = 0;
    std::uint32_t blockSize_ = 0;
    std::uint32_t nextReadOffset_ = 0;
    std::mutex controlMutex_;        // start, stop, release
    mutable std::mutex blockMutex_;  // one block step (or hook) at a time
    std::thread captureThread_;
};

}  // namespace tunewick
