#include "audio/capture/WavFileCaptureDevice.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>

#include "audio/capture/CaptureRing.h"
#include "audio/capture/FileSampleStream.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/Status.h"

namespace tunewick {
namespace {

// Longest file we decode: samples after mixing to mono (about 1.5 hours at 48 kHz).
constexpr std::uint64_t kMaxFrames = std::uint64_t{1} << 28;

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

struct SoxrDeleter {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};

std::uint8_t quantise(float sample) {
    // [-1, 1) -> 0..255 with silence at 128: the inverse of reading unsigned 8-bit PCM.
    const long value = std::lround(static_cast<double>(sample) * 128.0) + 128;
    return static_cast<std::uint8_t>(std::clamp<long>(value, 0, 255));
}

// Stepped mode's buffer: capture moves only when the device's advance() delivers.
class SteppedCaptureBuffer final : public RingCaptureBuffer {
public:
    explicit SteppedCaptureBuffer(std::shared_ptr<CaptureRing> ring)
        : RingCaptureBuffer(ring), ring_(std::move(ring)) {}
    ~SteppedCaptureBuffer() override { stop(); }

    std::int32_t start() override {
        ring_->setCapturing(true);
        return status::kOk;
    }
    std::int32_t stop() override {
        ring_->setCapturing(false);
        return status::kOk;
    }

private:
    std::shared_ptr<CaptureRing> ring_;
};

}  // namespace

std::shared_ptr<WavFileCaptureDevice> WavFileCaptureDevice::open(const std::string& path,
                                                                 Mode mode, std::string* error) {
    auto fail = [&](const std::string& why) -> std::shared_ptr<WavFileCaptureDevice> {
        if (error != nullptr) *error = "Cannot read the sound file \"" + path + "\": " + why;
        return nullptr;
    };
    SF_INFO info{};
    SndFilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) return fail(sf_strerror(nullptr));
    if (info.channels <= 0 || info.samplerate <= 0) return fail("it has no sound");
    if (info.frames < 0 || static_cast<std::uint64_t>(info.frames) > kMaxFrames) {
        return fail("it is too long");
    }

    std::shared_ptr<WavFileCaptureDevice> device(new WavFileCaptureDevice());
    device->mode_ = mode;
    device->path_ = path;
    device->fileRate_ = static_cast<std::uint32_t>(info.samplerate);
    device->fileChannels_ = info.channels;
    device->fileIsUnsigned8Mono_ =
        info.channels == 1 && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8;

    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> mono;
    if (device->fileIsUnsigned8Mono_) {
        // The bytes exactly as stored: this file needs no conversion at its own rate.
        device->rawBytes_.resize(static_cast<std::size_t>(info.frames));
        const sf_count_t got = sf_read_raw(file.get(), device->rawBytes_.data(),
                                           static_cast<sf_count_t>(device->rawBytes_.size()));
        if (got < 0) return fail(sf_strerror(file.get()));
        device->rawBytes_.resize(static_cast<std::size_t>(got));
        mono.reserve(device->rawBytes_.size());
        for (std::uint8_t b : device->rawBytes_) {
            mono.push_back(static_cast<float>(static_cast<int>(b) - 128) / 128.0f);
        }
    } else {
        constexpr sf_count_t kChunkFrames = 4096;
        std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
        mono.reserve(static_cast<std::size_t>(info.frames));
        for (;;) {
            const sf_count_t got = sf_readf_float(file.get(), chunk.data(), kChunkFrames);
            if (got <= 0) break;
            for (sf_count_t f = 0; f < got; ++f) {
                // Mixed by averaging, so that a full-scale stereo file cannot clip.
                double sum = 0.0;
                for (std::size_t c = 0; c < channels; ++c) {
                    sum += chunk[static_cast<std::size_t>(f) * channels + c];
                }
                mono.push_back(static_cast<float>(sum / static_cast<double>(channels)));
            }
        }
        if (sf_error(file.get()) != SF_ERR_NO_ERROR) return fail(sf_strerror(file.get()));
    }
    device->mono_ = std::make_shared<const std::vector<float>>(std::move(mono));
    if (mode == Mode::realTime) {
        device->stream_ = std::make_shared<FileSampleStream>(device->mono_, info.samplerate);
    }
    return device;
}

CaptureDeviceFactory WavFileCaptureDevice::factory() {
    return sharedDeviceFactory(shared_from_this());
}

std::uint64_t WavFileCaptureDevice::fileFrames() const { return mono_->size(); }

std::shared_ptr<const std::vector<std::uint8_t>> WavFileCaptureDevice::bytesAt(
    std::uint32_t rate) {
    if (rate == 0) return nullptr;
    std::lock_guard lock(mutex_);
    if (auto it = byRate_.find(rate); it != byRate_.end()) return it->second;

    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    if (rate == fileRate_ && fileIsUnsigned8Mono_) {
        *bytes = rawBytes_;
    } else if (rate == fileRate_) {
        bytes->reserve(mono_->size());
        for (float sample : *mono_) bytes->push_back(quantise(sample));
    } else if (!mono_->empty()) {
        const double ratio = static_cast<double>(rate) / static_cast<double>(fileRate_);
        std::vector<float> out(static_cast<std::size_t>(std::ceil(static_cast<double>(mono_->size()) * ratio)) + 64);
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        // High quality: a steep anti-aliasing filter, so nothing above the new Nyquist
        // frequency folds into what the engines analyse.
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t problem =
            soxr_oneshot(fileRate_, rate, 1, mono_->data(), mono_->size(), &used, out.data(),
                         out.size(), &made, &io, &quality, nullptr);
        if (problem != nullptr) return nullptr;
        bytes->reserve(made);
        for (std::size_t i = 0; i < made; ++i) bytes->push_back(quantise(out[i]));
    }
    byRate_.emplace(rate, bytes);
    return bytes;
}

std::uint64_t WavFileCaptureDevice::totalBytes(std::uint32_t rate) {
    auto bytes = bytesAt(rate);
    return bytes ? bytes->size() : 0;
}

std::uint64_t WavFileCaptureDevice::totalBytes() const {
    std::lock_guard lock(mutex_);
    return currentBytes_ ? currentBytes_->size() : 0;
}

std::int32_t WavFileCaptureDevice::createCaptureBuffer(const WaveFormat& format,
                                                       std::uint32_t bufferBytes,
                                                       std::unique_ptr<CaptureBuffer>* buffer) {
    if (!isEngineBufferRequest(format, bufferBytes, buffer)) return status::kInvalidArg;
    if (stream_) {
        *buffer = std::make_unique<StreamCaptureBuffer>(
            stream_, WaveFormat::pcm8Mono(format.samplesPerSec), bufferBytes);
        return status::kOk;
    }
    auto bytes = bytesAt(format.samplesPerSec);
    if (!bytes) return status::kFail;
    auto ring = std::make_shared<CaptureRing>(bufferBytes, format);
    {
        std::lock_guard lock(mutex_);
        current_ = ring;
        currentBytes_ = bytes;
        delivered_ = 0;
    }
    *buffer = std::make_unique<SteppedCaptureBuffer>(std::move(ring));
    return status::kOk;
}

std::shared_ptr<CaptureRing> WavFileCaptureDevice::current() const {
    std::lock_guard lock(mutex_);
    return current_.lock();
}

std::uint32_t WavFileCaptureDevice::advance(std::uint32_t bytes) {
    if (mode_ != Mode::stepped) return 0;
    std::lock_guard step(stepMutex_);
    std::shared_ptr<CaptureRing> ring;
    std::shared_ptr<const std::vector<std::uint8_t>> source;
    std::uint64_t from = 0;
    {
        std::lock_guard lock(mutex_);
        ring = current_.lock();
        source = currentBytes_;
        from = delivered_;
    }
    if (!ring || !source || from >= source->size()) return 0;
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes, source->size() - from));
    // Delivered outside our mutex: the ring may wait for the engine to unlock a region.
    const std::size_t done = ring->deliver(source->data() + from, count);
    {
        std::lock_guard lock(mutex_);
        if (current_.lock() == ring) delivered_ = from + done;
    }
    return static_cast<std::uint32_t>(done);
}

std::uint64_t WavFileCaptureDevice::delivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

}  // namespace tunewick
