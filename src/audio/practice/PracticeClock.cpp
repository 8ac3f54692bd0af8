#include "audio/practice/PracticeClock.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tunewick {

PracticeClock::PracticeClock(double sampleRate, double startDelayMs, double latencyMs, PracticeOptions options)
    : rate_(sampleRate), startDelayMs_(startDelayMs), latencyMs_(latencyMs), options_(options) {}

std::int64_t PracticeClock::toSamples(double ms) const { return std::llround(ms * rate_ / 1000.0); }

double PracticeClock::toMs(std::int64_t samples) const { return static_cast<double>(samples) * 1000.0 / rate_; }

void PracticeClock::setMusicLate(double ms, double fromMs) {
    const auto at = std::lower_bound(musicLate_.begin(), musicLate_.end(), fromMs,
                                     [](const MusicLate& step, double from) { return step.fromMs < from; });
    if (at != musicLate_.end() && at->fromMs == fromMs) {
        at->ms = ms;
    } else {
        musicLate_.insert(at, {fromMs, ms});
    }
}

double PracticeClock::musicLateAt(double timeMs) const {
    const auto after = std::upper_bound(musicLate_.begin(), musicLate_.end(), timeMs,
                                        [](double time, const MusicLate& step) { return time < step.fromMs; });
    return after == musicLate_.begin() ? 0.0 : std::prev(after)->ms;
}

std::int64_t PracticeClock::dueSample(double timeMs) const {
    return toSamples(capturedBeforeMs_ + musicLateAt(timeMs) + startDelayMs_ + latencyMs_ + timeMs);
}

std::int64_t PracticeClock::closeSample(double timeMs) const {
    return dueSample(timeMs) + toSamples(options_.lateWindow);
}

std::int64_t PracticeClock::openSample(double timeMs) const {
    return dueSample(timeMs) - toSamples(options_.lateWindow);
}

bool PracticeClock::ready(double timeMs, std::int64_t available, std::int64_t reportDelay,
                          std::int64_t latestOnset, std::int64_t analysisSamples) const {
    const std::int64_t close = closeSample(timeMs);
    if (available >= close + toSamples(kMaxWaitMs)) return true;
    if (available < close + std::max<std::int64_t>(reportDelay, 0)) return false;
    return latestOnset >= 0 && available >= latestOnset + analysisSamples;
}

}  // namespace tunewick
