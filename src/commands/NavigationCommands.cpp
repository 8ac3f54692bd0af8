#include "commands/NavigationCommands.h"

#include "navigation/Navigation.h"

namespace tunewick {

GetHistoryInfoCommand::GetHistoryInfoCommand(Navigation& navigation)
    : FunctionCommand("getHistoryInfo"), navigation_(navigation) {}

Param GetHistoryInfoCommand::execute(const std::vector<Param>&) { return navigation_.historyInfo(); }

GoBackCommand::GoBackCommand(Navigation& navigation) : FunctionCommand("goBack"), navigation_(navigation) {}

Param GoBackCommand::execute(const std::vector<Param>&) { return Param(navigation_.goBack()); }

GoForwardCommand::GoForwardCommand(Navigation& navigation)
    : FunctionCommand("goForward"), navigation_(navigation) {}

Param GoForwardCommand::execute(const std::vector<Param>&) { return Param(navigation_.goForward()); }

LoadSwfCommand::LoadSwfCommand(Navigation& navigation) : FunctionCommand("loadSwf"), navigation_(navigation) {}

Param LoadSwfCommand::execute(const std::vector<Param>& arguments) {
    if (!arguments.empty() && arguments.front().type() == Param::String) {
        navigation_.load(arguments.front().getString());
    }
    return Param();
}

}  // namespace tunewick
