#include "audio/capture/StreamCaptureBuffer.h"

#include <algorithm>
#include <array>

#include "audio/Status.h"

namespace tunewick {
namespace {

// What the hand-over queue holds, in seconds of input: the worker may be kept from running
// for that long (a busy machine) before frames are lost.
constexpr double kQueueSeconds = 2.0;
// Deliveries remembered for mapping a sample back to its arrival; covers far more than the
// resampler's delay at any period size.
constexpr std::size_t kMarkHistory = 512;

std::int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

StreamCaptureBuffer::StreamCaptureBuffer(std::shared_ptr<SampleStream> stream, WaveFormat format,
                                         std::uint32_t bufferBytes)
    : RingCaptureBuffer(std::make_shared<CaptureRing>(bufferBytes, format)),
      stream_(std::move(stream)),
      streamRate_(stream_->sampleRate()),
      format_(format),
      samples_(static_cast<std::size_t>(streamRate_ * kQueueSeconds)),
      marks_(1024),
      resampler_(streamRate_, format.samplesPerSec) {
    markHistory_.reserve(2 * kMarkHistory);
}

StreamCaptureBuffer::~StreamCaptureBuffer() {
    std::lock_guard control(controlMutex_);
    stopLocked();
}

std::int32_t StreamCaptureBuffer::setNotificationPositions(
    const std::vector<std::uint32_t>& offsets, std::shared_ptr<NotificationEvent> event) {
    std::lock_guard control(controlMutex_);
    if (attached_) return status::kFail;
    const std::int32_t result = RingCaptureBuffer::setNotificationPositions(offsets, event);
    if (status::failed(result)) return result;
    offsets_ = offsets;
    arrivals_ = std::make_unique<std::atomic<std::int64_t>[]>(offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) arrivals_[i].store(-1);
    return result;
}

std::int32_t StreamCaptureBuffer::start() {
    std::lock_guard control(controlMutex_);
    if (attached_) return status::kOk;
    if (!resampler_.valid()) return status::kFail;

    // A new run: no worker is alive, so this thread is the queues' only user.
    ChunkMark stale{};
    while (marks_.pop(stale)) {
    }
    std::array<float, 256> discard{};
    while (samples_.pop(discard.data(), discard.size()) > 0) {
    }
    resampler_.reset();
    markHistory_.clear();
    framesHandedOver_ = 0;
    bytesDelivered_ = 0;

    ring().setCapturing(true);
    exit_ = false;
    wake_ = false;
    worker_ = std::thread([this] { work(); });
    const std::int32_t attached = stream_->attach(*this);
    attached_ = true;  // so that stopLocked() ends the worker either way
    if (status::failed(attached)) {
        stopLocked();
        return attached;
    }
    return status::kOk;
}

std::int32_t StreamCaptureBuffer::stop() {
    std::lock_guard control(controlMutex_);
    stopLocked();
    return status::kOk;
}

void StreamCaptureBuffer::stopLocked() {
    if (!attached_) return;
    stream_->detach(*this);
    attached_ = false;
    // The tap has been called for the last time; the worker delivers the rest and ends.
    exit_ = true;
    wake_ = true;
    wake_.notify_one();
    if (worker_.joinable()) worker_.join();
    ring().setCapturing(false);
}

void StreamCaptureBuffer::onSamples(const float* samples, std::size_t count, unsigned flags) {
    callbacks_.fetch_add(1, std::memory_order_relaxed);
    if ((flags & kSamplesLost) != 0) overflows_.fetch_add(1, std::memory_order_relaxed);
    if ((flags & kSamplesInserted) != 0) underflows_.fetch_add(1, std::memory_order_relaxed);

    const std::size_t handed = samples_.push(samples, count);
    if (handed < count) dropped_.fetch_add(count - handed, std::memory_order_relaxed);
    framesIn_.fetch_add(handed, std::memory_order_relaxed);
    const std::uint64_t end =
        framesHandedOver_.fetch_add(handed, std::memory_order_relaxed) + handed;
    marks_.push(ChunkMark{end, nowNanos()});  // a full queue only loses a latency mark
    if (!wake_.exchange(true, std::memory_order_acq_rel)) wake_.notify_one();
}

void StreamCaptureBuffer::work() {
    std::vector<float> samples(4096);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(8192);
    for (;;) {
        wake_.wait(false, std::memory_order_acquire);
        // An exchange, not a store: a store may pass the read of exit_ below and wipe out
        // the wake-up of a stop that came between them.
        (void)wake_.exchange(false, std::memory_order_acq_rel);
        // Read before draining: once set, the callback has run for the last time.
        const bool last = exit_.load(std::memory_order_acquire);
        for (;;) {
            const std::size_t n = samples_.pop(samples.data(), samples.size());
            ChunkMark mark{};
            while (marks_.pop(mark)) {
                // Drop the older half now and then: amortised constant, no allocation.
                if (markHistory_.size() == 2 * kMarkHistory) {
                    markHistory_.erase(markHistory_.begin(), markHistory_.begin() + kMarkHistory);
                }
                markHistory_.push_back(mark);
            }
            if (n == 0) break;
            bytes.clear();
            resampler_.process(samples.data(), n, bytes);
            deliver(bytes);
        }
        if (last) {
            bytes.clear();
            resampler_.flush(bytes);
            deliver(bytes);
            return;
        }
    }
}

void StreamCaptureBuffer::deliver(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return;
    const std::uint64_t base = bytesDelivered_;
    const std::uint64_t end = base + bytes.size();
    // Note when the samples that complete blocks arrived, before the waiter can wake.
    const std::uint32_t size = ring().size();
    for (std::size_t i = 0; i < offsets_.size(); ++i) {
        const std::uint64_t phase = base % size;
        std::uint64_t at = base + (offsets_[i] + size - phase) % size;
        std::int64_t arrival = -1;
        for (; at < end; at += size) {
            const auto frame = static_cast<std::uint64_t>(
                static_cast<double>(at) * streamRate_ / format_.samplesPerSec);
            if (auto known = arrivalOfFrame(frame)) arrival = *known;
        }
        if (arrival >= 0) arrivals_[i].store(arrival, std::memory_order_relaxed);
    }
    ring().deliver(bytes.data(), bytes.size());
    bytesDelivered_ = end;
    bytesOut_.fetch_add(bytes.size(), std::memory_order_relaxed);
}

std::optional<std::int64_t> StreamCaptureBuffer::arrivalOfFrame(std::uint64_t frame) const {
    // The first callback whose end lies past the frame is the one that brought it.
    auto it = std::upper_bound(
        markHistory_.begin(), markHistory_.end(), frame,
        [](std::uint64_t f, const ChunkMark& mark) { return f < mark.endFrame; });
    if (it == markHistory_.end()) return std::nullopt;
    return it->arrivalNs;
}

CaptureStats StreamCaptureBuffer::stats() const {
    CaptureStats s;
    s.callbacks = callbacks_.load(std::memory_order_relaxed);
    s.framesIn = framesIn_.load(std::memory_order_relaxed);
    s.inputOverflows = overflows_.load(std::memory_order_relaxed);
    s.inputUnderflows = underflows_.load(std::memory_order_relaxed);
    s.framesDropped = dropped_.load(std::memory_order_relaxed);
    s.bytesOut = bytesOut_.load(std::memory_order_relaxed);
    return s;
}

std::optional<std::chrono::steady_clock::time_point> StreamCaptureBuffer::blockArrival(
    std::uint32_t offset) const {
    for (std::size_t i = 0; i < offsets_.size(); ++i) {
        if (offsets_[i] != offset) continue;
        const std::int64_t ns = arrivals_[i].load(std::memory_order_relaxed);
        if (ns < 0) return std::nullopt;
        return std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::nanoseconds(ns)));
    }
    return std::nullopt;
}

StreamCaptureDevice::StreamCaptureDevice(std::shared_ptr<SampleStream> stream)
    : stream_(std::move(stream)) {}

std::int32_t StreamCaptureDevice::createCaptureBuffer(const WaveFormat& format,
                                                      std::uint32_t bufferBytes,
                                                      std::unique_ptr<CaptureBuffer>* buffer) {
    if (!isEngineBufferRequest(format, bufferBytes, buffer)) return status::kInvalidArg;
    *buffer = std::make_unique<StreamCaptureBuffer>(
        stream_, WaveFormat::pcm8Mono(format.samplesPerSec), bufferBytes);
    return status::kOk;
}

}  // namespace tunewick
