#pragma once
// Turns the microphone's float samples at the device's rate into what a capture buffer holds:
// unsigned 8-bit mono at the engine's rate (silence 128). The rate change is libsoxr's, with
// its anti-aliasing filter, so nothing above the engine's Nyquist frequency folds back into
// the band the analysis looks at. Equal rates pass straight through.
//
// From a device at four times the engine's rate or more, soxr brings the samples to four
// times the engine's rate and a DecimatingFilter takes the last step: soxr's own filters for
// so low a rate as 2048 Hz hold samples back for up to 20 ms, which the tuner would feel as
// lag. soxr uses its low-quality recipe (16-bit precision, far beyond 8-bit output) with
// minimum phase and small transform blocks, for the same reason.
//
// Not thread-safe: one thread (the capture worker) uses it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/capture/DecimatingFilter.h"

struct soxr;  // libsoxr's resampler state

namespace tunewick {

// A float sample in [-1, 1] as unsigned 8-bit PCM: round(x * 128) + 128, clipped to 0 .. 255.
// NaN is silence.
std::uint8_t toUnsigned8(float sample);

class CaptureResampler {
public:
    // Rates in Hz, both positive. `valid()` tells whether soxr accepted them.
    CaptureResampler(double inputRate, double outputRate);
    ~CaptureResampler();
    CaptureResampler(const CaptureResampler&) = delete;
    CaptureResampler& operator=(const CaptureResampler&) = delete;

    bool valid() const { return valid_; }
    double inputRate() const { return inputRate_; }
    double outputRate() const { return outputRate_; }

    // Feeds `count` samples; appends the bytes that became ready to `out`.
    void process(const float* samples, std::size_t count, std::vector<std::uint8_t>& out);
    // End of input: appends what the filter still holds back.
    void flush(std::vector<std::uint8_t>& out);
    // The same before quantisation, for consumers of float samples (the pitch tracker).
    void process(const float* samples, std::size_t count, std::vector<float>& out);
    void flush(std::vector<float>& out);
    // Forgets all input, for a new run of capture.
    void reset();

    // Samples taken and samples (or bytes) given since the last reset.
    std::uint64_t samplesIn() const { return samplesIn_; }
    std::uint64_t bytesOut() const { return bytesOut_; }

private:
    struct SoxrDeleter {
        void operator()(::soxr* resampler) const;
    };
    void drain(const float* samples, std::size_t count, std::vector<float>& out);
    void emit(const float* samples, std::size_t count, std::vector<float>& out);

    double inputRate_;
    double outputRate_;
    DecimatingFilter last_;                   // factor 1 where soxr does it all
    std::unique_ptr<::soxr, SoxrDeleter> soxr_;  // none where the rates already agree
    bool valid_ = false;
    std::vector<float> scratch_;   // soxr's output
    std::vector<float> converted_;  // the float output on its way to bytes
    std::uint64_t samplesIn_ = 0;
    std::uint64_t bytesOut_ = 0;
};

}  // namespace tunewick
