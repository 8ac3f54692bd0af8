#include "commands/ExitCommand.h"

#include <utility>

namespace tunewick {

namespace {
constexpr int kIdOk = 1;
}

ExitCommand::ExitCommand(std::function<void(int)> endDialog)
    : FunctionCommand("exit"), endDialog_(std::move(endDialog)) {}

Param ExitCommand::execute(const std::vector<Param>&) {
    // Ending the loop only marks it to stop; the reply still goes out before it does.
    if (endDialog_) endDialog_(kIdOk);
    return Param();
}

}  // namespace tunewick
