#include "audio/capture/FileSampleStream.h"

#include <algorithm>
#include <array>

#include "audio/Status.h"

namespace tunewick {

FileSampleStream::FileSampleStream(std::shared_ptr<const std::vector<float>> samples,
                                   double sampleRate)
    : samples_(std::move(samples)), rate_(sampleRate), thread_([this] { run(); }) {}

FileSampleStream::~FileSampleStream() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::int32_t FileSampleStream::attach(SampleTap& tap) {
    std::lock_guard lock(mutex_);
    const bool first = taps_.count() == 0;
    if (!taps_.add(tap)) return status::kFail;
    if (first) {
        ++generation_;
        wake_.notify_all();
    }
    return status::kOk;
}

void FileSampleStream::detach(SampleTap& tap) {
    std::lock_guard lock(mutex_);
    taps_.remove(tap);
}

void FileSampleStream::run() {
    using Clock = std::chrono::steady_clock;
    const std::vector<float>& file = *samples_;
    const std::array<float, 512> silence{};
    std::uint64_t generation = 0;
    Clock::time_point begin{};
    std::uint64_t sent = 0;
    std::size_t position = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (taps_.count() == 0) {
            wake_.wait(lock, [this] { return quit_ || taps_.count() > 0; });
        } else {
            wake_.wait_for(lock, kStep, [this] { return quit_; });
        }
        if (quit_) return;
        if (generation != generation_) {
            // Playing starts afresh: from the file's beginning, on a new clock.
            generation = generation_;
            begin = Clock::now();
            sent = 0;
            position = 0;
        }
        lock.unlock();
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin);
        const auto due = static_cast<std::uint64_t>(static_cast<double>(elapsed.count()) * rate_ / 1e6);
        // After a long stall a second is all anyone could still use.
        const auto backlog = static_cast<std::uint64_t>(rate_);
        if (due > sent + backlog) sent = due - backlog;
        while (sent < due) {
            std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(due - sent, silence.size()));
            if (file.empty()) {
                taps_.deliver(silence.data(), step, 0);
            } else {
                step = std::min(step, file.size() - position);
                taps_.deliver(file.data() + position, step, 0);
                position = (position + step) % file.size();
            }
            sent += step;
        }
        lock.lock();
    }
}

}  // namespace tunewick
