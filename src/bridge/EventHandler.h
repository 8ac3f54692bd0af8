#pragma once
// Base of the handlers of events that the host raises inside itself ("pageUnload", ...).
namespace tunewick {

class FunctionCall;

class EventHandler {
public:
    virtual ~EventHandler() = default;
    virtual void handleEvent(FunctionCall* event) = 0;
};

}  // namespace tunewick
