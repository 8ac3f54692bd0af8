#include "audio/recording/ChordStrum.h"

#include <algorithm>
#include <cmath>

#include "audio/recording/ReferenceTone.h"

namespace tunewick {
namespace {

constexpr int kLowestMidi = 28, kHighestMidi = 100;

double frequencyOf(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

}  // namespace

std::vector<float> synthesiseStrum(const std::vector<int>& midis, double seconds, double spreadSeconds) {
    if (midis.empty() || !std::isfinite(seconds) || !std::isfinite(spreadSeconds) || spreadSeconds < 0.0) return {};
    for (int midi : midis) {
        if (midi < kLowestMidi || midi > kHighestMidi) return {};
    }
    const double lastStart = spreadSeconds * static_cast<double>(midis.size() - 1);
    if (!(seconds > lastStart + 0.05)) return {};
    const auto count = static_cast<std::size_t>(seconds * kReferenceToneRate);
    std::vector<float> mix(count, 0.0f);
    for (std::size_t i = 0; i < midis.size(); ++i) {
        const auto start = static_cast<std::size_t>(static_cast<double>(i) * spreadSeconds * kReferenceToneRate);
        const std::vector<float> pluck = synthesisePluck(frequencyOf(midis[i]), static_cast<double>(count - start) / kReferenceToneRate);
        for (std::size_t j = 0; j < pluck.size() && start + j < count; ++j) mix[start + j] += pluck[j];
    }
    float peak = 0.0f;
    for (float s : mix) peak = std::max(peak, std::abs(s));
    if (peak > 0.0f) {
        for (float& s : mix) s *= 0.5f / peak;
    }
    return mix;
}

bool writeStrum(const std::string& path, const std::vector<int>& midis, double seconds) {
    const std::vector<float> strum = synthesiseStrum(midis, seconds);
    return !strum.empty() && writeToneFile(path, strum);
}

}  // namespace tunewick
