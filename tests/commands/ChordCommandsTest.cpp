// The chord strum and its command: what each argument gets as an answer, and that a strum
// sounds every note asked for, each string after the one below it.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "audio/recording/ChordStrum.h"
#include "audio/recording/ReferenceTone.h"
#include "audio/recording/SoundPlayer.h"
#include "bridge/FlashObject.h"
#include "support/RecordingSoundPlayer.h"
#include "commands/ChordCommands.h"

namespace tunewick {
namespace {

using PathPlayer = RecordingSoundPlayer;

Param num(double value) {
    Param p;
    p.setNumber(value);
    return p;
}

Param list(const std::vector<Param>& items) {
    auto map = std::make_unique<FlashObject>();
    for (std::size_t i = 0; i < items.size(); ++i) map->setProperty(std::to_string(i), std::make_unique<Param>(items[i]));
    Param p;
    p.setArray(std::move(map));
    return p;
}

Param midis(const std::vector<double>& notes) {
    std::vector<Param> items;
    for (double n : notes) items.push_back(num(n));
    return list(items);
}

// The strength of `hz` in samples [from, to): a Goertzel filter, normalised to the length.
double strength(const std::vector<float>& s, double hz, std::size_t from, std::size_t to) {
    const double w = 2.0 * 3.14159265358979323846 * hz / kReferenceToneRate;
    double a = 0.0, b = 0.0;
    for (std::size_t i = from; i < to && i < s.size(); ++i) {
        const double c = s[i] + 2.0 * std::cos(w) * a - b;
        b = a;
        a = c;
    }
    return std::sqrt(a * a + b * b - 2.0 * std::cos(w) * a * b) / static_cast<double>(to - from);
}

double hzOf(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

TEST(PlayChordCommand, ChecksItsArgumentsThenPlaysTheStrum) {
    const auto dir = std::filesystem::temp_directory_path() / ("tunewick-chord-" + std::to_string(::getpid()));
    const std::string path = (dir / "sound" / "chord.wav").string();
    PathPlayer player;
    PlayChordCommand command(player, path);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<const char*, std::vector<Param>>> refused = {
        {"nothing", {}},
        {"an empty list", {midis({})}},
        {"a number, not a list", {num(48)}},
        {"a string in the list", {list({num(48), Param("52")})}},
        {"a fraction", {midis({48, 52.5})}},
        {"NaN", {midis({48, nan})}},
        {"too low", {midis({27, 40})}},
        {"too high", {midis({48, 101})}},
        {"thirteen notes", {midis({40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52})}},
        {"too short", {midis({48, 52}), num(0.49)}},
        {"too long", {midis({48, 52}), num(5.01)}},
        {"a length that is a string", {midis({48, 52}), Param("2")}},
    };
    for (const auto& [what, arguments] : refused) {
        const Param answer = command.execute(arguments);
        EXPECT_EQ(answer.type(), Param::Boolean) << what;
        EXPECT_FALSE(answer.getBoolean()) << what;
    }
    EXPECT_TRUE(player.played.empty());
    EXPECT_FALSE(std::filesystem::exists(path));

    // An open C chord, in a folder that did not exist, at the default length.
    const Param answer = command.execute({midis({48, 52, 55, 60, 64})});
    ASSERT_TRUE(answer.getBoolean());
    ASSERT_EQ(player.played, std::vector<std::string>{path});
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    sf_close(file);
    EXPECT_EQ(info.samplerate, kReferenceToneRate);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(2.5 * kReferenceToneRate));
    std::filesystem::remove_all(dir);
}

TEST(ChordStrum, SoundsEachNoteFromItsOwnStringOnward) {
    const std::vector<int> chord = {45, 52, 57, 60, 64};  // A minor, open
    const auto strum = synthesiseStrum(chord, 1.5, 0.05);
    ASSERT_EQ(strum.size(), static_cast<std::size_t>(1.5 * kReferenceToneRate));
    float peak = 0.0f;
    for (float s : strum) peak = std::max(peak, std::abs(s));
    EXPECT_NEAR(peak, 0.5f, 1e-6f);
    const auto at = [](double seconds) { return static_cast<std::size_t>(seconds * kReferenceToneRate); };
    for (std::size_t i = 0; i < chord.size(); ++i) {
        const double starts = 0.05 * static_cast<double>(i);
        const double hz = hzOf(chord[i]);
        // Once every string sounds, each note stands well above the semitones beside it.
        const double sounding = strength(strum, hz, at(0.3), at(0.5));
        EXPECT_GT(sounding, 4.0 * strength(strum, hzOf(chord[i] + 1), at(0.3), at(0.5))) << chord[i];
        EXPECT_GT(sounding, 4.0 * strength(strum, hzOf(chord[i] - 1), at(0.3), at(0.5))) << chord[i];
        // Each string's note grows when its string is struck (the lower strings' overtones
        // already hold some of it).
        if (i > 0) {
            EXPECT_GT(strength(strum, hz, at(starts + 0.002), at(starts + 0.04)),
                      2.0 * strength(strum, hz, at(starts - 0.04), at(starts - 0.002))) << chord[i];
        }
    }
    // Until the second string is struck, the lowest note sounds alone.
    const auto lowest = synthesisePluck(hzOf(chord[0]), 1.5);
    double both = 0.0, own = 0.0, alone = 0.0;
    for (std::size_t i = 0; i < at(0.05); ++i) {
        both += static_cast<double>(strum[i]) * lowest[i];
        own += static_cast<double>(strum[i]) * strum[i];
        alone += static_cast<double>(lowest[i]) * lowest[i];
    }
    EXPECT_GT(both / std::sqrt(own * alone), 0.999);
    const std::vector<std::pair<const char*, std::vector<float>>> empty = {
        {"no notes", synthesiseStrum({}, 1.0)},
        {"a note too low", synthesiseStrum({27, 40}, 1.0)},
        {"a note too high", synthesiseStrum({40, 101}, 1.0)},
        {"no time", synthesiseStrum({40, 45}, 0.0)},
        {"shorter than the strum", synthesiseStrum({40, 45, 50, 55, 59, 64}, 0.2, 0.05)},
        {"a negative spread", synthesiseStrum({40, 45}, 1.0, -0.01)},
        {"an endless one", synthesiseStrum({40, 45}, std::numeric_limits<double>::infinity())},
    };
    for (const auto& [what, samples] : empty) EXPECT_TRUE(samples.empty()) << what;
}

}  // namespace
}  // namespace tunewick
