#pragma once
// Shared by the engine tests: a reporter that remembers, a temporary folder, waiting for
// something another thread does, and reading files back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/capture/CaptureEngine.h"
#include "bridge/Reporter.h"
#include "support/RecordingReporter.h"

namespace tunewick::test {

// Polls `done` until it holds; false after a generous deadline (a hang, not a slow machine).
inline bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "tunewick-engine-";
        if (info != nullptr) name += std::string(info->test_suite_name()) + "-" + info->name();
        path_ = std::filesystem::temp_directory_path() /
                (name + "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes.at(at)) | static_cast<std::uint32_t>(bytes.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(bytes.at(at + 2)) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

inline std::uint16_t le16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

inline std::string tag(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

// Bytes 0, 1, 2, ... modulo a prime, so that a block out of place or out of order shows.
inline std::vector<std::uint8_t> pattern(std::size_t length, std::size_t from = 0) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>((from + i) % 251);
    return bytes;
}

// An engine that keeps what it consumes and counts its hooks.
class TestEngine final : public CaptureEngine {
public:
    struct Region {
        std::uint32_t firstLength;
        std::uint32_t secondLength;
        bool hasSecond;
    };

    TestEngine(CaptureConfig config, CaptureDeviceFactory factory, Reporter& reporter)
        : CaptureEngine(config, std::move(factory), reporter) {}
    ~TestEngine() override {
        stop();
        release();
    }

    std::vector<std::uint8_t> bytes() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::vector<Region> regions() const {
        std::lock_guard lock(mutex_);
        return regions_;
    }
    std::atomic<int> prepared{0};
    std::atomic<int> finished{0};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    std::atomic<std::int32_t> consumeStatus{0};
    std::atomic<std::int32_t> prepareStatus{0};

protected:
    std::int32_t prepareStart() override {
        ++prepared;
        return prepareStatus;
    }
    std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                         const std::uint8_t* second, std::uint32_t secondLength) override {
        const int now = ++inside;
        mostInside = std::max(mostInside.load(), now);
        {
            std::lock_guard lock(mutex_);
            regions_.push_back({firstLength, secondLength, second != nullptr});
            bytes_.insert(bytes_.end(), first, first + firstLength);
            if (second != nullptr) bytes_.insert(bytes_.end(), second, second + secondLength);
        }
        std::this_thread::yield();  // widen the window in which an overlap would show
        --inside;
        return consumeStatus;
    }
    void finish() override { ++finished; }

private:
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> bytes_;
    std::vector<Region> regions_;
};

}  // namespace tunewick::test
