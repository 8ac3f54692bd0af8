#pragma once
// Opens the player: in Chromium's app mode (its own window, no browser chrome, full screen,
// a fresh profile) when there is a display and Chromium is installed, else in the desktop's
// default browser through xdg-open. The browser is started directly (never through a
// shell) and the host never waits for it.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tunewick {

struct BrowserEnvironment {
    bool hasDisplay = false;   // $DISPLAY or $WAYLAND_DISPLAY is set
    std::string chromium;      // Chromium's program path, empty if not installed
    std::string defaultOpener = "xdg-open";  // looked up on PATH
    bool runningAsRoot = false;  // Chromium refuses to run as root inside its sandbox
};

// What this machine offers, from the environment variables and /usr/bin/chromium.
BrowserEnvironment detectBrowserEnvironment();

struct BrowserCommand {
    std::string program;
    std::vector<std::string> arguments;  // argv, starting with the program's name
    bool searchPath = false;             // program is a bare name to look up on PATH
};

// The command that opens `url`, or nothing without a display. `profileDir` is used for
// Chromium only.
std::optional<BrowserCommand> browserCommand(const std::string& url, const BrowserEnvironment& environment,
                                             const std::filesystem::path& profileDir);

class BrowserLauncher {
public:
    explicit BrowserLauncher(BrowserEnvironment environment = detectBrowserEnvironment());
    // Collects the browser if it has ended (never waits for it) and then removes the
    // profile folder it was given.
    ~BrowserLauncher();
    BrowserLauncher(const BrowserLauncher&) = delete;
    BrowserLauncher& operator=(const BrowserLauncher&) = delete;

    // Starts the browser on `url` (once; later calls do nothing and return false). Without
    // a display, or when nothing could be started, writes a line saying so to `notes` and
    // returns false.
    bool open(const std::string& url, std::FILE* notes = stderr);

    // The process started, or -1.
    pid_t child() const { return child_; }
    // Chromium's fresh profile folder, empty when none was made.
    const std::filesystem::path& profileDir() const { return profileDir_; }

private:
    BrowserEnvironment environment_;
    pid_t child_ = -1;
    std::filesystem::path profileDir_;
};

}  // namespace tunewick
