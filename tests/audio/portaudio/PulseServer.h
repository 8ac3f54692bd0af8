#pragma once
// A private PulseAudio sound server for one test process: its own folder under /tmp (runtime,
// state, HOME), a null sink "tunewick_test" that is the default sink and whose monitor is the
// default source, and an ALSA configuration of its own (ALSA_CONFIG_PATH) whose default device
// is that server, so PortAudio's ALSA back end reaches it. Nothing of the machine's own
// configuration is changed: only this process's environment.
//
// The server dies with the process that made it (PR_SET_PDEATHSIG) and is ended, and its
// folder removed, by the destructor. When it cannot start, ok() is false and problem() says
// why: the tests that need it then skip.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tunewick::testing {

// A child process, ended (SIGKILL) and reaped at the latest by the destructor.
class ChildProcess {
public:
    ChildProcess() = default;
    // Runs argv[0] (looked up on PATH) with its stdout to `stdoutPath` (or /dev/null) and its
    // stderr to `stderrPath` (or /dev/null). valid() is false when it could not be started.
    ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath = {},
                 const std::string& stderrPath = {});
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();

    bool valid() const { return pid_ > 0; }
    bool running();
    // Sends `signal` and waits up to `timeout` for the end (then SIGKILL); the exit status
    // as waitpid gives it, or nothing when there was no process.
    std::optional<int> stop(int signal, std::chrono::milliseconds timeout);
    // Waits up to `timeout` for the process to end on its own.
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
};

class PulseServer {
public:
    static constexpr const char* kSink = "tunewick_test";
    static constexpr const char* kMonitor = "tunewick_test.monitor";

    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool ok() const { return ok_; }
    const std::string& problem() const { return problem_; }
    const std::filesystem::path& dir() const { return dir_; }
    // The server's own log so far (for failure messages).
    std::string log() const;

    // Runs a client tool (pactl, paplay ...) to its end, at most `timeout`; its exit code,
    // or -1 when it could not run or was ended. Its stdout goes to *output when given.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // A sine of `hz` played into the sink by the server itself (module-sine) until
    // unloaded; its module index, or nothing on a failure.
    std::optional<int> loadSine(int hz) const;
    void unloadModule(int index) const;

    // Kills the server at once, as a crash would (its clients see their streams fail).
    void crash();
    // Starts it again on the same socket, with the same sink; false when it would not.
    bool revive();

private:
    bool start();
    bool launch();
    bool keepSinkResponsive();

    std::filesystem::path dir_;
    ChildProcess server_;
    ChildProcess listener_;  // keeps the null sink rendering in small blocks
    bool ok_ = false;
    std::string problem_;
};

}  // namespace tunewick::testing
