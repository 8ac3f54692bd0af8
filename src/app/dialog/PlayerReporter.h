#pragma once
// The host's message box: a report goes to stderr as the line "Caption: text" and is shown
// as a modal in the player. Safe from any thread (the capture threads report through it);
// reports never interleave on stderr.
#include "bridge/Reporter.h"

#include <mutex>
#include <string>
#include <unistd.h>

namespace tunewick {

class WebControl;

class PlayerReporter final : public Reporter {
public:
    // `control` must outlive the reporter; `errorFd` is where the lines go.
    explicit PlayerReporter(WebControl& control, int errorFd = STDERR_FILENO);

    void report(const std::string& caption, const std::string& text) override;

private:
    WebControl& control_;
    const int errorFd_;
    std::mutex mutex_;
};

}  // namespace tunewick
