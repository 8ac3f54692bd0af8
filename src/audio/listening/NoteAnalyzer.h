#pragma once
// Which notes sound in the moments after a pluck or a strum: a multi-pitch analysis of one
// window after an onset, for up to six simultaneous guitar notes E2 (MIDI 40) .. E6 (88), to
// the semitone, with a level for each and cents where a note stands alone.
//
// The window starts a little after the onset, so that a strum spread over the strings has
// reached its last string, and is long enough to resolve a semitone at E2. Its Blackman-windowed,
// zero-padded spectrum is reduced to interpolated peaks. Notes are then taken bottom up: a pitch
// is a note when its fundamental is present, it has a second or third partial, and no lower
// note explains it as one of its partials (one that towers over its neighbours in the lower
// note's series still counts, which is how an E3 under an E2 can survive). A note that rang
// before the onset and is fading explains partials but is not reported; a weak peak inside a
// much louder one's main lobe is the sideband of two strings beating, not a note.
//
// Owned by one consumer (the chord listener's worker, the note checker, an offline tool); every
// call runs on that consumer's thread. Stateless between calls apart from scratch buffers and
// the peaks of the last window, which the note checker reads back.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tunewick {

struct HeardNote {
    int midi;     // 40 (E2) .. 88 (E6)
    float level;  // dB relative to full scale of the note's fundamental-series energy
    float cents;  // deviation from equal temperament at A4=440; NaN when not alone
};

// One spectral peak of the last analysed window.
struct SpectralPeak {
    double hz;
    double amplitude;  // linear, 1.0 = a full-scale sine
};

class NoteAnalyzer {
public:
    static constexpr int kLowestMidi = 40, kHighestMidi = 88;
    static constexpr std::size_t kMaxNotes = 6;

    explicit NoteAnalyzer(double sampleRate);  // 8000 .. 96000
    NoteAnalyzer(const NoteAnalyzer&) = delete;
    NoteAnalyzer& operator=(const NoteAnalyzer&) = delete;

    double sampleRate() const { return sampleRate_; }
    std::size_t windowSamples() const;  // how many samples after the onset it needs
    // Samples from the onset to the start of the analysed window.
    std::size_t windowStart() const { return start_; }

    // The notes sounding in samples[onset .. onset+windowSamples()), strongest first. Where the
    // signal ends inside the window the window is shortened to it (coarser, but no phantoms);
    // under a quarter of it, or an onset outside the signal, gives nothing.
    std::vector<HeardNote> analyze(const float* samples, std::size_t count, std::int64_t onset);

    // The peaks of the window analyse() saw last, in rising frequency.
    const std::vector<SpectralPeak>& peaks() const { return peaks_; }
    // The peaks of the same length just before the onset: what was ringing already.
    const std::vector<SpectralPeak>& peaksBefore() const { return before_; }
    // The noise floor of that window (linear amplitude), under which no peak was kept.
    double floor() const { return floor_; }

private:
    // The spectrum of the window from `from`; answers how many samples it could use.
    std::size_t spectrum(const float* samples, std::size_t count, std::int64_t from);
    void pickPeaks(std::vector<SpectralPeak>& peaks, double& floor);

    double sampleRate_;
    std::size_t start_;   // onset -> window start
    std::size_t length_;  // analysed samples
    std::size_t fftSize_;

    // Scratch, sized once.
    std::vector<double> window_, re_, im_, magnitude_;
    std::vector<SpectralPeak> peaks_, before_;
    double floor_ = 0, beforeFloor_ = 0;
};

// Equal-tempered frequency of a MIDI note at A4 = 440 Hz.
double midiFrequency(double midi);

}  // namespace tunewick
