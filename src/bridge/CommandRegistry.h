#pragma once
// Command name -> command; serves a movie's request and answers it through the control.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bridge/FlashControl.h"
#include "bridge/FunctionCommand.h"

namespace tunewick {

class CommandRegistry {
public:
    CommandRegistry() = default;
    CommandRegistry(const CommandRegistry&) = delete;
    CommandRegistry& operator=(const CommandRegistry&) = delete;

    // Takes the command; a second command of the same name replaces the first.
    void add(std::unique_ptr<FunctionCommand> command);
    // nullptr when no command has that exact name.
    FunctionCommand* find(const std::string& name) const;
    std::size_t size() const { return commands_.size(); }
    // Every command's name, sorted.
    std::vector<std::string> names() const;

    // Parses the request, runs the command of that name (beforeExecute, execute, the reply,
    // afterExecute) and gives its value, as XML, to control->SetReturnValue exactly once; an
    // unknown or empty name is answered "<null/>". If the command throws before the reply,
    // the reply is "<null/>" and the exception goes on to the caller.
    void dispatch(const std::string& request);

    FlashControl* control = nullptr;  // not owned

private:
    std::unordered_map<std::string, std::unique_ptr<FunctionCommand>> commands_;
};

}  // namespace tunewick
