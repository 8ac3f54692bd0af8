#include "commands/ChordCommands.h"

#include <cmath>
#include <optional>

#include "audio/recording/ChordStrum.h"
#include "audio/recording/SoundPlayer.h"
#include "bridge/FlashObject.h"

namespace tunewick {
namespace {

constexpr std::size_t kMostNotes = 12;
constexpr double kShortest = 0.5, kLongest = 5.0, kDefaultSeconds = 2.5;

// The notes of an array of whole numbers, in its order; nullopt for anything else.
std::optional<std::vector<int>> notesOf(const Param& list) {
    if (list.type() != Param::Array || !list.getObject()) return std::nullopt;
    const FlashObject& map = *list.getObject();
    if (map.size() == 0 || map.size() > kMostNotes) return std::nullopt;
    std::vector<int> notes;
    for (std::size_t i = 0; i < map.size(); ++i) {
        // An array's keys are its indices; a missing one is a malformed list.
        const Param* value = map.getProperty(std::to_string(i));
        if (!value || value->type() != Param::Number) return std::nullopt;
        const double midi = value->getNumber();
        if (!std::isfinite(midi) || midi != std::floor(midi) || midi < 0.0 || midi > 127.0) return std::nullopt;
        notes.push_back(static_cast<int>(midi));
    }
    return notes;
}

}  // namespace

PlayChordCommand::PlayChordCommand(SoundPlayer& player, std::string path)
    : FunctionCommand("playChord"), player_(player), path_(std::move(path)) {}

Param PlayChordCommand::execute(const std::vector<Param>& arguments) {
    if (arguments.empty()) return Param(false);
    const auto notes = notesOf(arguments[0]);
    if (!notes) return Param(false);
    double seconds = kDefaultSeconds;
    if (arguments.size() > 1 && arguments[1].type() != Param::Null) {
        if (arguments[1].type() != Param::Number) return Param(false);
        seconds = arguments[1].getNumber();
        if (!(seconds >= kShortest && seconds <= kLongest)) return Param(false);
    }
    if (!writeStrum(path_, *notes, seconds)) return Param(false);
    player_.play(path_);
    return Param(true);
}

}  // namespace tunewick
