#pragma once
// The onset detector: finds the moment each pluck or strum starts in a mono stream, so that
// what follows (which notes sound, whether they came in time) has a time to hang on.
//
// Detection follows SuperFlux: a log-compressed magnitude spectrum, each bin compared with a
// maximum filter across neighbouring bins a few frames back (a vibrato, bend or slide moves
// energy to a neighbour and so adds no flux), an adaptive threshold over the recent flux, and
// a minimum gap between onsets (a strum of up to 80 ms is one onset). A detected onset is then
// placed to a couple of milliseconds by the energy rise of its first string in the raw signal,
// counted only in the frequencies that rose well over what sounded before (in noise, the others'
// ripple would bury a soft first string).
//
// Owned by one consumer (the chord listener's worker, a test, the analyze tool); every call
// belongs to that consumer's thread. process() allocates nothing once `found` has capacity.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tunewick {

struct Onset {
    std::int64_t sample;  // index of the onset's first sample in the input fed since
                          // construction or reset(), at the input's own rate
    float strength;       // the detection function's peak, for diagnostics and ranking
};

class OnsetDetector {
public:
    // Rate of the samples fed, 8000 .. 96000 (throws std::invalid_argument outside).
    explicit OnsetDetector(double sampleRate);
    ~OnsetDetector();
    OnsetDetector(OnsetDetector&&) noexcept;
    OnsetDetector& operator=(OnsetDetector&&) noexcept;
    OnsetDetector(const OnsetDetector&) = delete;
    OnsetDetector& operator=(const OnsetDetector&) = delete;

    // Feeds the next mono float samples (full scale +-1); appends every onset decided so far,
    // in time order. No allocation per call once `found` has capacity.
    void process(const float* samples, std::size_t count, std::vector<Onset>& found);
    // End of input: decides what is still pending and appends it.
    void flush(std::vector<Onset>& found);
    // Forgets everything fed; sample indices start again at 0.
    void reset();

    double sampleRate() const;
    // Samples between an onset's first sample and the process() call that reports it (fed in
    // blocks of at most one hop, see hopSamples()) for a sharp attack: half the detection window
    // plus the look-ahead, under 40 ms at every rate. An attack that already stands far over the
    // threshold is reported sooner, before its peak. A slow attack, or a strum whose first
    // strings are much weaker than the rest, peaks later and is reported later.
    std::int64_t reportDelay() const;
    // Samples between two frames of the detection function.
    std::size_t hopSamples() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Offline convenience: every onset of a whole signal, in time order.
std::vector<Onset> detectOnsets(const float* samples, std::size_t count, double sampleRate);

// Told of each onset as the detector reports it, with the samples fed to it by then.
using OnsetTold = std::function<void(const Onset& onset, std::int64_t samplesFed)>;

// Every onset of a sound file that libsndfile reads (WAV, FLAC, ...), its channels mixed down,
// at the file's own rate (stored in *sampleRate when given). Throws std::runtime_error naming
// the file when it cannot be read or its rate is outside 8000 .. 96000 Hz. With `told`, the file
// is fed a hop at a time, as on the live path, and `told` hears each onset when it is reported.
std::vector<Onset> detectOnsetsInFile(const std::string& path, double* sampleRate = nullptr,
                                      const OnsetTold& told = {});

}  // namespace tunewick
