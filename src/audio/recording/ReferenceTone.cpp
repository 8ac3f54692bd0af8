#include "audio/recording/ReferenceTone.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

namespace tunewick {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Partials up to here; a guitar's brightness lies well below.
constexpr double kHighestPartial = 8000.0;
constexpr double kAttackSeconds = 0.002;
constexpr double kReleaseSeconds = 0.03;

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

std::vector<float> synthesisePluck(double frequency, double seconds) {
    std::vector<float> out;
    if (!(frequency > 0.0) || !(seconds > 0.0) || !std::isfinite(frequency) || !std::isfinite(seconds)) {
        return out;
    }
    const auto count = static_cast<std::size_t>(seconds * kReferenceToneRate);
    std::vector<double> mix(count, 0.0);
    const double dt = 1.0 / kReferenceToneRate;
    for (int n = 1; n * frequency < kHighestPartial && n <= 40; ++n) {
        const double amplitude = 1.0 / n;
        const double decay = 0.8 + 0.5 * n;  // per second: the higher, the sooner gone
        // A decaying phasor turned by one sample's angle each step: no sin or exp per sample.
        const double step = 2.0 * kPi * n * frequency * dt;
        const double c = std::cos(step), s = std::sin(step), shrink = std::exp(-decay * dt);
        double re = amplitude, im = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            mix[i] += im;
            const double nextRe = shrink * (re * c - im * s);
            im = shrink * (re * s + im * c);
            re = nextRe;
        }
    }
    double peak = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) * dt;
        // Short ramps at both ends, so the tone neither clicks on nor off.
        const double ramp = std::min({1.0, t / kAttackSeconds, (seconds - t) / kReleaseSeconds});
        mix[i] *= std::max(0.0, ramp);
        peak = std::max(peak, std::abs(mix[i]));
    }
    out.reserve(count);
    const double gain = peak > 0.0 ? 0.5 / peak : 0.0;
    for (double value : mix) out.push_back(static_cast<float>(value * gain));
    return out;
}

bool writeReferenceTone(const std::string& path, double frequency, double seconds) {
    return writeToneFile(path, synthesisePluck(frequency, seconds));
}

bool writeToneFile(const std::string& path, const std::vector<float>& tone) {
    if (tone.empty()) return false;
    std::error_code error;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    {
        SF_INFO info{};
        info.samplerate = kReferenceToneRate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(temporary.c_str(), SFM_WRITE, &info));
        if (!file) return false;
        const auto written = sf_write_float(file.get(), tone.data(), static_cast<sf_count_t>(tone.size()));
        if (written != static_cast<sf_count_t>(tone.size())) {
            file.reset();
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

}  // namespace tunewick
