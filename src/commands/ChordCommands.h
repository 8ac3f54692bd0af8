#pragma once
// The chords page's own command: a strum of a chord through the sound player. Runs on the
// dialog's thread, like every command; the player it is given outlives it.
#include <string>

#include "bridge/FunctionCommand.h"

namespace tunewick {

class SoundPlayer;

// "playChord"(midi list[, seconds]): plays a synthesised strum of the notes (lowest string
// first, 1 .. 12 whole numbers from 28 to 100) through the sound player, replacing a sound
// still playing, and answers true. The length is 0.5 .. 5 s, 2.5 s when left out. Anything
// else answers false and plays nothing; so does a strum that cannot be written to `path`.
class PlayChordCommand final : public FunctionCommand {
public:
    static constexpr const char* kDefaultPath = "data/sound/chord.wav";

    explicit PlayChordCommand(SoundPlayer& player, std::string path = kDefaultPath);
    Param execute(const std::vector<Param>& arguments) override;

private:
    SoundPlayer& player_;
    std::string path_;
};

}  // namespace tunewick
