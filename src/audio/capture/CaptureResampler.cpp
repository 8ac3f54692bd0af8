#include "audio/capture/CaptureResampler.h"

#include <soxr.h>

#include <cmath>

namespace tunewick {

std::uint8_t toUnsigned8(float sample) {
    if (std::isnan(sample)) return 128;
    const float scaled = std::nearbyint(sample * 128.0f) + 128.0f;
    if (scaled <= 0.0f) return 0;
    if (scaled >= 255.0f) return 255;
    return static_cast<std::uint8_t>(scaled);
}

void CaptureResampler::SoxrDeleter::operator()(::soxr* resampler) const { soxr_delete(resampler); }

namespace {

// How many times the engine's rate soxr aims at before the last step, for a device at
// `inputRate`: 4 when the device is that fast, else soxr does it all.
int lastStepFactor(double inputRate, double outputRate) {
    return outputRate > 0.0 && inputRate >= 4.0 * outputRate ? 4 : 1;
}

}  // namespace

CaptureResampler::CaptureResampler(double inputRate, double outputRate)
    : inputRate_(inputRate),
      outputRate_(outputRate),
      last_(lastStepFactor(inputRate, outputRate)) {
    if (!(inputRate > 0.0) || !(outputRate > 0.0)) return;
    const double soxrRate = outputRate * last_.factor();
    if (inputRate == soxrRate) {
        valid_ = true;
        return;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_LQ, 0);
    quality.phase_response = 0.0;  // minimum phase: the least delay
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    // Small transform blocks keep soxr from holding back output for long.
    runtime.log2_min_dft_size = 5;
    runtime.log2_large_dft_size = 7;
    soxr_error_t error = nullptr;
    soxr_t made = soxr_create(inputRate, soxrRate, 1, &error, &io, &quality, &runtime);
    if (error == nullptr) {
        soxr_.reset(made);
        valid_ = true;
    } else if (made != nullptr) {
        soxr_delete(made);
    }
}

CaptureResampler::~CaptureResampler() = default;

void CaptureResampler::process(const float* samples, std::size_t count,
                               std::vector<std::uint8_t>& out) {
    converted_.clear();
    process(samples, count, converted_);
    for (float sample : converted_) out.push_back(toUnsigned8(sample));
}

void CaptureResampler::flush(std::vector<std::uint8_t>& out) {
    converted_.clear();
    flush(converted_);
    for (float sample : converted_) out.push_back(toUnsigned8(sample));
}

void CaptureResampler::process(const float* samples, std::size_t count, std::vector<float>& out) {
    if (count == 0 || !valid_) return;
    samplesIn_ += count;
    if (soxr_) drain(samples, count, out);
    else emit(samples, count, out);
}

void CaptureResampler::flush(std::vector<float>& out) {
    if (soxr_) drain(nullptr, 0, out);
}

void CaptureResampler::reset() {
    if (soxr_) soxr_clear(soxr_.get());
    last_.reset();
    samplesIn_ = 0;
    bytesOut_ = 0;
}

// Runs soxr until it has taken all of `samples` (or, with none, until its tail is out).
void CaptureResampler::drain(const float* samples, std::size_t count, std::vector<float>& out) {
    const std::size_t room = static_cast<std::size_t>(
        static_cast<double>(count) * outputRate_ * last_.factor() / inputRate_) + 256;
    if (scratch_.size() < room) scratch_.resize(room);
    std::size_t offset = 0;
    // Bounded: each round either consumes input or, when flushing, ends once soxr is empty.
    for (int round = 0; round < 64; ++round) {
        std::size_t taken = 0;
        std::size_t made = 0;
        const soxr_error_t error =
            samples != nullptr
                ? soxr_process(soxr_.get(), samples + offset, count - offset, &taken,
                               scratch_.data(), scratch_.size(), &made)
                : soxr_process(soxr_.get(), nullptr, 0, nullptr, scratch_.data(),
                               scratch_.size(), &made);
        if (error != nullptr) return;
        emit(scratch_.data(), made, out);
        offset += taken;
        if (samples != nullptr ? offset >= count : made == 0) return;
    }
}

// The last step.
void CaptureResampler::emit(const float* samples, std::size_t count, std::vector<float>& out) {
    const std::size_t before = out.size();
    last_.process(samples, count, out);
    bytesOut_ += out.size() - before;
}

}  // namespace tunewick
