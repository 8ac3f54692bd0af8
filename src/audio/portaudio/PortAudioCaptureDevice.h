#pragma once
// The microphone through PortAudio, as a CaptureDevice for the engines.
//
// A buffer captures float samples at a rate the device supports (the engine's own rate when
// the device offers it and it is at least 8000 Hz, else 48 kHz, else the device's default
// rate), mono or mixed down from two channels. The path of a sample:
//   PortAudio's callback -> a lock-free queue (no lock, no allocation, never blocks)
//   -> the buffer's worker thread: libsoxr to the engine's rate, quantised to unsigned 8-bit
//   -> the looping ring, which signals the notification event as capture passes each offset.
// Resampling runs on the worker, not in the callback, because soxr may grow its internal
// buffers while it works; the callback only copies and wakes the worker (an atomic flag and
// a futex wake). The stream is opened by start() and closed by stop(); stop() waits until the
// worker has delivered everything the callback was given, so it stays readable afterwards.
//
// The read position is the end of the data safe to read: everything delivered. The capture
// position is the same, as nothing is in flight inside the ring.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/portaudio/AudioDevices.h"
#include "audio/capture/CaptureDevice.h"
#include "audio/capture/CaptureResampler.h"
#include "audio/capture/CaptureRing.h"
#include "audio/capture/SpscQueue.h"

namespace tunewick {

// What a buffer's capture has seen since it was made.
struct CaptureStats {
    std::uint64_t callbacks = 0;        // PortAudio callbacks
    std::uint64_t framesIn = 0;         // frames handed to the worker
    std::uint64_t inputOverflows = 0;   // callbacks flagged with lost input (xruns)
    std::uint64_t inputUnderflows = 0;  // callbacks flagged with inserted silence
    std::uint64_t framesDropped = 0;    // frames lost because the worker fell behind
    std::uint64_t bytesOut = 0;         // bytes delivered into the ring
};

// The device format a buffer captures in.
struct DeviceCaptureFormat {
    double sampleRate = 0.0;
    int channels = 0;
};

class PortAudioCaptureBuffer final : public RingCaptureBuffer {
public:
    PortAudioCaptureBuffer(std::shared_ptr<PortAudioSession> session, AudioDeviceInfo device,
                           DeviceCaptureFormat deviceFormat, WaveFormat format,
                           std::uint32_t bufferBytes);
    ~PortAudioCaptureBuffer() override;  // stops capture: no stream or thread outlives it

    // Refused (E_FAIL) while capturing: the offsets change only between runs.
    std::int32_t setNotificationPositions(const std::vector<std::uint32_t>& offsets,
                                          std::shared_ptr<NotificationEvent> event) override;
    // Opens and starts the stream; 0 when already capturing; PortAudio's (negative) error
    // code when the device refuses, the buffer then staying idle.
    std::int32_t start() override;
    // Stops and closes the stream and waits for the worker to deliver the rest; 0.
    std::int32_t stop() override;

    CaptureStats stats() const;
    const DeviceCaptureFormat& deviceFormat() const { return deviceFormat_; }
    // When the input sample that became the byte at notification offset `offset` (the last
    // byte of a block) reached the backend, for the latest block ending there; nothing
    // before capture passed it or for an offset that is not a notification offset.
    std::optional<std::chrono::steady_clock::time_point> blockArrival(std::uint32_t offset) const;

private:
    struct ChunkMark {
        std::uint64_t endFrame;    // frames handed over up to the end of this callback
        std::int64_t arrivalNs;    // steady clock when the callback ran
    };
    friend struct PortAudioInputCallback;
    // The callback's work: count, hand the frames over, wake the worker.
    void onInput(const float* input, unsigned long frames, unsigned long flags);
    void work();
    void deliver(const std::vector<std::uint8_t>& bytes);
    std::optional<std::int64_t> arrivalOfFrame(std::uint64_t frame) const;
    void stopLocked();

    std::shared_ptr<PortAudioSession> session_;
    const AudioDeviceInfo device_;
    const DeviceCaptureFormat deviceFormat_;
    const WaveFormat format_;

    std::mutex controlMutex_;  // start, stop, notification set-up
    void* stream_ = nullptr;   // PaStream*, owned between start and stop
    std::thread worker_;

    // Callback -> worker.
    SpscQueue<float> samples_;
    SpscQueue<ChunkMark> marks_;
    std::atomic<bool> wake_{false};
    std::atomic<bool> exit_{false};
    std::atomic<std::uint64_t> framesHandedOver_{0};  // in this run: the marks count from it

    std::atomic<std::uint64_t> framesIn_{0};
    std::atomic<std::uint64_t> callbacks_{0};
    std::atomic<std::uint64_t> overflows_{0};
    std::atomic<std::uint64_t> underflows_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> bytesOut_{0};

    // Worker's own (start and stop touch them only while no worker runs).
    CaptureResampler resampler_;
    std::vector<ChunkMark> markHistory_;  // recent callbacks, oldest first
    std::uint64_t bytesDelivered_ = 0;

    std::vector<std::uint32_t> offsets_;  // changed only while idle
    std::unique_ptr<std::atomic<std::int64_t>[]> arrivals_;  // per offset; -1 unknown
};

class PortAudioCaptureDevice final : public CaptureDevice {
public:
    // Engines' factory: the input named `deviceName` (see findAudioDevice; empty: the default
    // input). Every call gives a new device object; nullptr when PortAudio finds no such
    // input. All devices of one factory share one PortAudio session.
    static CaptureDeviceFactory factory(std::string deviceName = {});

    PortAudioCaptureDevice(std::shared_ptr<PortAudioSession> session, AudioDeviceInfo device);

    // `format` must be 8-bit mono PCM with a rate, `bufferBytes` positive (E_INVALIDARG
    // otherwise); E_FAIL when the device supports no float capture at any rate tried.
    std::int32_t createCaptureBuffer(const WaveFormat& format, std::uint32_t bufferBytes,
                                     std::unique_ptr<CaptureBuffer>* buffer) override;

    const AudioDeviceInfo& info() const { return device_; }
    // The device format a buffer at `engineRate` would capture in; nothing when none works.
    std::optional<DeviceCaptureFormat> chooseFormat(std::uint32_t engineRate) const;

private:
    std::shared_ptr<PortAudioSession> session_;
    AudioDeviceInfo device_;
};

}  // namespace tunewick
