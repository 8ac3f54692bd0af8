// The onset detector on synthetic guitar sounds whose onsets are known to the sample: plucks,
// strums, repeated notes, vibrato, bends, long decays, strums in noise, silence and noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "audio/listening/OnsetDetector.h"

namespace {

using namespace tunewick;

constexpr double kRate = 22050.0;

double midiHz(double midi) { return 440.0 * std::exp2((midi - 69.0) / 12.0); }

// A plucked string added into `out` from `start` seconds: 12 partials of a string plucked at a
// fifth of its length, higher ones dying sooner, a 1 ms rise and a 3 ms noise burst (or a slow
// swell without the burst), and damping over its last 30 ms. The pitch
// follows `semitones(t)` (t from the pluck) for vibrato and bends.
void addPluck(std::vector<float>& out, double start, double midi, double gain, double seconds, unsigned seed,
              const std::function<double(double)>& semitones = nullptr, double rate = kRate, double riseSeconds = 0.001) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const auto first = static_cast<std::size_t>(std::llround(start * rate));
    const auto count = static_cast<std::size_t>(seconds * rate);
    std::vector<double> phase(12, 0.0);
    for (std::size_t i = 0; i < count && first + i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f = midiHz(midi + (semitones ? semitones(t) : 0.0));
        double x = 0.0;
        for (std::size_t n = 1; n <= phase.size(); ++n) {
            phase[n - 1] += 2.0 * std::numbers::pi * f * static_cast<double>(n) / rate;
            if (f * static_cast<double>(n) > 0.45 * rate) continue;
            const double amplitude = std::sin(static_cast<double>(n) * std::numbers::pi * 0.2) / static_cast<double>(n);
            x += amplitude * std::exp(-t * (1.0 + 0.6 * static_cast<double>(n))) * std::sin(phase[n - 1]);
        }
        x *= std::min(1.0, t / riseSeconds) * std::min(1.0, (seconds - t) / 0.03);  // damped over 30 ms
        if (riseSeconds < 0.005) x += 0.3 * uniform(random) * std::exp(-t / 0.003);  // a swell has no click
        out[first + i] += static_cast<float>(gain * x);
    }
}

struct Case {
    std::string name;
    std::function<void(std::vector<float>&)> make;
    std::vector<double> onsets;  // seconds
    double seconds = 2.5;        // length of the signal
    double toleranceMs = 3.0;    // how near each onset must be placed
};

// A strum: the given strings one after another, `spread` seconds from the first to the last.
void addStrum(std::vector<float>& out, double start, const std::vector<double>& midis, double spread, unsigned seed) {
    for (std::size_t k = 0; k < midis.size(); ++k) {
        const double at = start + spread * static_cast<double>(k) / static_cast<double>(midis.size() - 1);
        addPluck(out, at, midis[k], 0.12, 1.5, seed + static_cast<unsigned>(k));
    }
}

// Steady white noise of the given RMS over the whole signal.
void addNoise(std::vector<float>& out, double rms, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, rms);
    for (auto& x : out) x += static_cast<float>(gauss(random));
}

const std::vector<double> kGMajorDown{43, 47, 50, 55, 59, 67};
const std::vector<double> kCMajorUp{64, 60, 55, 52, 48};

std::vector<Case> cases() {
    return {
        {"one pluck", [](auto& s) { addPluck(s, 0.50, 45, 0.4, 1.5, 1); }, {0.50}},
        {"a quiet pluck, -40 dB", [](auto& s) { addPluck(s, 0.50, 57, 0.004, 1.5, 2); }, {0.50}},
        {"two plucks of the same note", [](auto& s) {
             addPluck(s, 0.50, 52, 0.4, 0.3, 3);
             addPluck(s, 0.80, 52, 0.4, 1.0, 4);
         }, {0.50, 0.80}},
        {"a note repeated in sixteenths at 150 bpm", [](auto& s) {
             for (int k = 0; k < 4; ++k) addPluck(s, 0.5 + 0.1 * k, 60, 0.3, k == 3 ? 1.0 : 0.1, 5 + k);
         }, {0.50, 0.60, 0.70, 0.80}},
        // Each is found; a swell is placed up to half its length late.
        {"notes swelling over 25 ms, one after another in sixteenths at 150 bpm", [](auto& s) {
             const double midis[]{52, 55, 57, 55, 52, 50};
             for (int k = 0; k < 6; ++k) addPluck(s, 0.5 + 0.1 * k, midis[k], 0.3, k == 5 ? 1.0 : 0.2, 60 + k, nullptr, kRate, 0.025);
         }, {0.50, 0.60, 0.70, 0.80, 0.90, 1.00}, 2.5, 35.0},
        {"a quieter pluck over a ringing note", [](auto& s) {
             addPluck(s, 0.50, 40, 0.5, 2.0, 9);
             addPluck(s, 1.00, 64, 0.1, 1.0, 10);
         }, {0.50, 1.00}},
        {"a down strum spread over 30 ms", [](auto& s) { addStrum(s, 0.50, kGMajorDown, 0.030, 11); }, {0.50}},
        {"an up strum spread over 80 ms", [](auto& s) { addStrum(s, 0.50, kCMajorUp, 0.080, 17); }, {0.50}},
        {"two strums 400 ms apart", [](auto& s) {
             addStrum(s, 0.50, kGMajorDown, 0.020, 23);
             addStrum(s, 0.90, kCMajorUp, 0.040, 29);
         }, {0.50, 0.90}},
        {"a soft low E, then the rest of an E major strum, in noise 14 dB under it", [](auto& s) {
             addPluck(s, 0.50, 40, 0.05, 1.5, 50);
             addStrum(s, 0.52, {47, 52, 56, 59, 64}, 0.040, 51);
             addNoise(s, 0.025, 52);
         }, {0.50}, 2.5, 5.0},
        {"the same with other noise", [](auto& s) {
             addPluck(s, 0.50, 40, 0.05, 1.5, 56);
             addStrum(s, 0.52, {47, 52, 56, 59, 64}, 0.040, 57);
             addNoise(s, 0.025, 58);
         }, {0.50}, 2.5, 5.0},
        {"a pluck with a 6 Hz vibrato of 40 cents", [](auto& s) {
             addPluck(s, 0.50, 57, 0.4, 2.0, 31, [](double t) { return 0.4 * std::sin(2.0 * std::numbers::pi * 6.0 * t); });
         }, {0.50}},
        {"a pluck bent up a whole tone over 200 ms", [](auto& s) {
             addPluck(s, 0.50, 55, 0.4, 2.0, 32, [](double t) { return t < 0.3 ? 0.0 : std::min(2.0, (t - 0.3) * 10.0); });
         }, {0.50}},
        {"a low note dying away over 4 s", [](auto& s) { addPluck(s, 0.50, 40, 0.5, 4.0, 33); }, {0.50}, 5.0},
    };
}

TEST(OnsetDetector, FindsEachPluckAndStrumOnceAndToAFewMilliseconds) {
    for (const auto& c : cases()) {
        std::vector<float> signal(static_cast<std::size_t>(c.seconds * kRate), 0.0f);
        c.make(signal);
        const auto found = detectOnsets(signal.data(), signal.size(), kRate);
        ASSERT_EQ(found.size(), c.onsets.size()) << c.name;
        for (std::size_t k = 0; k < found.size(); ++k) {
            const double ms = (static_cast<double>(found[k].sample) / kRate - c.onsets[k]) * 1000.0;
            EXPECT_NEAR(ms, 0.0, c.toleranceMs) << c.name << ", onset " << k;
            EXPECT_GT(found[k].strength, 0.0f) << c.name;
        }
    }
}

TEST(OnsetDetector, SilenceHumAndNoiseGiveNothing) {
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const std::vector<std::pair<std::string, std::function<float(std::size_t)>>> quiet{
        {"digital silence", [](std::size_t) { return 0.0f; }},
        {"white noise at -50 dBFS", [&](std::size_t) { return static_cast<float>(0.00316 * gauss(random)); }},
        {"white noise at -20 dBFS", [&](std::size_t) { return static_cast<float>(0.1 * gauss(random)); }},
        {"a steady 50 Hz hum with its harmonics", [](std::size_t i) {
             const double t = static_cast<double>(i) / kRate;
             return static_cast<float>(0.2 * std::sin(2 * std::numbers::pi * 50 * t) + 0.1 * std::sin(2 * std::numbers::pi * 150 * t));
         }},
    };
    for (const auto& [name, sample] : quiet) {
        std::vector<float> signal(static_cast<std::size_t>(3.0 * kRate));
        for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = sample(i);
        const auto found = detectOnsets(signal.data(), signal.size(), kRate);
        EXPECT_TRUE(found.empty()) << name << ": first at " << (found.empty() ? 0.0 : found[0].sample / kRate) << " s";
    }
}

// The live path: fed a hop at a time, each onset is reported no later than reportDelay() after
// it, which is within 40 ms; any other blocking gives the same onsets as one whole call.
TEST(OnsetDetector, ReportsWithinItsDelayWhateverTheBlocks) {
    std::vector<float> signal(static_cast<std::size_t>(3.0 * kRate), 0.0f);
    addStrum(signal, 0.3, kGMajorDown, 0.05, 71);
    addPluck(signal, 0.9, 57, 0.3, 0.1, 72);
    addPluck(signal, 1.0, 57, 0.3, 0.4, 73);
    addPluck(signal, 1.5, 64, 0.01, 0.5, 74);
    addStrum(signal, 2.0, kCMajorUp, 0.07, 75);
    const auto whole = detectOnsets(signal.data(), signal.size(), kRate);
    ASSERT_EQ(whole.size(), 5U);
    OnsetDetector detector(kRate);
    EXPECT_LE(static_cast<double>(detector.reportDelay()) / kRate, 0.040);
    for (const std::size_t block : {std::size_t{1}, detector.hopSamples(), std::size_t{1000}, std::size_t{4096}}) {
        detector.reset();
        std::vector<Onset> found;
        for (std::size_t fed = 0; fed < signal.size(); fed += block) {
            const std::size_t before = found.size();
            const std::size_t count = std::min(block, signal.size() - fed);
            detector.process(signal.data() + fed, count, found);
            for (std::size_t k = before; k < found.size(); ++k) {
                if (block > detector.hopSamples()) continue;  // a big block reports late by its size
                const std::int64_t delay = static_cast<std::int64_t>(fed + count) - found[k].sample;
                EXPECT_LE(delay, detector.reportDelay()) << "block " << block << ", onset at " << found[k].sample;
                // A loud strum is told before its last strings have sounded in.
                if (k == 0) {
                    EXPECT_LE(static_cast<double>(delay) / kRate, 0.020) << "block " << block;
                }
            }
        }
        detector.flush(found);
        ASSERT_EQ(found.size(), whole.size()) << "block " << block;
        for (std::size_t k = 0; k < found.size(); ++k) EXPECT_EQ(found[k].sample, whole[k].sample) << "block " << block;
    }
}

TEST(OnsetDetector, ProcessAllocatesNothingOnceTheOutputHasRoom) {
    std::vector<float> signal(static_cast<std::size_t>(2.0 * kRate), 0.0f);
    addStrum(signal, 0.3, kGMajorDown, 0.03, 41);
    addPluck(signal, 1.0, 50, 0.3, 0.8, 42);
    OnsetDetector detector(kRate);
    std::vector<Onset> found;
    found.reserve(16);
    const std::size_t before = tunewick::testing::allocationCount();
    for (std::size_t fed = 0; fed < signal.size(); fed += 256) {
        detector.process(signal.data() + fed, std::min<std::size_t>(256, signal.size() - fed), found);
    }
    EXPECT_EQ(tunewick::testing::allocationCount(), before);
    EXPECT_EQ(found.size(), 2U);
}

// The same two plucks at every supported kind of rate, and after a reset the count restarts.
TEST(OnsetDetector, WorksAtEveryRateAndRestartsOnReset) {
    for (const double rate : {8000.0, 16000.0, 44100.0, 48000.0, 96000.0}) {
        std::vector<float> signal(static_cast<std::size_t>(2.0 * rate), 0.0f);
        addPluck(signal, 0.40, 50, 0.3, 0.5, 51, nullptr, rate);
        addPluck(signal, 1.10, 62, 0.3, 0.8, 52, nullptr, rate);
        OnsetDetector detector(rate);
        EXPECT_EQ(detector.sampleRate(), rate);
        EXPECT_LE(static_cast<double>(detector.reportDelay()) / rate, 0.040) << rate;
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<Onset> found;
            detector.process(signal.data(), signal.size(), found);
            detector.flush(found);
            ASSERT_EQ(found.size(), 2U) << rate << " Hz, pass " << pass;
            EXPECT_NEAR(static_cast<double>(found[0].sample) / rate, 0.40, 0.003) << rate;
            EXPECT_NEAR(static_cast<double>(found[1].sample) / rate, 1.10, 0.003) << rate;
            detector.reset();
        }
    }
    for (const double bad : {7999.0, 96001.0, 0.0, -44100.0, std::nan("")}) {
        EXPECT_THROW(OnsetDetector{bad}, std::invalid_argument) << bad;
    }
}

TEST(OnsetDetector, NonFiniteSamplesAreTakenAsSilence) {
    std::vector<float> signal(static_cast<std::size_t>(1.5 * kRate), 0.0f);
    addPluck(signal, 0.8, 52, 0.3, 0.6, 61);
    for (std::size_t i = 1000; i < 1100; ++i) signal[i] = i % 2 ? std::nanf("") : INFINITY;
    const auto found = detectOnsets(signal.data(), signal.size(), kRate);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_NEAR(static_cast<double>(found[0].sample) / kRate, 0.8, 0.003);
}

}  // namespace
