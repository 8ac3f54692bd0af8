#include "audio/portaudio/PortAudioApi.h"

#include <portaudio.h>

#include <optional>

namespace tunewick {
namespace {

class SystemPortAudio final : public PortAudioApi {
public:
    bool initialize() override {
        session_.emplace();
        return session_->ok();
    }
    void terminate() override { session_.reset(); }
    std::vector<AudioDeviceInfo> devices() override {
        return session_ ? listAudioDevices(*session_) : std::vector<AudioDeviceInfo>{};
    }
    bool supports(const AudioDeviceInfo& device, int channels, double rate) override {
        const PaStreamParameters input = parameters(device, channels);
        std::lock_guard pa(portAudioMutex());
        return Pa_IsFormatSupported(&input, nullptr, rate) == paFormatIsSupported;
    }
    int open(const AudioDeviceInfo& device, int channels, double rate, PortAudioInputSink& sink,
             Stream* stream) override {
        const PaStreamParameters input = parameters(device, channels);
        std::lock_guard pa(portAudioMutex());
        return Pa_OpenStream(stream, &input, nullptr, rate, paFramesPerBufferUnspecified,
                             paClipOff | paDitherOff, &SystemPortAudio::onInput, &sink);
    }
    int start(Stream stream) override {
        std::lock_guard pa(portAudioMutex());
        return Pa_StartStream(stream);
    }
    int abort(Stream stream) override {
        std::lock_guard pa(portAudioMutex());
        return Pa_AbortStream(stream);
    }
    int close(Stream stream) override {
        std::lock_guard pa(portAudioMutex());
        return Pa_CloseStream(stream);
    }
    int isActive(Stream stream) override {
        std::lock_guard pa(portAudioMutex());
        return Pa_IsStreamActive(stream);
    }
    double inputLatency(Stream stream) override {
        std::lock_guard pa(portAudioMutex());
        const PaStreamInfo* info = Pa_GetStreamInfo(stream);
        return info != nullptr ? info->inputLatency : 0.0;
    }

private:
    static PaStreamParameters parameters(const AudioDeviceInfo& device, int channels) {
        PaStreamParameters input{};
        input.device = device.index;
        input.channelCount = channels;
        input.sampleFormat = paFloat32;
        input.suggestedLatency = device.defaultLowInputLatency;
        return input;
    }
    static int onInput(const void* input, void*, unsigned long frames,
                       const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* sink) {
        static_cast<PortAudioInputSink*>(sink)->onInput(static_cast<const float*>(input), frames, flags);
        return paContinue;
    }

    std::optional<PortAudioSession> session_;
};

}  // namespace

std::unique_ptr<PortAudioApi> PortAudioApi::system() { return std::make_unique<SystemPortAudio>(); }

}  // namespace tunewick
