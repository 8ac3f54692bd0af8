#pragma once
// "exit": ends the application's main dialog once the reply has been handed over.
#include <functional>

#include "bridge/FunctionCommand.h"

namespace tunewick {

class ExitCommand final : public FunctionCommand {
public:
    // `endDialog` ends the dialog's message loop with the given code (1: IDOK).
    explicit ExitCommand(std::function<void(int)> endDialog);
    Param execute(const std::vector<Param>& arguments) override;

private:
    std::function<void(int)> endDialog_;
};

}  // namespace tunewick
