#pragma once
// The microphone through PortAudio as the one shared SampleStream: a single input stream,
// float samples mixed down to mono, handed to every attached tap from PortAudio's callback.
//
// One keeper thread owns the PortAudio stream: it opens it when the first tap attaches,
// closes it when the last one leaves, and watches it while it runs. A device that stops
// delivering (the sound server goes away, a USB microphone is unplugged) is noticed within
// about a second, more for a stream that reports a long latency or delivers in large blocks;
// a freshly opened device has kFirstDelivery to begin (a headset switching profile takes
// that long). The player is told once per failure, the stream is closed, and the keeper
// tries again after 1, 2, 4, up to 10 seconds, with a fresh look at PortAudio's device list
// where nothing else holds PortAudio, until the device is back and delivers; the taps that
// stayed attached then resume. Taps keep everything the device delivered before it failed.
//
// Threads: attach() and detach() are safe from any thread. attach() waits for the keeper's
// answer for at most kAnswerWait, or kOpenWait while the keeper is starting PortAudio or
// opening the device. A keeper stuck in a PortAudio call holds up nobody but itself, and the
// destructor leaves it behind after kAnswerWait, having first taken away its reporter.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "audio/capture/SampleStream.h"
#include "audio/portaudio/AudioDevices.h"
#include "audio/portaudio/PortAudioApi.h"
#include "bridge/Reporter.h"

namespace tunewick {

class PortAudioInputStream final : public SampleStream {
public:
    static constexpr std::chrono::milliseconds kAnswerWait{900};
    static constexpr std::chrono::milliseconds kOpenWait{10000};
    // A running stream that delivers nothing for this long, plus twice the longer of its
    // reported latency and its longest gap between deliveries so far, has failed.
    static constexpr std::chrono::milliseconds kStallLimit{1000};
    // A freshly started stream has failed when nothing came for this long.
    static constexpr std::chrono::milliseconds kFirstDelivery{3000};
    // Retries after a failure wait this long, doubling up to kRetryLongest.
    static constexpr std::chrono::milliseconds kRetryEvery{1000};
    static constexpr std::chrono::milliseconds kRetryLongest{10000};

    static constexpr const char* kFailureCaption = "Microphone";
    static constexpr const char* kFailureText =
        "The microphone stopped working. Tunewick will listen again as soon as it is back.";

    // The input named `deviceName` (see findAudioDevice; empty: the default input), in a
    // PortAudio session of its own; null when PortAudio finds no such input. `reporter` (may
    // be null) hears of a failure; it must outlive the stream.
    static std::shared_ptr<PortAudioInputStream> create(std::string deviceName, Reporter* reporter);
    // The same over the given PortAudio (tests script one).
    static std::shared_ptr<PortAudioInputStream> create(std::string deviceName, Reporter* reporter,
                                                        std::unique_ptr<PortAudioApi> api);
    ~PortAudioInputStream() override;
    PortAudioInputStream(const PortAudioInputStream&) = delete;
    PortAudioInputStream& operator=(const PortAudioInputStream&) = delete;

    // The device format the stream captures in, chosen once for all taps: 48 kHz where the
    // device takes it (most devices' and sound servers' own rate), else its default rate,
    // else 44.1 kHz; mono, or two channels mixed down. Nothing when no format works.
    static std::optional<DeviceCaptureFormat> chooseFormat(PortAudioApi& api, const AudioDeviceInfo& device);

    DeviceCaptureFormat format() const override;
    std::int32_t attach(SampleTap& tap) override;
    void detach(SampleTap& tap) override;
    bool live() const override { return true; }

private:
    struct Keeper;
    explicit PortAudioInputStream(std::shared_ptr<Keeper> keeper);
    std::shared_ptr<Keeper> keeper_;
    std::thread thread_;
};

}  // namespace tunewick
