#include "audio/practice/PracticeSession.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "audio/Status.h"

namespace tunewick {
namespace {

// Sound kept before an undecided event's early window, for the analysis to look back on.
constexpr double kLookBackMs = 500.0;
// Sound kept at least, and the step by which old sound is let go (so that trimming is rare).
constexpr double kKeepMs = 1000.0;
constexpr double kTrimStepMs = 1000.0;
constexpr double kReserveSeconds = 6.0;

}  // namespace

PracticeSession::PracticeSession(CaptureDeviceFactory openDevice, DialogPoster& poster)
    : openDevice_(std::move(openDevice)),
      poster_(poster),
      tap_(kAnalysisRate),
      detector_(kAnalysisRate),
      checker_(kAnalysisRate) {}

PracticeSession::~PracticeSession() { release(); }

std::int32_t PracticeSession::initialize() {
    std::lock_guard control(controlMutex_);
    if (!device_ && openDevice_) device_ = openDevice_();
    stream_ = device_ ? device_->sampleStream() : nullptr;
    return stream_ ? status::kOk : 1;
}

std::int32_t PracticeSession::start(std::vector<PracticeEvent> events, double startDelayMs,
                                    PracticeOptions options, double latencyMs) {
    std::lock_guard control(controlMutex_);
    tap_.stop();  // a practice still running ends without a word
    forget();
    if (!stream_ || events.empty()) return status::kFail;
    events_ = std::move(events);
    clock_ = PracticeClock(kAnalysisRate, startDelayMs, latencyMs, options);
    {
        std::lock_guard said(musicLateMutex_);
        musicLateSaid_.clear();
    }
    musicLateNews_ = false;
    musicLateSteps_ = 0;
    history_.reserve(static_cast<std::size_t>(kAnalysisRate * kReserveSeconds));
    onsets_.reserve(256);
    found_.reserve(64);
    near_.reserve(64);
    const std::int32_t started =
        tap_.start(stream_, [this](const float* samples, std::size_t count, bool last) { consume(samples, count, last); });
    if (status::failed(started)) forget();
    return started;
}

Param PracticeSession::stop() {
    std::lock_guard control(controlMutex_);
    if (!tap_.running()) return Param();
    tap_.stop();  // the worker has judged what it could and ended
    Param summary = score_.summary();
    forget();
    return summary;
}

bool PracticeSession::setMusicLate(double ms, double fromMs) {
    if (!std::isfinite(ms) || std::abs(ms) > kMaxMusicLateMs || !std::isfinite(fromMs) || fromMs < 0.0) return false;
    std::lock_guard control(controlMutex_);
    // A file's time 0 is the call's arrival, whatever the page's music does.
    if (!tap_.running() || !stream_ || !stream_->live()) return false;
    if (musicLateSteps_ >= kMaxMusicLateSteps) return false;
    ++musicLateSteps_;
    {
        std::lock_guard said(musicLateMutex_);
        musicLateSaid_.emplace_back(ms, fromMs);
    }
    musicLateNews_.store(true, std::memory_order_release);
    return true;
}

void PracticeSession::release() {
    stop();
    std::lock_guard control(controlMutex_);
    stream_.reset();
    device_.reset();
}

void PracticeSession::forget() {
    events_.clear();
    detector_.reset();
    history_.clear();
    historyStart_ = 0;
    onsets_.clear();
    next_ = 0;
    score_ = PracticeScore();
}

void PracticeSession::consume(const float* samples, std::size_t count, bool last) {
    clock_.setCapturedBeforeStart(tap_.capturedBeforeStartMs());  // settles over the first second
    if (musicLateNews_.exchange(false, std::memory_order_acquire)) {
        std::lock_guard said(musicLateMutex_);
        for (const auto& [ms, fromMs] : musicLateSaid_) clock_.setMusicLate(ms, fromMs);
        musicLateSaid_.clear();
    }
    history_.insert(history_.end(), samples, samples + count);
    found_.clear();
    detector_.process(samples, count, found_);
    if (last) detector_.flush(found_);
    onsets_.insert(onsets_.end(), found_.begin(), found_.end());
    decide(last);

    // Let go of sound no undecided event can need.
    const std::int64_t available = historyStart_ + static_cast<std::int64_t>(history_.size());
    std::int64_t keepFrom = available - clock_.toSamples(kKeepMs);
    if (next_ < events_.size()) {
        keepFrom = std::min(keepFrom, clock_.openSample(events_[next_].time) - clock_.toSamples(kLookBackMs));
    }
    if (keepFrom - historyStart_ >= clock_.toSamples(kTrimStepMs)) {
        history_.erase(history_.begin(), history_.begin() + (keepFrom - historyStart_));
        historyStart_ = keepFrom;
        const auto kept = std::find_if(onsets_.begin(), onsets_.end(),
                                       [this](const Onset& onset) { return onset.sample >= historyStart_; });
        onsets_.erase(onsets_.begin(), kept);
    }
}

void PracticeSession::decide(bool last) {
    const std::int64_t available = historyStart_ + static_cast<std::int64_t>(history_.size());
    while (next_ < events_.size()) {
        const PracticeEvent& event = events_[next_];
        bool ready = false;
        if (last) {
            ready = available >= clock_.closeSample(event.time);
        } else {
            std::int64_t latest = -1;
            for (const Onset& onset : onsets_) {
                if (onset.sample >= clock_.openSample(event.time) && onset.sample <= clock_.closeSample(event.time)) {
                    latest = onset.sample;
                }
            }
            ready = clock_.ready(event.time, available, detector_.reportDelay(), latest,
                                 static_cast<std::int64_t>(checker_.windowSamples()));
        }
        if (!ready) return;
        judge(event);
        ++next_;
    }
}

void PracticeSession::judge(const PracticeEvent& event) {
    const std::int64_t due = clock_.dueSample(event.time) - historyStart_;
    const std::int64_t open = clock_.openSample(event.time), close = clock_.closeSample(event.time);
    near_.clear();
    for (const Onset& onset : onsets_) {
        if (onset.sample >= open && onset.sample <= close) near_.push_back({onset.sample - historyStart_, onset.strength});
    }
    const EventCheck check = checker_.check(history_.data(), history_.size(), due, event.notes, near_,
                                            clock_.options().lateWindow);
    std::optional<double> onsetOffset;
    if (check.onset >= 0) onsetOffset = clock_.toMs(check.onset - due);
    PracticeVerdict verdict = judgeEvent(check, onsetOffset, clock_.options());
    verdict.index = next_;
    verdict.time = event.time;
    score_.add(verdict);
    poster_.postCallSwfFunction(verdictCall(verdict));
}

}  // namespace tunewick
