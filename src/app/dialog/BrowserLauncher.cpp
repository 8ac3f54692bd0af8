#include "app/dialog/BrowserLauncher.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace tunewick {
namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A fresh, private folder for Chromium's profile, so it neither touches nor waits for the
// user's own browser session.
std::filesystem::path makeProfileDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tunewick-browser-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

// Starts the command detached from the host's terminal output and descriptors, with the
// signal state a fresh program expects (the host may block or ignore signals).
pid_t spawn(const BrowserCommand& command) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.reserve(command.arguments.size() + 1);
    for (const std::string& argument : command.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = command.searchPath
                       ? posix_spawnp(&pid, command.program.c_str(), &actions, &attributes, argv.data(), environ)
                       : posix_spawn(&pid, command.program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

}  // namespace

BrowserEnvironment detectBrowserEnvironment() {
    BrowserEnvironment environment;
    environment.hasDisplay = isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
    if (::access("/usr/bin/chromium", X_OK) == 0) environment.chromium = "/usr/bin/chromium";
    environment.runningAsRoot = ::geteuid() == 0;
    return environment;
}

std::optional<BrowserCommand> browserCommand(const std::string& url, const BrowserEnvironment& environment,
                                             const std::filesystem::path& profileDir) {
    if (!environment.hasDisplay) return std::nullopt;
    if (!environment.chromium.empty() && !profileDir.empty()) {
        BrowserCommand command{environment.chromium, {environment.chromium}, false};
        command.arguments.push_back("--app=" + url);
        command.arguments.push_back("--user-data-dir=" + profileDir.string());
        command.arguments.push_back("--start-fullscreen");
        command.arguments.push_back("--no-first-run");
        command.arguments.push_back("--no-default-browser-check");
        if (environment.runningAsRoot) command.arguments.push_back("--no-sandbox");
        return command;
    }
    return BrowserCommand{environment.defaultOpener, {environment.defaultOpener, url}, true};
}

BrowserLauncher::BrowserLauncher(BrowserEnvironment environment) : environment_(std::move(environment)) {}

BrowserLauncher::~BrowserLauncher() {
    bool ended = child_ < 0;
    if (child_ > 0) {
        int status = 0;
        pid_t reaped = 0;
        do {
            reaped = ::waitpid(child_, &status, WNOHANG);
        } while (reaped < 0 && errno == EINTR);
        ended = reaped == child_ || (reaped < 0 && errno == ECHILD);
    }
    // A browser still running keeps its profile; only an ended one's is cleared away.
    if (ended && !profileDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(profileDir_, ignored);
    }
}

bool BrowserLauncher::open(const std::string& url, std::FILE* notes) {
    if (child_ > 0 || !profileDir_.empty()) return false;
    if (!environment_.hasDisplay) {
        std::fprintf(notes, "tunewick: no display found; open %s in a browser\n", url.c_str());
        return false;
    }
    if (!environment_.chromium.empty()) profileDir_ = makeProfileDir();
    const std::optional<BrowserCommand> command = browserCommand(url, environment_, profileDir_);
    if (command) child_ = spawn(*command);
    if (child_ < 0) {
        std::fprintf(notes, "tunewick: could not start a browser; open %s in one\n", url.c_str());
        return false;
    }
    return true;
}

}  // namespace tunewick
