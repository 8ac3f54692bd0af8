#include "commands/ListeningCommands.h"

#include <optional>
#include <vector>

#include "audio/Status.h"
#include "audio/listening/ChordListener.h"
#include "audio/practice/PracticeEvents.h"
#include "audio/practice/PracticeSession.h"

namespace tunewick {
namespace {

const Param& argumentAt(const std::vector<Param>& arguments, std::size_t index) {
    static const Param none;
    return index < arguments.size() ? arguments[index] : none;
}

}  // namespace

StartChordListenerCommand::StartChordListenerCommand(ChordListener& listener)
    : FunctionCommand("startChordListener"), listener_(listener) {}

Param StartChordListenerCommand::execute(const std::vector<Param>&) {
    listener_.start();
    return Param();
}

StopChordListenerCommand::StopChordListenerCommand(ChordListener& listener)
    : FunctionCommand("stopChordListener"), listener_(listener) {}

Param StopChordListenerCommand::execute(const std::vector<Param>&) {
    listener_.stop();
    return Param();
}

SetChordTargetCommand::SetChordTargetCommand(ChordListener& listener)
    : FunctionCommand("setChordTarget"), listener_(listener) {}

Param SetChordTargetCommand::execute(const std::vector<Param>& arguments) {
    const Param& given = argumentAt(arguments, 0);
    if (given.type() == Param::Null) {
        listener_.setTarget(std::nullopt);
        return Param(true);
    }
    auto notes = parseExpectedNotes(given);
    if (!notes || notes->size() < 2) return Param(false);
    listener_.setTarget(std::move(*notes));
    return Param(true);
}

StartPracticeCommand::StartPracticeCommand(PracticeSession& session, std::function<double()> latencyMs)
    : FunctionCommand("startPractice"), session_(session), latencyMs_(std::move(latencyMs)) {}

Param StartPracticeCommand::execute(const std::vector<Param>& arguments) {
    auto events = parsePracticeEvents(argumentAt(arguments, 0));
    const auto startDelay = parseStartDelay(argumentAt(arguments, 1));
    const auto options = parsePracticeOptions(argumentAt(arguments, 2));
    if (!events || !startDelay || !options) return Param(false);
    const double latency = latencyMs_ ? latencyMs_() : 0.0;
    return Param(!status::failed(session_.start(std::move(*events), *startDelay, *options, latency)));
}

SetMusicLateCommand::SetMusicLateCommand(PracticeSession& session)
    : FunctionCommand("setMusicLate"), session_(session) {}

Param SetMusicLateCommand::execute(const std::vector<Param>& arguments) {
    const Param& ms = argumentAt(arguments, 0);
    const Param& from = argumentAt(arguments, 1);
    if (ms.type() != Param::Number || (from.type() != Param::Null && from.type() != Param::Number)) return Param(false);
    return Param(session_.setMusicLate(ms.getNumber(), from.type() == Param::Number ? from.getNumber() : 0.0));
}

StopPracticeCommand::StopPracticeCommand(PracticeSession& session)
    : FunctionCommand("stopPractice"), session_(session) {}

Param StopPracticeCommand::execute(const std::vector<Param>&) { return session_.stop(); }

}  // namespace tunewick
