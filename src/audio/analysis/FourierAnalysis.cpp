#include "audio/analysis/FourierAnalysis.h"

#include <array>
#include <cmath>
#include <stdexcept>

namespace tunewick {

namespace {

constexpr double kStageTwoPi = 6.283185;            // the transform's stage constant, as tuned
constexpr double kWindowTwoPi = 6.283185307179586;  // the window's full-precision 2*pi
constexpr double kPeakFloor = -1000000.0;
constexpr std::int32_t kProductBins = 512;

void requireLength(std::size_t have, std::int32_t need, const char* what) {
    if (need > 0 && have < static_cast<std::size_t>(need)) throw std::invalid_argument(what);
}

void fillBitReverse(SpectrumSetup& setup) {
    for (std::int32_t i = 0; i < setup.size; ++i) {
        std::int32_t r = 0;
        std::int32_t v = i;
        for (std::int32_t bit = 0; bit < setup.log2Size; ++bit) {
            r = 2 * r + (v & 1);
            v >>= 1;
        }
        setup.bitReverse[static_cast<std::size_t>(i)] = r;
    }
    setup.bitReverseDirty = false;
}

}  // namespace

SpectrumSetup::SpectrumSetup(std::int32_t size_, std::int32_t log2Size_, double cutoffHz_,
                             std::int32_t sampleRate_)
    : size(size_), log2Size(log2Size_), cutoffHz(cutoffHz_), sampleRate(sampleRate_) {
    if (log2Size < 0 || log2Size > 30 || size != (std::int32_t{1} << log2Size)) {
        throw std::invalid_argument("SpectrumSetup: size must be 2^log2Size");
    }
    if (sampleRate <= 0 || !std::isfinite(cutoffHz)) {
        throw std::invalid_argument("SpectrumSetup: needs a positive sample rate and a finite cutoff");
    }
    imag.assign(static_cast<std::size_t>(size), 0.0);
    bitReverse.assign(static_cast<std::size_t>(size), 0);
}

void computeMagnitudeSpectrum(SpectrumSetup& setup, std::span<const double> input,
                              std::span<double> output) {
    const std::int32_t n = setup.size;
    requireLength(input.size(), n, "computeMagnitudeSpectrum: input shorter than the setup");
    requireLength(output.size(), n, "computeMagnitudeSpectrum: output shorter than the setup");
    if (setup.bitReverseDirty) fillBitReverse(setup);

    double* re = output.data();
    double* im = setup.imag.data();
    for (std::int32_t i = 0; i < n; ++i) {
        const auto r = static_cast<std::size_t>(setup.bitReverse[static_cast<std::size_t>(i)]);
        re[r] = input[static_cast<std::size_t>(i)];
        im[r] = 0.0;
    }

    for (std::int32_t len = 2; len <= n; len *= 2) {
        const double theta = kStageTwoPi / len;
        const double s = std::sin(theta * 0.5);
        const double alpha = s * (s + s);
        const double beta = std::sin(theta);
        const std::int32_t half = len / 2;
        for (std::int32_t g = 0; g < n; g += len) {
            double wr = 1.0;
            double wi = 0.0;
            for (std::int32_t j = 0; j < half; ++j) {
                const std::int32_t a = g + j;
                const std::int32_t b = a + half;
                const double tr = wr * re[b] - wi * im[b];
                const double ti = wi * re[b] + wr * im[b];
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] = re[a] + tr;
                im[a] = im[a] + ti;
                // Both new values come from the old pair.
                const double nextWr = wr - (beta * wi + alpha * wr);
                const double nextWi = wi - (alpha * wi - beta * wr);
                wr = nextWr;
                wi = nextWi;
            }
        }
    }

    for (std::int32_t k = 0; k < n; ++k) {
        re[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
    }
}

void applyHannWindow(const SpectrumSetup& setup, std::span<double> samples) {
    const std::int32_t n = setup.size;
    requireLength(samples.size(), n, "applyHannWindow: fewer samples than the setup's size");
    // A one-point window would divide 0 by 0; the window of one sample is left as 1.
    if (n < 2) return;
    const double denominator = static_cast<double>(n - 1);
    for (std::int32_t i = 0; i < n; ++i) {
        auto& x = samples[static_cast<std::size_t>(i)];
        x = x * (0.5 - 0.5 * std::cos(static_cast<double>(i) * kWindowTwoPi / denominator));
    }
}

void applyLowCut(const SpectrumSetup& setup, std::span<double> spectrum) {
    const double n = static_cast<double>(setup.size);
    const double rate = static_cast<double>(setup.sampleRate);
    const auto count = static_cast<std::int64_t>(spectrum.size());
    // The setup guarantees a positive rate and a finite cutoff; the clamp keeps the
    // truncation defined for a cutoff far above the spectrum.
    const double edgeBin = n * setup.cutoffHz / rate;
    const std::int64_t edge = edgeBin >= static_cast<double>(count) ? count
                              : edgeBin <= -1.0                     ? -1
                                                                   : static_cast<std::int64_t>(edgeBin);
    for (std::int64_t k = 0; k <= edge && k < count; ++k) {
        spectrum[static_cast<std::size_t>(k)] = 0.0;
    }
    const std::int64_t next = edge + 1;
    if (next >= 0 && next < count) {
        const double binWidth = rate / n;
        spectrum[static_cast<std::size_t>(next)] *=
            (static_cast<double>(next) * rate / n - setup.cutoffHz) / binWidth;
    }
}

std::int32_t findPeak(std::int32_t count, std::span<const double> values) {
    if (count <= 0) return -1;
    return findPeakInRange(0, count - 1, values);
}

std::int32_t findPeakInRange(std::int32_t start, std::int32_t end, std::span<const double> values) {
    double best = kPeakFloor;
    std::int32_t index = -1;
    const auto size = static_cast<std::int64_t>(values.size());
    const std::int64_t first = start < 0 ? 0 : start;
    const std::int64_t last = static_cast<std::int64_t>(end) < size ? end : size - 1;
    for (std::int64_t k = first; k <= last; ++k) {
        const double v = values[static_cast<std::size_t>(k)];
        if (v > best) {
            best = v;
            index = static_cast<std::int32_t>(k);
        }
    }
    return index;
}

std::int32_t findHarmonicProductPeak(std::span<const double> spectrum, std::int32_t harmonics) {
    requireLength(spectrum.size(), kProductBins, "findHarmonicProductPeak: fewer than 512 bins");
    std::array<double, kProductBins> product{};
    std::array<double, kProductBins> temp{};
    for (std::int32_t k = 0; k < kProductBins; ++k) product[static_cast<std::size_t>(k)] = spectrum[static_cast<std::size_t>(k)];
    for (std::int32_t h = 2; h <= harmonics; ++h) {
        for (std::int32_t k = 0; k < kProductBins; ++k) {
            const std::int64_t source = static_cast<std::int64_t>(h) * k;
            temp[static_cast<std::size_t>(k)] =
                source < kProductBins ? spectrum[static_cast<std::size_t>(source)] : 0.0;
        }
        for (std::size_t k = 0; k < product.size(); ++k) product[k] = product[k] * temp[k];
    }
    return findPeak(kProductBins, product);
}

}  // namespace tunewick
