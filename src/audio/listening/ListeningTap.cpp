#include "audio/listening/ListeningTap.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include "audio/Status.h"

namespace tunewick {
namespace {

// What the hand-over queue holds, in seconds of input at the stream's rate.
constexpr double kQueueSeconds = 2.0;
// The deliveries that measure when the first sample was captured: those of the first second.
constexpr std::int64_t kStartMeasureNanos = 1'000'000'000;
constexpr std::int64_t kNoDelivery = std::numeric_limits<std::int64_t>::min();

std::int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ListeningTap::ListeningTap(double analysisRate) : analysisRate_(analysisRate) {}

ListeningTap::~ListeningTap() { stop(); }

std::int32_t ListeningTap::start(std::shared_ptr<SampleStream> stream, Consumer consumer) {
    if (running_) return status::kOk;
    if (!stream) return status::kFail;
    const double rate = stream->sampleRate();
    if (!resampler_ || resampler_->inputRate() != rate) {
        resampler_ = std::make_unique<CaptureResampler>(rate, analysisRate_);
        queue_ = std::make_unique<SpscQueue<float>>(static_cast<std::size_t>(rate * kQueueSeconds));
    }
    if (!resampler_->valid()) return status::kFail;

    // No worker is alive, so this thread is the queue's only user.
    std::array<float, 256> discard{};
    while (queue_->pop(discard.data(), discard.size()) > 0) {
    }
    resampler_->reset();
    consumer_ = std::move(consumer);
    lost_ = 0;
    exit_ = false;
    wake_ = false;
    measureStart_ = stream->live();
    streamRate_ = rate;
    delivered_ = 0;
    capturedBeforeStart_ = kNoDelivery;
    startedAtNanos_ = nowNanos();
    worker_ = std::thread([this] { work(); });
    const std::int32_t attached = stream->attach(*this);
    if (status::failed(attached)) {
        exit_ = true;
        wake_ = true;
        wake_.notify_one();
        worker_.join();
        consumer_ = nullptr;
        return attached;
    }
    stream_ = std::move(stream);
    running_ = true;
    return status::kOk;
}

void ListeningTap::stop() {
    if (!running_) return;
    stream_->detach(*this);
    // The tap has been called for the last time; the worker hands over the rest and ends.
    exit_ = true;
    wake_ = true;
    wake_.notify_one();
    worker_.join();
    stream_.reset();
    consumer_ = nullptr;
    running_ = false;
}

double ListeningTap::capturedBeforeStartMs() const {
    const std::int64_t before = capturedBeforeStart_.load(std::memory_order_relaxed);
    if (before == kNoDelivery) return 0.0;
    return static_cast<double>(before) * 1000.0 / streamRate_;
}

void ListeningTap::onSamples(const float* samples, std::size_t count, unsigned) {
    if (measureStart_) {
        // Everything delivered so far was captured by now; what exceeds the time since start()
        // at the stream's rate was captured before it. A delivery that came late says less.
        const std::uint64_t total = delivered_.fetch_add(count, std::memory_order_relaxed) + count;
        const std::int64_t since = nowNanos() - startedAtNanos_;
        if (since <= kStartMeasureNanos) {
            const std::int64_t before =
                static_cast<std::int64_t>(total) - std::llround(static_cast<double>(since) * streamRate_ / 1e9);
            if (before > capturedBeforeStart_.load(std::memory_order_relaxed)) {
                capturedBeforeStart_.store(before, std::memory_order_relaxed);
            }
        }
    }
    const std::size_t taken = queue_->push(samples, count);  // never blocks capture
    if (taken < count) lost_.fetch_add(count - taken, std::memory_order_relaxed);
    if (!wake_.exchange(true, std::memory_order_acq_rel)) wake_.notify_one();
}

void ListeningTap::work() {
    std::vector<float> samples(4096);
    std::vector<float> converted;
    converted.reserve(8192);
    for (;;) {
        wake_.wait(false, std::memory_order_acquire);
        wake_.exchange(false, std::memory_order_acq_rel);
        // Read before draining: once set, the tap has been called for the last time.
        const bool last = exit_.load(std::memory_order_acquire);
        for (;;) {
            const std::size_t n = queue_->pop(samples.data(), samples.size());
            if (n == 0) break;
            converted.clear();
            resampler_->process(samples.data(), n, converted);
            if (!converted.empty()) consumer_(converted.data(), converted.size(), false);
        }
        // Samples refused while the queue was full: silence in their place keeps the clock.
        // Their place is approximate (after what was queued), their count exact.
        for (std::uint64_t lost = lost_.exchange(0, std::memory_order_relaxed); lost > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(lost, samples.size()));
            std::fill_n(samples.begin(), n, 0.0f);
            converted.clear();
            resampler_->process(samples.data(), n, converted);
            if (!converted.empty()) consumer_(converted.data(), converted.size(), false);
            lost -= n;
        }
        if (last) {
            converted.clear();
            resampler_->flush(converted);
            consumer_(converted.data(), converted.size(), true);
            return;
        }
    }
}

}  // namespace tunewick
