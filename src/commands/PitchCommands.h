#pragma once
// The commands of the pitch tracker and the reference tone: Tunewick's own, beside the
// specified audio commands and in their style.
#include <functional>
#include <string>

#include "bridge/FunctionCommand.h"

namespace tunewick {

class PitchTracker;
class SoundPlayer;

// "startPitchTracker": starts the pitch tracker. Answers null.
class StartPitchTrackerCommand final : public FunctionCommand {
public:
    explicit StartPitchTrackerCommand(PitchTracker& tracker);
    Param execute(const std::vector<Param>& arguments) override;

private:
    PitchTracker& tracker_;
};

// "stopPitchTracker": stops it; a pitch still sounding is ended with one null reading.
// Answers null.
class StopPitchTrackerCommand final : public FunctionCommand {
public:
    explicit StopPitchTrackerCommand(PitchTracker& tracker);
    Param execute(const std::vector<Param>& arguments) override;

private:
    PitchTracker& tracker_;
};

// "setReferencePitch": a number from 415 to 466 sets A4 (Hz) and answers true; anything
// else answers false and changes nothing. `onChange` (may be empty) hears each new pitch,
// so that it can be kept for the next run.
class SetReferencePitchCommand final : public FunctionCommand {
public:
    SetReferencePitchCommand(PitchTracker& tracker, std::function<void(double)> onChange = {});
    Param execute(const std::vector<Param>& arguments) override;

private:
    PitchTracker& tracker_;
    std::function<void(double)> onChange_;
};

// "setPitchFocus": a positive number (Hz) narrows the search to six semitones either side
// and answers true; a number <= 0 or no argument clears the focus and answers null; any other
// argument answers false and changes nothing.
class SetPitchFocusCommand final : public FunctionCommand {
public:
    explicit SetPitchFocusCommand(PitchTracker& tracker);
    Param execute(const std::vector<Param>& arguments) override;

private:
    PitchTracker& tracker_;
};

// "playReferenceTone" (frequency in Hz, seconds): plays a synthesised plucked string at that
// pitch through the sound player, replacing a sound still playing, and answers true. The
// frequency must be 20 .. 2000 Hz and the length 0.1 .. 5 s, else it answers false. The tone
// is written to `path` first (a new file renamed into place, so a tone still playing is never
// overwritten under the player); false when it cannot be written.
class PlayReferenceToneCommand final : public FunctionCommand {
public:
    static constexpr const char* kDefaultPath = "data/sound/reference-tone.wav";

    explicit PlayReferenceToneCommand(SoundPlayer& player, std::string path = kDefaultPath);
    Param execute(const std::vector<Param>& arguments) override;

private:
    SoundPlayer& player_;
    std::string path_;
};

}  // namespace tunewick
