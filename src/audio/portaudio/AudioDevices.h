#pragma once
// The sound devices PortAudio offers: keeping PortAudio initialised (an RAII session), listing
// the inputs and outputs, and finding one by the name a user gives on the command line.
//
// PortAudio's own calls are not thread-safe: everything here that calls into it takes
// portAudioMutex(), and so must any other code that opens, starts or closes a stream.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tunewick {

// Serialises calls into PortAudio (initialise, terminate, open, start, stop, close). Never
// taken inside a stream callback.
std::mutex& portAudioMutex();

// How long a user that must not hang (anything on a path the program's exit takes: the
// sessions, the sound player) waits for portAudioMutex() before it gives up and goes on
// without PortAudio. Another user may be stuck in a PortAudio call that never returns (a
// sound server that vanished mid-call); that user holds the mutex for good.
inline constexpr std::chrono::milliseconds kPortAudioWait{1000};

// portAudioMutex(), waited for at most kPortAudioWait; check owns_lock().
std::unique_lock<std::mutex> holdPortAudio();

// Pa_Initialize for the life of the object, Pa_Terminate at its end. Sessions nest: PortAudio
// counts them and only the last one's end terminates it, so each user of streams holds one.
// Neither end waits longer than kPortAudioWait for PortAudio: a session that cannot begin in
// time is not ok(), and one that cannot end in time is abandoned (left initialised).
// Before the first initialisation the ALSA and JACK libraries are told to keep their
// diagnostics to themselves (their probing of absent cards otherwise fills stderr).
class PortAudioSession {
public:
    PortAudioSession();
    ~PortAudioSession();
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;

    // Whether PortAudio came up; without it there are no devices.
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

enum class AudioDirection { input, output };

// One device as PortAudio reports it. `index` is valid while the session it was read in lives.
struct AudioDeviceInfo {
    int index = -1;
    std::string name;
    std::string hostApi;
    int maxInputChannels = 0;
    int maxOutputChannels = 0;
    double defaultSampleRate = 0.0;
    double defaultLowInputLatency = 0.0;
    double defaultLowOutputLatency = 0.0;
    double defaultHighOutputLatency = 0.0;
    bool isDefaultInput = false;
    bool isDefaultOutput = false;

    bool has(AudioDirection direction) const {
        return direction == AudioDirection::input ? maxInputChannels > 0 : maxOutputChannels > 0;
    }
    bool isDefault(AudioDirection direction) const {
        return direction == AudioDirection::input ? isDefaultInput : isDefaultOutput;
    }
};

// Every device of the running session, in PortAudio's order; empty when the session failed
// (or PortAudio stayed held for longer than kPortAudioWait).
std::vector<AudioDeviceInfo> listAudioDevices(const PortAudioSession& session);

// The device to use in one direction. An empty name means the default device. Otherwise the
// device whose name is exactly `name`; failing that, the one device whose name contains
// `name` ignoring ASCII case. Nothing when no device (or more than one) fits.
std::optional<AudioDeviceInfo> findAudioDevice(const std::vector<AudioDeviceInfo>& devices,
                                               AudioDirection direction, std::string_view name);

// One line per device and direction, inputs first:
//   "input: NAME (HOST API)" with " [default]" after the default device;
// "no audio devices" alone when the list holds none.
std::string formatAudioDeviceList(const std::vector<AudioDeviceInfo>& devices);

// What --list-devices prints: a session of its own, then formatAudioDeviceList.
void printAudioDevices(std::ostream& out);

}  // namespace tunewick
