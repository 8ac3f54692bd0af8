#pragma once
// Base of every command a movie can call by name.
#include <string>
#include <vector>

#include "bridge/Param.h"

namespace tunewick {

class FunctionCommand {
public:
    explicit FunctionCommand(std::string name) : name_(std::move(name)) {}
    virtual ~FunctionCommand() = default;
    FunctionCommand(const FunctionCommand&) = delete;
    FunctionCommand& operator=(const FunctionCommand&) = delete;

    // Runs the command on the request's arguments (read only; not to be kept) and returns
    // the reply value.
    virtual Param execute(const std::vector<Param>& arguments) = 0;
    // Hooks around execute; the dispatcher calls afterExecute once the reply has been set.
    virtual void beforeExecute() {}
    virtual void afterExecute() {}

    std::string getName() const { return name_; }

private:
    std::string name_;
};

}  // namespace tunewick
