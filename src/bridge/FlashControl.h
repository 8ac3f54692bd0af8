#pragma once
// The host's window on the player: the three operations the host calls and the one event
// (FlashCall) through which a movie calls the host. Implementations: the web control of the
// application, and fakes in tests. All calls are made on the dialog's thread.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tunewick {

class FlashControl {
public:
    using FlashCallHandler = std::function<void(const std::string& request)>;

    virtual ~FlashControl() = default;

    // Loads a movie into a layer of the player (the start movie goes to layer 0).
    virtual void LoadMovie(std::int32_t layer, const std::string& url) = 0;
    // Calls a function that the current movie has made callable; returns its reply text
    // (empty when there is no reply, which reads as null).
    virtual std::string CallFunction(const std::string& request) = 0;
    // The reply to the movie's call that is being served.
    virtual void SetReturnValue(const std::string& value) = 0;
    // The names of the commands a movie can call, before the start movie loads. A player
    // that must know them up front (SWF movies call them as global functions) uses them;
    // the rest ignore them.
    virtual void setCommandNames(std::vector<std::string> names) { (void)names; }

    // The FlashCall event: the handler runs on the dialog's thread, once per movie call, and
    // answers it with SetReturnValue before it returns.
    void setFlashCallHandler(FlashCallHandler handler) { flashCall_ = std::move(handler); }

protected:
    void fireFlashCall(const std::string& request) {
        if (flashCall_) flashCall_(request);
    }

private:
    FlashCallHandler flashCall_;
};

}  // namespace tunewick
