#include "audio/portaudio/StderrFilter.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace tunewick {
namespace {

void writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t done = ::write(fd, data, length);
        if (done < 0) return;
        data += done;
        length -= static_cast<std::size_t>(done);
    }
}

}  // namespace

bool isPortAudioNoise(std::string_view line) {
    return line.starts_with("Expression '") && line.find("' failed in 'src/") != std::string_view::npos;
}

StderrFilter::StderrFilter(std::function<bool(std::string_view)> drop) : drop_(std::move(drop)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::fflush(stderr);
    original_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (original_ < 0 || ::dup2(fds[1], STDERR_FILENO) < 0) {
        if (original_ >= 0) ::close(original_);
        original_ = -1;
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    ::close(fds[1]);
    readEnd_ = fds[0];
    thread_ = std::thread([this] { pass(); });
}

StderrFilter::~StderrFilter() {
    if (original_ < 0) return;
    std::fflush(stderr);
    // The pipe's last write end goes: the thread reads to its end and stops.
    ::dup2(original_, STDERR_FILENO);
    thread_.join();
    ::close(readEnd_);
    ::close(original_);
}

void StderrFilter::pass() {
    // Made before the program sets up its signal handling: signals are for other threads.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::string pending;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(readEnd_, chunk, sizeof chunk);
        if (got <= 0) break;
        pending.append(chunk, static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string_view line(pending.data() + start, end - start);
            if (!drop_(line)) writeAll(original_, pending.data() + start, end - start + 1);
        }
        pending.erase(0, start);
    }
    if (!pending.empty() && !drop_(pending)) writeAll(original_, pending.data(), pending.size());
}

}  // namespace tunewick
