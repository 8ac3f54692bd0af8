#pragma once
// A capture buffer fed by the shared microphone stream: what the engines read, unsigned 8-bit
// mono at the engine's rate, made from the stream's float samples. The path of a sample:
//   the stream's delivery thread -> a lock-free queue (no lock, no allocation, never blocks)
//   -> the buffer's worker thread: libsoxr to the engine's rate, quantised to unsigned 8-bit
//   -> the looping ring, which signals the notification event as capture passes each offset.
// Resampling runs on the worker, not on the delivery thread, because soxr may grow its
// buffers while it works. start() attaches the buffer to the stream and stop() detaches it;
// stop() waits until the worker has delivered everything the stream gave, so every sample
// delivered before a stop (or before the device failed) stays readable afterwards.
//
// The read position is the end of the data safe to read: everything delivered. The capture
// position is the same, as nothing is in flight inside the ring.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "audio/capture/CaptureResampler.h"
#include "audio/capture/CaptureRing.h"
#include "audio/capture/SampleStream.h"
#include "audio/capture/SpscQueue.h"

namespace tunewick {

// What a buffer's capture has seen since it was made.
struct CaptureStats {
    std::uint64_t callbacks = 0;        // deliveries from the stream
    std::uint64_t framesIn = 0;         // frames handed to the worker
    std::uint64_t inputOverflows = 0;   // deliveries flagged with lost input (xruns)
    std::uint64_t inputUnderflows = 0;  // deliveries flagged with inserted silence
    std::uint64_t framesDropped = 0;    // frames lost because the worker fell behind
    std::uint64_t bytesOut = 0;         // bytes delivered into the ring
};

class StreamCaptureBuffer final : public RingCaptureBuffer, private SampleTap {
public:
    // `format` is 8-bit mono PCM at the engine's rate.
    StreamCaptureBuffer(std::shared_ptr<SampleStream> stream, WaveFormat format,
                        std::uint32_t bufferBytes);
    ~StreamCaptureBuffer() override;  // stops capture: no thread outlives it

    // Refused (E_FAIL) while capturing: the offsets change only between runs.
    std::int32_t setNotificationPositions(const std::vector<std::uint32_t>& offsets,
                                          std::shared_ptr<NotificationEvent> event) override;
    // Attaches to the stream; 0 when already capturing; the stream's (negative) status when
    // its device refuses, the buffer then staying idle.
    std::int32_t start() override;
    // Detaches and waits for the worker to deliver the rest; 0.
    std::int32_t stop() override;

    CaptureStats stats() const;
    DeviceCaptureFormat deviceFormat() const { return stream_->format(); }
    // When the input sample that became the byte at notification offset `offset` (the last
    // byte of a block) reached the stream, for the latest block ending there; nothing
    // before capture passed it or for an offset that is not a notification offset.
    std::optional<std::chrono::steady_clock::time_point> blockArrival(std::uint32_t offset) const;

private:
    struct ChunkMark {
        std::uint64_t endFrame;    // frames handed over up to the end of this delivery
        std::int64_t arrivalNs;    // steady clock when the delivery came
    };
    // SampleTap: count, hand the frames over, wake the worker.
    void onSamples(const float* samples, std::size_t count, unsigned flags) override;
    void work();
    void deliver(const std::vector<std::uint8_t>& bytes);
    std::optional<std::int64_t> arrivalOfFrame(std::uint64_t frame) const;
    void stopLocked();

    const std::shared_ptr<SampleStream> stream_;
    const double streamRate_;
    const WaveFormat format_;

    std::mutex controlMutex_;  // start, stop, notification set-up
    bool attached_ = false;    // under controlMutex_
    std::thread worker_;

    // Delivery thread -> worker.
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
    std::vector<ChunkMark> markHistory_;  // recent deliveries, oldest first
    std::uint64_t bytesDelivered_ = 0;

    std::vector<std::uint32_t> offsets_;  // changed only while idle
    std::unique_ptr<std::atomic<std::int64_t>[]> arrivals_;  // per offset; -1 unknown
};

// A capture device whose buffers all take their samples from one shared stream.
class StreamCaptureDevice final : public CaptureDevice {
public:
    explicit StreamCaptureDevice(std::shared_ptr<SampleStream> stream);

    // `format` must be 8-bit mono PCM with a rate, `bufferBytes` positive (E_INVALIDARG
    // otherwise).
    std::int32_t createCaptureBuffer(const WaveFormat& format, std::uint32_t bufferBytes,
                                     std::unique_ptr<CaptureBuffer>* buffer) override;
    std::shared_ptr<SampleStream> sampleStream() const override { return stream_; }

private:
    std::shared_ptr<SampleStream> stream_;
};

}  // namespace tunewick
