#include "audio/analysis/PitchEstimator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace tunewick {

namespace {

constexpr std::array<const char*, 12> kNoteNames = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Below this the window holds no note worth naming (dBFS of its RMS).
constexpr double kMinLevel = -60.0;
// The autocorrelation peak a reading needs: white noise stays far below it.
constexpr double kMinClarity = 0.80;
// The first key maximum at least this share of the highest one gives the period; a lower ratio
// would take the octave above where the fundamental is weak, a higher one the octave below
// when the signal decays within the window.
constexpr double kPeakRatio = 0.90;
// A hop this much louder than the one before starts a fresh pluck (white noise's hop energy
// varies by about a tenth, so noise alone never doubles it).
constexpr double kOnsetEnergyRatio = 2.0;
// An estimate this far (cents) from the last one is a new note that came without a louder
// hop, a string changed under a ringing one: the window restarts at the last two hops.
constexpr double kNewNoteCents = 50.0;
// Successive estimates further apart than this (cents) are an attack or noise, not a note.
constexpr double kAgreementCents = 12.0;
// Partials must stand this far above the spectrum's median power to count.
constexpr double kPartialSnr = 10.0;
constexpr int kMaxPartials = 16;
// Peaks this far below the strongest partial (power ratio) are side lobes, not partials.
constexpr double kPartialRange = 1e-5;
// The stiffness a guitar string can have; the fit's slope is held inside it.
constexpr double kMaxInharmonicity = 1e-3;

double centsBetween(double a, double b) { return 1200.0 * std::log2(a / b); }

std::size_t nextPowerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1U;
    return p;
}

}  // namespace

PitchReading nameFrequency(double frequency, double referencePitch) {
    PitchReading reading;
    reading.frequency = frequency;
    if (!(frequency > 0.0) || !std::isfinite(frequency) || !(referencePitch > 0.0) || !std::isfinite(referencePitch)) {
        return reading;
    }
    const double semitones = 12.0 * std::log2(frequency / referencePitch);
    const double nearest = std::floor(semitones + 0.5);
    if (std::fabs(nearest) > 1000.0) return reading;  // no note has a name that far out
    reading.midi = 69 + static_cast<int>(nearest);
    reading.cents = 100.0 * (semitones - nearest);
    const int pitchClass = ((reading.midi % 12) + 12) % 12;
    const int octave = (reading.midi - pitchClass) / 12 - 1;
    reading.note = std::string(kNoteNames[static_cast<std::size_t>(pitchClass)]) + std::to_string(octave);
    return reading;
}

PitchEstimator::PitchEstimator(double sampleRate) : sampleRate_(sampleRate) {
    if (!(sampleRate >= 8000.0) || !(sampleRate <= 192000.0)) {
        throw std::invalid_argument("PitchEstimator: the sample rate must lie in 8000 .. 192000 Hz");
    }
    hop_ = static_cast<std::size_t>(std::lround(sampleRate / 32.0));  // 31.25 ms
    window_ = 8 * hop_;
    nsdfWindow_ = 4 * hop_;
    fftSize_ = nextPowerOfTwo(2 * window_);

    history_.assign(window_, 0.0);
    hopBuffer_.assign(hop_, 0.0);
    frame_.assign(window_, 0.0);
    squares_.assign(nsdfWindow_ + 1, 0.0);
    nsdf_.assign(nsdfWindow_, 0.0);
    const std::size_t half = fftSize_ / 2;
    re_.assign(half, 0.0);
    im_.assign(half, 0.0);
    power_.assign(half + 1, 0.0);
    sorted_.assign(half + 1, 0.0);
    cosTable_.resize(half);
    sinTable_.resize(half);
    for (std::size_t k = 0; k < half; ++k) {
        const double angle = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(fftSize_);
        cosTable_[k] = std::cos(angle);
        sinTable_[k] = std::sin(angle);
    }
    bitReverse_.resize(half);
    std::uint32_t bits = 0;
    while ((std::size_t{1} << bits) < half) ++bits;
    for (std::size_t i = 0; i < half; ++i) {
        std::uint32_t r = 0;
        for (std::uint32_t b = 0; b < bits; ++b) {
            if ((i >> b) & 1U) r |= 1U << (bits - 1 - b);
        }
        bitReverse_[i] = r;
    }
}

bool PitchEstimator::setReferencePitch(double hz) {
    if (!(hz >= kMinReferencePitch && hz <= kMaxReferencePitch)) return false;
    reference_.store(hz, std::memory_order_relaxed);
    return true;
}

double PitchEstimator::referencePitch() const { return reference_.load(std::memory_order_relaxed); }

void PitchEstimator::setFocus(double hz) {
    focus_.store(hz > 0.0 && std::isfinite(hz) ? hz : 0.0, std::memory_order_relaxed);
}

void PitchEstimator::reset() {
    std::fill(history_.begin(), history_.end(), 0.0);
    filled_ = 0;
    pending_ = 0;
    hops_ = 0;
    sinceOnset_ = 0;
    previousHopEnergy_ = 0.0;
    lastEstimate_.reset();
}

void PitchEstimator::process(std::span<const float> samples, const Sink& sink) {
    for (const float sample : samples) {
        // A device or file may hand over anything; what is not a number is silence.
        hopBuffer_[pending_++] = std::isfinite(sample) ? static_cast<double>(sample) : 0.0;
        if (pending_ == hop_) {
            pending_ = 0;
            std::copy(history_.begin() + static_cast<std::ptrdiff_t>(hop_), history_.end(), history_.begin());
            std::copy(hopBuffer_.begin(), hopBuffer_.end(), history_.end() - static_cast<std::ptrdiff_t>(hop_));
            filled_ = std::min(filled_ + hop_, window_);
            analyseHop(sink);
        }
    }
}

void PitchEstimator::analyseHop(const Sink& sink) {
    ++hops_;
    const double seconds = static_cast<double>(hops_ * hop_) / sampleRate_;

    // A fresh pluck: the window starts where it does, so no reading mixes it with what rang before.
    double energy = 0.0;
    double peak = 0.0;
    for (const double v : hopBuffer_) {
        energy += v * v;
        peak = std::max(peak, std::fabs(v));
    }
    energy /= static_cast<double>(hop_);
    const double gateEnergy = std::pow(10.0, kMinLevel / 10.0);
    if (energy > gateEnergy && energy > kOnsetEnergyRatio * previousHopEnergy_) {
        std::size_t start = 0;
        while (start < hop_ && std::fabs(hopBuffer_[start]) < 0.25 * peak) ++start;
        sinceOnset_ = hop_ - start;
        lastEstimate_.reset();
    } else {
        sinceOnset_ = std::min(sinceOnset_ + hop_, window_ + hop_);
    }
    previousHopEnergy_ = energy;

    // The first few milliseconds of a pluck are its attack, not yet its note.
    const auto settle = static_cast<std::size_t>(sampleRate_ * 0.008);
    const std::size_t length = std::min(filled_, sinceOnset_ > settle ? sinceOnset_ - settle : 0);

    double level = kMinLevel - 1.0;
    if (length > 0) {
        double sum = 0.0;
        for (std::size_t i = window_ - length; i < window_; ++i) sum += history_[i] * history_[i];
        level = 10.0 * std::log10(sum / static_cast<double>(length) + 1e-30);
    }
    std::optional<Estimate> found;
    if (level >= kMinLevel) found = estimate(length);

    std::optional<PitchReading> reading;
    if (found) {
        const double change = lastEstimate_ ? std::fabs(centsBetween(found->frequency, *lastEstimate_)) : 0.0;
        const bool agrees = lastEstimate_ && change < kAgreementCents;
        if (change > kNewNoteCents) sinceOnset_ = std::min(sinceOnset_, 2 * hop_);
        lastEstimate_ = found->frequency;
        if (agrees) {
            reading = nameFrequency(found->frequency, referencePitch());
            reading->clarity = found->clarity;
            reading->level = level;
        }
    } else {
        lastEstimate_.reset();
    }
    if (sink) sink(seconds, reading);
}

std::optional<PitchEstimator::Estimate> PitchEstimator::estimate(std::size_t length) {
    double low = kMinFrequency;
    double high = kMaxFrequency;
    const double focus = focus_.load(std::memory_order_relaxed);
    if (focus > 0.0) {
        low = std::max(low, focus * std::pow(2.0, -0.5));
        high = std::min(high, focus * std::pow(2.0, 0.5));
        if (low >= high) return std::nullopt;
    }
    // The autocorrelation needs a couple of periods: just after a pluck the window is short and
    // serves only the higher notes (a lower one waits a hop).
    if (length == 0) return std::nullopt;
    low = std::max(low, 2.2 * sampleRate_ / static_cast<double>(length));
    if (low >= high) return std::nullopt;
    double clarity = 0.0;
    const auto lag = findPeriod(length, sampleRate_ / high, sampleRate_ / low, clarity);
    if (!lag || clarity < kMinClarity) return std::nullopt;
    const double coarse = sampleRate_ / *lag;
    // The spectral refinement needs a few periods to resolve the partials.
    if (static_cast<double>(length) < 4.0 * *lag) return std::nullopt;
    const auto refined = refine(length, coarse);
    if (!refined) return std::nullopt;
    return Estimate{*refined, clarity};
}

std::optional<double> PitchEstimator::findPeriod(std::size_t length, double minLag, double maxLag, double& clarity) {
    const std::size_t n = std::min(length, nsdfWindow_);
    const double* x0 = history_.data() + (window_ - n);
    double mean = 0.0;
    for (std::size_t i = 0; i < n; ++i) mean += x0[i];
    mean /= static_cast<double>(n);
    double* x = frame_.data();
    for (std::size_t i = 0; i < n; ++i) x[i] = x0[i] - mean;
    squares_[0] = 0.0;
    for (std::size_t i = 0; i < n; ++i) squares_[i + 1] = squares_[i] + x[i] * x[i];
    if (squares_[n] <= 0.0) return std::nullopt;

    const auto lastLag = std::min(static_cast<std::size_t>(std::ceil(maxLag)) + 2, n / 2);
    for (std::size_t tau = 1; tau <= lastLag; ++tau) {
        double r = 0.0;
        const std::size_t terms = n - tau;
        for (std::size_t j = 0; j < terms; ++j) r += x[j] * x[j + tau];
        const double m = squares_[terms] + (squares_[n] - squares_[tau]);
        nsdf_[tau] = m > 0.0 ? 2.0 * r / m : 0.0;
    }

    // Key maxima: the highest point of each positive lobe after the first negative crossing.
    // A lobe still rising at the end of the range does not count: its peak lies beyond it.
    std::size_t tau = 1;
    while (tau <= lastLag && nsdf_[tau] > 0.0) ++tau;
    double best = 0.0;
    std::array<std::size_t, 64> keys{};
    std::size_t keyCount = 0;
    while (tau <= lastLag) {
        while (tau <= lastLag && nsdf_[tau] <= 0.0) ++tau;
        std::size_t top = tau;
        while (tau <= lastLag && nsdf_[tau] > 0.0) {
            if (nsdf_[tau] > nsdf_[top]) top = tau;
            ++tau;
        }
        if (top >= lastLag) break;
        const auto lag = static_cast<double>(top);
        if (lag + 1.0 >= minLag && lag - 1.0 <= maxLag && keyCount < keys.size()) {
            keys[keyCount++] = top;
            best = std::max(best, nsdf_[top]);
        }
    }
    for (std::size_t k = 0; k < keyCount; ++k) {
        const std::size_t t = keys[k];
        if (nsdf_[t] < kPeakRatio * best) continue;
        const double a = nsdf_[t - 1];
        const double b = nsdf_[t];
        const double c = nsdf_[t + 1];
        const double denominator = a - 2.0 * b + c;
        const double shift = denominator < 0.0 ? 0.5 * (a - c) / denominator : 0.0;
        const double lag = static_cast<double>(t) + shift;
        if (lag < minLag || lag > maxLag) continue;
        clarity = std::clamp(b - 0.25 * (a - c) * shift, 0.0, 1.0);
        return lag;
    }
    return std::nullopt;
}

void PitchEstimator::transform(std::size_t length) {
    // A real transform of fftSize_ points (the frame, zero-padded) as a complex one of half the
    // size; leaves |X[k]|^2 for k = 0 .. fftSize_/2 in power_.
    const std::size_t half = fftSize_ / 2;
    for (std::size_t k = 0; k < half; ++k) {
        const std::size_t i = bitReverse_[k];
        re_[i] = 2 * k < length ? frame_[2 * k] : 0.0;
        im_[i] = 2 * k + 1 < length ? frame_[2 * k + 1] : 0.0;
    }
    for (std::size_t size = 2; size <= half; size <<= 1U) {
        const std::size_t step = fftSize_ / size;
        const std::size_t span = size / 2;
        for (std::size_t start = 0; start < half; start += size) {
            for (std::size_t j = 0; j < span; ++j) {
                const double wr = cosTable_[j * step];
                const double wi = -sinTable_[j * step];
                const std::size_t a = start + j;
                const std::size_t b = a + span;
                const double tr = re_[b] * wr - im_[b] * wi;
                const double ti = re_[b] * wi + im_[b] * wr;
                re_[b] = re_[a] - tr;
                im_[b] = im_[a] - ti;
                re_[a] += tr;
                im_[a] += ti;
            }
        }
    }
    for (std::size_t k = 0; k <= half; ++k) {
        const std::size_t p = k % half;
        const std::size_t q = (half - k) % half;
        // Even and odd sample spectra, then the butterfly that joins them.
        const double er = 0.5 * (re_[p] + re_[q]);
        const double ei = 0.5 * (im_[p] - im_[q]);
        const double orr = 0.5 * (im_[p] + im_[q]);
        const double oi = -0.5 * (re_[p] - re_[q]);
        const double wr = k < half ? cosTable_[k] : -1.0;
        const double wi = k < half ? -sinTable_[k] : 0.0;
        const double xr = er + orr * wr - oi * wi;
        const double xi = ei + orr * wi + oi * wr;
        power_[k] = xr * xr + xi * xi;
    }
}

std::optional<double> PitchEstimator::refine(std::size_t length, double coarse) {
    const std::size_t n = std::min(length, window_);
    const double* x0 = history_.data() + (window_ - n);
    double mean = 0.0;
    for (std::size_t i = 0; i < n; ++i) mean += x0[i];
    mean /= static_cast<double>(n);
    // Hann window, its cosine advanced by rotation so that no call to cos runs per sample.
    const double delta = 2.0 * std::numbers::pi / static_cast<double>(n);
    const double cd = std::cos(delta);
    const double sd = std::sin(delta);
    double c = std::cos(0.5 * delta);
    double s = std::sin(0.5 * delta);
    for (std::size_t i = 0; i < n; ++i) {
        frame_[i] = (x0[i] - mean) * (0.5 - 0.5 * c);
        const double nc = c * cd - s * sd;
        s = s * cd + c * sd;
        c = nc;
    }
    transform(n);

    const double binHz = sampleRate_ / static_cast<double>(fftSize_);
    const std::size_t half = fftSize_ / 2;
    // The noise floor: the median power between the first partial's half and the top band.
    const double topHz = std::min(0.45 * sampleRate_, 4000.0);
    const auto firstBin = static_cast<std::size_t>(0.5 * coarse / binHz);
    const auto lastBin = std::min(half - 1, static_cast<std::size_t>(topHz / binHz));
    if (lastBin <= firstBin + 8) return std::nullopt;
    std::copy(power_.begin() + static_cast<std::ptrdiff_t>(firstBin), power_.begin() + static_cast<std::ptrdiff_t>(lastBin),
              sorted_.begin());
    const auto count = static_cast<std::ptrdiff_t>(lastBin - firstBin);
    std::nth_element(sorted_.begin(), sorted_.begin() + count / 2, sorted_.begin() + count);
    const double floor = std::max(sorted_[static_cast<std::size_t>(count / 2)], 1e-30);

    // Each partial's peak, found near where the previous one predicts it and interpolated on
    // the log power (close to exact for a Hann window's main lobe).
    std::array<double, kMaxPartials> frequencies{};
    std::array<double, kMaxPartials> powers{};
    std::array<int, kMaxPartials> numbers{};
    int found = 0;
    double strongest = 0.0;
    double perHarmonic = coarse;
    for (int h = 1; h <= kMaxPartials; ++h) {
        const double expected = h * perHarmonic;
        if (expected > topHz) break;
        const double reach = 0.3 * coarse / binHz;
        const auto lo = static_cast<std::size_t>(std::max(1.0, expected / binHz - reach));
        const auto hi = std::min(lastBin, static_cast<std::size_t>(expected / binHz + reach));
        if (hi <= lo + 1) break;
        std::size_t top = lo;
        for (std::size_t k = lo + 1; k <= hi; ++k) {
            if (power_[k] > power_[top]) top = k;
        }
        if (top == lo || top == hi || power_[top] < kPartialSnr * floor) continue;
        const double a = std::log(power_[top - 1] + 1e-300);
        const double b = std::log(power_[top]);
        const double g = std::log(power_[top + 1] + 1e-300);
        const double denominator = a - 2.0 * b + g;
        if (!(denominator < 0.0)) continue;
        const double shift = std::clamp(0.5 * (a - g) / denominator, -0.5, 0.5);
        const double frequency = (static_cast<double>(top) + shift) * binHz;
        const double power = std::exp(b - 0.25 * (a - g) * shift);
        if (power < kPartialRange * strongest) continue;
        frequencies[static_cast<std::size_t>(found)] = frequency;
        powers[static_cast<std::size_t>(found)] = power;
        numbers[static_cast<std::size_t>(found)] = h;
        strongest = std::max(strongest, power);
        // The next partial is looked for where this one says, as a stiff string stretches them.
        perHarmonic = std::clamp(frequency / h, 0.98 * coarse, 1.06 * coarse);
        ++found;
    }

    // Weighted by what each partial says about the first: its power over the floor, and h^2
    // since its frequency is divided by h. Far weaker peaks are a neighbour's side lobes.
    double sw = 0.0, swx = 0.0, swy = 0.0, swxx = 0.0, swxy = 0.0;
    int partials = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(found); ++i) {
        if (powers[i] < kPartialRange * strongest) continue;
        const int h = numbers[i];
        const double y = frequencies[i] / h;
        const double xh = static_cast<double>(h * h - 1);
        const double w = static_cast<double>(h * h) * powers[i] / floor;
        sw += w;
        swx += w * xh;
        swy += w * y;
        swxx += w * xh * xh;
        swxy += w * xh * y;
        ++partials;
    }
    if (partials == 0 || sw <= 0.0) return std::nullopt;
    // y = f1 + slope * (h^2 - 1): the intercept is the first partial, whatever the stiffness.
    double slope = 0.0;
    const double spread = sw * swxx - swx * swx;
    if (partials >= 3 && spread > 1e-12 * sw * swxx) slope = (sw * swxy - swx * swy) / spread;
    const double mean1 = swy / sw;
    const double limit = 0.5 * kMaxInharmonicity * mean1;
    slope = std::clamp(slope, -limit, limit);
    const double first = (swy - slope * swx) / sw;
    if (!(first > 0.0) || std::fabs(centsBetween(first, coarse)) > 60.0) return std::nullopt;
    return first;
}

}  // namespace tunewick

