#include "commands/TakeSummary.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "bridge/FlashObject.h"

namespace tunewick {
namespace {

double rounded(double value, double step) { return std::round(value / step) * step; }

Param number(double value) {
    Param p;
    p.setNumber(value);
    return p;
}

}  // namespace

TakeSummary::TakeSummary(double sampleRate)
    : sampleRate_(sampleRate > 0.0 ? sampleRate : 1.0),
      samplesPerPeak_(std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(sampleRate_ * kPeakStepSeconds)))) {}

void TakeSummary::addSamples(const float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const float magnitude = std::fabs(samples[i]);
        // NaN compares false and so never becomes a peak.
        if (magnitude > windowPeak_) windowPeak_ = magnitude;
        if (++inWindow_ == samplesPerPeak_) closeWindow();
    }
    totalSamples_ += count;
}

void TakeSummary::closeWindow() {
    const float clipped = std::min(windowPeak_, 1.0f);
    peaks_.push_back(static_cast<unsigned char>(std::lround(clipped * 255.0f)));
    inWindow_ = 0;
    windowPeak_ = 0.0f;
}

void TakeSummary::addReading(const TakeReading& reading) {
    if (!std::isfinite(reading.time) || !std::isfinite(reading.frequency) || !std::isfinite(reading.cents) ||
        reading.frequency <= 0.0) {
        return;
    }
    if (!readings_.empty() && reading.time - readings_.back().time < kMinReadingSpacing) return;
    readings_.push_back(reading);
}

double TakeSummary::duration() const { return static_cast<double>(totalSamples_) / sampleRate_; }

std::string TakeSummary::peaksHex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * (peaks_.size() + 1));
    auto put = [&out](unsigned char v) {
        out.push_back(kDigits[v >> 4]);
        out.push_back(kDigits[v & 0x0f]);
    };
    for (unsigned char p : peaks_) put(p);
    // The last, partial window counts too.
    if (inWindow_ > 0) put(static_cast<unsigned char>(std::lround(std::min(windowPeak_, 1.0f) * 255.0f)));
    return out;
}

Param TakeSummary::toParam() const {
    auto list = std::make_unique<FlashObject>();
    for (std::size_t i = 0; i < readings_.size(); ++i) {
        const TakeReading& r = readings_[i];
        auto item = std::make_unique<FlashObject>();
        item->setProperty("time", std::make_unique<Param>(number(rounded(r.time, 0.001))));
        item->setProperty("frequency", std::make_unique<Param>(number(rounded(r.frequency, 0.01))));
        item->setProperty("note", std::make_unique<Param>(Param(r.note)));
        item->setProperty("cents", std::make_unique<Param>(number(rounded(r.cents, 0.1))));
        auto value = std::make_unique<Param>();
        value->setObject(std::move(item));
        list->setProperty(std::to_string(i), std::move(value));
    }
    auto readings = std::make_unique<Param>();
    readings->setArray(std::move(list));

    auto reply = std::make_unique<FlashObject>();
    reply->setProperty("duration", std::make_unique<Param>(number(rounded(duration(), 0.001))));
    reply->setProperty("peakStep", std::make_unique<Param>(number(kPeakStepSeconds)));
    reply->setProperty("peaks", std::make_unique<Param>(Param(peaksHex())));
    reply->setProperty("readings", std::move(readings));
    Param out;
    out.setObject(std::move(reply));
    return out;
}

}  // namespace tunewick
