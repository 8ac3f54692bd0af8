#include "audio/portaudio/AudioDevices.h"

#include <portaudio.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <sstream>
#include <thread>

#ifdef TUNEWICK_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef TUNEWICK_HAVE_JACK
#include <jack/jack.h>
#endif

namespace tunewick {
namespace {

#ifdef TUNEWICK_HAVE_ALSA
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif
#ifdef TUNEWICK_HAVE_JACK
void quietJack(const char*) {}
#endif

// PortAudio probes every ALSA card and JACK server it knows of; on a machine without them
// each probe prints a line or more. Those libraries report through hooks we can silence.
void silenceBackendChatter() {
#ifdef TUNEWICK_HAVE_ALSA
    snd_lib_error_set_handler(&quietAlsa);
#endif
#ifdef TUNEWICK_HAVE_JACK
    jack_set_error_function(&quietJack);
    jack_set_info_function(&quietJack);
#endif
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::mutex& portAudioMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_lock<std::mutex> holdPortAudio() {
    // Polled rather than a timed mutex: ThreadSanitizer does not see a timed lock taken,
    // and PortAudio's calls are rare enough that a few milliseconds' turn costs nothing.
    std::unique_lock lock(portAudioMutex(), std::try_to_lock);
    const auto until = std::chrono::steady_clock::now() + kPortAudioWait;
    while (!lock.owns_lock() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        (void)lock.try_lock();
    }
    return lock;
}

PortAudioSession::PortAudioSession() {
    const auto lock = holdPortAudio();
    if (!lock.owns_lock()) {
        std::cerr << "Tunewick: PortAudio is held up elsewhere; going on without sound devices\n";
        return;
    }
    static bool silenced = false;
    if (!silenced) {
        silenceBackendChatter();
        silenced = true;
    }
    ok_ = Pa_Initialize() == paNoError;
}

PortAudioSession::~PortAudioSession() {
    if (!ok_) return;
    const auto lock = holdPortAudio();
    if (!lock.owns_lock()) {
        std::cerr << "Tunewick: PortAudio is held up elsewhere; leaving it initialised\n";
        return;
    }
    Pa_Terminate();
}

std::vector<AudioDeviceInfo> listAudioDevices(const PortAudioSession& session) {
    std::vector<AudioDeviceInfo> devices;
    if (!session.ok()) return devices;
    const auto lock = holdPortAudio();
    if (!lock.owns_lock()) return devices;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    const PaDeviceIndex defaultInput = Pa_GetDefaultInputDevice();
    const PaDeviceIndex defaultOutput = Pa_GetDefaultOutputDevice();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info == nullptr) continue;
        AudioDeviceInfo device;
        device.index = i;
        device.name = info->name != nullptr ? info->name : "";
        const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
        device.hostApi = api != nullptr && api->name != nullptr ? api->name : "";
        device.maxInputChannels = info->maxInputChannels;
        device.maxOutputChannels = info->maxOutputChannels;
        device.defaultSampleRate = info->defaultSampleRate;
        device.defaultLowInputLatency = info->defaultLowInputLatency;
        device.defaultLowOutputLatency = info->defaultLowOutputLatency;
        device.defaultHighOutputLatency = info->defaultHighOutputLatency;
        device.isDefaultInput = i == defaultInput;
        device.isDefaultOutput = i == defaultOutput;
        devices.push_back(std::move(device));
    }
    return devices;
}

std::optional<AudioDeviceInfo> findAudioDevice(const std::vector<AudioDeviceInfo>& devices,
                                               AudioDirection direction, std::string_view name) {
    if (name.empty()) {
        for (const auto& d : devices) {
            if (d.has(direction) && d.isDefault(direction)) return d;
        }
        return std::nullopt;
    }
    for (const auto& d : devices) {
        if (d.has(direction) && d.name == name) return d;
    }
    const std::string wanted = lowerAscii(name);
    std::optional<AudioDeviceInfo> match;
    for (const auto& d : devices) {
        if (!d.has(direction) || lowerAscii(d.name).find(wanted) == std::string::npos) continue;
        if (match) return std::nullopt;  // ambiguous: the user must say which
        match = d;
    }
    return match;
}

std::string formatAudioDeviceList(const std::vector<AudioDeviceInfo>& devices) {
    std::ostringstream out;
    bool any = false;
    for (AudioDirection direction : {AudioDirection::input, AudioDirection::output}) {
        const char* label = direction == AudioDirection::input ? "input" : "output";
        for (const auto& d : devices) {
            if (!d.has(direction)) continue;
            out << label << ": " << d.name << " (" << d.hostApi << ")";
            if (d.isDefault(direction)) out << " [default]";
            out << '\n';
            any = true;
        }
    }
    if (!any) out << "no audio devices\n";
    return out.str();
}

void printAudioDevices(std::ostream& out) {
    PortAudioSession session;
    out << formatAudioDeviceList(listAudioDevices(session));
}

}  // namespace tunewick
