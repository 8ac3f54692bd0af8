#pragma once
// The pitch tracker's numeric core: turns a stream of float samples into readings of
// frequency, nearest note, cents, clarity and level, one per hop of 256 samples (31.25 ms at
// 8192 Hz), or "no pitch" where nothing steady sounds.
//
// Two stages. A normalised autocorrelation (NSDF) over the newest 1024 samples finds the
// period: its first key maximum close to the highest one, which keeps the octave where the
// fundamental is weak. Then a Hann-windowed spectrum of up to 2048 samples refines it: each
// partial's peak is interpolated, and a weighted fit of f_n / n against n^2 gives the first
// partial's frequency with the stiffness of a real string taken out. Readings are gated on
// clarity and level, the window never reaches back across a fresh pluck, and the pluck's first
// moments stay silent until two successive estimates agree.
//
// Owned by whoever feeds it (the pitch tracker's capture consumer, or trackPitchInFile).
// process() and reset() run on that one feeding thread; setReferencePitch, referencePitch and
// setFocus may be called from any thread at any time (atomics). The arithmetic is plain
// double precision in a fixed order, so equal input gives equal readings; nothing is
// allocated after construction.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tunewick {

struct PitchReading {
    double frequency = 0;  // Hz
    std::string note;      // nearest equal-tempered note with octave, "A2", "C#4" (sharps)
    int midi = 0;          // its MIDI number (A4 = 69)
    double cents = 0;      // -50 .. +50 from that note
    double clarity = 0;    // 0 .. 1
    double level = 0;      // dBFS of the analysed window
};

// The nearest note to `frequency` against A4 = `referencePitch`; cents lie in [-50, +50)
// (a frequency exactly half-way reads as the upper note, 50 cents flat). A frequency or
// reference that is not a positive finite number gives a reading with an empty note.
PitchReading nameFrequency(double frequency, double referencePitch);

class PitchEstimator {
public:
    static constexpr double kMinFrequency = 70.0, kMaxFrequency = 1100.0;
    static constexpr double kSampleRate = 8192.0;  // the rate of the live tap
    static constexpr double kMinReferencePitch = 415.0, kMaxReferencePitch = 466.0;

    explicit PitchEstimator(double sampleRate = kSampleRate);
    PitchEstimator(const PitchEstimator&) = delete;
    PitchEstimator& operator=(const PitchEstimator&) = delete;

    // 415 .. 466 Hz -> true; anything else (NaN included) -> false, unchanged.
    bool setReferencePitch(double hz);
    double referencePitch() const;
    // Narrows the search to +-6 semitones around `hz`; <= 0 or NaN clears the focus.
    void setFocus(double hz);

    using Sink = std::function<void(double seconds, const std::optional<PitchReading>&)>;
    // Feeding thread only. Every completed hop calls sink(seconds, reading): seconds = end of the
    // analysed window since the last reset; nullopt = no pitch.
    void process(std::span<const float> samples, const Sink& sink);
    // Forgets all input: the clock restarts at 0 and the next pluck is a fresh one.
    void reset();

    double sampleRate() const { return sampleRate_; }
    std::size_t hopSize() const { return hop_; }

private:
    struct Estimate {
        double frequency;
        double clarity;
    };
    void analyseHop(const Sink& sink);
    std::optional<Estimate> estimate(std::size_t length);
    std::optional<double> findPeriod(std::size_t length, double minLag, double maxLag, double& clarity);
    std::optional<double> refine(std::size_t length, double coarse);
    void transform(std::size_t length);

    double sampleRate_;
    std::size_t hop_;         // samples between readings
    std::size_t window_;      // the longest spectral window
    std::size_t nsdfWindow_;  // the autocorrelation's window
    std::size_t fftSize_;

    std::atomic<double> reference_{440.0};
    std::atomic<double> focus_{0.0};

    // Feeding thread only.
    std::vector<double> history_;    // the newest window_ samples, oldest first
    std::vector<double> hopBuffer_;  // the hop being received
    std::size_t filled_ = 0;       // valid samples at the end of history_
    std::size_t pending_ = 0;      // samples of the current hop received so far
    std::uint64_t hops_ = 0;
    std::size_t sinceOnset_ = 0;   // samples since the last fresh pluck (capped)
    double previousHopEnergy_ = 0;
    std::optional<double> lastEstimate_;  // the previous hop's raw estimate, for the settle gate

    // Scratch, sized once.
    std::vector<double> frame_;    // the mean-free (and, for the spectrum, windowed) samples
    std::vector<double> squares_;  // running sums of the frame's squares
    std::vector<double> nsdf_;
    std::vector<double> re_, im_;  // the half-size complex transform
    std::vector<double> power_;    // |X[k]|^2, k = 0 .. fftSize_/2
    std::vector<double> sorted_;   // for the median of power_
    std::vector<double> cosTable_, sinTable_;  // of 2*pi*k/fftSize_
    std::vector<std::uint32_t> bitReverse_;
};

// Runs an estimator over a sound file (any WAV/FLAC libsndfile reads, any rate, channels mixed
// down, resampled to kSampleRate with libsoxr) and gives every reading in order. Throws
// std::runtime_error with a message naming the file when it cannot be read.
struct TimedPitchReading {
    double seconds;
    std::optional<PitchReading> reading;
};
std::vector<TimedPitchReading> trackPitchInFile(const std::string& path, double referencePitch = 440.0);

}  // namespace tunewick
