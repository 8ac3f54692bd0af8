#pragma once
// The last step of the capture path's rate change: a low-pass FIR filter that keeps one
// sample in `factor`. It takes samples at `factor` times the engine's rate and gives the
// engine's rate, removing what lies above the engine's Nyquist frequency so nothing folds
// back when samples are dropped.
//
// Why not leave the whole rate change to soxr: to reach 2048 Hz soxr works in transform
// blocks whose length, at so low a rate, holds samples back for up to 20 ms. At four times
// that rate its blocks are short, and this filter, run sample by sample, holds nothing back:
// each output is ready the moment its input sample is.
//
// The design (relative to the output rate `out`): a Kaiser-windowed sinc, flat to 0.34 out
// (within 0.01 dB), at least 60 dB down from 0.5 out, linear phase. Its group delay is
// (length - 1) / 2 input samples; at 2048 Hz out that is under 6 ms.
//
// Not thread-safe: one thread uses it.
#include <cstddef>
#include <vector>

namespace tunewick {

class DecimatingFilter {
public:
    // `factor` >= 1; 1 passes every sample through unchanged.
    explicit DecimatingFilter(int factor);

    int factor() const { return factor_; }
    // Taps of the filter (1 when it passes through).
    std::size_t length() const { return taps_.size(); }

    // Feeds `count` samples; appends one output for every `factor` samples taken, the output
    // at the first sample of each group. The result does not depend on how input is split.
    void process(const float* samples, std::size_t count, std::vector<float>& out);
    // Forgets all input: the history is silence again, the next sample starts a group.
    void reset();

private:
    int factor_;
    std::vector<float> taps_;
    // The last length() samples, kept twice over so the window is always contiguous.
    std::vector<float> history_;
    std::size_t next_ = 0;   // where the next sample goes, 0 .. length() - 1
    int phase_ = 0;          // samples into the current group
};

}  // namespace tunewick
