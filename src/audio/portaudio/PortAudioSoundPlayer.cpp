#include "audio/portaudio/PortAudioSoundPlayer.h"

#include <portaudio.h>
#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace tunewick {
namespace {

// A chunk of 20 ms: the longest a purge waits for the thread to notice it.
constexpr double kChunkSeconds = 0.02;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct SoxrDeleter {
    void operator()(soxr* resampler) const { soxr_delete(resampler); }
};

// An open output stream, closed (after an abort unless drained) when it goes.
class OutputStream {
public:
    OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;
    ~OutputStream() { close(); }

    PaError open(const PaStreamParameters& params, double rate, unsigned long frames) {
        const auto pa = holdPortAudio();
        if (!pa.owns_lock()) return paTimedOut;
        PaError error = Pa_OpenStream(&stream_, nullptr, &params, rate, frames, paClipOff,
                                      nullptr, nullptr);
        if (error != paNoError) {
            stream_ = nullptr;
            return error;
        }
        error = Pa_StartStream(stream_);
        if (error != paNoError) {
            Pa_CloseStream(stream_);
            stream_ = nullptr;
        }
        return error;
    }
    // Blocks only until the device has room: at most about its latency.
    bool write(const float* frames, unsigned long count) {
        const PaError error = Pa_WriteStream(stream_, frames, count);
        return error == paNoError || error == paOutputUnderflowed;
    }
    // How long sound written now takes to come out, in seconds.
    double latency() const {
        const PaStreamInfo* info = Pa_GetStreamInfo(stream_);
        return info != nullptr ? info->outputLatency : 0.0;
    }
    // Cuts off whatever is still queued and closes. (A graceful Pa_StopStream can take
    // seconds on ALSA's pulse plugin, with PortAudio held; the player drains by itself.)
    void close() {
        if (stream_ == nullptr) return;
        const auto pa = holdPortAudio();
        if (!pa.owns_lock()) {
            // Whoever holds PortAudio is stuck in it: better a stream left open than a
            // player (and the program's exit) waiting for it for good.
            stream_ = nullptr;
            return;
        }
        Pa_AbortStream(stream_);
        Pa_CloseStream(stream_);
        stream_ = nullptr;
    }

private:
    PaStream* stream_ = nullptr;
};

bool supports(const PaStreamParameters& params, double rate) {
    const auto pa = holdPortAudio();
    return pa.owns_lock() && Pa_IsFormatSupported(nullptr, &params, rate) == paFormatIsSupported;
}

// File frames (fileChannels wide) to device frames (outChannels wide): one channel is the
// mean of all; otherwise channel c takes file channel c, a mono file feeding both.
void mapChannels(const float* in, std::size_t frames, int fileChannels, int outChannels,
                 std::vector<float>& out) {
    out.resize(frames * static_cast<std::size_t>(outChannels));
    for (std::size_t f = 0; f < frames; ++f) {
        const float* frame = in + f * static_cast<std::size_t>(fileChannels);
        float* target = out.data() + f * static_cast<std::size_t>(outChannels);
        if (outChannels == 1) {
            float sum = 0.0f;
            for (int c = 0; c < fileChannels; ++c) sum += frame[c];
            target[0] = sum / static_cast<float>(fileChannels);
        } else {
            for (int c = 0; c < outChannels; ++c) target[c] = frame[c % fileChannels];
        }
    }
}

}  // namespace

PortAudioSoundPlayer::PortAudioSoundPlayer(std::string outputDeviceName)
    : deviceName_(std::move(outputDeviceName)), thread_([this] { run(); }) {}

PortAudioSoundPlayer::~PortAudioSoundPlayer() {
    {
        std::lock_guard lock(mutex_);
        request_.reset();
        exit_ = true;
        ++generation_;
    }
    wake_.notify_all();
    thread_.join();
}

void PortAudioSoundPlayer::play(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        request_ = path;
        ++generation_;
    }
    wake_.notify_all();
}

void PortAudioSoundPlayer::purge() {
    {
        std::lock_guard lock(mutex_);
        request_.reset();
        ++generation_;
    }
    wake_.notify_all();
}

bool PortAudioSoundPlayer::busy() const {
    std::lock_guard lock(mutex_);
    return playing_ || request_.has_value();
}

bool PortAudioSoundPlayer::waitIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return !playing_ && !request_; });
}

bool PortAudioSoundPlayer::cancelled(std::uint64_t generation) const {
    return exit_.load() || generation_.load() != generation;
}

void PortAudioSoundPlayer::run() {
    std::unique_ptr<PortAudioSession> session;
    std::optional<AudioDeviceInfo> device;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return exit_.load() || request_.has_value(); });
        if (exit_) break;
        const std::string path = std::move(*request_);
        request_.reset();
        const std::uint64_t generation = generation_.load();
        playing_ = true;
        lock.unlock();
        if (!device) {  // first play, or PortAudio was not to be had last time
            session.reset();
            session = std::make_unique<PortAudioSession>();
            device = findAudioDevice(listAudioDevices(*session), AudioDirection::output,
                                     deviceName_);
        }
        if (device) playFile(*device, path, generation);
        lock.lock();
        playing_ = false;
        idle_.notify_all();
    }
    playing_ = false;
    idle_.notify_all();
}

void PortAudioSoundPlayer::playFile(const AudioDeviceInfo& device, const std::string& path,
                                    std::uint64_t generation) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file || info.channels <= 0 || info.samplerate <= 0) return;

    PaStreamParameters params{};
    params.device = device.index;
    params.channelCount = std::min({info.channels, 2, device.maxOutputChannels});
    params.sampleFormat = paFloat32;
    params.suggestedLatency = device.defaultHighOutputLatency;
    if (params.channelCount < 1) return;

    const auto fileRate = static_cast<double>(info.samplerate);
    double rate = fileRate;
    std::unique_ptr<soxr, SoxrDeleter> resampler;
    if (!supports(params, fileRate)) {
        rate = device.defaultSampleRate;
        if (!(rate > 0.0) || !supports(params, rate)) return;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t error = nullptr;
        resampler.reset(soxr_create(fileRate, rate,
                                    static_cast<unsigned>(params.channelCount), &error, &io,
                                    &quality, nullptr));
        if (error != nullptr || !resampler) return;
    }
    if (cancelled(generation)) return;

    const auto chunk = static_cast<sf_count_t>(std::max(64.0, fileRate * kChunkSeconds));
    OutputStream stream;
    if (stream.open(params, rate, paFramesPerBufferUnspecified) != paNoError) return;
    ++playsStarted_;

    const int channels = params.channelCount;
    std::vector<float> fileFrames(static_cast<std::size_t>(chunk * info.channels));
    std::vector<float> mapped;
    std::vector<float> resampled;
    // Writes `frames` device frames (resampling first where needed; null input flushes).
    auto emit = [&](const float* frames, std::size_t count) -> bool {
        if (!resampler) return stream.write(frames, static_cast<unsigned long>(count));
        const std::size_t room =
            static_cast<std::size_t>(static_cast<double>(count) * rate / fileRate) + 256;
        resampled.resize(room * static_cast<std::size_t>(channels));
        std::size_t offset = 0;
        for (int round = 0; round < 64; ++round) {
            std::size_t taken = 0;
            std::size_t made = 0;
            const float* in = frames != nullptr ? frames + offset * channels : nullptr;
            if (soxr_process(resampler.get(), in, frames != nullptr ? count - offset : 0,
                             &taken, resampled.data(), room, &made) != nullptr) {
                return false;
            }
            if (made > 0 && !stream.write(resampled.data(), static_cast<unsigned long>(made))) {
                return false;
            }
            offset += taken;
            if (frames != nullptr ? offset >= count : made == 0) return true;
            if (cancelled(generation)) return false;
        }
        return true;
    };

    for (;;) {
        if (cancelled(generation)) return;  // the stream's end aborts what is queued
        const sf_count_t read = sf_readf_float(file.get(), fileFrames.data(), chunk);
        if (read <= 0) break;
        mapChannels(fileFrames.data(), static_cast<std::size_t>(read), info.channels, channels,
                    mapped);
        if (!emit(mapped.data(), static_cast<std::size_t>(read))) return;
    }
    if (resampler && !emit(nullptr, 0)) return;
    // Let the queued end of the sound play out: silence pushes it through, a chunk at a
    // time so that a purge still cuts it short. The stream's end then aborts the silence.
    const auto drainFrames = static_cast<std::size_t>(rate * (stream.latency() + 0.05));
    const auto step = static_cast<std::size_t>(std::max(64.0, rate * kChunkSeconds));
    const std::vector<float> silence(step * static_cast<std::size_t>(channels), 0.0f);
    for (std::size_t done = 0; done < drainFrames && !cancelled(generation); done += step) {
        if (!stream.write(silence.data(), static_cast<unsigned long>(step))) return;
    }
}

}  // namespace tunewick
