#include "audio/capture/DecimatingFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tunewick {
namespace {

// Edges and stopband depth, as fractions of the output rate and in dB.
constexpr double kPassbandEnd = 0.34;
constexpr double kStopbandBegin = 0.5;
constexpr double kAttenuationDb = 64.0;  // Kaiser's length formula falls a little short: aim above 60

// Modified Bessel function of the first kind, order 0 (its power series; converges fast
// for the arguments a Kaiser window needs).
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    const double quarterSquare = x * x / 4.0;
    for (int k = 1; k < 64 && term > 1e-12 * sum; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
    }
    return sum;
}

// Kaiser's formulas for the window's shape and the length that reach the attenuation over
// the transition band; odd length, so the delay is a whole number of samples.
std::vector<float> designTaps(int factor) {
    const double inputRate = static_cast<double>(factor);  // with the output rate as 1
    const double transition = 2.0 * std::numbers::pi * (kStopbandBegin - kPassbandEnd) / inputRate;
    const double beta = 0.1102 * (kAttenuationDb - 8.7);
    auto length = static_cast<std::size_t>(
        std::ceil((kAttenuationDb - 7.95) / (2.285 * transition))) + 1;
    if (length % 2 == 0) ++length;
    const double cutoff = (kPassbandEnd + kStopbandBegin) / 2.0 / inputRate;  // cycles/sample
    const double middle = static_cast<double>(length - 1) / 2.0;
    std::vector<double> taps(length);
    double sum = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) - middle;
        const double sinc = t == 0.0 ? 2.0 * cutoff
                                     : std::sin(2.0 * std::numbers::pi * cutoff * t) / (std::numbers::pi * t);
        const double r = t / middle;
        const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(beta);
        taps[i] = sinc * window;
        sum += taps[i];
    }
    std::vector<float> out(length);
    // Unity gain at 0 Hz, so silence (and any offset) passes unchanged.
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<float>(taps[i] / sum);
    return out;
}

}  // namespace

DecimatingFilter::DecimatingFilter(int factor) : factor_(factor) {
    if (factor < 1) throw std::invalid_argument("DecimatingFilter: factor below 1");
    taps_ = factor == 1 ? std::vector<float>{1.0f} : designTaps(factor);
    history_.assign(2 * taps_.size(), 0.0f);
}

void DecimatingFilter::process(const float* samples, std::size_t count, std::vector<float>& out) {
    if (factor_ == 1) {  // the recorder's path at the device's own rate: no history to keep
        out.insert(out.end(), samples, samples + count);
        return;
    }
    const std::size_t n = taps_.size();
    for (std::size_t i = 0; i < count; ++i) {
        history_[next_] = samples[i];
        history_[next_ + n] = samples[i];
        next_ = next_ + 1 == n ? 0 : next_ + 1;
        if (phase_ == 0) {
            // history_[next_ .. next_ + n) is the window, oldest first; the taps are
            // symmetric, so their order does not matter.
            const float* window = history_.data() + next_;
            float acc = 0.0f;
            for (std::size_t k = 0; k < n; ++k) acc += taps_[k] * window[k];
            out.push_back(acc);
        }
        phase_ = phase_ + 1 == factor_ ? 0 : phase_ + 1;
    }
}

void DecimatingFilter::reset() {
    std::fill(history_.begin(), history_.end(), 0.0f);
    next_ = 0;
    phase_ = 0;
}

}  // namespace tunewick
