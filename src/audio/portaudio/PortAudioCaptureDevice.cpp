#include "audio/portaudio/PortAudioCaptureDevice.h"

#include <portaudio.h>

#include <algorithm>
#include <array>

#include "audio/Status.h"

namespace tunewick {
namespace {

// What the hand-over queue holds, in seconds of input: the worker may be kept from running
// for that long (a busy machine) before frames are lost.
constexpr double kQueueSeconds = 2.0;
// Callbacks remembered for mapping a sample back to its arrival; covers far more than the
// resampler's delay at any callback size.
constexpr std::size_t kMarkHistory = 512;

std::int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PaStream* asStream(void* stream) { return static_cast<PaStream*>(stream); }

}  // namespace

struct PortAudioInputCallback {
    static int call(const void* input, void*, unsigned long frames,
                    const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* self) {
        static_cast<PortAudioCaptureBuffer*>(self)->onInput(static_cast<const float*>(input),
                                                            frames, flags);
        return paContinue;
    }
};

PortAudioCaptureBuffer::PortAudioCaptureBuffer(std::shared_ptr<PortAudioSession> session,
                                               AudioDeviceInfo device,
                                               DeviceCaptureFormat deviceFormat,
                                               WaveFormat format, std::uint32_t bufferBytes)
    : RingCaptureBuffer(std::make_shared<CaptureRing>(bufferBytes, format)),
      session_(std::move(session)),
      device_(std::move(device)),
      deviceFormat_(deviceFormat),
      format_(format),
      samples_(static_cast<std::size_t>(deviceFormat.sampleRate * kQueueSeconds)),
      marks_(1024),
      resampler_(deviceFormat.sampleRate, format.samplesPerSec) {
    markHistory_.reserve(2 * kMarkHistory);
}

PortAudioCaptureBuffer::~PortAudioCaptureBuffer() {
    std::lock_guard control(controlMutex_);
    stopLocked();
}

std::int32_t PortAudioCaptureBuffer::setNotificationPositions(
    const std::vector<std::uint32_t>& offsets, std::shared_ptr<NotificationEvent> event) {
    std::lock_guard control(controlMutex_);
    if (stream_ != nullptr) return status::kFail;
    const std::int32_t result = RingCaptureBuffer::setNotificationPositions(offsets, event);
    if (status::failed(result)) return result;
    offsets_ = offsets;
    arrivals_ = std::make_unique<std::atomic<std::int64_t>[]>(offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) arrivals_[i].store(-1);
    return result;
}

std::int32_t PortAudioCaptureBuffer::start() {
    std::lock_guard control(controlMutex_);
    if (stream_ != nullptr) return status::kOk;
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

    PaStreamParameters input{};
    input.device = device_.index;
    input.channelCount = deviceFormat_.channels;
    input.sampleFormat = paFloat32;
    input.suggestedLatency = device_.defaultLowInputLatency;
    PaStream* stream = nullptr;
    {
        std::lock_guard pa(portAudioMutex());
        const PaError opened =
            Pa_OpenStream(&stream, &input, nullptr, deviceFormat_.sampleRate,
                          paFramesPerBufferUnspecified, paClipOff | paDitherOff,
                          &PortAudioInputCallback::call, this);
        if (opened != paNoError) return opened;
    }
    stream_ = stream;
    ring().setCapturing(true);
    exit_ = false;
    wake_ = false;
    worker_ = std::thread([this] { work(); });

    PaError started = paNoError;
    {
        std::lock_guard pa(portAudioMutex());
        started = Pa_StartStream(stream);
    }
    if (started != paNoError) {
        stopLocked();
        return started;
    }
    return status::kOk;
}

std::int32_t PortAudioCaptureBuffer::stop() {
    std::lock_guard control(controlMutex_);
    stopLocked();
    return status::kOk;
}

void PortAudioCaptureBuffer::stopLocked() {
    if (stream_ == nullptr) return;
    {
        std::lock_guard pa(portAudioMutex());
        // Abort, not stop: ALSA's pulse plugin can take seconds to stop a capture stream
        // gracefully, and all that would bring is the few milliseconds still in the device.
        Pa_AbortStream(asStream(stream_));
        Pa_CloseStream(asStream(stream_));
    }
    stream_ = nullptr;
    // The callback has run for the last time; the worker delivers the rest and ends.
    exit_ = true;
    wake_ = true;
    wake_.notify_one();
    if (worker_.joinable()) worker_.join();
    ring().setCapturing(false);
}

void PortAudioCaptureBuffer::onInput(const float* input, unsigned long frames,
                                     unsigned long flags) {
    callbacks_.fetch_add(1, std::memory_order_relaxed);
    if ((flags & paInputOverflow) != 0) overflows_.fetch_add(1, std::memory_order_relaxed);
    if ((flags & paInputUnderflow) != 0) underflows_.fetch_add(1, std::memory_order_relaxed);

    const int channels = deviceFormat_.channels;
    std::size_t handed = 0;
    std::array<float, 256> mono{};
    unsigned long done = 0;
    while (done < frames) {
        const auto n = static_cast<std::size_t>(std::min<unsigned long>(frames - done, mono.size()));
        for (std::size_t i = 0; i < n; ++i) {
            if (input == nullptr) {
                mono[i] = 0.0f;  // the device gave no data for this period: silence
                continue;
            }
            const float* frame = input + (done + i) * static_cast<unsigned long>(channels);
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c) sum += frame[c];
            mono[i] = sum / static_cast<float>(channels);
        }
        const std::size_t pushed = samples_.push(mono.data(), n);
        handed += pushed;
        if (pushed < n) dropped_.fetch_add(n - pushed, std::memory_order_relaxed);
        done += static_cast<unsigned long>(n);
    }
    framesIn_.fetch_add(handed, std::memory_order_relaxed);
    const std::uint64_t end =
        framesHandedOver_.fetch_add(handed, std::memory_order_relaxed) + handed;
    marks_.push(ChunkMark{end, nowNanos()});  // a full queue only loses a latency mark
    if (!wake_.exchange(true, std::memory_order_acq_rel)) wake_.notify_one();
}

void PortAudioCaptureBuffer::work() {
    std::vector<float> samples(4096);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(8192);
    for (;;) {
        wake_.wait(false, std::memory_order_acquire);
        wake_.store(false, std::memory_order_release);
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

void PortAudioCaptureBuffer::deliver(const std::vector<std::uint8_t>& bytes) {
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
                static_cast<double>(at) * deviceFormat_.sampleRate / format_.samplesPerSec);
            if (auto known = arrivalOfFrame(frame)) arrival = *known;
        }
        if (arrival >= 0) arrivals_[i].store(arrival, std::memory_order_relaxed);
    }
    ring().deliver(bytes.data(), bytes.size());
    bytesDelivered_ = end;
    bytesOut_.fetch_add(bytes.size(), std::memory_order_relaxed);
}

std::optional<std::int64_t> PortAudioCaptureBuffer::arrivalOfFrame(std::uint64_t frame) const {
    // The first callback whose end lies past the frame is the one that brought it.
    auto it = std::upper_bound(
        markHistory_.begin(), markHistory_.end(), frame,
        [](std::uint64_t f, const ChunkMark& mark) { return f < mark.endFrame; });
    if (it == markHistory_.end()) return std::nullopt;
    return it->arrivalNs;
}

CaptureStats PortAudioCaptureBuffer::stats() const {
    CaptureStats s;
    s.callbacks = callbacks_.load(std::memory_order_relaxed);
    s.framesIn = framesIn_.load(std::memory_order_relaxed);
    s.inputOverflows = overflows_.load(std::memory_order_relaxed);
    s.inputUnderflows = underflows_.load(std::memory_order_relaxed);
    s.framesDropped = dropped_.load(std::memory_order_relaxed);
    s.bytesOut = bytesOut_.load(std::memory_order_relaxed);
    return s;
}

std::optional<std::chrono::steady_clock::time_point> PortAudioCaptureBuffer::blockArrival(
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

PortAudioCaptureDevice::PortAudioCaptureDevice(std::shared_ptr<PortAudioSession> session,
                                               AudioDeviceInfo device)
    : session_(std::move(session)), device_(std::move(device)) {}

std::optional<DeviceCaptureFormat> PortAudioCaptureDevice::chooseFormat(
    std::uint32_t engineRate) const {
    std::vector<double> rates;
    // Below 8000 Hz few devices work, and those that do might not filter well; soxr does.
    // Then 48 kHz, most devices' and sound servers' own rate (no second resampling on the
    // way) and the one soxr holds back least on the way down to 2048 Hz.
    if (engineRate >= 8000) rates.push_back(engineRate);
    for (double rate : {48000.0, device_.defaultSampleRate, 44100.0}) {
        if (rate > 0.0 && std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            rates.push_back(rate);
        }
    }
    std::vector<int> channelCounts{1};
    if (device_.maxInputChannels >= 2) channelCounts.push_back(2);
    std::lock_guard pa(portAudioMutex());
    for (double rate : rates) {
        for (int channels : channelCounts) {
            PaStreamParameters input{};
            input.device = device_.index;
            input.channelCount = channels;
            input.sampleFormat = paFloat32;
            input.suggestedLatency = device_.defaultLowInputLatency;
            if (Pa_IsFormatSupported(&input, nullptr, rate) == paFormatIsSupported) {
                return DeviceCaptureFormat{rate, channels};
            }
        }
    }
    return std::nullopt;
}

std::int32_t PortAudioCaptureDevice::createCaptureBuffer(const WaveFormat& format,
                                                         std::uint32_t bufferBytes,
                                                         std::unique_ptr<CaptureBuffer>* buffer) {
    if (buffer == nullptr || bufferBytes == 0 || format.formatTag != 1 || format.channels != 1 ||
        format.bitsPerSample != 8 || format.samplesPerSec == 0) {
        return status::kInvalidArg;
    }
    const auto chosen = chooseFormat(format.samplesPerSec);
    if (!chosen) return status::kFail;
    *buffer = std::make_unique<PortAudioCaptureBuffer>(session_, device_, *chosen,
                                                       WaveFormat::pcm8Mono(format.samplesPerSec),
                                                       bufferBytes);
    return status::kOk;
}

CaptureDeviceFactory PortAudioCaptureDevice::factory(std::string deviceName) {
    struct Shared {
        std::mutex mutex;
        std::shared_ptr<PortAudioSession> session;
    };
    auto shared = std::make_shared<Shared>();
    return [shared, name = std::move(deviceName)]() -> std::unique_ptr<CaptureDevice> {
        std::lock_guard lock(shared->mutex);
        // One session (and one scan of the devices' list) for all the engines.
        if (!shared->session) shared->session = std::make_shared<PortAudioSession>();
        const auto found =
            findAudioDevice(listAudioDevices(*shared->session), AudioDirection::input, name);
        if (!found) return nullptr;
        return std::make_unique<PortAudioCaptureDevice>(shared->session, *found);
    };
}

}  // namespace tunewick
