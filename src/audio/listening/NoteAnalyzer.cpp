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
constexpr double kLengthSeconds = 0.30;   // resolves a semitone at E2 with the zero padding
constexpr double kGapSeconds = 0.01;      // between the window before the onset and the onset
// A note whose fundamental fell this far (14 dB) from the window before the onset was struck
// before it and is dying away. A string struck again more softly, even 16 dB, is struck now.
constexpr double kRise = 0.2;
constexpr double kMaxPartialHz = 6000.0;
constexpr double kMatchCents = 40.0;      // a partial this close to h*f0 belongs to it
constexpr double kPresentDb = -32.0;      // a fundamental this far under the loudest peak counts
constexpr double kPartialShare = 0.063;   // -24 dB: the second or third partial at least this
constexpr double kShadow = 4.0;           // 12 dB: a second partial this far over its fundamental
constexpr double kLoneTwelfth = 2.0;      // 6 dB: a third partial this far over it, with no second
constexpr double kStandOut = 10.0;         // a partial this much above its neighbours is a note too
constexpr double kSkirtHz = 30.0;         // three Blackman main-lobe half-widths of the window
constexpr double kSkirtRatio = 31.6;      // 30 dB: a peak this far under a neighbour is its skirt
constexpr double kMinLevelDb = -70.0;
constexpr double kBeatHz = 13.0;          // just past the window's main lobe (10 Hz each side)
constexpr double kBeatRatio = 10.0;       // 20 dB: a peak this far under a neighbour there is its sideband

double centsBetween(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

// Blackman: sidelobes under -58 dB, so a loud low note's skirts are not read as its neighbour
// a semitone away.
double blackman(std::size_t i, std::size_t length) {
    const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(length - 1);
    return 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2.0 * x);
}

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

// The strongest peak within kMatchCents of `hz` (peaks in rising frequency); 0 when none.
double strongestNear(const std::vector<SpectralPeak>& peaks, double hz, double* foundHz = nullptr) {
    const double low = hz * std::exp2(-kMatchCents / 1200.0), high = hz * std::exp2(kMatchCents / 1200.0);
    auto it = std::lower_bound(peaks.begin(), peaks.end(), low,
                               [](const SpectralPeak& p, double value) { return p.hz < value; });
    double best = 0;
    for (; it != peaks.end() && it->hz <= high; ++it) {
        if (it->amplitude > best) {
            best = it->amplitude;
            if (foundHz) *foundHz = it->hz;
        }
    }
    return best;
}

// Whether a peak stands clear of the leakage of a much louder peak nearby (a strong partial
// whose energy changes inside the window smears well past its main lobe).
bool standsClear(const std::vector<SpectralPeak>& peaks, double hz, double amplitude, double skirtHz) {
    auto it = std::lower_bound(peaks.begin(), peaks.end(), hz - skirtHz,
                               [](const SpectralPeak& p, double value) { return p.hz < value; });
    for (; it != peaks.end() && it->hz <= hz + skirtHz; ++it) {
        if (it->amplitude > kSkirtRatio * amplitude) return false;
    }
    return true;
}

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
        window_[i] = blackman(i, length_);
    }
    re_.resize(fftSize_);
    im_.resize(fftSize_);
    magnitude_.resize(fftSize_ / 2 + 1);
}

std::size_t NoteAnalyzer::windowSamples() const { return start_ + length_; }

std::size_t NoteAnalyzer::spectrum(const float* samples, std::size_t count, std::int64_t from) {
    // A decision that cannot wait for the whole window finds the signal ending inside it: the
    // window is then shortened to what was heard and tapered to its own end, so that the cut
    // does not smear every partial into phantom notes.
    std::size_t used = length_;
    if (from >= 0 && static_cast<std::size_t>(from) < count && count - static_cast<std::size_t>(from) < length_) {
        used = std::max<std::size_t>(2, count - static_cast<std::size_t>(from));
    }
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
        if (i < used) {
            const std::int64_t at = from + static_cast<std::int64_t>(i);
            if (at >= 0 && static_cast<std::size_t>(at) < count) value = samples[at] - mean;
            const double w = used == length_ ? window_[i] : blackman(i, used);
            value *= w;
            windowSum += w;
        }
        re_[i] = value;
        im_[i] = 0;
    }
    fft(re_, im_);
    const double scale = 2.0 / windowSum;  // a full-scale sine peaks at 1.0
    for (std::size_t k = 0; k < magnitude_.size(); ++k) magnitude_[k] = std::hypot(re_[k], im_[k]) * scale;
    return used;
}

void NoteAnalyzer::pickPeaks(std::vector<SpectralPeak>& peaks, double& floor) {
    peaks.clear();
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
    floor = std::max({6.0 * *middle, loudest * 1e-3, 1e-6});
    for (std::size_t k = low; k <= high; ++k) {
        const double m = magnitude_[k];
        if (m < floor || m <= magnitude_[k - 1] || m < magnitude_[k + 1]) continue;
        // Parabolic interpolation of the log magnitude.
        const double a = std::log(magnitude_[k - 1] + 1e-12), b = std::log(m + 1e-12),
                     c = std::log(magnitude_[k + 1] + 1e-12);
        const double denominator = a - 2 * b + c;
        const double delta = denominator < 0 ? std::clamp(0.5 * (a - c) / denominator, -0.5, 0.5) : 0.0;
        peaks.push_back({(static_cast<double>(k) + delta) * binHz, std::exp(b - 0.25 * (a - c) * delta)});
    }
}

std::vector<HeardNote> NoteAnalyzer::analyze(const float* samples, std::size_t count, std::int64_t onset) {
    std::vector<HeardNote> notes;
    peaks_.clear();
    floor_ = 0;
    if (samples == nullptr || onset < 0 || static_cast<std::size_t>(onset) >= count) return notes;
    const auto gap = static_cast<std::int64_t>(std::lround(kGapSeconds * sampleRate_));
    spectrum(samples, count, onset - gap - static_cast<std::int64_t>(length_));
    pickPeaks(before_, beforeFloor_);
    const std::size_t used = spectrum(samples, count, onset + static_cast<std::int64_t>(start_));
    if (4 * used < length_) return notes;  // too little heard to tell notes apart
    pickPeaks(peaks_, floor_);
    if (peaks_.empty()) return notes;
    // A shorter window has wider lobes and skirts.
    const double widen = static_cast<double>(length_) / static_cast<double>(used);

    const double topHz = std::min(kMaxPartialHz, 0.45 * sampleRate_);
    double loudest = 0;
    for (const auto& peak : peaks_) loudest = std::max(loudest, peak.amplitude);
    const double present = std::max(floor_, loudest * std::pow(10.0, kPresentDb / 20.0));

    // Bottom up: a note is a pitch whose fundamental and second partial are present and that the
    // notes below it do not explain as one of their partials (a partial no louder than its
    // neighbours in the lower note's series is that note's own).
    struct Accepted {
        int midi;
        double hz;  // the measured fundamental
    };
    std::vector<Accepted> accepted;
    std::vector<HeardNote> found;
    for (int midi = kLowestMidi; midi <= kHighestMidi; ++midi) {
        const double f0 = midiFrequency(midi);
        double hz = 0;
        const double fundamental = strongestNear(peaks_, f0, &hz);
        if (fundamental < present) continue;
        // Two strings on one pitch beat, and the beat shows as weak sidebands inside the
        // louder peak's main lobe: such a sideband is no note.
        if (std::any_of(peaks_.begin(), peaks_.end(), [&](const SpectralPeak& p) {
                return std::abs(p.hz - hz) <= kBeatHz * widen && p.amplitude > kBeatRatio * fundamental;
            })) {
            continue;
        }
        // A string has partials; a lone peak (a body resonance, a hum) does not. A partial
        // counts when it is the peak's own, not the leakage of a louder neighbour. A weak peak
        // an octave under a note, with that note's partials for its even ones and no odd ones,
        // is that note's shadow; so is one a twelfth under a note with nothing an octave up
        // (a body resonance under a low string, which borrows the chord's partials).
        if (2 * f0 < topHz) {
            const double least = std::max(floor_, fundamental * kPartialShare);
            const auto heard = [&](double partialHz, double& amplitude) {
                double at = 0;
                amplitude = strongestNear(peaks_, partialHz, &at);
                return amplitude >= least && standsClear(peaks_, at, amplitude, kSkirtHz * widen);
            };
            double second = 0, third = 0;
            const bool octave = heard(2 * hz, second);
            const bool even = octave && second <= kShadow * fundamental;
            const bool odd = 3 * f0 < topHz && heard(3 * hz, third) && (octave || third <= kLoneTwelfth * fundamental);
            if (!odd && !even) continue;
        }
        bool explained = false;
        for (const auto& lower : accepted) {
            const double ratio = hz / lower.hz;
            const int h = static_cast<int>(std::lround(ratio));
            if (h < 2 || std::abs(1200.0 * std::log2(ratio / h)) > kMatchCents) continue;
            const double below = strongestNear(peaks_, (h - 1) * lower.hz);
            const double above = (h + 1) * lower.hz < topHz ? strongestNear(peaks_, (h + 1) * lower.hz) : 0.0;
            if (fundamental <= kStandOut * std::max(below, above)) {
                explained = true;
                break;
            }
        }
        if (explained) continue;
        accepted.push_back({midi, hz});
        // Still ringing from before the onset and fading, not struck now: it explains partials,
        // but is not heard as a note of this onset.
        if (fundamental < kRise * strongestNear(before_, f0)) continue;
        double energy = 0;
        for (int h = 1; h <= 4 && h * f0 < topHz; ++h) {
            const double a = strongestNear(peaks_, h * hz);
            energy += a * a;
        }
        double centsSum = 0, weight = 0;
        for (int h = 1; h <= 4 && h * f0 < topHz; ++h) {
            double partialHz = 0;
            const double a = strongestNear(peaks_, h * f0, &partialHz);
            if (a <= 0) continue;
            centsSum += a * centsBetween(partialHz / h, f0);
            weight += a;
        }
        found.push_back({midi, static_cast<float>(10.0 * std::log10(std::max(energy, 1e-12))),
                         weight > 0 ? static_cast<float>(centsSum / weight) : std::numeric_limits<float>::quiet_NaN()});
    }
    std::sort(found.begin(), found.end(), [](const HeardNote& a, const HeardNote& b) { return a.level > b.level; });
    for (const auto& note : found) {
        if (notes.size() == kMaxNotes) break;
        if (note.level >= kMinLevelDb) notes.push_back(note);
    }
    if (notes.size() != 1) {
        for (auto& note : notes) note.cents = std::numeric_limits<float>::quiet_NaN();
    }
    std::sort(notes.begin(), notes.end(), [](const HeardNote& a, const HeardNote& b) { return a.level > b.level; });
    return notes;
}

}  // namespace tunewick
