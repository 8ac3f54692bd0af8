#pragma once
// Event name -> handlers in registration order. Events are raised by host code only.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/EventHandler.h"
#include "bridge/FunctionCall.h"

namespace tunewick {

class EventRegistry {
public:
    using Handlers = std::vector<std::shared_ptr<EventHandler>>;

    // Appends the handler under `name` unless that very object is already there.
    void addEventHandler(const std::string& name, std::shared_ptr<EventHandler> handler);
    bool hasEventHandler(const std::string& name, const EventHandler* handler) const;
    // The name's handlers, made empty first if the name has none.
    Handlers& handlersFor(const std::string& name);
    // Calls the handlers under the call's exact name, in order, each to completion. A handler
    // added meanwhile is first called at the next raise.
    void raiseEvent(FunctionCall& event);

private:
    std::map<std::string, Handlers> handlers_;
};

}  // namespace tunewick
