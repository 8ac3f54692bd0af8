#pragma once
// The compact picture of a recorded take that "analyzeRecording" answers: the waveform as one
// peak per 10 ms, and the pitch readings of its voiced parts. Built on the dialog's thread by
// the command that owns it; a value type with no threads of its own.
#include <cstddef>
#include <string>
#include <vector>

#include "bridge/Param.h"

namespace tunewick {

// One reading of the pitch tracker over the take: `time` in seconds from the start.
struct TakeReading {
    double time = 0.0;
    double frequency = 0.0;
    std::string note;
    double cents = 0.0;
};

class TakeSummary {
public:
    static constexpr double kPeakStepSeconds = 0.01;
    // Readings closer than this to the one kept before are left out: the page draws notes,
    // and a take of several minutes must stay a small reply.
    static constexpr double kMinReadingSpacing = 0.04;

    explicit TakeSummary(double sampleRate);

    // Samples in -1..1, in order; may be called block by block.
    void addSamples(const float* samples, std::size_t count);
    void addReading(const TakeReading& reading);

    double duration() const;
    // Two hex digits (00..ff) per 10 ms: the largest |sample| in it, 1.0 and above as ff.
    std::string peaksHex() const;
    std::size_t readingCount() const { return readings_.size(); }

    // {duration, peakStep, peaks, readings: [{time, frequency, note, cents}]}, numbers rounded
    // to what a picture needs (ms, 0.01 Hz, 0.1 cent).
    Param toParam() const;

private:
    void closeWindow();

    double sampleRate_;
    std::size_t samplesPerPeak_;
    std::size_t inWindow_ = 0;
    float windowPeak_ = 0.0f;
    std::size_t totalSamples_ = 0;
    std::vector<unsigned char> peaks_;
    std::vector<TakeReading> readings_;
};

}  // namespace tunewick
