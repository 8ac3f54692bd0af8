#include "audio/listening/OnsetDetector.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <string>

namespace tunewick {

namespace {

// Analysis constants, in time units so that every input rate behaves alike.
constexpr double kHopSeconds = 0.0029;       // one frame of the detection function
constexpr double kWindowSeconds = 0.040;     // about this much signal per spectrum
constexpr double kLowestHz = 40.0;           // below the low E string's fundamental
constexpr double kHighestHz = 11000.0;       // a pluck's click lives up to here
constexpr double kBandsPerOctave = 24.0;
constexpr int kMaxFilterBands = 1;           // +-1 band: a vibrato or bend of half a semitone
// Log compression log(floor + |X|) on 16-bit scaled magnitudes, the floor a partial at -80 dBFS
// plus 45 dB under the louder of the two frames compared: what changes far below the sounding
// partials (a damped string's spectral splatter) adds no flux, while a quiet pluck still does.
constexpr float kScale = 32768.0f;
constexpr double kAbsoluteFloorDbfs = -80.0;
constexpr float kRelativeFloor = 0.0056f;
// ... and a few times each band's background (a slow follower of its lower envelope), so that
// the random ripple of steady noise adds little flux either.
constexpr double kBackgroundRiseSeconds = 0.5;
constexpr double kBackgroundFallSeconds = 0.05;
constexpr float kBackgroundMargin = 2.0f;
constexpr double kPreMaxSeconds = 0.030;     // a peak is the largest of this much before it
constexpr double kPostMaxSeconds = 0.009;    // ... and of this much after (the look-ahead)
constexpr double kPreAverageSeconds = 0.100; // the adaptive threshold's memory
constexpr double kThresholdDelta = 1.0;      // flux above the recent average that counts
constexpr double kThresholdRatio = 2.0;      // the recent average's weight in the threshold
// A second detection function compares each frame with one twice as far back: a slow attack (an
// overdriven patch speaks over some 20 ms) adds its whole rise to one frame of it. It finds only
// what the first passes over, a few milliseconds later, so it asks a higher threshold.
constexpr double kSlowThresholdRatio = 2.3;
// The previous onset's own attack, from this long before its peak to this long after, is left
// out of the recent average: a note 100 ms after another is judged against the flux between
// them, not against the other's attack.
constexpr double kOwnAttackBeforeSeconds = 0.010;
constexpr double kOwnAttackAfterSeconds = 0.030;
// A frame whose flux already stands this many times over the threshold is an onset before its
// peak: a loud strum is reported while its last strings still add to the flux, not after them.
constexpr double kEarlyCommitFactor = 2.0;
constexpr double kMinimumGapSeconds = 0.090; // a strum of up to 80 ms is one onset
// A peak of flux while the sound as a whole fades (a note cut short spreads a little energy into
// empty bands) is no onset: the look-ahead's last frame must keep this share of the magnitude of
// the peak's reference frame.
constexpr float kLevelKept = 0.7f;
// The fine placement: a second flux over short windows a millisecond and a half apart, over a
// stretch that reaches this far before the detecting frame's window; the onset is where it
// first climbs half way from its median to its peak (a strum's first string, not its loudest).
constexpr double kFineWindowSeconds = 0.0116;
constexpr double kFineHopSeconds = 0.00145;
constexpr double kSearchBeforeWindowSeconds = 0.040;
constexpr double kEarliestShare = 0.5;
// Only the bins that rise this far (12 dB) over their level before the detecting window carry the
// placement: in noise, the ripple of every other bin would bury a soft first string.
constexpr float kRiseOverBefore = 4.0f;
constexpr std::size_t kFewestBeforeSpectra = 4;  // fewer give no level to rise over
constexpr std::size_t kFewestRisingBins = 3;
constexpr double kStringGapSeconds = 0.025;  // the most between two strings of a strum that links them

std::size_t nextPowerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

// The power of two nearest to n on a log scale.
std::size_t nearestPowerOfTwo(std::size_t n) {
    const std::size_t above = nextPowerOfTwo(n);
    return static_cast<double>(above) / static_cast<double>(n) > static_cast<double>(n) / static_cast<double>(above / 2) ? above / 2 : above;
}

std::size_t samplesOf(double seconds, double rate) {
    return static_cast<std::size_t>(std::max(1.0, std::round(seconds * rate)));
}

// An in-place radix-2 complex transform with tables made once.
class Fft {
public:
    explicit Fft(std::size_t size) : size_(size), twiddle_(size / 2), reverse_(size) {
        for (std::size_t k = 0; k < size / 2; ++k) {
            double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size);
            twiddle_[k] = {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
        }
        std::size_t bits = 0;
        while ((std::size_t{1} << bits) < size) ++bits;
        for (std::size_t i = 0; i < size; ++i) {
            std::size_t r = 0;
            for (std::size_t b = 0; b < bits; ++b) r |= ((i >> b) & 1U) << (bits - 1 - b);
            reverse_[i] = r;
        }
    }
    void transform(std::vector<std::complex<float>>& data) const {
        for (std::size_t i = 0; i < size_; ++i) {
            if (i < reverse_[i]) std::swap(data[i], data[reverse_[i]]);
        }
        for (std::size_t length = 2; length <= size_; length <<= 1) {
            std::size_t half = length / 2;
            std::size_t step = size_ / length;
            for (std::size_t start = 0; start < size_; start += length) {
                for (std::size_t k = 0; k < half; ++k) {
                    std::complex<float> t = data[start + k + half] * twiddle_[k * step];
                    data[start + k + half] = data[start + k] - t;
                    data[start + k] += t;
                }
            }
        }
    }

private:
    std::size_t size_;
    std::vector<std::complex<float>> twiddle_;
    std::vector<std::size_t> reverse_;
};

// One band of the log filterbank: triangular weights over bins [first, first + weights.size()).
struct Band {
    std::size_t first;
    std::vector<float> weights;
};

}  // namespace

struct OnsetDetector::State {
    explicit State(double rate);

    double rate;
    std::size_t hop, window, fineHop, fineWindow, fineDiff;
    std::size_t diffFrames, preMax, postMax, preAverage, gapFrames, ownAttackBefore, ownAttackAfter;
    std::size_t searchBefore;
    Fft fft, fineFft;
    std::vector<float> hann, fineHann;
    std::vector<Band> bands;
    // Input history: a power-of-two ring addressed by absolute sample index.
    std::vector<float> history;
    std::size_t historyMask;
    // The last 2 diffFrames + 1 max-filtered log spectra, and the two fluxes of recent frames.
    std::vector<std::vector<float>> filtered;
    std::vector<float> slowFlux;  // against the frame 2 diffFrames back, same ring as flux
    std::vector<float> flux;  // ring of fluxRing entries, by frame index
    std::vector<float> levels;  // the sum of the band magnitudes, same ring
    std::size_t fluxRing;
    // Scratch.
    std::vector<std::complex<float>> spectrum;
    std::vector<float> rawBands;
    std::vector<float> background;  // per band
    float backgroundRise = 0.0f, backgroundFall = 0.0f;
    float absoluteFloor = 1.0f, fineAbsoluteFloor = 1.0f;  // a Hann-windowed partial at -80 dBFS
    std::size_t startFrames = 0;  // frames before onsets are judged: the stream's start is none
    std::vector<std::vector<float>> fineFiltered;  // ring of fineDiff + 1 spectra
    std::vector<std::vector<float>> fineSpectra;  // the stretch's short spectra, + each one's loudest
    std::vector<unsigned char> fineRising;  // per bin: whether it carries the placement
    std::vector<float> fineFlux, fineSorted;
    std::size_t fineFirstBin = 1;

    std::int64_t fed = 0;             // samples fed since reset
    std::int64_t frames = 0;          // frames computed; frame k ends at sample (k + 1) * hop
    std::int64_t decided = 0;         // frames below this have been judged as peaks
    std::int64_t lastOnsetFrame = -1'000'000;
    std::int64_t lastOnsetSample = -1'000'000;

    void clear();
    void computeFrame();
    void decide(std::int64_t frame, std::int64_t lastAvailable, std::vector<Onset>& found, bool early = false);
    bool peaks(const std::vector<float>& ring, std::size_t back, double ratio, std::int64_t frame,
               std::int64_t lastAvailable, double factor) const;
    std::int64_t place(std::int64_t frame);
    float sampleAt(std::int64_t index) const {
        return index < 0 ? 0.0f : history[static_cast<std::size_t>(index) & historyMask];
    }
};

OnsetDetector::State::State(double sampleRate)
    : rate(sampleRate),
      hop(samplesOf(kHopSeconds, sampleRate)),
      window(nearestPowerOfTwo(samplesOf(kWindowSeconds, sampleRate))),
      fineHop(samplesOf(kFineHopSeconds, sampleRate)),
      fineWindow(nextPowerOfTwo(samplesOf(kFineWindowSeconds, sampleRate))),
      fft(nearestPowerOfTwo(samplesOf(kWindowSeconds, sampleRate))),
      fineFft(nextPowerOfTwo(samplesOf(kFineWindowSeconds, sampleRate))) {
    fineDiff = std::max<std::size_t>(1, (fineWindow / 4 + fineHop / 2) / fineHop);
    // Compare with the frame where the window's overlap with this one falls to half, and (the
    // slow flux) with the frame twice as far back.
    diffFrames = std::max<std::size_t>(1, (window / 4 + hop / 2) / hop);
    preMax = samplesOf(kPreMaxSeconds, rate) / hop;
    postMax = std::max<std::size_t>(1, samplesOf(kPostMaxSeconds, rate) / hop);
    preAverage = std::max<std::size_t>(1, samplesOf(kPreAverageSeconds, rate) / hop);
    gapFrames = samplesOf(kMinimumGapSeconds, rate) / hop;
    ownAttackBefore = samplesOf(kOwnAttackBeforeSeconds, rate) / hop;
    ownAttackAfter = samplesOf(kOwnAttackAfterSeconds, rate) / hop;
    startFrames = (window + 2 * diffFrames * hop) / hop + preAverage;
    absoluteFloor = static_cast<float>(kScale * std::pow(10.0, kAbsoluteFloorDbfs / 20.0) * static_cast<double>(window) / 4.0);
    fineAbsoluteFloor = static_cast<float>(kScale * std::pow(10.0, kAbsoluteFloorDbfs / 20.0) * static_cast<double>(fineWindow) / 4.0);
    searchBefore = samplesOf(kSearchBeforeWindowSeconds, rate);

    auto makeHann = [](std::size_t size) {
        std::vector<float> w(size);
        for (std::size_t i = 0; i < size; ++i) {
            w[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(size)));
        }
        return w;
    };
    hann = makeHann(window);
    fineHann = makeHann(fineWindow);
    // Band centres every 1/24 octave, as bins; bands that fall on the same bin are one.
    double binHz = rate / static_cast<double>(window);
    double top = std::min(kHighestHz, 0.45 * rate);
    std::vector<std::size_t> centres;
    for (double hz = kLowestHz; hz <= top; hz *= std::exp2(1.0 / kBandsPerOctave)) {
        auto bin = static_cast<std::size_t>(std::lround(hz / binHz));
        if (bin >= 1 && (centres.empty() || bin > centres.back())) centres.push_back(bin);
    }
    for (std::size_t c = 1; c + 1 < centres.size(); ++c) {
        std::size_t lo = centres[c - 1], mid = centres[c], hi = centres[c + 1];
        Band band{lo + 1, {}};
        double sum = 0.0;
        for (std::size_t bin = lo + 1; bin < hi; ++bin) {
            double w = bin <= mid ? static_cast<double>(bin - lo) / static_cast<double>(mid - lo)
                                  : static_cast<double>(hi - bin) / static_cast<double>(hi - mid);
            band.weights.push_back(static_cast<float>(w));
            sum += w;
        }
        for (auto& w : band.weights) w = static_cast<float>(w / sum);
        bands.push_back(std::move(band));
    }

    std::size_t needed = window + searchBefore + (postMax + 2) * hop + fineWindow + (fineDiff + 2) * fineHop;
    history.assign(nextPowerOfTwo(needed), 0.0f);
    historyMask = history.size() - 1;
    filtered.assign(2 * diffFrames + 1, std::vector<float>(bands.size() + 1, 0.0f));  // + the frame's loudest
    fluxRing = std::max(preAverage, preMax) + postMax + 2;
    flux.assign(fluxRing, 0.0f);
    slowFlux.assign(fluxRing, 0.0f);
    levels.assign(fluxRing, 0.0f);
    spectrum.resize(window);
    rawBands.resize(bands.size());
    background.assign(bands.size(), 0.0f);
    backgroundRise = static_cast<float>(1.0 - std::exp(-static_cast<double>(hop) / (kBackgroundRiseSeconds * rate)));
    backgroundFall = static_cast<float>(1.0 - std::exp(-static_cast<double>(hop) / (kBackgroundFallSeconds * rate)));
    fineFirstBin = std::max<std::size_t>(1, static_cast<std::size_t>(kLowestHz * static_cast<double>(fineWindow) / rate));
    fineFiltered.assign(fineDiff + 1, std::vector<float>(fineWindow / 2 + 1, 0.0f));
    fineFlux.resize((window + searchBefore) / fineHop + 2);
    fineSpectra.assign(fineFlux.size() + fineDiff, std::vector<float>(fineWindow / 2 + 1, 0.0f));  // + the loudest
    fineRising.assign(fineWindow / 2, 1);
    fineSorted.resize(fineSpectra.size());
}

void OnsetDetector::State::clear() {
    std::fill(history.begin(), history.end(), 0.0f);
    for (auto& f : filtered) std::fill(f.begin(), f.end(), 0.0f);
    std::fill(flux.begin(), flux.end(), 0.0f);
    std::fill(slowFlux.begin(), slowFlux.end(), 0.0f);
    std::fill(levels.begin(), levels.end(), 0.0f);
    std::fill(background.begin(), background.end(), 0.0f);
    fed = 0;
    frames = 0;
    decided = 0;
    lastOnsetFrame = -1'000'000;
    lastOnsetSample = -1'000'000;
}

void OnsetDetector::State::computeFrame() {
    std::int64_t end = (frames + 1) * static_cast<std::int64_t>(hop);
    std::int64_t start = end - static_cast<std::int64_t>(window);
    for (std::size_t i = 0; i < window; ++i) {
        spectrum[i] = {sampleAt(start + static_cast<std::int64_t>(i)) * hann[i], 0.0f};
    }
    fft.transform(spectrum);
    float loudest = 0.0f, level = 0.0f;
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const Band& band = bands[b];
        float sum = 0.0f;
        for (std::size_t j = 0; j < band.weights.size(); ++j) sum += band.weights[j] * std::abs(spectrum[band.first + j]);
        rawBands[b] = kScale * sum;
        loudest = std::max(loudest, rawBands[b]);
        level += rawBands[b];
    }
    // The ring holds frames f - 2 diffFrames .. f - 1; slot f % size holds the one no longer needed.
    const auto ring = static_cast<std::int64_t>(filtered.size());
    const auto& reference = filtered[static_cast<std::size_t>((frames + static_cast<std::int64_t>(diffFrames) + 1) % ring)];  // f - diffFrames
    const auto& slowReference = filtered[static_cast<std::size_t>((frames + 1) % ring)];  // f - 2 diffFrames
    const float floor = absoluteFloor + kRelativeFloor * std::max(loudest, reference.back());
    const float slowFloor = absoluteFloor + kRelativeFloor * std::max(loudest, slowReference.back());
    // The background settles quickly at the start of the stream, then follows slowly.
    const float rise = frames < static_cast<std::int64_t>(startFrames) ? backgroundFall : backgroundRise;
    float total = 0.0f, slowTotal = 0.0f;
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const float margin = kBackgroundMargin * background[b];
        if (rawBands[b] > reference[b]) total += std::log10((floor + margin + rawBands[b]) / (floor + margin + reference[b]));
        if (rawBands[b] > slowReference[b]) {
            slowTotal += std::log10((slowFloor + margin + rawBands[b]) / (slowFloor + margin + slowReference[b]));
        }
        background[b] += (rawBands[b] > background[b] ? rise : backgroundFall) * (rawBands[b] - background[b]);
    }
    // Store this frame's max-filtered spectrum where the oldest was.
    auto& slot = filtered[static_cast<std::size_t>(frames) % filtered.size()];
    for (std::size_t b = 0; b < bands.size(); ++b) {
        std::size_t lo = b >= static_cast<std::size_t>(kMaxFilterBands) ? b - kMaxFilterBands : 0;
        std::size_t hi = std::min(bands.size() - 1, b + kMaxFilterBands);
        float m = rawBands[lo];
        for (std::size_t k = lo + 1; k <= hi; ++k) m = std::max(m, rawBands[k]);
        slot[b] = m;
    }
    slot.back() = loudest;
    // Until the reference frame lies wholly inside the input, the start of the stream itself
    // would read as an onset.
    const bool settled = (frames + 1 - 2 * static_cast<std::int64_t>(diffFrames)) * static_cast<std::int64_t>(hop) >=
                         static_cast<std::int64_t>(window);
    flux[static_cast<std::size_t>(frames) % fluxRing] = settled ? total : 0.0f;
    slowFlux[static_cast<std::size_t>(frames) % fluxRing] = settled ? slowTotal : 0.0f;
    levels[static_cast<std::size_t>(frames) % fluxRing] = level;
    ++frames;
}

// Whether `frame` is a peak of the detection function in `ring` (flux against the frame `back`
// frames earlier) that stands over `factor` times the threshold, the sound not fading. The frames
// after it, up to lastAvailable, must be lower.
bool OnsetDetector::State::peaks(const std::vector<float>& ring, std::size_t back, double ratio, std::int64_t frame,
                                 std::int64_t lastAvailable, double factor) const {
    auto at = [&](std::int64_t k) { return ring[static_cast<std::size_t>(k) % fluxRing]; };
    const float value = at(frame);
    if (levels[static_cast<std::size_t>(lastAvailable) % fluxRing] <
        kLevelKept * levels[static_cast<std::size_t>(frame - static_cast<std::int64_t>(back)) % fluxRing]) {
        return false;
    }
    for (std::int64_t k = std::max<std::int64_t>(0, frame - static_cast<std::int64_t>(preMax)); k < frame; ++k) {
        if (at(k) > value) return false;
    }
    for (std::int64_t k = frame + 1; k <= lastAvailable; ++k) {
        if (at(k) >= value) return false;
    }
    const std::int64_t earliest = std::max<std::int64_t>(0, frame - static_cast<std::int64_t>(std::max(preMax, preAverage)));
    double sum = 0.0;
    std::int64_t count = 0;
    for (std::int64_t k = std::max(earliest, frame - static_cast<std::int64_t>(preAverage)); k < frame; ++k) {
        if (k >= lastOnsetFrame - static_cast<std::int64_t>(ownAttackBefore) &&
            k <= lastOnsetFrame + static_cast<std::int64_t>(ownAttackAfter)) {
            continue;
        }
        sum += at(k);
        ++count;
    }
    const double average = count > 0 ? sum / static_cast<double>(count) : 0.0;
    return value >= factor * (ratio * average + kThresholdDelta);
}

// Judges `frame` against the frames after it up to lastAvailable. An early judgement (the newest
// frame, before its look-ahead) takes only a frame far over the first flux's threshold; the
// frames before it still to be judged then fall within its gap.
void OnsetDetector::State::decide(std::int64_t frame, std::int64_t lastAvailable, std::vector<Onset>& found,
                                  bool early) {
    if (frame < static_cast<std::int64_t>(startFrames)) return;
    if (frame - lastOnsetFrame < static_cast<std::int64_t>(gapFrames)) return;
    float strength = 0.0f;
    if (peaks(flux, diffFrames, kThresholdRatio, frame, lastAvailable, early ? kEarlyCommitFactor : 1.0)) {
        strength = flux[static_cast<std::size_t>(frame) % fluxRing];
    } else if (!early && peaks(slowFlux, 2 * diffFrames, kSlowThresholdRatio, frame, lastAvailable, 1.0)) {
        strength = slowFlux[static_cast<std::size_t>(frame) % fluxRing];
    } else {
        return;
    }
    lastOnsetFrame = frame;
    std::int64_t sample = place(frame);
    lastOnsetSample = sample;
    found.push_back({sample, strength});
}

// Where in the detecting frame's stretch the onset starts, from the short-window flux: the
// first frame that climbs half way from the stretch's median to its peak, interpolated between
// frames: the end of that frame's window is where the fresh sound entered it.
std::int64_t OnsetDetector::State::place(std::int64_t frame) {
    const auto hopI = static_cast<std::int64_t>(fineHop);
    std::int64_t end = (frame + 1) * static_cast<std::int64_t>(hop);
    std::int64_t begin = end - static_cast<std::int64_t>(window + searchBefore);
    // Not into the previous onset's own attack.
    begin = std::max(begin, lastOnsetSample + static_cast<std::int64_t>(samplesOf(kMinimumGapSeconds / 2, rate)));
    const std::int64_t fallback = std::max<std::int64_t>(0, end - static_cast<std::int64_t>(window / 2));
    const std::int64_t lead = static_cast<std::int64_t>(fineWindow / 4);
    // Fine frame m ends at begin + lead + m * fineHop; the first fineDiff only serve as references.
    const std::int64_t first = begin + lead - static_cast<std::int64_t>(fineDiff) * hopI;
    // First every short spectrum of the stretch; then each bin's level before the onset (the
    // median of the spectra that end before the detecting frame's window begins: steady noise,
    // or a note still ringing) and whether the bin rose well over it afterwards.
    std::size_t spectra = 0;
    for (std::int64_t m = 0; spectra < fineSpectra.size(); ++m) {
        const std::int64_t frameEnd = first + m * hopI;
        if (frameEnd > end) break;
        for (std::size_t i = 0; i < fineWindow; ++i) {
            spectrum[i] = {sampleAt(frameEnd - static_cast<std::int64_t>(fineWindow - i)) * fineHann[i], 0.0f};
        }
        fineFft.transform(spectrum);  // spectrum holds at least fineWindow values
        auto& raw = fineSpectra[spectra++];
        float loudest = 0.0f;
        for (std::size_t k = fineFirstBin; k < fineWindow / 2; ++k) {
            raw[k] = kScale * std::abs(spectrum[k]);
            loudest = std::max(loudest, raw[k]);
        }
        raw.back() = loudest;
    }
    const std::int64_t windowStart = end - static_cast<std::int64_t>(window);
    std::size_t quiet = 0;
    while (quiet < spectra && first + static_cast<std::int64_t>(quiet) * hopI <= windowStart) ++quiet;
    std::size_t rising = 0;
    for (std::size_t k = fineFirstBin; k < fineWindow / 2; ++k) {
        fineRising[k] = 1;
        if (quiet < kFewestBeforeSpectra) continue;
        for (std::size_t m = 0; m < quiet; ++m) fineSorted[m] = fineSpectra[m][k];
        auto middle = fineSorted.begin() + static_cast<std::ptrdiff_t>(quiet / 2);
        std::nth_element(fineSorted.begin(), middle, fineSorted.begin() + static_cast<std::ptrdiff_t>(quiet));
        float after = 0.0f;
        for (std::size_t m = quiet; m < spectra; ++m) after = std::max(after, fineSpectra[m][k]);
        fineRising[k] = after > kRiseOverBefore * *middle ? 1 : 0;
        rising += fineRising[k];
    }
    if (quiet >= kFewestBeforeSpectra && rising < kFewestRisingBins) std::fill(fineRising.begin(), fineRising.end(), 1);
    std::size_t count = 0;
    for (std::size_t m = 0; m < spectra; ++m) {
        const auto& raw = fineSpectra[m];
        const float loudest = raw.back();
        const auto slot = m % fineFiltered.size();
        if (m >= fineDiff) {
            const auto& reference = fineFiltered[(m + 1) % fineFiltered.size()];
            const float floor = fineAbsoluteFloor + kRelativeFloor * std::max(loudest, reference.back());
            float total = 0.0f;
            for (std::size_t k = fineFirstBin; k < fineWindow / 2; ++k) {
                if (fineRising[k] && raw[k] > reference[k]) total += std::log10((floor + raw[k]) / (floor + reference[k]));
            }
            fineFlux[count++] = total;
        }
        auto& store = fineFiltered[slot];
        for (std::size_t k = fineFirstBin; k < fineWindow / 2; ++k) {
            float m3 = raw[k];
            if (k > fineFirstBin) m3 = std::max(m3, raw[k - 1]);
            if (k + 1 < fineWindow / 2) m3 = std::max(m3, raw[k + 1]);
            store[k] = m3;
        }
        store.back() = loudest;
    }
    if (count < 3) return fallback;
    // A three-frame mean: a noise spike lasts one frame, an attack several.
    float before = fineFlux[0];
    for (std::size_t j = 1; j + 1 < count; ++j) {
        const float here = fineFlux[j];
        fineFlux[j] = (before + here + fineFlux[j + 1]) / 3.0f;
        before = here;
    }
    std::copy(fineFlux.begin(), fineFlux.begin() + static_cast<std::ptrdiff_t>(count), fineSorted.begin());
    auto middle = fineSorted.begin() + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(fineSorted.begin(), middle, fineSorted.begin() + static_cast<std::ptrdiff_t>(count));
    const float median = *middle;
    const auto peakAt = static_cast<std::size_t>(
        std::max_element(fineFlux.begin(), fineFlux.begin() + static_cast<std::ptrdiff_t>(count)) - fineFlux.begin());
    const float peak = fineFlux[peakAt];
    if (!(peak > median)) return fallback;
    const float level = median + static_cast<float>(kEarliestShare) * (peak - median);
    // From the peak back through the strings of a strum: the earliest frame above the level
    // that is no more than a string's gap before the next one.
    const auto gap = static_cast<std::ptrdiff_t>(samplesOf(kStringGapSeconds, rate) / fineHop);
    std::size_t earliest = peakAt;
    for (std::ptrdiff_t j = static_cast<std::ptrdiff_t>(peakAt) - 1; j >= 0; --j) {
        if (fineFlux[static_cast<std::size_t>(j)] >= level) {
            earliest = static_cast<std::size_t>(j);
        } else if (static_cast<std::ptrdiff_t>(earliest) - j > gap) {
            break;
        }
    }
    // Flux frame j ends at begin + lead + j * fineHop; interpolate the crossing.
    double position = static_cast<double>(begin + lead) + static_cast<double>(earliest) * static_cast<double>(fineHop);
    if (earliest > 0 && fineFlux[earliest] > fineFlux[earliest - 1] && fineFlux[earliest - 1] < level) {
        position -= static_cast<double>(fineHop) * (fineFlux[earliest] - level) / (fineFlux[earliest] - fineFlux[earliest - 1]);
    }
    // Log compression lifts the flux half way as soon as the fresh sound enters the window.
    return std::max<std::int64_t>(0, std::llround(position));
}

OnsetDetector::OnsetDetector(double sampleRate) {
    if (!(sampleRate >= 8000.0 && sampleRate <= 96000.0)) {
        throw std::invalid_argument("OnsetDetector: sample rate " + std::to_string(sampleRate) +
                                    " is outside 8000 .. 96000");
    }
    state_ = std::make_unique<State>(sampleRate);
}

OnsetDetector::~OnsetDetector() = default;
OnsetDetector::OnsetDetector(OnsetDetector&&) noexcept = default;
OnsetDetector& OnsetDetector::operator=(OnsetDetector&&) noexcept = default;

void OnsetDetector::process(const float* samples, std::size_t count, std::vector<Onset>& found) {
    State& s = *state_;
    for (std::size_t i = 0; i < count; ++i) {
        s.history[static_cast<std::size_t>(s.fed) & s.historyMask] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
        ++s.fed;
        if (s.fed == (s.frames + 1) * static_cast<std::int64_t>(s.hop)) {
            s.computeFrame();
            // A frame can be judged once its look-ahead has been computed.
            while (s.decided + static_cast<std::int64_t>(s.postMax) < s.frames) {
                s.decide(s.decided, s.decided + static_cast<std::int64_t>(s.postMax), found);
                ++s.decided;
            }
            s.decide(s.frames - 1, s.frames - 1, found, /*early=*/true);
        }
    }
}

void OnsetDetector::flush(std::vector<Onset>& found) {
    State& s = *state_;
    while (s.decided < s.frames) {
        s.decide(s.decided, s.frames - 1, found);
        ++s.decided;
    }
}

void OnsetDetector::reset() { state_->clear(); }

double OnsetDetector::sampleRate() const { return state_->rate; }

std::int64_t OnsetDetector::reportDelay() const {
    const State& s = *state_;
    // A frame is judged postMax frames after it ends; its onset lies within its window's
    // later half for the flux to peak there.
    return static_cast<std::int64_t>(s.window / 2 + (s.postMax + 1) * s.hop);
}

std::size_t OnsetDetector::hopSamples() const { return state_->hop; }

std::vector<Onset> detectOnsets(const float* samples, std::size_t count, double sampleRate) {
    OnsetDetector detector(sampleRate);
    std::vector<Onset> found;
    detector.process(samples, count, found);
    detector.flush(found);
    return found;
}

}  // namespace tunewick
