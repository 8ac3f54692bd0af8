#pragma once
// A Reporter for tests: keeps every (caption, text) it is given, from any thread.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bridge/Reporter.h"

namespace tunewick {

class RecordingReporter final : public Reporter {
public:
    void report(const std::string& caption, const std::string& text) override {
        {
            std::lock_guard lock(mutex_);
            reports_.emplace_back(caption, text);
        }
        changed_.notify_all();
    }
    std::vector<std::pair<std::string, std::string>> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    // Waits (bounded, as a safety net against a hang) until `count` reports came.
    bool waitForReports(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return reports_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::string, std::string>> reports_;
};

}  // namespace tunewick
