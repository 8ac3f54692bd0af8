// The pitch tracker's estimator: note naming at its edges, accuracy on sines and plucked
// strings, the octave, the gates on silence, noise and attacks, the reference pitch, the focus,
// and the stream's bookkeeping (hops, chunking, reset).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "audio/analysis/PitchEstimator.h"

namespace tunewick {
namespace {

constexpr double kRate = PitchEstimator::kSampleRate;

double centsOff(double measured, double truth) { return 1200.0 * std::log2(measured / truth); }

// A string as a sum of partials: amplitude sin(n*pi*position)/n^2 (a pluck at `position` of
// the length), each decaying faster the higher it is, at n*f*sqrt(1+B*n^2)/sqrt(1+B) so that
// the first partial sits exactly at `frequency`. `fundamentalDecay` sets the first partial's
// own decay time (s), for strings whose fundamental fades early.
struct Pluck {
    double frequency;
    double position = 0.2;
    double inharmonicity = 0.0;
    double fundamentalDecay = 1.5;
};

std::vector<float> pluck(const Pluck& p, double seconds, double gain = 0.5) {
    const auto count = static_cast<std::size_t>(seconds * kRate);
    std::vector<double> sum(count, 0.0);
    for (int n = 1; n < 40; ++n) {
        const double stretch = std::sqrt((1.0 + p.inharmonicity * n * n) / (1.0 + p.inharmonicity));
        const double f = n * p.frequency * stretch;
        if (f > 0.45 * kRate) break;
        const double amplitude = std::sin(n * std::numbers::pi * p.position) / (n * n);
        const double decay = n == 1 ? p.fundamentalDecay : 1.5 / (1.0 + 0.3 * n);
        for (std::size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(i) / kRate;
            sum[i] += amplitude * std::exp(-t / decay) * std::sin(2.0 * std::numbers::pi * f * t);
        }
    }
    double peak = 1e-12;
    for (double v : sum) peak = std::max(peak, std::fabs(v));
    std::vector<float> out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<float>(gain * sum[i] / peak);
    return out;
}

std::vector<float> sine(double frequency, double seconds, double amplitude = 0.5) {
    std::vector<float> out(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / kRate));
    }
    return out;
}

std::vector<float> silence(double seconds) { return std::vector<float>(static_cast<std::size_t>(seconds * kRate), 0.0F); }

std::vector<float> noise(double seconds, double amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> dist(0.0, amplitude);
    std::vector<float> out(static_cast<std::size_t>(seconds * kRate));
    for (auto& v : out) v = static_cast<float>(dist(rng));
    return out;
}

std::vector<float> concat(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<TimedPitchReading> run(PitchEstimator& estimator, const std::vector<float>& samples, std::size_t chunk = 1000) {
    std::vector<TimedPitchReading> out;
    const PitchEstimator::Sink sink = [&](double seconds, const std::optional<PitchReading>& r) { out.push_back({seconds, r}); };
    for (std::size_t i = 0; i < samples.size(); i += chunk) {
        estimator.process(std::span<const float>(samples).subspan(i, std::min(chunk, samples.size() - i)), sink);
    }
    return out;
}

std::vector<TimedPitchReading> run(const std::vector<float>& samples) {
    PitchEstimator estimator;
    return run(estimator, samples);
}

// The readings from `from` seconds on (the steady part of a note).
std::vector<PitchReading> readingsAfter(const std::vector<TimedPitchReading>& all, double from, double to = 1e9) {
    std::vector<PitchReading> out;
    for (const auto& r : all) {
        if (r.seconds >= from && r.seconds <= to && r.reading) out.push_back(*r.reading);
    }
    return out;
}

std::size_t slotsIn(const std::vector<TimedPitchReading>& all, double from, double to) {
    std::size_t n = 0;
    for (const auto& r : all) n += r.seconds >= from && r.seconds <= to ? 1 : 0;
    return n;
}

TEST(NameFrequency, NotesOctavesAndCentsAtTheirEdges) {
    struct Case {
        double frequency;
        double reference;
        const char* note;
        int midi;
        double cents;
    };
    const double up = std::pow(2.0, 1.0 / 1200.0);  // one cent
    const std::vector<Case> cases{
        {440.0, 440.0, "A4", 69, 0.0},
        {82.40689, 440.0, "E2", 40, 0.0},
        {261.6256, 440.0, "C4", 60, 0.0},
        {246.9417, 440.0, "B3", 59, 0.0},  // the octave number changes at C, not at A
        {277.1826, 440.0, "C#4", 61, 0.0},
        {466.1638, 440.0, "A#4", 70, 0.0},  // sharps, never flats
        {440.0 * std::pow(up, 49.9), 440.0, "A4", 69, 49.9},
        {440.0 * std::pow(up, 50.1), 440.0, "A#4", 70, -49.9},
        {440.0 * std::pow(up, -49.9), 440.0, "A4", 69, -49.9},
        {440.0 * std::pow(up, -50.1), 440.0, "G#4", 68, 49.9},
        {1046.502, 440.0, "C6", 84, 0.0},
        {8.175799, 440.0, "C-1", 0, 0.0},
        {432.0, 432.0, "A4", 69, 0.0},
        {440.0, 432.0, "A4", 69, 31.77},
        {440.0, 466.0, "G#4", 68, 0.60},
    };
    for (const auto& c : cases) {
        const auto r = nameFrequency(c.frequency, c.reference);
        EXPECT_EQ(r.note, c.note) << c.frequency << " against " << c.reference;
        EXPECT_EQ(r.midi, c.midi) << c.frequency;
        EXPECT_NEAR(r.cents, c.cents, 0.01) << c.frequency;
        EXPECT_DOUBLE_EQ(r.frequency, c.frequency);
    }
    // Exactly half-way reads as the upper note, 50 cents flat.
    const auto half = nameFrequency(440.0 * std::pow(2.0, 1.0 / 24.0), 440.0);
    EXPECT_EQ(half.note, "A#4");
    EXPECT_NEAR(half.cents, -50.0, 1e-6);
}

TEST(NameFrequency, NoNoteForWhatIsNotAFrequency) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [f, ref] : std::vector<std::pair<double, double>>{{0.0, 440.0}, {-110.0, 440.0}, {nan, 440.0}, {inf, 440.0},
                                                                        {110.0, 0.0}, {110.0, nan}, {1e-300, 440.0}}) {
        EXPECT_EQ(nameFrequency(f, ref).note, "") << f << " " << ref;
        EXPECT_EQ(nameFrequency(f, ref).midi, 0) << f << " " << ref;
    }
}

// Every steady reading of a note within a cent of the truth, with its name, and few gaps.
TEST(PitchEstimator, SinesAndPlucksReadWithinACent) {
    struct Case {
        const char* what;
        std::vector<float> samples;
        double truth;
        const char* note;
    };
    const std::vector<Case> cases{
        {"sine E2", sine(82.4069, 1.0), 82.4069, "E2"},
        {"sine A4 + 3 c", sine(440.0 * std::pow(2.0, 3.0 / 1200.0), 1.0), 440.0 * std::pow(2.0, 3.0 / 1200.0), "A4"},
        {"sine 72 Hz", sine(72.0, 1.0), 72.0, "D2"},
        {"sine 1080 Hz", sine(1080.0, 1.0), 1080.0, "C#6"},
        {"quiet sine G3", sine(196.0, 1.0, 0.003), 196.0, "G3"},
        {"pluck E2", pluck({82.4069}, 1.5), 82.4069, "E2"},
        {"pluck A2 -10 c", pluck({110.0 * std::pow(2.0, -10.0 / 1200.0)}, 1.5), 110.0 * std::pow(2.0, -10.0 / 1200.0), "A2"},
        {"pluck D3 stiff", pluck({146.832, 0.2, 2e-4}, 1.5), 146.832, "D3"},
        {"pluck E2 stiff", pluck({82.4069, 0.15, 2e-4}, 1.5), 82.4069, "E2"},
        {"pluck B3 +30 c", pluck({246.942 * std::pow(2.0, 30.0 / 1200.0), 0.3, 1e-4}, 1.5),
         246.942 * std::pow(2.0, 30.0 / 1200.0), "B3"},
        {"pluck E4", pluck({329.628, 0.2, 1e-4}, 1.5), 329.628, "E4"},
        {"pluck C6", pluck({1046.50, 0.25, 1e-4}, 1.0), 1046.50, "C6"},
    };
    for (const auto& c : cases) {
        const auto all = run(concat(silence(0.2), c.samples));
        const double end = 0.2 + static_cast<double>(c.samples.size()) / kRate;
        const auto steady = readingsAfter(all, 0.4, end - 0.3);
        ASSERT_GE(steady.size(), slotsIn(all, 0.4, end - 0.3) * 9 / 10) << c.what;
        for (const auto& r : steady) {
            EXPECT_LT(std::fabs(centsOff(r.frequency, c.truth)), 1.0) << c.what << " read " << r.frequency;
            EXPECT_EQ(r.note, c.note) << c.what;
            EXPECT_GT(r.clarity, 0.8) << c.what;
        }
    }
}

// Plucks near the bridge, whose overtones outweigh the fundamental, and a low E whose
// fundamental dies away within a fifth of a second, keep their octave.
TEST(PitchEstimator, KeepsTheOctave) {
    const std::vector<Pluck> cases{
        {82.4069, 0.08, 1e-4},        {110.0, 0.06, 1e-4},          {146.832, 0.1, 1e-4}, {196.0, 0.07},
        {82.4069, 0.2, 1e-4, 0.15},  {82.4069, 0.5, 0.0, 0.2},     {98.0, 0.1, 1e-4, 0.15},
    };
    for (const auto& p : cases) {
        const auto all = run(concat(silence(0.2), pluck(p, 1.5)));
        const auto steady = readingsAfter(all, 0.35, 1.4);
        ASSERT_FALSE(steady.empty()) << p.frequency << " at " << p.position;
        for (const auto& r : steady) {
            EXPECT_LT(std::fabs(centsOff(r.frequency, p.frequency)), 1.0)
                << p.frequency << " at " << p.position << " read " << r.frequency;
        }
    }
}

TEST(PitchEstimator, SilenceNoiseAndGarbageGiveNoPitch) {
    std::vector<float> garbage(8192, std::numeric_limits<float>::quiet_NaN());
    for (std::size_t i = 0; i < garbage.size(); i += 3) garbage[i] = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<const char*, std::vector<float>>> cases{
        {"silence", silence(2.0)},
        {"faint hum", sine(110.0, 2.0, 0.0005)},  // below the level gate
        {"loud white noise", noise(3.0, 0.3, 1)},
        {"quiet white noise", noise(3.0, 0.01, 2)},
        {"NaN and infinity", garbage},
    };
    for (const auto& [what, samples] : cases) {
        const auto all = run(samples);
        EXPECT_EQ(all.size(), samples.size() / 256) << what;
        EXPECT_TRUE(readingsAfter(all, 0.0).empty()) << what;
    }
}

// No reading mixes a pluck with what rang before it or comes from its attack, and the note is
// read soon after it starts.
TEST(PitchEstimator, FreshPlucksReadSoonAndNeverMixed) {
    const auto first = pluck({110.0, 0.2, 1e-4}, 1.0);
    const auto second = pluck({146.832, 0.2, 1e-4}, 1.0);
    const auto all = run(concat(concat(silence(0.27), first), second));
    for (const auto& r : all) {
        if (!r.reading) continue;
        const bool isFirst = std::fabs(centsOff(r.reading->frequency, 110.0)) < 1.0;
        const bool isSecond = std::fabs(centsOff(r.reading->frequency, 146.832)) < 1.0;
        EXPECT_TRUE(isFirst || isSecond) << r.seconds << " read " << r.reading->frequency;
        if (r.seconds < 1.27) {
            EXPECT_TRUE(isFirst) << r.seconds;
        } else if (r.seconds > 1.27 + 0.2) {
            EXPECT_TRUE(isSecond) << r.seconds;
        }
    }
    // The hop holding each onset gives no reading; one comes within 120 ms.
    for (const double onset : {0.27, 1.27}) {
        EXPECT_FALSE(readingsAfter(all, onset, onset + 0.12).empty()) << onset;
        EXPECT_TRUE(readingsAfter(all, onset, onset + 0.03).empty()) << onset;
    }
}

TEST(PitchEstimator, AReferencePitchMovesNoteAndCents) {
    struct Case {
        double reference;
        bool accepted;
        const char* note;
        double cents;
    };
    const std::vector<Case> cases{
        {440.0, true, "A2", 0.0},    {432.0, true, "A2", 31.77}, {415.0, true, "A#2", 1.27},
        {466.0, true, "G#2", 0.60}, {414.9, false, "A2", 0.0},  {466.1, false, "A2", 0.0},
        {std::numeric_limits<double>::quiet_NaN(), false, "A2", 0.0},
    };
    const auto samples = concat(silence(0.1), pluck({110.0, 0.2, 1e-4}, 1.0));
    for (const auto& c : cases) {
        PitchEstimator estimator;
        EXPECT_EQ(estimator.setReferencePitch(c.reference), c.accepted) << c.reference;
        EXPECT_EQ(estimator.referencePitch(), c.accepted ? c.reference : 440.0) << c.reference;
        const auto steady = readingsAfter(run(estimator, samples), 0.3, 0.9);
        ASSERT_FALSE(steady.empty()) << c.reference;
        for (const auto& r : steady) {
            EXPECT_EQ(r.note, c.note) << c.reference;
            EXPECT_NEAR(r.cents, c.cents, 1.0) << c.reference;
        }
    }
}

// A tone whose even partials carry nearly all its power sounds as much like 220 Hz as like
// 110 Hz: the focus decides which it is, and a focus far from it reads nothing.
TEST(PitchEstimator, TheFocusNarrowsTheSearch) {
    std::vector<float> ambiguous(static_cast<std::size_t>(1.2 * kRate));
    for (std::size_t i = 0; i < ambiguous.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = 0.0;
        for (int h = 1; h <= 8; ++h) v += (h % 2 == 0 ? 0.3 / h : 0.004) * std::sin(2.0 * std::numbers::pi * 110.0 * h * t);
        ambiguous[i] = static_cast<float>(v);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double focus;
        std::optional<double> truth;
    };
    const std::vector<Case> cases{
        {110.0, 110.0}, {90.0, 110.0}, {150.0, 110.0}, {220.0, 220.0}, {180.0, 220.0}, {300.0, 220.0},
        {600.0, std::nullopt}, {50.0, std::nullopt},
    };
    for (const auto& c : cases) {
        PitchEstimator estimator;
        estimator.setFocus(c.focus);
        const auto all = run(estimator, ambiguous);
        const auto steady = readingsAfter(all, 0.3, 1.2);
        if (!c.truth) {
            EXPECT_TRUE(steady.empty()) << c.focus;
            continue;
        }
        ASSERT_GE(steady.size(), slotsIn(all, 0.3, 1.2) * 9 / 10) << c.focus;
        for (const auto& r : steady) EXPECT_LT(std::fabs(centsOff(r.frequency, *c.truth)), 1.0) << c.focus << " read " << r.frequency;
    }
    // A lone low note outside a high focus reads nothing; clearing the focus (0, below 0, NaN)
    // searches the whole range again.
    for (const double clear : {0.0, -5.0, nan}) {
        PitchEstimator estimator;
        estimator.setFocus(440.0);
        const auto low = concat(silence(0.1), pluck({110.0}, 1.0));
        EXPECT_TRUE(readingsAfter(run(estimator, low), 0.0).empty());
        estimator.setFocus(clear);
        estimator.reset();
        const auto steady = readingsAfter(run(estimator, low), 0.3, 0.9);
        ASSERT_FALSE(steady.empty()) << clear;
        EXPECT_EQ(steady.front().note, "A2") << clear;
    }
}

// A hop every 256 samples, however the samples arrive; the same readings for the same input;
// the clock restarts at reset.
TEST(PitchEstimator, HopsChunksAndReset) {
    const auto samples = concat(silence(0.1), pluck({196.0, 0.2, 1e-4}, 1.0));
    PitchEstimator whole;
    const auto reference = run(whole, samples, samples.size());
    ASSERT_EQ(reference.size(), samples.size() / 256);
    for (std::size_t i = 0; i < reference.size(); ++i) EXPECT_DOUBLE_EQ(reference[i].seconds, 256.0 * static_cast<double>(i + 1) / kRate);
    for (const std::size_t chunk : {1UL, 255UL, 256UL, 1001UL}) {
        PitchEstimator estimator;
        const auto again = run(estimator, samples, chunk);
        ASSERT_EQ(again.size(), reference.size()) << chunk;
        for (std::size_t i = 0; i < again.size(); ++i) {
            ASSERT_EQ(again[i].reading.has_value(), reference[i].reading.has_value()) << chunk << " hop " << i;
            if (again[i].reading) {
                EXPECT_EQ(again[i].reading->frequency, reference[i].reading->frequency) << chunk;
            }
        }
    }
    // After a reset, the same input gives the same readings at the same times.
    whole.reset();
    const auto afterReset = run(whole, samples, 300);
    ASSERT_EQ(afterReset.size(), reference.size());
    for (std::size_t i = 0; i < afterReset.size(); ++i) {
        EXPECT_EQ(afterReset[i].seconds, reference[i].seconds);
        EXPECT_EQ(afterReset[i].reading.has_value(), reference[i].reading.has_value()) << i;
    }
    // A hop left incomplete by reset is dropped.
    PitchEstimator partial;
    EXPECT_TRUE(run(partial, silence(200.0 / kRate)).empty());
    partial.reset();
    EXPECT_EQ(run(partial, silence(256.0 / kRate)).size(), 1U);
}

TEST(PitchEstimator, RejectsRatesItCannotServe) {
    EXPECT_THROW(PitchEstimator(4000.0), std::invalid_argument);
    EXPECT_THROW(PitchEstimator(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
    PitchEstimator fast(48000.0);
    std::vector<float> tone(48000);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 220.0 * static_cast<double>(i) / 48000.0));
    std::vector<PitchReading> readings;
    fast.process(tone, [&](double, const std::optional<PitchReading>& r) {
        if (r) readings.push_back(*r);
    });
    ASSERT_FALSE(readings.empty());
    EXPECT_LT(std::fabs(centsOff(readings.back().frequency, 220.0)), 1.0);
}

TEST(TrackPitchInFile, UnreadableFilesThrowWithTheirName) {
    try {
        trackPitchInFile("/nonexistent/take.wav");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/take.wav"), std::string::npos) << error.what();
    }
}

}  // namespace
}  // namespace tunewick
