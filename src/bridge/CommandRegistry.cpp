#include "bridge/CommandRegistry.h"

#include "bridge/FunctionCall.h"

#include <algorithm>

namespace tunewick {

void CommandRegistry::add(std::unique_ptr<FunctionCommand> command) {
    if (!command) return;
    const std::string name = command->getName();
    commands_[name] = std::move(command);
}

FunctionCommand* CommandRegistry::find(const std::string& name) const {
    const auto found = commands_.find(name);
    return found == commands_.end() ? nullptr : found->second.get();
}

std::vector<std::string> CommandRegistry::names() const {
    std::vector<std::string> names;
    names.reserve(commands_.size());
    for (const auto& entry : commands_) names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    return names;
}

void CommandRegistry::dispatch(const std::string& request) {
    FunctionCall call;
    call.parse(request);

    // A request that names nothing never reaches a command, whatever is registered.
    FunctionCommand* command = call.name.empty() ? nullptr : find(call.name);
    bool replied = false;
    const auto reply = [&](const std::string& value) {
        replied = true;
        if (control) control->SetReturnValue(value);
    };
    if (!command) {
        reply("<null/>");
        return;
    }
    try {
        command->beforeExecute();
        const Param result = command->execute(call.arguments);
        reply(result.toXml());
        command->afterExecute();
    } catch (...) {
        // The movie is waiting for its answer: give it one before the error goes on.
        if (!replied) reply("<null/>");
        throw;
    }
}

}  // namespace tunewick
