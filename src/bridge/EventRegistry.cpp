#include "bridge/EventRegistry.h"

#include <algorithm>

namespace tunewick {

void EventRegistry::addEventHandler(const std::string& name, std::shared_ptr<EventHandler> handler) {
    if (!handler || hasEventHandler(name, handler.get())) return;
    handlersFor(name).push_back(std::move(handler));
}

bool EventRegistry::hasEventHandler(const std::string& name, const EventHandler* handler) const {
    const auto found = handlers_.find(name);
    if (found == handlers_.end()) return false;
    return std::any_of(found->second.begin(), found->second.end(),
                       [&](const std::shared_ptr<EventHandler>& h) { return h.get() == handler; });
}

EventRegistry::Handlers& EventRegistry::handlersFor(const std::string& name) { return handlers_[name]; }

void EventRegistry::raiseEvent(FunctionCall& event) {
    const auto found = handlers_.find(event.name);
    if (found == handlers_.end()) return;
    // A copy: a handler that registers another one must not pull the list from under the loop.
    const Handlers handlers = found->second;
    for (const auto& handler : handlers)
        if (handler) handler->handleEvent(&event);
}

}  // namespace tunewick
