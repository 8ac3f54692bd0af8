#pragma once
// Guitar-like sound for the live listeners' tests: plucked notes and strums written into a
// mono signal at given times, and a poster that keeps what the listeners tell the movie.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <thread>
#include <algorithm>
#include <vector>

#include "bridge/DialogPoster.h"

namespace tunewick::testing {

// Adds a plucked note (a string's harmonics, 1/n^1.5, dying away) starting at `seconds`,
// damped after `holdSeconds` over 40 ms, as a player lifting a finger does.
inline void addPluck(std::vector<float>& signal, double rate, double seconds, int midi, double level = 0.12,
                     double holdSeconds = 0.42) {
    const double hz = 440.0 * std::pow(2.0, (midi - 69) / 12.0);
    const auto start = static_cast<std::size_t>(std::llround(seconds * rate));
    constexpr double kDamp = 0.04;
    const auto length = static_cast<std::size_t>((holdSeconds + kDamp) * rate);
    for (std::size_t i = 0; i < length && start + i < signal.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        double attack = std::min(1.0, t / 0.002);
        if (t > holdSeconds) attack *= 0.5 + 0.5 * std::cos(M_PI * (t - holdSeconds) / kDamp);
        double v = 0.0;
        for (int h = 1; h <= 10 && h * hz < rate / 2.0; ++h) {
            v += std::sin(2.0 * M_PI * h * hz * t) / std::pow(h, 1.5) * std::exp(-t * (1.5 + 0.4 * h));
        }
        signal[start + i] += static_cast<float>(level * attack * v);
    }
}

// A down strum: the notes low to high, `spreadMs` from the first to the last.
inline void addStrum(std::vector<float>& signal, double rate, double seconds, const std::vector<int>& midis,
                     double spreadMs = 20.0, double holdSeconds = 0.42) {
    for (std::size_t i = 0; i < midis.size(); ++i) {
        const double step = midis.size() > 1 ? spreadMs / 1000.0 / static_cast<double>(midis.size() - 1) : 0.0;
        addPluck(signal, rate, seconds + step * static_cast<double>(i), midis[i], 0.12, holdSeconds);
    }
}

// Delivers `signal` in device periods of 5 ms, ten times faster than real time: fast, yet
// slow enough that a listener's worker (under a sanitizer too) never falls two seconds behind
// and has samples dropped.
template <typename Stream>
void feed(Stream& stream, const std::vector<float>& signal, double rate) {
    const auto period = static_cast<std::size_t>(rate / 200.0);
    for (std::size_t at = 0; at < signal.size(); at += period) {
        const std::size_t n = std::min(period, signal.size() - at);
        stream.push(std::vector<float>(signal.begin() + static_cast<std::ptrdiff_t>(at),
                                       signal.begin() + static_cast<std::ptrdiff_t>(at + n)),
                    n);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

// Keeps every call, with the moment it was posted.
class TimedPoster final : public DialogPoster {
public:
    using Clock = std::chrono::steady_clock;
    struct Posted {
        FunctionCall call;
        Clock::time_point at;
    };
    void postLoadSwf(std::string) override {}
    void postCallSwfFunction(FunctionCall call) override {
        std::lock_guard lock(mutex_);
        posted_.push_back({std::move(call), Clock::now()});
    }
    std::vector<Posted> posted() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Posted> posted_;
};

}  // namespace tunewick::testing
