#pragma once
// The SoundPlayer on a real output device: PortAudio for the sound, libsndfile for reading
// the file (any format it knows; WAV is what the recorder writes).
//
// play() and purge() only leave a request and return; one player thread of the object's own
// does the rest: it decodes the file in small chunks and writes them to a blocking output
// stream, checking between chunks whether a newer play or a purge has come, which abort the
// stream at once. A file whose rate the device does not take is resampled with libsoxr to the
// device's default rate; channels are mixed to what the device has (at most two).
// PortAudio is initialised on that thread at the first play, so a program that never plays
// never touches the output device. No output device, or a file that cannot be read, makes
// the play a silent no-op. The destructor aborts playback and ends the thread: no thread
// outlives the player. No wait for PortAudio is longer than kPortAudioWait: where another
// user is stuck inside PortAudio, a stream is abandoned rather than the exit held up.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "audio/portaudio/AudioDevices.h"
#include "audio/recording/SoundPlayer.h"

namespace tunewick {

class PortAudioSoundPlayer final : public SoundPlayer {
public:
    // `outputDeviceName` as for findAudioDevice; empty: the default output.
    explicit PortAudioSoundPlayer(std::string outputDeviceName = {});
    ~PortAudioSoundPlayer() override;
    PortAudioSoundPlayer(const PortAudioSoundPlayer&) = delete;
    PortAudioSoundPlayer& operator=(const PortAudioSoundPlayer&) = delete;

    // Starts playing `path` in the background, replacing any sound still playing.
    void play(const std::string& path) override;
    // Stops any sound that plays and drops a play not yet begun.
    void purge() override;

    // Whether a sound plays or a play waits to begin.
    bool busy() const;
    // Waits until not busy; false when `timeout` passed first.
    bool waitIdle(std::chrono::milliseconds timeout) const;
    // Plays that reached the device (a stream was started for them) so far.
    std::uint64_t playsStarted() const { return playsStarted_.load(); }

private:
    void run();
    void playFile(const AudioDeviceInfo& device, const std::string& path,
                  std::uint64_t generation);
    bool cancelled(std::uint64_t generation) const;

    const std::string deviceName_;
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;  // a request or the end
    mutable std::condition_variable idle_;  // the thread finished a play
    std::optional<std::string> request_;
    bool playing_ = false;
    std::atomic<std::uint64_t> generation_{0};  // bumped by every play, purge and the end
    std::atomic<bool> exit_{false};
    std::atomic<std::uint64_t> playsStarted_{0};
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace tunewick
