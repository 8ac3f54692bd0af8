#pragma once
// Plays a WAV file asynchronously: a new play replaces a sound still playing, purge stops it.
// A missing file or no output device is quietly ignored; no call blocks for long.
#include <string>

namespace tunewick {

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const std::string& path) = 0;
    virtual void purge() = 0;
};

// Plays nothing: for tests and for a machine without sound output.
class SilentSoundPlayer final : public SoundPlayer {
public:
    void play(const std::string&) override {}
    void purge() override {}
};

}  // namespace tunewick
