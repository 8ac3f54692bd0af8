#include "audio/listening/NoteAnalyzer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace tunewick {
namespace {

constexpr double kStartSeconds = 0.04;    // lets a strum reach its last string
constexpr double kLengthSeconds = 0.25;   // resolves a semitone at E2 with the zero padding
constexpr double kMaxPartialHz = 6000.0;
constexpr double kMatchCents = 40.0;      // a partial this close to h*f0 belongs to it
constexpr int kMaxHarmonics = 10;
// Klapuri's weighting of partial h of f0: (f0 + a) / (h f0 + b); favours low partials.
constexpr double kWeightA = 52.0, kWeightB = 320.0;
constexpr double kStopRatio = 0.18;       // a note weaker than this share of the first ends it
constexpr double kMinLevelDb = -70.0;

double centsBetween(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

// In-place radix-2 transform of re + i im (size a power of two).
void fft(std::vector<double>& re, std::vector<double>& im) {
    const std::size_t n = re.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
        const double wr = std::cos(angle), wi = std::sin(angle);
        for (std::size_t i = 0; i < n; i += len) {
            double cr = 1.0, ci = 0.0;
            for (std::size_t k = 0; k < len / 2; ++k) {
                const std::size_t a = i + k, b = a + len / 2;
                const double tr = re[b] * cr - im[b] * ci;
                const double ti = re[b] * ci + im[b] * cr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
                const double next = cr * wr - ci * wi;
                ci = cr * wi + ci * wr;
                cr = next;
            }
        }
    }
}

struct Partials {
    std::array<int, kMaxHarmonics + 1> peak{};   // index into the peaks, -1 = none
    std::array<double, kMaxHarmonics + 1> amplitude{};
    int harmonics = 0;
    double salience = 0;
};

}  // namespace

double midiFrequency(double midi) { return 440.0 * std::exp2((midi - 69.0) / 12.0); }

NoteAnalyzer::NoteAnalyzer(double sampleRate) : sampleRate_(sampleRate) {
    if (!(sampleRate >= 8000.0 && sampleRate <= 96000.0)) {
        throw std::invalid_argument("NoteAnalyzer: sample rate must lie in 8000 .. 96000 Hz");
    }
    start_ = static_cast<std::size_t>(std::lround(kStartSeconds * sampleRate));
    length_ = static_cast<std::size_t>(std::lround(kLengthSeconds * sampleRate));
    fftSize_ = 1;
    while (fftSize_ < 3 * length_) fftSize_ <<= 1;
    window_.resize(length_);
    for (std::size_t i = 0; i < length_; ++i) {
        window_[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                          static_cast<double>(length_ - 1));
    }
    re_.resize(fftSize_);
    im_.resize(fftSize_);
    magnitude_.resize(fftSize_ / 2 + 1);
}

std::size_t NoteAnalyzer::windowSamples() const { return start_ + length_; }

void NoteAnalyzer::spectrum(const float* samples, std::size_t count, std::int64_t from) {
    double mean = 0;
    std::size_t present = 0;
    for (std::size_t i = 0; i < length_; ++i) {
        const std::int64_t at = from + static_cast<std::int64_t>(i);
        if (at >= 0 && static_cast<std::size_t>(at) < count) {
            mean += samples[at];
            ++present;
        }
    }
    if (present > 0) mean /= static_cast<double>(present);
    double windowSum = 0;
    for (std::size_t i = 0; i < fftSize_; ++i) {
        double value = 0;
        if (i < length_) {
            const std::int64_t at = from + static_cast<std::int64_t>(i);
            if (at >= 0 && static_cast<std::size_t>(at) < count) value = samples[at] - mean;
            value *= window_[i];
            windowSum += window_[i];
        }
        re_[i] = value;
        im_[i] = 0;
    }
    fft(re_, im_);
    const double scale = 2.0 / windowSum;  // a full-scale sine peaks at 1.0
    for (std::size_t k = 0; k < magnitude_.size(); ++k) magnitude_[k] = std::hypot(re_[k], im_[k]) * scale;
}

void NoteAnalyzer::pickPeaks() {
    peaks_.clear();
    const double binHz = sampleRate_ / static_cast<double>(fftSize_);
    const auto low = static_cast<std::size_t>(std::max(2.0, 70.0 / binHz));
    const auto high = std::min(magnitude_.size() - 2,
                               static_cast<std::size_t>(std::min(kMaxPartialHz, 0.45 * sampleRate_) / binHz));
    if (high <= low) return;
    // The noise floor: well above the median bin, and no deeper than 60 dB under the loudest.
    std::vector<double> sorted(magnitude_.begin() + static_cast<std::ptrdiff_t>(low),
                               magnitude_.begin() + static_cast<std::ptrdiff_t>(high));
    auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double loudest = *std::max_element(sorted.begin(), sorted.end());
    floor_ = std::max({6.0 * *middle, loudest * 1e-3, 1e-6});
    for (std::size_t k = low; k <= high; ++k) {
        const double m = magnitude_[k];
        if (m < floor_ || m <= magnitude_[k - 1] || m < magnitude_[k + 1]) continue;
        // Parabolic interpolation of the log magnitude.
        const double a = std::log(magnitude_[k - 1] + 1e-12), b = std::log(m + 1e-12),
                     c = std::log(magnitude_[k + 1] + 1e-12);
        const double denominator = a - 2 * b + c;
        const double delta = denominator < 0 ? std::clamp(0.5 * (a - c) / denominator, -0.5, 0.5) : 0.0;
        peaks_.push_back({(static_cast<double>(k) + delta) * binHz, std::exp(b - 0.25 * (a - c) * delta)});
    }
}

std::vector<HeardNote> NoteAnalyzer::analyze(const float* samples, std::size_t count, std::int64_t onset) {
    std::vector<HeardNote> notes;
    peaks_.clear();
    floor_ = 0;
    if (samples == nullptr || onset < 0 || static_cast<std::size_t>(onset) >= count) return notes;
    spectrum(samples, count, onset + static_cast<std::int64_t>(start_));
    pickPeaks();
    if (peaks_.empty()) return notes;

    std::vector<double> remaining(peaks_.size());
    for (std::size_t i = 0; i < peaks_.size(); ++i) remaining[i] = peaks_[i].amplitude;
    const double topHz = std::min(kMaxPartialHz, 0.45 * sampleRate_);

    // The strongest remaining peak within kMatchCents of each partial of `midi`.
    auto gather = [&](int midi) {
        Partials found;
        found.peak.fill(-1);
        const double f0 = midiFrequency(midi);
        for (int h = 1; h <= kMaxHarmonics && h * f0 < topHz; ++h) {
            found.harmonics = h;
            const double target = h * f0;
            const double lowHz = target * std::exp2(-kMatchCents / 1200.0);
            const double highHz = target * std::exp2(kMatchCents / 1200.0);
            auto it = std::lower_bound(peaks_.begin(), peaks_.end(), lowHz,
                                       [](const SpectralPeak& p, double hz) { return p.hz < hz; });
            for (; it != peaks_.end() && it->hz <= highHz; ++it) {
                const auto index = static_cast<std::size_t>(it - peaks_.begin());
                if (remaining[index] > found.amplitude[h]) {
                    found.amplitude[h] = remaining[index];
                    found.peak[h] = static_cast<int>(index);
                }
            }
            found.salience += (f0 + kWeightA) / (h * f0 + kWeightB) * found.amplitude[h];
        }
        // A note with neither its fundamental nor its second partial is not heard as that note.
        if (found.amplitude[1] <= 0 && found.amplitude[2] <= 0) found.salience = 0;
        return found;
    };

    std::array<bool, kHighestMidi + 1> taken{};
    double firstSalience = 0;
    while (notes.size() < kMaxNotes) {
        int best = -1;
        Partials bestPartials;
        for (int midi = kLowestMidi; midi <= kHighestMidi; ++midi) {
            if (taken[static_cast<std::size_t>(midi)]) continue;
            Partials candidate = gather(midi);
            if (candidate.salience > bestPartials.salience) {
                bestPartials = candidate;
                best = midi;
            }
        }
        if (best < 0 || bestPartials.salience <= 0) break;
        if (firstSalience == 0) firstSalience = bestPartials.salience;
        if (bestPartials.salience < kStopRatio * firstSalience) break;
        taken[static_cast<std::size_t>(best)] = true;

        // Cancel the note's partials down to its smooth envelope: what a partial has beyond the
        // mean of it and its neighbours belongs to another note.
        double energy = 0, centsSum = 0, centsWeight = 0;
        const int harmonics = bestPartials.harmonics;
        for (int h = 1; h <= harmonics; ++h) {
            const int index = bestPartials.peak[h];
            if (index < 0) continue;
            double sum = 0;
            int terms = 0;
            for (int j = std::max(1, h - 1); j <= std::min(harmonics, h + 1); ++j) {
                sum += bestPartials.amplitude[j];
                ++terms;
            }
            const double envelope = std::min(bestPartials.amplitude[h], sum / terms);
            const double own = h == 1 ? bestPartials.amplitude[h] : envelope;
            remaining[static_cast<std::size_t>(index)] -= own;
            energy += own * own;
            if (h <= 4) {
                const double hz = peaks_[static_cast<std::size_t>(index)].hz / h;
                centsSum += centsBetween(hz, midiFrequency(best)) * own;
                centsWeight += own;
            }
        }
        const float level = static_cast<float>(10.0 * std::log10(std::max(energy, 1e-12)));
        if (level < kMinLevelDb) break;
        notes.push_back({best, level,
                         centsWeight > 0 ? static_cast<float>(centsSum / centsWeight)
                                         : std::numeric_limits<float>::quiet_NaN()});
    }
    if (notes.size() != 1) {
        for (auto& note : notes) note.cents = std::numeric_limits<float>::quiet_NaN();
    }
    std::sort(notes.begin(), notes.end(), [](const HeardNote& a, const HeardNote& b) { return a.level > b.level; });
    return notes;
}

}  // namespace tunewick
