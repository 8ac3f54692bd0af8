#include "audio/listening/ChordListener.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "audio/Status.h"
#include "bridge/FlashObject.h"

namespace tunewick {
namespace {

// Sound kept behind the oldest onset still waiting, and the step by which old sound goes.
constexpr double kKeepSeconds = 0.5;
constexpr double kTrimStepSeconds = 1.0;

std::unique_ptr<Param> number(double value) {
    auto param = std::make_unique<Param>();
    param->setNumber(value);
    return param;
}

std::string noteName(int midi) { return pitchClassName(midi) + std::to_string(midi / 12 - 1); }

}  // namespace

ChordListener::ChordListener(CaptureDeviceFactory openDevice, DialogPoster& poster)
    : openDevice_(std::move(openDevice)),
      poster_(poster),
      tap_(kAnalysisRate),
      detector_(kAnalysisRate),
      analyzer_(kAnalysisRate),
      checker_(kAnalysisRate) {}

ChordListener::~ChordListener() { release(); }

std::int32_t ChordListener::initialize() {
    std::lock_guard control(controlMutex_);
    if (!device_ && openDevice_) device_ = openDevice_();
    stream_ = device_ ? device_->sampleStream() : nullptr;
    return stream_ ? status::kOk : 1;
}

std::int32_t ChordListener::start() {
    std::lock_guard control(controlMutex_);
    if (tap_.running()) return status::kOk;
    if (!stream_) return status::kFail;
    detector_.reset();
    history_.clear();
    history_.reserve(static_cast<std::size_t>(kAnalysisRate * 4));
    historyStart_ = 0;
    found_.clear();
    found_.reserve(64);
    pending_.clear();
    pending_.reserve(64);
    return tap_.start(stream_, [this](const float* samples, std::size_t count, bool last) {
        consume(samples, count, last);
    });
}

void ChordListener::stop() {
    std::lock_guard control(controlMutex_);
    tap_.stop();
}

void ChordListener::release() {
    stop();
    std::lock_guard control(controlMutex_);
    stream_.reset();
    device_.reset();
}

void ChordListener::setTarget(std::optional<std::vector<ExpectedNote>> target) {
    std::lock_guard lock(targetMutex_);
    target_ = std::move(target);
}

void ChordListener::setOnsetObserver(std::function<void(std::int64_t)> observer) {
    std::lock_guard control(controlMutex_);
    onsetObserver_ = std::move(observer);
}

void ChordListener::consume(const float* samples, std::size_t count, bool last) {
    history_.insert(history_.end(), samples, samples + count);
    found_.clear();
    detector_.process(samples, count, found_);
    if (last) detector_.flush(found_);
    for (const Onset& onset : found_) {
        if (onsetObserver_) onsetObserver_(onset.sample);
        pending_.push_back(onset.sample);
    }
    const std::int64_t available = historyStart_ + static_cast<std::int64_t>(history_.size());
    const auto window = static_cast<std::int64_t>(analyzer_.windowSamples());
    std::size_t done = 0;
    // In order; at the end, a strum not yet heard whole is analysed with what there is.
    while (done < pending_.size() && (last || available >= pending_[done] + window)) report(pending_[done++]);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));

    const auto keep = static_cast<std::int64_t>(kKeepSeconds * kAnalysisRate);
    std::int64_t keepFrom = available - keep;
    if (!pending_.empty()) keepFrom = std::min(keepFrom, pending_.front() - keep);
    if (keepFrom - historyStart_ >= static_cast<std::int64_t>(kTrimStepSeconds * kAnalysisRate)) {
        history_.erase(history_.begin(), history_.begin() + (keepFrom - historyStart_));
        historyStart_ = keepFrom;
    }
}

void ChordListener::report(std::int64_t onset) {
    const std::int64_t at = onset - historyStart_;
    if (at < 0) return;  // older than anything kept: cannot happen while onsets come in order
    const std::vector<HeardNote> notes = analyzer_.analyze(history_.data(), history_.size(), at);
    const std::optional<ChordName> name = nameChord(notes);

    std::optional<std::vector<ExpectedNote>> target;
    {
        std::lock_guard lock(targetMutex_);
        target = target_;
    }
    std::optional<ChordTargetCheck> check;
    if (target) {
        const std::vector<Onset> only{{at, 1.0f}};
        // The onset is known: the checker need look no further than it.
        const EventCheck found = checker_.check(history_.data(), history_.size(), at, *target, only, 1.0);
        check = checkAgainstTarget(*target, found);
    }
    if (auto call = callFor(static_cast<double>(onset) / kAnalysisRate, notes, name, check)) {
        poster_.postCallSwfFunction(std::move(*call));
    }
}

std::optional<FunctionCall> ChordListener::callFor(double seconds, const std::vector<HeardNote>& notes,
                                                   const std::optional<ChordName>& name,
                                                   const std::optional<ChordTargetCheck>& check) {
    if (!name && !check) return std::nullopt;
    auto list = std::make_unique<FlashObject>();
    for (std::size_t i = 0; i < notes.size(); ++i) {
        auto item = std::make_unique<FlashObject>();
        item->setProperty("midi", number(notes[i].midi));
        item->setProperty("note", std::make_unique<Param>(noteName(notes[i].midi)));
        item->setProperty("level", number(std::round(notes[i].level * 10.0) / 10.0));
        auto value = std::make_unique<Param>();
        value->setObject(std::move(item));
        list->setProperty(std::to_string(i), std::move(value));
    }
    auto object = std::make_unique<FlashObject>();
    object->setProperty("time", number(std::round(seconds * 10000.0) / 10000.0));
    object->setProperty("name", std::make_unique<Param>(name ? name->name : std::string()));
    object->setProperty("root", std::make_unique<Param>(name ? name->root : std::string()));
    object->setProperty("quality", std::make_unique<Param>(name ? name->quality : std::string()));
    object->setProperty("bass", std::make_unique<Param>(name ? name->bass : std::string()));
    auto notesParam = std::make_unique<Param>();
    notesParam->setArray(std::move(list));
    object->setProperty("notes", std::move(notesParam));
    if (check) object->setProperty("check", std::make_unique<Param>(toParam(*check)));

    FunctionCall call(kFunctionName);
    Param argument;
    argument.setObject(std::move(object));
    call.arguments.push_back(std::move(argument));
    return call;
}

}  // namespace tunewick
