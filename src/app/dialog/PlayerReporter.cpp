#include "app/dialog/PlayerReporter.h"

#include "app/web/WebControl.h"

#include <cerrno>

namespace tunewick {

PlayerReporter::PlayerReporter(WebControl& control, int errorFd) : control_(control), errorFd_(errorFd) {}

void PlayerReporter::report(const std::string& caption, const std::string& text) {
    const std::string line = caption + ": " + text + "\n";
    {
        std::lock_guard lock(mutex_);
        std::size_t written = 0;
        while (written < line.size()) {
            const ssize_t n = ::write(errorFd_, line.data() + written, line.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // nowhere to write: the player still shows it
            written += static_cast<std::size_t>(n);
        }
    }
    control_.alert(caption, text);
}

}  // namespace tunewick
