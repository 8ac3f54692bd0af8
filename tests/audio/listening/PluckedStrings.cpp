#include "PluckedStrings.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace tunewick::testing {

void addPluck(std::vector<float>& out, double start, double midi, double gain, double seconds, double rate) {
    const double f0 = 440.0 * std::exp2((midi - 69.0) / 12.0);
    const auto first = static_cast<std::size_t>(std::llround(start * rate));
    const auto count = static_cast<std::size_t>(seconds * rate);
    constexpr int kPartials = 14;
    for (std::size_t i = 0; i < count && first + i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        double x = 0;
        for (int n = 1; n <= kPartials && n * f0 < 0.45 * rate; ++n) {
            // Plucked at a seventh of the string's length: every seventh partial is missing.
            const double shape = std::abs(std::sin(n * std::numbers::pi / 7.0)) / n;
            x += shape * std::exp(-t * (1.5 + 0.5 * n)) * std::sin(2.0 * std::numbers::pi * n * f0 * t);
        }
        x *= std::min(1.0, t / 0.002) * std::min(1.0, (seconds - t) / 0.02);
        out[first + i] += static_cast<float>(gain * x);
    }
}

void addStrum(std::vector<float>& out, double start, const std::vector<int>& midis, double spread, double gain,
              double rate) {
    for (std::size_t k = 0; k < midis.size(); ++k) {
        const double step = midis.size() > 1 ? spread / static_cast<double>(midis.size() - 1) : 0.0;
        addPluck(out, start + step * static_cast<double>(k), midis[k], gain, 1.5, rate);
    }
}

void addNoise(std::vector<float>& out, double rms, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0.0, rms);
    for (auto& sample : out) sample += static_cast<float>(normal(random));
}

}  // namespace tunewick::testing
