// The note analyzer on synthetic plucks and strums: which notes, their cents when alone, the
// harmonic trap, and nothing from silence or noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "PluckedStrings.h"
#include "audio/listening/NoteAnalyzer.h"

namespace {

using namespace tunewick;
using namespace tunewick::testing;

std::set<int> pitchClasses(const std::vector<int>& midis) {
    std::set<int> out;
    for (int midi : midis) out.insert(midi % 12);
    return out;
}

std::vector<int> midisOf(const std::vector<HeardNote>& notes) {
    std::vector<int> out;
    for (const auto& note : notes) out.push_back(note.midi);
    return out;
}

struct StrumCase {
    std::string name;
    std::vector<int> midis;
};

// The pitch classes of common voicings come out exact: nothing missing, no harmonic taken for
// a note of its own. (An octave doubling may hide under the lower note's partials.)
TEST(NoteAnalyzer, HearsThePitchClassesOfAStrum) {
    const std::vector<StrumCase> cases{
        {"C", {48, 52, 55, 60, 64}},     {"G", {43, 47, 50, 55, 59, 67}}, {"Em", {40, 47, 52, 55, 59, 64}},
        {"A", {45, 52, 57, 61, 64}},     {"D/F#", {42, 50, 57, 62, 66}}, {"E5", {40, 47, 52}},
        {"Cmaj7", {48, 52, 55, 59, 64}}, {"Dsus4", {50, 57, 62, 67}},
    };
    NoteAnalyzer analyzer(kListeningRate);
    for (const auto& c : cases) {
        std::vector<float> signal(static_cast<std::size_t>(2.0 * kListeningRate), 0.0f);
        addStrum(signal, 0.5, c.midis);
        const auto heard = analyzer.analyze(signal.data(), signal.size(), static_cast<std::int64_t>(0.5 * kListeningRate));
        const std::vector<int> midis = midisOf(heard);
        ASSERT_FALSE(midis.empty()) << c.name;
        EXPECT_EQ(pitchClasses(midis), pitchClasses(c.midis)) << c.name;
        EXPECT_EQ(*std::min_element(midis.begin(), midis.end()), *std::min_element(c.midis.begin(), c.midis.end()))
            << c.name << ": the bass";
        EXPECT_LE(heard.size(), NoteAnalyzer::kMaxNotes);
    }
}

// A chord strummed again more softly is struck now, not ringing on from before: its notes stay
// notes of the new strum, however much softer than they were.
TEST(NoteAnalyzer, HearsAChordStrummedAgainMoreSoftly) {
    NoteAnalyzer analyzer(kListeningRate);
    for (const double softerDb : {12.0, 16.0}) {
        for (const auto& midis : {std::vector<int>{48, 52, 56, 60}, std::vector<int>{45, 52, 57, 61, 64}}) {
            std::vector<float> signal(static_cast<std::size_t>(2.5 * kListeningRate), 0.0f);
            addStrum(signal, 0.5, midis, 0.03, 0.12, kListeningRate);
            // The first strum stops as the second starts, as a fretting hand re-strikes its strings.
            std::fill(signal.begin() + static_cast<std::ptrdiff_t>(1.0 * kListeningRate), signal.end(), 0.0f);
            addStrum(signal, 1.0, midis, 0.03, 0.12 * std::pow(10.0, -softerDb / 20.0), kListeningRate);
            const auto heard = analyzer.analyze(signal.data(), signal.size(), static_cast<std::int64_t>(1.0 * kListeningRate));
            EXPECT_EQ(pitchClasses(midisOf(heard)), pitchClasses(midis)) << midis.front() << ", " << softerDb << " dB softer";
        }
    }
}

struct UnderCase {
    std::string name;
    std::vector<int> midis;
    int underMidi;  // what sounds under the bass
    bool string;       // a plucked string (heard) or a body resonance, a bare decaying sine (not)
    double under = 0.126;  // its level against the bass's fundamental: -18 dB
};

// A resonance of the body under the bass borrows the partials of the chord's louder notes (a
// twelfth above a third under A2 is C4); a quiet string there has its own and still counts.
TEST(NoteAnalyzer, TellsAResonanceUnderTheBassFromAQuietString) {
    const std::vector<UnderCase> cases{
        {"Am over a resonance", {45, 52, 57, 60, 64}, 41, false},
        {"Dm over a resonance", {50, 57, 62, 65}, 46, false},
        {"E7 over a loud resonance", {40, 47, 50, 56, 59, 64}, 43, false, 0.35},  // its twelfth: D3's octave, 8 dB up
        {"Am over a quiet G2", {45, 52, 57, 60, 64}, 43, true},
        {"Dm over a quiet G2", {50, 57, 62, 65}, 43, true},
    };
    constexpr double kStrum = 0.12;
    NoteAnalyzer analyzer(kListeningRate);
    for (const auto& c : cases) {
        std::vector<float> signal(static_cast<std::size_t>(2.0 * kListeningRate), 0.0f);
        addStrum(signal, 0.5, c.midis, 0.03, kStrum);
        if (c.string) {
            addPluck(signal, 0.5, c.underMidi, kStrum * c.under);
        } else {
            const double hz = midiFrequency(c.underMidi);
            const double amplitude = kStrum * c.under * std::sin(std::numbers::pi / 7.0);  // as a pluck's fundamental
            for (std::size_t i = 0; i < static_cast<std::size_t>(1.2 * kListeningRate); ++i) {
                const double t = static_cast<double>(i) / kListeningRate;
                signal[static_cast<std::size_t>(0.5 * kListeningRate) + i] +=
                    static_cast<float>(amplitude * std::exp(-2.0 * t) * std::sin(2.0 * std::numbers::pi * hz * t));
            }
        }
        const auto midis = midisOf(analyzer.analyze(signal.data(), signal.size(), static_cast<std::int64_t>(0.5 * kListeningRate)));
        std::vector<int> expected = c.midis;
        if (c.string) expected.push_back(c.underMidi);
        EXPECT_EQ(std::find(midis.begin(), midis.end(), c.underMidi) != midis.end(), c.string) << c.name;
        EXPECT_EQ(pitchClasses(midis), pitchClasses(expected)) << c.name;
    }
}

// A decision that cannot wait for the whole window analyses a signal that ends inside it: the
// chord is still heard, with nothing the cut made up, and too little of it gives nothing.
TEST(NoteAnalyzer, ASignalEndingInsideTheWindowIsHeardWithoutPhantoms) {
    const std::vector<int> chord{40, 47, 52, 56, 59, 64};
    NoteAnalyzer analyzer(kListeningRate);
    std::vector<float> signal(static_cast<std::size_t>(2.0 * kListeningRate), 0.0f);
    addStrum(signal, 0.5, chord, 0.03, 0.12);
    const auto onset = static_cast<std::int64_t>(0.5 * kListeningRate);
    for (double heardSeconds : {0.12, 0.15, 0.18, 0.20}) {
        const auto count = static_cast<std::size_t>(onset + static_cast<std::int64_t>(heardSeconds * kListeningRate));
        const auto midis = midisOf(analyzer.analyze(signal.data(), count, onset));
        for (int midi : midis) EXPECT_TRUE(pitchClasses(chord).count(midi % 12)) << heardSeconds << " s: " << midi;
        EXPECT_EQ(*std::min_element(midis.begin(), midis.end()), 40) << heardSeconds;
    }
    EXPECT_TRUE(analyzer.analyze(signal.data(), static_cast<std::size_t>(onset) + analyzer.windowStart() + 100, onset).empty());
}

struct SingleCase {
    double midi;  // fractional: detuned
    int expected;
    double cents;
};

TEST(NoteAnalyzer, ANoteAloneHasItsCentsAndNoOctaveAbove) {
    const std::vector<SingleCase> cases{
        {40.0, 40, 0.0}, {40.2, 40, 20.0}, {45.0, 45, 0.0}, {52.0, 52, 0.0}, {63.85, 64, -15.0}, {88.0, 88, 0.0},
    };
    NoteAnalyzer analyzer(kListeningRate);
    for (const auto& c : cases) {
        std::vector<float> signal(static_cast<std::size_t>(1.5 * kListeningRate), 0.0f);
        addPluck(signal, 0.2, c.midi, 0.3);
        const auto heard = analyzer.analyze(signal.data(), signal.size(), static_cast<std::int64_t>(0.2 * kListeningRate));
        ASSERT_EQ(heard.size(), 1u) << c.midi;
        EXPECT_EQ(heard[0].midi, c.expected);
        EXPECT_NEAR(heard[0].cents, c.cents, 3.0) << c.midi;
        EXPECT_NEAR(heard[0].level, -20.0 * std::log10(1.0 / 0.3) - 8.0, 10.0) << c.midi;  // near the gain
    }
}

TEST(NoteAnalyzer, NotesTogetherHaveNoCents) {
    std::vector<float> signal(static_cast<std::size_t>(1.5 * kListeningRate), 0.0f);
    addStrum(signal, 0.2, {45, 52});
    NoteAnalyzer analyzer(kListeningRate);
    const auto heard = analyzer.analyze(signal.data(), signal.size(), static_cast<std::int64_t>(0.2 * kListeningRate));
    ASSERT_EQ(heard.size(), 2u);
    for (const auto& note : heard) EXPECT_TRUE(std::isnan(note.cents)) << note.midi;
}

TEST(NoteAnalyzer, SilenceNoiseAndOnsetsOutsideTheSignalGiveNothing) {
    NoteAnalyzer analyzer(kListeningRate);
    std::vector<float> silence(static_cast<std::size_t>(kListeningRate), 0.0f);
    std::vector<float> noise = silence;
    addNoise(noise, 0.05, 3);
    std::vector<float> note = silence;
    addPluck(note, 0.1, 57, 0.3);
    for (std::int64_t onset : {std::int64_t{0}, std::int64_t{2000}, std::int64_t{9000}}) {
        EXPECT_TRUE(analyzer.analyze(silence.data(), silence.size(), onset).empty()) << onset;
        EXPECT_TRUE(analyzer.analyze(noise.data(), noise.size(), onset).empty()) << onset;
    }
    EXPECT_TRUE(analyzer.analyze(note.data(), note.size(), -1).empty());
    EXPECT_TRUE(analyzer.analyze(note.data(), note.size(), static_cast<std::int64_t>(note.size())).empty());
    EXPECT_TRUE(analyzer.analyze(nullptr, 0, 0).empty());
}

TEST(NoteAnalyzer, RejectsRatesOutsideItsRange) {
    EXPECT_THROW(NoteAnalyzer(4000.0), std::invalid_argument);
    EXPECT_THROW(NoteAnalyzer(192000.0), std::invalid_argument);
    EXPECT_GT(NoteAnalyzer(48000.0).windowSamples(), NoteAnalyzer(22050.0).windowSamples());
}

}  // namespace
