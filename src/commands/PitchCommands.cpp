#include "commands/PitchCommands.h"

#include <cmath>
#include <optional>

#include "audio/analysis/PitchTracker.h"
#include "audio/recording/ReferenceTone.h"
#include "audio/recording/SoundPlayer.h"

namespace tunewick {
namespace {

constexpr double kLowestTone = 20.0, kHighestTone = 2000.0;
constexpr double kShortestTone = 0.1, kLongestTone = 5.0;

// The argument at `index` as a number, when it is one.
std::optional<double> numberAt(const std::vector<Param>& arguments, std::size_t index) {
    if (index >= arguments.size() || arguments[index].type() != Param::Number) return std::nullopt;
    return arguments[index].getNumber();
}

}  // namespace

StartPitchTrackerCommand::StartPitchTrackerCommand(PitchTracker& tracker)
    : FunctionCommand("startPitchTracker"), tracker_(tracker) {}

Param StartPitchTrackerCommand::execute(const std::vector<Param>&) {
    tracker_.start();
    return Param();
}

StopPitchTrackerCommand::StopPitchTrackerCommand(PitchTracker& tracker)
    : FunctionCommand("stopPitchTracker"), tracker_(tracker) {}

Param StopPitchTrackerCommand::execute(const std::vector<Param>&) {
    tracker_.stop();
    return Param();
}

SetReferencePitchCommand::SetReferencePitchCommand(PitchTracker& tracker,
                                                   std::function<void(double)> onChange)
    : FunctionCommand("setReferencePitch"), tracker_(tracker), onChange_(std::move(onChange)) {}

Param SetReferencePitchCommand::execute(const std::vector<Param>& arguments) {
    const auto hz = numberAt(arguments, 0);
    if (!hz || !tracker_.setReferencePitch(*hz)) return Param(false);
    if (onChange_) onChange_(tracker_.referencePitch());
    return Param(true);
}

SetPitchFocusCommand::SetPitchFocusCommand(PitchTracker& tracker)
    : FunctionCommand("setPitchFocus"), tracker_(tracker) {}

Param SetPitchFocusCommand::execute(const std::vector<Param>& arguments) {
    if (arguments.empty()) {
        tracker_.setFocus(0.0);
        return Param();
    }
    const auto hz = numberAt(arguments, 0);
    if (!hz || std::isnan(*hz)) return Param(false);
    if (*hz <= 0.0) {
        tracker_.setFocus(0.0);
        return Param();
    }
    if (!std::isfinite(*hz)) return Param(false);
    tracker_.setFocus(*hz);
    return Param(true);
}

PlayReferenceToneCommand::PlayReferenceToneCommand(SoundPlayer& player, std::string path)
    : FunctionCommand("playReferenceTone"), player_(player), path_(std::move(path)) {}

Param PlayReferenceToneCommand::execute(const std::vector<Param>& arguments) {
    const auto hz = numberAt(arguments, 0);
    const auto seconds = numberAt(arguments, 1);
    if (!hz || !(*hz >= kLowestTone && *hz <= kHighestTone)) return Param(false);
    if (!seconds || !(*seconds >= kShortestTone && *seconds <= kLongestTone)) return Param(false);
    if (!writeReferenceTone(path_, *hz, *seconds)) return Param(false);
    player_.play(path_);
    return Param(true);
}

}  // namespace tunewick
