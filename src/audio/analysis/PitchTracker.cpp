#include "audio/analysis/PitchTracker.h"

#include <array>
#include <vector>

#include "audio/Status.h"
#include "bridge/FlashObject.h"
#include "bridge/Param.h"

namespace tunewick {
namespace {

// What the hand-over queue holds, in seconds of input at the stream's rate.
constexpr double kQueueSeconds = 2.0;

std::unique_ptr<Param> number(double value) {
    auto param = std::make_unique<Param>();
    param->setNumber(value);
    return param;
}

}  // namespace

PitchTracker::PitchTracker(CaptureDeviceFactory openDevice, DialogPoster& poster)
    : openDevice_(std::move(openDevice)), poster_(poster) {}

PitchTracker::~PitchTracker() { release(); }

std::int32_t PitchTracker::initialize() {
    std::lock_guard control(controlMutex_);
    if (!device_ && openDevice_) device_ = openDevice_();
    stream_ = device_ ? device_->sampleStream() : nullptr;
    return stream_ ? status::kOk : 1;
}

std::int32_t PitchTracker::start() {
    std::lock_guard control(controlMutex_);
    if (running_) return status::kOk;
    if (!stream_) return status::kFail;
    const double rate = stream_->sampleRate();
    if (!resampler_ || resampler_->inputRate() != rate) {
        resampler_ = std::make_unique<CaptureResampler>(rate, estimator_.sampleRate());
        queue_ = std::make_unique<SpscQueue<float>>(static_cast<std::size_t>(rate * kQueueSeconds));
    }
    if (!resampler_->valid()) return status::kFail;

    // A new run: no worker is alive, so this thread is the queue's only user.
    std::array<float, 256> discard{};
    while (queue_->pop(discard.data(), discard.size()) > 0) {
    }
    resampler_->reset();
    estimator_.reset();
    sounding_ = false;
    exit_ = false;
    wake_ = false;
    worker_ = std::thread([this] { work(); });
    const std::int32_t attached = stream_->attach(*this);
    if (status::failed(attached)) {
        exit_ = true;
        wake_ = true;
        wake_.notify_one();
        worker_.join();
        return attached;
    }
    running_ = true;
    return status::kOk;
}

void PitchTracker::stop() {
    std::lock_guard control(controlMutex_);
    if (!running_) return;
    stream_->detach(*this);
    // The tap has been called for the last time; the worker analyses the rest and ends.
    exit_ = true;
    wake_ = true;
    wake_.notify_one();
    worker_.join();
    running_ = false;
}

void PitchTracker::release() {
    stop();
    std::lock_guard control(controlMutex_);
    stream_.reset();
    device_.reset();
}

void PitchTracker::onSamples(const float* samples, std::size_t count, unsigned) {
    queue_->push(samples, count);  // a worker far behind loses samples, never blocks capture
    if (!wake_.exchange(true, std::memory_order_acq_rel)) wake_.notify_one();
}

void PitchTracker::work() {
    std::vector<float> samples(4096);
    std::vector<float> converted;
    converted.reserve(4096);
    for (;;) {
        wake_.wait(false, std::memory_order_acquire);
        // An exchange, not a store: a store may pass the read of exit_ below and wipe out
        // the wake-up of a stop that came between them.
        (void)wake_.exchange(false, std::memory_order_acq_rel);
        // Read before draining: once set, the tap has been called for the last time.
        const bool last = exit_.load(std::memory_order_acquire);
        for (;;) {
            const std::size_t n = queue_->pop(samples.data(), samples.size());
            if (n == 0) break;
            converted.clear();
            resampler_->process(samples.data(), n, converted);
            analyse(converted.data(), converted.size());
        }
        if (last) {
            converted.clear();
            resampler_->flush(converted);
            analyse(converted.data(), converted.size());
            if (sounding_) report(std::nullopt);
            return;
        }
    }
}

void PitchTracker::analyse(const float* samples, std::size_t count) {
    if (count == 0) return;
    estimator_.process(std::span<const float>(samples, count),
                       [this](double, const std::optional<PitchReading>& reading) {
                           if (reading || sounding_) report(reading);
                       });
}

void PitchTracker::report(const std::optional<PitchReading>& reading) {
    sounding_ = reading.has_value();
    poster_.postLatestSwfFunction(callFor(reading));
}

FunctionCall PitchTracker::callFor(const std::optional<PitchReading>& reading) {
    FunctionCall call(kFunctionName);
    Param argument;
    if (reading) {
        auto object = std::make_unique<FlashObject>();
        object->setProperty("frequency", number(reading->frequency));
        object->setProperty("note", std::make_unique<Param>(reading->note));
        object->setProperty("midi", number(reading->midi));
        object->setProperty("cents", number(reading->cents));
        object->setProperty("clarity", number(reading->clarity));
        object->setProperty("level", number(reading->level));
        argument.setObject(std::move(object));
    }
    call.arguments.push_back(std::move(argument));
    return call;
}

}  // namespace tunewick
