#include "TestSignals.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace tunewick::testing {

namespace {
constexpr double kRate = 2048.0;
constexpr int kOversampling = 16;
}  // namespace

std::vector<double> harmonicTone(double frequency, const std::vector<double>& amplitudes, std::size_t count) {
    std::vector<double> out(count, 0.0);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        for (std::size_t h = 0; h < amplitudes.size(); ++h) {
            out[i] += amplitudes[h] * std::sin(2.0 * std::numbers::pi * static_cast<double>(h + 1) * frequency * t);
        }
    }
    return out;
}

std::vector<double> pluckedString(double frequency, std::size_t count, unsigned seed) {
    const double fastRate = kRate * kOversampling;
    // Loop delay = line + 0.5 (two-point average) + delta (allpass), delta kept in [0.1, 1.1).
    const double period = fastRate / frequency;
    const auto line = static_cast<std::size_t>(std::floor(period - 0.5 - 0.1));
    const double delta = period - 0.5 - static_cast<double>(line);
    const double c = (1.0 - delta) / (1.0 + delta);

    // The string's shape at the pluck: a triangle peaking a fifth of the way along (harmonic
    // amplitudes falling as 1/n^2, as on a guitar), roughened by a little noise.
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-0.05, 0.05);
    std::vector<double> delay(line);
    const double apex = 0.2 * static_cast<double>(line);
    for (std::size_t i = 0; i < line; ++i) {
        const double p = static_cast<double>(i);
        const double shape = p < apex ? p / apex : (static_cast<double>(line) - p) / (static_cast<double>(line) - apex);
        delay[i] = shape - 0.5 + dist(rng);
    }

    const std::size_t fastCount = count * kOversampling + 512;
    std::vector<double> fast(fastCount);
    std::size_t pos = 0;
    double previousOut = 0.0;  // of the average, fed to the allpass
    double allpassIn = 0.0;
    double allpassOut = 0.0;
    for (std::size_t i = 0; i < fastCount; ++i) {
        const double current = delay[pos];
        const double averaged = 0.4985 * (current + previousOut);
        previousOut = current;
        const double tuned = c * averaged + allpassIn - c * allpassOut;
        allpassIn = averaged;
        allpassOut = tuned;
        delay[pos] = tuned;
        pos = (pos + 1) % line;
        fast[i] = current;
    }

    // Windowed-sinc low-pass at 900 Hz, then every 16th sample.
    constexpr int kTaps = 255;
    std::vector<double> taps(kTaps);
    const double cutoff = 900.0 / fastRate;
    double sum = 0.0;
    for (int k = 0; k < kTaps; ++k) {
        const double m = k - (kTaps - 1) / 2.0;
        const double sinc = m == 0.0 ? 2.0 * cutoff : std::sin(2.0 * std::numbers::pi * cutoff * m) / (std::numbers::pi * m);
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / (kTaps - 1));
        taps[static_cast<std::size_t>(k)] = sinc * window;
        sum += taps[static_cast<std::size_t>(k)];
    }
    std::vector<double> out(count);
    double peak = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        double acc = 0.0;
        for (int k = 0; k < kTaps; ++k) acc += taps[static_cast<std::size_t>(k)] * fast[i * kOversampling + static_cast<std::size_t>(k)];
        out[i] = acc / sum;
        peak = std::max(peak, std::fabs(out[i]));
    }
    for (auto& v : out) v /= peak;
    return out;
}

std::vector<double> whiteNoise(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> out(count);
    for (auto& v : out) v = dist(rng);
    return out;
}

std::vector<std::uint8_t> toPcm8(const std::vector<double>& samples, double gain) {
    std::vector<std::uint8_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double v = std::round(128.0 + 127.0 * gain * samples[i]);
        out[i] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
    }
    return out;
}

}  // namespace tunewick::testing
