#pragma once
// Shared pieces of the analysis tests: a poster and a reporter that record, a temporary
// current directory (the engines write their diagnostic files there), and file readers.
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bridge/DialogPoster.h"
#include "bridge/FunctionCall.h"
#include "bridge/Reporter.h"
#include "support/RecordingReporter.h"

namespace tunewick::testing {

class RecordingPoster final : public DialogPoster {
public:
    void postLoadSwf(std::string pageName) override {
        std::lock_guard lock(mutex_);
        pages_.push_back(std::move(pageName));
    }
    void postCallSwfFunction(FunctionCall call) override {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::vector<FunctionCall> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // "name args" for each posted call, e.g. "setTone <number>1</number>".
    std::vector<std::string> texts() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> pages_;
    std::vector<FunctionCall> calls_;
};

// Makes a fresh temporary folder the current directory for its lifetime, then goes back and
// removes the folder with everything in it.
class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

// The whole file, or "" when it cannot be read.
std::string readText(const std::filesystem::path& path);
// The file split at '\n' (no empty last entry for a final newline).
std::vector<std::string> readLines(const std::filesystem::path& path);
// The numbers of one line written with "%f " per value.
std::vector<double> parseValues(const std::string& line);

}  // namespace tunewick::testing
