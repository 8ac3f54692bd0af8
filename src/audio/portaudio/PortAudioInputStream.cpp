#include "audio/portaudio/PortAudioInputStream.h"

#include <portaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>

#include "audio/Status.h"

namespace tunewick {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

PaStreamParameters inputParameters(const AudioDeviceInfo& device, int channels) {
    PaStreamParameters input{};
    input.device = device.index;
    input.channelCount = channels;
    input.sampleFormat = paFloat32;
    input.suggestedLatency = device.defaultLowInputLatency;
    return input;
}

}  // namespace

// Everything the keeper thread and PortAudio's callback use. Shared with the keeper thread,
// so that a keeper left behind in a PortAudio call that never returns still finds it alive.
struct PortAudioInputStream::Keeper {
    Keeper(std::string name, AudioDeviceInfo info, Reporter* reporter)
        : deviceName(std::move(name)), reporter(reporter), device(std::move(info)) {}

    const std::string deviceName;
    Reporter* const reporter;
    DeviceCaptureFormat format{};
    SampleFanOut taps;

    std::mutex mutex;
    std::condition_variable changed;
    // Under mutex:
    bool exit = false;
    bool done = false;           // the keeper has closed everything and ended
    std::uint64_t requests = 0;  // opens asked for by attach()
    std::uint64_t answered = 0;  // the latest request an open attempt answered
    PaError lastOpenError = paNoError;
    bool open = false;

    // The keeper thread's own (the constructor's before the thread starts).
    std::unique_ptr<PortAudioSession> session;
    AudioDeviceInfo device;
    PaStream* stream = nullptr;
    bool failing = false;  // failed and told; not back yet
    Clock::time_point nextRetry{};

    std::atomic<std::int64_t> lastDelivery{0};

    static int onInput(const void* input, void*, unsigned long frames,
                       const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* self) {
        static_cast<Keeper*>(self)->deliver(static_cast<const float*>(input), frames, flags);
        return paContinue;
    }

    void deliver(const float* input, unsigned long frames, PaStreamCallbackFlags paFlags) {
        lastDelivery.store(nowNanos(), std::memory_order_relaxed);
        unsigned flags = 0;
        if ((paFlags & paInputOverflow) != 0) flags |= kSamplesLost;
        if ((paFlags & paInputUnderflow) != 0) flags |= kSamplesInserted;
        const int channels = format.channels;
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
            taps.deliver(mono.data(), n, flags);
            flags = 0;
            done += static_cast<unsigned long>(n);
        }
    }

    // Finds the device again in a new session: where no other part of the program holds
    // PortAudio, that session reads the device list anew (a server or a USB microphone that
    // came back may have a new place in it).
    bool refreshDevice() {
        session.reset();
        session = std::make_unique<PortAudioSession>();
        const auto found =
            findAudioDevice(listAudioDevices(*session), AudioDirection::input, deviceName);
        if (!found) return false;
        device = *found;
        return true;
    }

    PaError openStream() {
        PaStreamParameters input = inputParameters(device, format.channels);
        PaStream* opened = nullptr;
        std::lock_guard pa(portAudioMutex());
        PaError error = Pa_OpenStream(&opened, &input, nullptr, format.sampleRate,
                                      paFramesPerBufferUnspecified, paClipOff | paDitherOff,
                                      &Keeper::onInput, this);
        if (error != paNoError) return error;
        lastDelivery.store(nowNanos(), std::memory_order_relaxed);
        error = Pa_StartStream(opened);
        if (error != paNoError) {
            Pa_CloseStream(opened);
            return error;
        }
        stream = opened;
        return paNoError;
    }

    void closeStream() {
        if (stream == nullptr) return;
        std::lock_guard pa(portAudioMutex());
        // Abort, not stop: ALSA's pulse plugin can take seconds to stop a capture stream
        // gracefully, and all that would bring is the few milliseconds still in the device.
        Pa_AbortStream(stream);
        Pa_CloseStream(stream);
        stream = nullptr;
    }

    bool stalled() {
        const auto silentFor = std::chrono::nanoseconds(
            nowNanos() - lastDelivery.load(std::memory_order_relaxed));
        if (silentFor > kStallLimit) return true;
        std::lock_guard pa(portAudioMutex());
        return Pa_IsStreamActive(stream) != 1;
    }

    void tellOnce() {
        if (failing) return;
        failing = true;
        if (reporter != nullptr) reporter->report(kFailureCaption, kFailureText);
    }

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait_for(lock, std::chrono::milliseconds(100));
            if (exit) break;
            const std::uint64_t asked = requests;
            const bool pending = asked > answered;
            lock.unlock();

            const bool wanted = taps.count() > 0;
            if (stream != nullptr && !wanted) closeStream();
            if (stream != nullptr && stalled()) {
                closeStream();
                tellOnce();
                nextRetry = Clock::now() + kRetryEvery;
            }
            PaError error = paNoError;
            bool tried = false;
            if (stream == nullptr && wanted && (pending || Clock::now() >= nextRetry)) {
                tried = true;
                if (failing && !refreshDevice()) {
                    error = paDeviceUnavailable;
                } else {
                    error = openStream();
                }
                if (error == paNoError) {
                    failing = false;
                } else {
                    tellOnce();
                    nextRetry = Clock::now() + kRetryEvery;
                }
            }

            lock.lock();
            if (tried) {
                answered = asked;
                lastOpenError = error;
            }
            open = stream != nullptr;
            changed.notify_all();
        }
        lock.unlock();
        closeStream();
        session.reset();
        lock.lock();
        open = false;
        done = true;
        changed.notify_all();
    }
};

std::shared_ptr<PortAudioInputStream> PortAudioInputStream::create(std::string deviceName,
                                                                 Reporter* reporter) {
    auto session = std::make_unique<PortAudioSession>();
    const auto found = findAudioDevice(listAudioDevices(*session), AudioDirection::input, deviceName);
    if (!found) return nullptr;
    auto keeper = std::make_shared<Keeper>(std::move(deviceName), *found, reporter);
    keeper->session = std::move(session);
    keeper->format = chooseFormat(keeper->device).value_or(DeviceCaptureFormat{48000.0, 1});
    return std::shared_ptr<PortAudioInputStream>(new PortAudioInputStream(std::move(keeper)));
}

PortAudioInputStream::PortAudioInputStream(std::shared_ptr<Keeper> keeper)
    : keeper_(std::move(keeper)),
      // The thread holds the keeper, not this object: see the destructor.
      thread_([keeper = keeper_] { keeper->run(); }) {}

PortAudioInputStream::~PortAudioInputStream() {
    std::unique_lock lock(keeper_->mutex);
    keeper_->exit = true;
    keeper_->changed.notify_all();
    // A keeper caught in a PortAudio call that does not come back (a sound server that
    // vanished mid-call) is left to it: the thread owns what it uses.
    const bool done = keeper_->changed.wait_for(lock, kAnswerWait, [this] { return keeper_->done; });
    lock.unlock();
    if (done) {
        thread_.join();
    } else {
        std::cerr << "Tunewick: the microphone did not close in time; leaving it behind\n";
        thread_.detach();
    }
}

std::optional<DeviceCaptureFormat> PortAudioInputStream::chooseFormat(const AudioDeviceInfo& device) {
    std::vector<double> rates;
    for (double rate : {48000.0, device.defaultSampleRate, 44100.0}) {
        if (rate > 0.0 && std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            rates.push_back(rate);
        }
    }
    std::vector<int> channelCounts{1};
    if (device.maxInputChannels >= 2) channelCounts.push_back(2);
    std::lock_guard pa(portAudioMutex());
    for (double rate : rates) {
        for (int channels : channelCounts) {
            const PaStreamParameters input = inputParameters(device, channels);
            if (Pa_IsFormatSupported(&input, nullptr, rate) == paFormatIsSupported) {
                return DeviceCaptureFormat{rate, channels};
            }
        }
    }
    return std::nullopt;
}

DeviceCaptureFormat PortAudioInputStream::format() const { return keeper_->format; }

std::int32_t PortAudioInputStream::attach(SampleTap& tap) {
    Keeper& keeper = *keeper_;
    if (!keeper.taps.add(tap)) return status::kFail;
    std::unique_lock lock(keeper.mutex);
    if (keeper.open) return status::kOk;
    const std::uint64_t mine = ++keeper.requests;
    keeper.changed.notify_all();
    const bool heard = keeper.changed.wait_for(lock, kAnswerWait, [&] {
        return keeper.open || keeper.answered >= mine || keeper.done;
    });
    if (keeper.open) return status::kOk;
    const PaError error = heard && !keeper.done ? keeper.lastOpenError : paTimedOut;
    lock.unlock();
    keeper.taps.remove(tap);
    keeper.changed.notify_all();
    return error != paNoError ? error : status::kFail;
}

void PortAudioInputStream::detach(SampleTap& tap) {
    keeper_->taps.remove(tap);
    std::lock_guard lock(keeper_->mutex);
    keeper_->changed.notify_all();
}

}  // namespace tunewick
