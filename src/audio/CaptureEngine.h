#pragma once
// The capture pattern shared by the recognizer, the tuner and the recorder: a device opened
// at initialisation, a looping buffer cut into equal blocks per start, a capture thread that
// wakes at the end of each block and runs the block step, and a stop that wakes and joins
// that thread before taking what is left. Subclasses give the per-start preparation, the
// consumer of a region and the finish.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/CaptureDevice.h"
#include "audio/NotificationEvent.h"
#include "audio/WaveFormat.h"
#include "bridge/Reporter.h"

namespace tunewick {

struct CaptureConfig {
    std::uint32_t sampleRate = 0;         // = bytes per second (8-bit mono)
    std::uint32_t blockSize = 0;          // 0: the recorder's rule (avg/8 above 8191, else 1024)
    std::uint32_t notificationCount = 0;  // blocks in the buffer
};

class CaptureEngine {
public:
    CaptureEngine(CaptureConfig config, CaptureDeviceFactory openDevice, Reporter& reporter);
    virtual ~CaptureEngine();  // subclasses call stop() and release() in their destructors
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Opens the device; 1 when there is none (a later start then fails without a device).
    std::int32_t initialize();
    // Idle -> running: a new buffer, the preparation, the capture thread, looping capture.
    // 0 and nothing done when already running.
    std::int32_t start();
    // Running -> idle: stops capture, wakes and joins the capture thread, runs the block step
    // once more on this thread, then the finish. Nothing while idle.
    void stop();
    // Releases buffer and device (stops first if running).
    void release();
    // The block step: takes every whole block captured since the last one. 0 after a region
    // was consumed, 1 when nothing was ready, negative on a failure. Never runs twice at once.
    std::int32_t processBlock();

    bool isRunning() const { return running_.load(); }
    bool hasDevice() const;
    std::uint32_t blockSize() const { return blockSize_; }
    std::uint32_t bufferSize() const { return bufferSize_; }
    std::uint32_t nextReadOffset() const { return nextReadOffset_; }
    const WaveFormat& format() const { return format_; }

protected:
    // After the buffer is made, before capture starts; a negative status aborts the start.
    virtual std::int32_t prepareStart() { return 0; }
    // Whether the block step may run (the recorder needs an open writer).
    virtual bool canProcess() const { return true; }
    // Consumes a locked region: whole blocks, the first part at least one block long.
    // A negative status is returned by the block step.
    virtual std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                                 const std::uint8_t* second, std::uint32_t secondLength) = 0;
    // After a stop's last block step succeeded.
    virtual void finish() {}

    CaptureBuffer* captureBuffer() const { return buffer_.get(); }
    Reporter& reporter() const { return reporter_; }

private:
    std::int32_t createCaptureBuffer();
    std::int32_t setUpNotifications();
    void captureLoop();
    void joinCaptureThread();

    CaptureConfig config_;
    CaptureDeviceFactory openDevice_;
    Reporter& reporter_;
    std::unique_ptr<CaptureDevice> device_;
    std::unique_ptr<CaptureBuffer> buffer_;
    std::shared_ptr<NotificationEvent> event_ = std::make_shared<NotificationEvent>();
    std::atomic<bool> running_{false};
    std::atomic<bool> threadShouldExit_{false};
    WaveFormat format_{};
    std::uint32_t bufferSize_ = 0;
    std::uint32_t blockSize_ = 0;
    std::uint32_t nextReadOffset_ = 0;
    std::mutex blockMutex_;  // one block step at a time
    std::thread captureThread_;
};

}  // namespace tunewick
