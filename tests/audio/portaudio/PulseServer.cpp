#include "PulseServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace tunewick::testing {
namespace {

using namespace std::chrono_literals;

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

bool socketAccepts(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                           const std::string& stderrPath) {
    if (argv.empty()) return;
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string out = stdoutPath.empty() ? "/dev/null" : stdoutPath;
    const std::string err = stderrPath.empty() ? "/dev/null" : stderrPath;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) return;
    if (pid == 0) {
        // Never outlive the test, even when it crashes. (The signal follows the forking
        // thread: children are made on the test's main thread.)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    pid_ = pid;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop(SIGKILL, 2s);
        pid_ = other.pid_;
        other.pid_ = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() { stop(SIGKILL, 2s); }

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return status;
        }
        if (done < 0) {  // not our child any more: nothing to wait for
            pid_ = -1;
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

std::optional<int> ChildProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return std::nullopt;
    const pid_t pid = pid_;
    ::kill(pid, signal);
    if (auto status = wait(timeout)) return status;
    if (pid_ > 0) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid_ = -1;
        return status;
    }
    return std::nullopt;
}

PulseServer::PulseServer() {
    ok_ = start();
    if (!ok_) {
        listener_.stop(SIGKILL, 2s);
        server_.stop(SIGKILL, 2s);
    }
}

PulseServer::~PulseServer() {
    listener_.stop(SIGTERM, 2s);
    server_.stop(SIGTERM, 3s);
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool PulseServer::start() {
    for (const char* tool : {"pulseaudio", "pactl", "parec"}) {
        if (!onPath(tool)) {
            problem_ = std::string(tool) + " is not on PATH";
            return false;
        }
    }
    char pattern[] = "/tmp/tunewick-pulse-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        problem_ = "cannot make a temporary folder";
        return false;
    }
    dir_ = pattern;
    for (const char* sub : {"home", "run", "run/pulse", "state"}) {
        std::filesystem::create_directories(dir_ / sub);
    }
    const std::string socket = (dir_ / "native").string();
    writeFile(dir_ / "client.conf", "autospawn = no\n");
    // Only the server: the test's PortAudio then sees exactly "default" and "pulse".
    writeFile(dir_ / "alsa.conf",
              "pcm.!default { type pulse }\nctl.!default { type pulse }\n"
              "pcm.pulse { type pulse }\nctl.pulse { type pulse }\n");
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    ::setenv("PULSE_RUNTIME_PATH", (dir_ / "run/pulse").c_str(), 1);
    ::setenv("PULSE_STATE_PATH", (dir_ / "state").c_str(), 1);
    ::setenv("PULSE_CLIENTCONFIG", (dir_ / "client.conf").c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    ::setenv("ALSA_CONFIG_PATH", (dir_ / "alsa.conf").c_str(), 1);
    return launch();
}

void PulseServer::crash() {
    listener_.stop(SIGKILL, 2s);
    server_.stop(SIGKILL, 2s);
    std::error_code ignored;
    std::filesystem::remove(dir_ / "native", ignored);
}

bool PulseServer::revive() {
    ok_ = launch();
    return ok_;
}

bool PulseServer::launch() {
    const std::string socket = (dir_ / "native").string();
    server_ = ChildProcess(
        {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
         "--use-pid-file=no", "--high-priority=no", "--realtime=no", "--log-target=stderr",
         "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
         std::string("--load=module-null-sink rate=48000 sink_name=") + kSink},
        {}, (dir_ / "server.log").string());
    if (!server_.valid()) {
        problem_ = "cannot start pulseaudio";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!socketAccepts(socket)) {
        if (!server_.running()) {
            problem_ = "pulseaudio ended at start: " + log();
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            problem_ = "pulseaudio did not open its socket in time: " + log();
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    if (run({"pactl", "set-default-sink", kSink}) != 0 ||
        run({"pactl", "set-default-source", kMonitor}) != 0) {
        problem_ = "pactl cannot set the defaults: " + log();
        return false;
    }
    return keepSinkResponsive();
}

// A null sink with nobody listening renders in blocks of two seconds, and one that gets a
// listener finishes its current block first: capture would start up to two seconds late. A
// real microphone does not do that. So a low-latency listener stays attached to the monitor
// all along, attached while the sink is suspended, so that it runs in small blocks from the
// moment it resumes.
bool PulseServer::keepSinkResponsive() {
    const auto heard = dir_ / "keepalive.raw";
    if (run({"pactl", "suspend-sink", kSink, "1"}) != 0) {
        problem_ = "pactl cannot suspend the sink: " + log();
        return false;
    }
    listener_ = ChildProcess({"parec", "-d", kMonitor, "--latency-msec=10", "--rate=8000",
                              "--channels=1", "--format=u8", "--raw"},
                             heard.string());
    // It is attached once the server lists it.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        std::string outputs;
        if (run({"pactl", "list", "short", "source-outputs"}, &outputs) == 0 &&
            outputs.find_first_not_of(" \n") != std::string::npos) {
            break;
        }
        if (!listener_.running() || std::chrono::steady_clock::now() >= deadline) {
            problem_ = "parec did not attach to the monitor: " + log();
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    if (run({"pactl", "suspend-sink", kSink, "0"}) != 0) {
        problem_ = "pactl cannot resume the sink: " + log();
        return false;
    }
    std::error_code missing;
    while (std::filesystem::file_size(heard, missing) == 0 || missing) {
        if (std::chrono::steady_clock::now() >= deadline) {
            problem_ = "the sink's monitor gives no sound: " + log();
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string PulseServer::log() const {
    std::ifstream in(dir_ / "server.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int PulseServer::run(const std::vector<std::string>& argv, std::string* output,
                     std::chrono::milliseconds timeout) const {
    const std::string outPath = (dir_ / "tool.out").string();
    ChildProcess tool(argv, outPath);
    if (!tool.valid()) return -1;
    const auto status = tool.wait(timeout);
    if (!status) {
        tool.stop(SIGKILL, 1s);
        return -1;
    }
    if (output != nullptr) {
        std::ifstream in(outPath);
        std::stringstream text;
        text << in.rdbuf();
        *output = text.str();
    }
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

std::optional<int> PulseServer::loadSine(int hz) const {
    std::string output;
    if (run({"pactl", "load-module", "module-sine", std::string("sink=") + kSink,
             "frequency=" + std::to_string(hz)},
            &output) != 0) {
        return std::nullopt;
    }
    try {
        return std::stoi(output);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void PulseServer::unloadModule(int index) const {
    run({"pactl", "unload-module", std::to_string(index)});
}

}  // namespace tunewick::testing
