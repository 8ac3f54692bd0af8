#pragma once
// Keeps a library's diagnostics off the user's terminal. PortAudio's ALSA back end prints its
// internal checks ("Expression '...' failed in 'src/hostapi/alsa/...'") to stderr whenever a
// device fails, and has no switch for it; Tunewick says what happened in one line of its own.
// For the life of the object the process's stderr goes into a pipe, and a thread passes every
// line on to the real stderr except the ones `drop` picks out. The destructor puts stderr back
// and passes on what is left.
//
// Owned by main(), made before any other thread starts. Not for sanitizer builds: a
// sanitizer's last report before the process dies must not wait on a thread.
#include <functional>
#include <string_view>
#include <thread>

namespace tunewick {

// PortAudio's own check lines.
bool isPortAudioNoise(std::string_view line);

class StderrFilter {
public:
    explicit StderrFilter(std::function<bool(std::string_view line)> drop);
    ~StderrFilter();
    StderrFilter(const StderrFilter&) = delete;
    StderrFilter& operator=(const StderrFilter&) = delete;

    // Whether stderr is filtered (false when the pipe could not be made).
    bool active() const { return original_ >= 0; }

private:
    void pass();

    std::function<bool(std::string_view)> drop_;
    int original_ = -1;  // the real stderr
    int readEnd_ = -1;
    std::thread thread_;
};

}  // namespace tunewick
