#pragma once
// The few PortAudio calls the microphone's input stream makes, behind an interface: the
// system's PortAudio in the program, a scripted one in tests (a device that blocks, stalls,
// delivers late or fails on cue). One object per input stream, owned by it and called from
// its keeper thread only (and by create() before that thread starts); the callback it
// installs runs on PortAudio's own thread.
//
// Calls answer PortAudio's error codes (PaError: 0 or a negative paXxx value).
#include <memory>
#include <vector>

#include "audio/portaudio/AudioDevices.h"

namespace tunewick {

// Where an open input stream delivers: `input` is `frames` interleaved float frames, or null
// when the device gave no data for the period; `statusFlags` are PortAudio's callback flags.
class PortAudioInputSink {
public:
    virtual ~PortAudioInputSink() = default;
    virtual void onInput(const float* input, unsigned long frames, unsigned long statusFlags) = 0;
};

class PortAudioApi {
public:
    using Stream = void*;  // PortAudio's PaStream*

    virtual ~PortAudioApi() = default;

    // Pa_Initialize for this object, ended by terminate() (or the object's end). False when
    // PortAudio did not come up; there are then no devices.
    virtual bool initialize() = 0;
    virtual void terminate() = 0;
    // Every device while initialised, in PortAudio's order.
    virtual std::vector<AudioDeviceInfo> devices() = 0;
    // Whether the device captures float samples at `rate` with `channels` channels.
    virtual bool supports(const AudioDeviceInfo& device, int channels, double rate) = 0;

    // A float input stream on `device` at the device's low input latency, delivering to
    // `sink` (which must outlive the stream) once started.
    virtual int open(const AudioDeviceInfo& device, int channels, double rate,
                     PortAudioInputSink& sink, Stream* stream) = 0;
    virtual int start(Stream stream) = 0;
    // Stops at once, dropping what the device still holds.
    virtual int abort(Stream stream) = 0;
    virtual int close(Stream stream) = 0;
    // 1 while the stream runs, 0 once it stopped by itself, negative on error.
    virtual int isActive(Stream stream) = 0;
    // The input latency the stream reports, in seconds; 0 when unknown.
    virtual double inputLatency(Stream stream) = 0;

    // The system's PortAudio. Each call into it takes portAudioMutex().
    static std::unique_ptr<PortAudioApi> system();
};

}  // namespace tunewick
