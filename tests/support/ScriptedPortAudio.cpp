#include "support/ScriptedPortAudio.h"

#include <portaudio.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace tunewick::testing {
namespace {

using namespace std::chrono;

// One opened stream; its delivery thread runs from start() to abort().
class ScriptedStream {
public:
    ScriptedStream(ScriptedPortAudio::Shared& shared, PortAudioInputSink& sink, int channels, double rate)
        : shared_(shared), sink_(sink), channels_(channels), rate_(rate) {}
    ~ScriptedStream() { stop(); }
    ScriptedStream(const ScriptedStream&) = delete;
    ScriptedStream& operator=(const ScriptedStream&) = delete;

    void start() {
        stop();
        {
            std::lock_guard lock(mutex_);
            running_ = true;
        }
        thread_ = std::thread([this] { deliver(); });
    }
    void stop() {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    bool running() {
        std::lock_guard lock(mutex_);
        return running_;
    }

private:
    void deliver() {
        auto& script = shared_.script;
        auto next = steady_clock::now() + milliseconds(script.firstDeliveryMs.load());
        std::vector<float> block;
        std::unique_lock lock(mutex_);
        for (;;) {
            if (wake_.wait_until(lock, next, [this] { return !running_; })) return;
            const int blockMs = std::max(1, script.blockMs.load());
            next += milliseconds(blockMs);
            if (!script.delivering) continue;
            const auto frames = static_cast<unsigned long>(rate_ * blockMs / 1000.0);
            block.assign(frames * static_cast<unsigned long>(channels_), 0.25f);
            lock.unlock();  // as PortAudio: no lock of the stream's held in the callback
            sink_.onInput(block.data(), frames, 0);
            shared_.counts.frames += static_cast<long long>(frames);
            lock.lock();
        }
    }

    ScriptedPortAudio::Shared& shared_;
    PortAudioInputSink& sink_;
    const int channels_;
    const double rate_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;
    std::thread thread_;
};

class ScriptedApi final : public PortAudioApi {
public:
    explicit ScriptedApi(std::shared_ptr<ScriptedPortAudio::Shared> shared) : shared_(std::move(shared)) {}

    bool initialize() override {
        ++shared_->counts.initializes;
        return true;
    }
    void terminate() override { ++shared_->counts.terminates; }
    std::vector<AudioDeviceInfo> devices() override {
        AudioDeviceInfo mic;
        mic.index = 0;
        mic.name = "Scripted microphone";
        mic.hostApi = "script";
        mic.maxInputChannels = 1;
        mic.defaultSampleRate = 48000.0;
        mic.defaultLowInputLatency = 0.01;
        mic.isDefaultInput = true;
        return {mic};
    }
    bool supports(const AudioDeviceInfo&, int channels, double rate) override {
        return shared_->script.takesFormat && channels == 1 && rate == 48000.0;
    }
    int open(const AudioDeviceInfo& device, int channels, double rate, PortAudioInputSink& sink,
             Stream* stream) override {
        ++shared_->counts.opens;
        std::this_thread::sleep_for(milliseconds(shared_->script.openMs.load()));
        int failing = shared_->script.failingOpens.load();
        while (failing > 0 && !shared_->script.failingOpens.compare_exchange_weak(failing, failing - 1)) {
        }
        if (failing > 0) return paDeviceUnavailable;
        if (!supports(device, channels, rate)) return paInvalidSampleRate;
        auto made = std::make_unique<ScriptedStream>(*shared_, sink, channels, rate);
        *stream = made.get();
        std::lock_guard lock(mutex_);
        streams_.emplace(made.get(), std::move(made));
        return paNoError;
    }
    int start(Stream stream) override {
        ++shared_->counts.starts;
        find(stream).start();
        return paNoError;
    }
    int abort(Stream stream) override {
        find(stream).stop();
        return paNoError;
    }
    int close(Stream stream) override {
        ++shared_->counts.closing;
        std::this_thread::sleep_for(milliseconds(shared_->script.closeMs.load()));
        {
            std::lock_guard lock(mutex_);
            streams_.erase(stream);
        }
        ++shared_->counts.closes;
        return paNoError;
    }
    int isActive(Stream stream) override { return find(stream).running() ? 1 : 0; }
    double inputLatency(Stream) override { return shared_->script.latency; }

private:
    ScriptedStream& find(Stream stream) {
        std::lock_guard lock(mutex_);
        return *streams_.at(stream);
    }

    std::shared_ptr<ScriptedPortAudio::Shared> shared_;
    std::mutex mutex_;
    std::map<Stream, std::unique_ptr<ScriptedStream>> streams_;
};

}  // namespace

ScriptedPortAudio::ScriptedPortAudio() : shared_(std::make_shared<Shared>()) {}

std::unique_ptr<PortAudioApi> ScriptedPortAudio::api() const { return std::make_unique<ScriptedApi>(shared_); }

}  // namespace tunewick::testing
