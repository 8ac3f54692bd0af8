// An instrumented run of the real capture path on a private PulseAudio server (a null sink
// with a tone playing into it, its monitor as the microphone): how late each block step comes
// after the last sample of its block reached the device callback, whether the device reports
// lost input (xruns) or the worker fell behind, and whether memory grows.
//
//   capture_soak [--seconds N] [--engine tuner|recognizer|recorder] [--tone HZ]
//
// Exits 1 when input was lost, or the heap or the anonymous resident memory grew by more than
// 1 MiB after the warm-up;
// 77 when no sound server can start here. Not part of the test suite: a ten-minute soak is
// `capture_soak --seconds 600`.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "PulseServer.h"
#include "audio/capture/CaptureEngine.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/portaudio/PortAudioCaptureDevice.h"
#include "audio/Status.h"
#include "bridge/Reporter.h"

namespace {

using namespace tunewick;
using namespace std::chrono_literals;

class PrintingReporter final : public Reporter {
public:
    void report(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
};

// Counts bytes and keeps a histogram of block-step latencies (20 us bins up to 1 s): no
// allocation while it runs, so it does not disturb the memory it measures.
class LatencyEngine final : public CaptureEngine {
public:
    using CaptureEngine::CaptureEngine;
    ~LatencyEngine() override {
        stop();
        release();
    }

    struct Snapshot {
        std::uint64_t bytes = 0;
        std::uint64_t steps = 0;
        CaptureStats stats;
        double p50 = 0, p90 = 0, p99 = 0, max = 0;
        DeviceCaptureFormat format;
    };
    Snapshot snapshot() const {
        std::lock_guard lock(mutex_);
        Snapshot s;
        s.bytes = bytes_;
        s.steps = steps_;
        s.stats = stats_;
        s.format = format_;
        s.p50 = percentile(0.50);
        s.p90 = percentile(0.90);
        s.p99 = percentile(0.99);
        s.max = max_;
        return s;
    }

protected:
    std::int32_t prepareStart() override {
        std::lock_guard lock(mutex_);
        readAt_ = 0;
        return 0;
    }
    std::int32_t consume(const std::uint8_t*, std::uint32_t firstLength, const std::uint8_t*,
                         std::uint32_t secondLength) override {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex_);
        const std::uint32_t total = firstLength + secondLength;
        const std::uint32_t lastByte = (readAt_ + total - 1) % bufferSize();
        readAt_ = (readAt_ + total) % bufferSize();
        bytes_ += total;
        auto* buffer = dynamic_cast<StreamCaptureBuffer*>(captureBuffer());
        if (buffer == nullptr) return 0;
        stats_ = buffer->stats();
        format_ = buffer->deviceFormat();
        if (!isRunning()) return 0;
        if (const auto arrival = buffer->blockArrival(lastByte)) {
            const double ms = std::chrono::duration<double, std::milli>(now - *arrival).count();
            const auto bin = static_cast<std::size_t>(std::clamp(ms * kBinsPerMs, 0.0, kBins - 1.0));
            ++histogram_[bin];
            ++steps_;
            max_ = std::max(max_, ms);
        }
        return 0;
    }

private:
    static constexpr double kBinsPerMs = 50;
    static constexpr double kBins = 50000;
    double percentile(double q) const {
        if (steps_ == 0) return 0.0;
        const auto want = static_cast<std::uint64_t>(std::ceil(q * static_cast<double>(steps_)));
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < histogram_.size(); ++i) {
            seen += histogram_[i];
            if (seen >= want) return (static_cast<double>(i) + 0.5) / kBinsPerMs;
        }
        return max_;
    }

    mutable std::mutex mutex_;
    std::array<std::uint64_t, 50000> histogram_{};
    std::uint64_t bytes_ = 0;
    std::uint64_t steps_ = 0;
    double max_ = 0.0;
    CaptureStats stats_;
    DeviceCaptureFormat format_;
    std::uint32_t readAt_ = 0;
};

// Resident memory by kind, from /proc/self/status: anonymous (the heap and stacks: where a
// leak would show), file-backed, and shared memory (PulseAudio's client pool).
struct Resident {
    long anon = 0;
    long file = 0;
    long shmem = 0;
    long total() const { return anon + file + shmem; }
};

Resident resident() {
    std::ifstream status("/proc/self/status");
    Resident r;
    std::string key;
    long value = 0;
    std::string unit;
    while (status >> key) {
        if (key == "RssAnon:" && status >> value >> unit) r.anon = value;
        else if (key == "RssFile:" && status >> value >> unit) r.file = value;
        else if (key == "RssShmem:" && status >> value >> unit) r.shmem = value;
    }
    return r;
}

long heapInUseKiB() { return static_cast<long>(mallinfo2().uordblks / 1024); }

void print(const char* label, const LatencyEngine::Snapshot& s, double seconds) {
    std::printf(
        "%s t=%.0fs bytes=%llu steps=%llu latency_ms p50=%.2f p90=%.2f p99=%.2f max=%.2f "
        "callbacks=%llu overflows=%llu underflows=%llu dropped=%llu rss_kib=%ld "
        "(anon=%ld file=%ld shmem=%ld) heap_kib=%ld\n",
        label, seconds, static_cast<unsigned long long>(s.bytes),
        static_cast<unsigned long long>(s.steps), s.p50, s.p90, s.p99, s.max,
        static_cast<unsigned long long>(s.stats.callbacks),
        static_cast<unsigned long long>(s.stats.inputOverflows),
        static_cast<unsigned long long>(s.stats.inputUnderflows),
        static_cast<unsigned long long>(s.stats.framesDropped), resident().total(),
        resident().anon, resident().file, resident().shmem, heapInUseKiB());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    std::string engineName = "tuner";
    int toneHz = 196;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--engine") == 0) engineName = argv[i + 1];
        else if (std::strcmp(argv[i], "--tone") == 0) toneHz = std::atoi(argv[i + 1]);
    }
    CaptureConfig config = CaptureConfig::tuner();
    if (engineName == "recognizer") config = CaptureConfig::recognizer();
    else if (engineName == "recorder") config = CaptureConfig::recorder();

    tunewick::testing::PulseServer server;
    if (!server.ok()) {
        std::fprintf(stderr, "no sound server: %s\n", server.problem().c_str());
        return 77;
    }
    const auto tone = server.loadSine(toneHz);
    PrintingReporter reporter;
    LatencyEngine engine(config, PortAudioCaptureDevice::factory(), reporter);
    if (engine.initialize() != status::kOk || engine.start() != status::kOk) {
        std::fprintf(stderr, "capture does not start\n");
        return 1;
    }
    std::printf("engine=%s rate=%u block=%u blocks=%u tone=%dHz\n", engineName.c_str(),
                config.sampleRate, engine.blockSize(), config.notificationCount, toneHz);
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    // Warm-up: the first buffers, the resampler's and the libraries' own allocations.
    std::this_thread::sleep_for(std::min(5s, std::chrono::seconds(seconds)));
    const Resident warm = resident();
    const long warmHeap = heapInUseKiB();
    long maxAnon = warm.anon;
    long maxRss = warm.total();
    long maxHeap = warmHeap;
    print("warm", engine.snapshot(), elapsed());
    while (elapsed() < seconds) {
        std::this_thread::sleep_for(std::min(std::chrono::duration<double>(60.0),
                                             std::chrono::duration<double>(seconds - elapsed())));
        const Resident now = resident();
        maxAnon = std::max(maxAnon, now.anon);
        maxRss = std::max(maxRss, now.total());
        maxHeap = std::max(maxHeap, heapInUseKiB());
        print("run", engine.snapshot(), elapsed());
    }
    const auto last = engine.snapshot();
    engine.stop();
    print("stopped", engine.snapshot(), elapsed());
    if (tone) server.unloadModule(*tone);
    std::printf("device rate=%.0f channels=%d rss_warm_kib=%ld rss_max_kib=%ld anon_warm_kib=%ld "
                "anon_max_kib=%ld heap_warm_kib=%ld heap_max_kib=%ld\n",
                last.format.sampleRate, last.format.channels, warm.total(), maxRss, warm.anon,
                maxAnon, warmHeap, maxHeap);
    const bool lost = last.stats.inputOverflows > 0 || last.stats.framesDropped > 0;
    // Our own memory: the heap and anonymous pages. (PulseAudio's shared pool fills its pages
    // as it cycles through them, up to its fixed size, and gives them back at the stream's end.)
    const bool grew = maxHeap - warmHeap > 1024 || maxAnon - warm.anon > 1024;
    std::printf("%s%s%s\n", lost || grew ? "FAIL" : "PASS", lost ? " (input lost)" : "",
                grew ? " (memory grew)" : "");
    return lost || grew ? 1 : 0;
}
