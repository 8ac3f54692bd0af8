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

// How often the keeper looks at a running stream, or at the clock of a retry.
constexpr std::chrono::milliseconds kTick{100};

}  // namespace

// Everything the keeper thread and PortAudio's callback use. Shared with the keeper thread,
// so that a keeper left behind in a PortAudio call that never returns still finds it alive.
struct PortAudioInputStream::Keeper final : PortAudioInputSink {
    Keeper(std::string name, AudioDeviceInfo info, Reporter* reporter,
           std::unique_ptr<PortAudioApi> portAudio)
        : deviceName(std::move(name)),
          reporter(reporter),
          api(std::move(portAudio)),
          device(std::move(info)) {}

    const std::string deviceName;
    DeviceCaptureFormat format{};
    SampleFanOut taps;

    std::mutex mutex;
    std::condition_variable changed;
    // Under mutex:
    bool exit = false;
    bool done = false;           // the keeper has closed everything and ended
    Reporter* reporter;          // taken away by the destructor
    std::uint64_t requests = 0;  // opens asked for by attach()
    std::uint64_t answered = 0;  // the latest request an open attempt answered
    std::uint64_t tapChanges = 0;
    PaError lastOpenError = paNoError;
    bool open = false;           // running for the taps; false from the moment a close is decided
    bool opening = false;        // starting PortAudio or opening the device

    // The keeper thread's own (the constructor's before the thread starts).
    std::unique_ptr<PortAudioApi> api;
    bool sessionUp = false;
    AudioDeviceInfo device;
    PortAudioApi::Stream stream = nullptr;
    std::int64_t startedAt = 0;     // when the stream was started
    std::int64_t latencyNanos = 0;  // the stream's reported input latency
    bool failing = false;           // failed and told; not delivering again yet
    std::chrono::milliseconds retryDelay = kRetryEvery;
    Clock::time_point nextRetry{};

    // Written by the callback, read by the keeper; reset while no stream runs.
    std::atomic<std::int64_t> lastDelivery{0};  // 0: nothing since the start
    std::atomic<std::int64_t> longestGap{0};

    void onInput(const float* input, unsigned long frames, unsigned long paFlags) override {
        const std::int64_t now = nowNanos();
        const std::int64_t previous = lastDelivery.exchange(now, std::memory_order_relaxed);
        if (previous != 0 && now - previous > longestGap.load(std::memory_order_relaxed)) {
            longestGap.store(now - previous, std::memory_order_relaxed);
        }
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
    // came back may have a new place in it). The device found must still take the format
    // every tap converts from.
    PaError refreshDevice() {
        if (sessionUp) api->terminate();
        sessionUp = api->initialize();
        if (!sessionUp) return paNotInitialized;
        const auto found = findAudioDevice(api->devices(), AudioDirection::input, deviceName);
        if (!found) return paDeviceUnavailable;
        if (!api->supports(*found, format.channels, format.sampleRate)) return paInvalidSampleRate;
        device = *found;
        return paNoError;
    }

    PaError openStream() {
        PortAudioApi::Stream opened = nullptr;
        PaError error = api->open(device, format.channels, format.sampleRate, *this, &opened);
        if (error != paNoError) return error;
        lastDelivery.store(0, std::memory_order_relaxed);
        longestGap.store(0, std::memory_order_relaxed);
        error = api->start(opened);
        if (error != paNoError) {
            api->close(opened);
            return error;
        }
        startedAt = nowNanos();
        latencyNanos = static_cast<std::int64_t>(std::max(0.0, api->inputLatency(opened)) * 1e9);
        stream = opened;
        return paNoError;
    }

    void closeStream() {
        if (stream == nullptr) return;
        // Abort, not stop: ALSA's pulse plugin can take seconds to stop a capture stream
        // gracefully, and all that would bring is the few milliseconds still in the device.
        api->abort(stream);
        api->close(stream);
        stream = nullptr;
    }

    bool stalled() {
        const std::int64_t now = nowNanos();
        const std::int64_t last = lastDelivery.load(std::memory_order_relaxed);
        if (last == 0) {
            return std::chrono::nanoseconds(now - startedAt) > kFirstDelivery;
        }
        const std::int64_t slack =
            2 * std::max(latencyNanos, longestGap.load(std::memory_order_relaxed));
        if (std::chrono::nanoseconds(now - last - slack) > kStallLimit) return true;
        return api->isActive(stream) != 1;
    }

    // Once per failure: a device that is back but not yet delivering is the same failure.
    void tellOnce() {
        if (failing) return;
        failing = true;
        std::lock_guard lock(mutex);
        if (exit || reporter == nullptr) return;
        reporter->report(kFailureCaption, kFailureText);
    }

    void retryLater() {
        nextRetry = Clock::now() + retryDelay;
        retryDelay = std::min(retryDelay * 2, kRetryLongest);
    }

    void setOpen(bool value) {
        std::lock_guard lock(mutex);
        open = value;
    }

    // A running stream: samples flowing end a failure; none for too long make one.
    void watch() {
        if (lastDelivery.load(std::memory_order_relaxed) != 0) {
            failing = false;
            retryDelay = kRetryEvery;
        }
        if (!stalled()) return;
        setOpen(false);
        tellOnce();  // first: a close on a dead server may hang
        closeStream();
        retryLater();
    }

    void run() {
        std::unique_lock lock(mutex);
        std::uint64_t seenTapChanges = tapChanges;
        for (;;) {
            changed.wait_for(lock, kTick, [&] {
                return exit || requests > answered || tapChanges != seenTapChanges;
            });
            if (exit) break;
            seenTapChanges = tapChanges;
            const std::uint64_t asked = requests;
            const bool pending = asked > answered;
            // Decided under the lock: an attach from now on waits for the stream to reopen
            // rather than take this one for open.
            const bool unwanted = stream != nullptr && taps.count() == 0;
            if (unwanted) open = false;
            lock.unlock();

            if (unwanted) closeStream();
            if (stream != nullptr) watch();
            PaError error = paNoError;
            bool tried = false;
            // Asked again after the close: a tap may have come meanwhile.
            if (stream == nullptr && taps.count() > 0 && (pending || Clock::now() >= nextRetry)) {
                tried = true;
                {
                    std::lock_guard mark(mutex);
                    opening = true;
                }
                error = failing || !sessionUp ? refreshDevice() : paNoError;
                if (error == paNoError) error = openStream();
                if (error != paNoError) {
                    tellOnce();
                    retryLater();
                }
            }

            lock.lock();
            opening = false;
            if (tried) {
                answered = asked;
                lastOpenError = error;
            }
            open = stream != nullptr;
            changed.notify_all();
        }
        lock.unlock();
        closeStream();
        if (sessionUp) api->terminate();
        sessionUp = false;
        lock.lock();
        open = false;
        done = true;
        changed.notify_all();
    }
};

std::shared_ptr<PortAudioInputStream> PortAudioInputStream::create(std::string deviceName,
                                                                 Reporter* reporter) {
    return create(std::move(deviceName), reporter, PortAudioApi::system());
}

std::shared_ptr<PortAudioInputStream> PortAudioInputStream::create(std::string deviceName,
                                                                 Reporter* reporter,
                                                                 std::unique_ptr<PortAudioApi> api) {
    if (!api->initialize()) return nullptr;
    const auto found = findAudioDevice(api->devices(), AudioDirection::input, deviceName);
    if (!found) {
        api->terminate();
        return nullptr;
    }
    auto keeper = std::make_shared<Keeper>(std::move(deviceName), *found, reporter, std::move(api));
    keeper->sessionUp = true;
    keeper->format =
        chooseFormat(*keeper->api, keeper->device).value_or(DeviceCaptureFormat{48000.0, 1});
    return std::shared_ptr<PortAudioInputStream>(new PortAudioInputStream(std::move(keeper)));
}

PortAudioInputStream::PortAudioInputStream(std::shared_ptr<Keeper> keeper)
    : keeper_(std::move(keeper)),
      // The thread holds the keeper, not this object: see the destructor.
      thread_([keeper = keeper_] { keeper->run(); }) {}

PortAudioInputStream::~PortAudioInputStream() {
    std::unique_lock lock(keeper_->mutex);
    keeper_->exit = true;
    // Whoever made the stream may go right after this: a keeper that comes back late from
    // PortAudio must find no one to tell.
    keeper_->reporter = nullptr;
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

std::optional<DeviceCaptureFormat> PortAudioInputStream::chooseFormat(PortAudioApi& api,
                                                                      const AudioDeviceInfo& device) {
    std::vector<double> rates;
    for (double rate : {48000.0, device.defaultSampleRate, 44100.0}) {
        if (rate > 0.0 && std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            rates.push_back(rate);
        }
    }
    std::vector<int> channelCounts{1};
    if (device.maxInputChannels >= 2) channelCounts.push_back(2);
    for (double rate : rates) {
        for (int channels : channelCounts) {
            if (api.supports(device, channels, rate)) return DeviceCaptureFormat{rate, channels};
        }
    }
    return std::nullopt;
}

DeviceCaptureFormat PortAudioInputStream::format() const { return keeper_->format; }

std::int32_t PortAudioInputStream::attach(SampleTap& tap) {
    Keeper& keeper = *keeper_;
    if (!keeper.taps.add(tap)) return status::kFail;
    std::unique_lock lock(keeper.mutex);
    ++keeper.tapChanges;
    if (keeper.open) return status::kOk;
    const std::uint64_t mine = ++keeper.requests;
    keeper.changed.notify_all();
    const auto answered = [&] { return keeper.open || keeper.answered >= mine || keeper.done; };
    // A keeper busy starting PortAudio or opening the device is worth the longer wait: the
    // open it finishes is this tap's.
    const auto asked = Clock::now();
    while (!answered()) {
        const auto until = asked + (keeper.opening ? kOpenWait : kAnswerWait);
        if (Clock::now() >= until) break;
        keeper.changed.wait_until(lock, until);
    }
    if (keeper.open) return status::kOk;
    const PaError error = answered() && !keeper.done ? keeper.lastOpenError : paTimedOut;
    lock.unlock();
    keeper.taps.remove(tap);
    lock.lock();
    ++keeper.tapChanges;
    keeper.changed.notify_all();
    return error != paNoError ? error : status::kFail;
}

void PortAudioInputStream::detach(SampleTap& tap) {
    keeper_->taps.remove(tap);
    std::lock_guard lock(keeper_->mutex);
    ++keeper_->tapChanges;
    keeper_->changed.notify_all();
}

}  // namespace tunewick
