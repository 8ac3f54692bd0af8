// The pitch tracker's commands and the reference tone: what each argument gets as an answer,
// and that a reference tone really sounds at the pitch asked for.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <unistd.h>
#include <string>
#include <vector>

#include "audio/analysis/PitchEstimator.h"
#include "audio/analysis/PitchTracker.h"
#include "audio/recording/ReferenceTone.h"
#include "audio/recording/SoundPlayer.h"
#include "bridge/DialogPoster.h"
#include "commands/PitchCommands.h"
#include "support/RecordingSoundPlayer.h"

namespace tunewick {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class NoPoster final : public DialogPoster {
public:
    void postLoadSwf(std::string) override {}
    void postCallSwfFunction(FunctionCall) override {}
};

using PathPlayer = RecordingSoundPlayer;

Param num(double value) {
    Param p;
    p.setNumber(value);
    return p;
}

// The answer as "true", "false" or "null".
std::string answer(FunctionCommand& command, const std::vector<Param>& arguments) {
    const Param result = command.execute(arguments);
    if (result.type() == Param::Null) return "null";
    EXPECT_EQ(result.type(), Param::Boolean);
    return result.getBoolean() ? "true" : "false";
}

struct Case {
    const char* what;
    std::vector<Param> arguments;
    const char* expected;
};

TEST(PitchCommands, ReferencePitchTakesOnlyNumbersFrom415To466) {
    NoPoster poster;
    PitchTracker tracker(CaptureDeviceFactory{}, poster);
    std::vector<double> stored;
    SetReferencePitchCommand command(tracker, [&](double hz) { stored.push_back(hz); });
    const std::vector<Case> cases = {
        {"lowest", {num(415)}, "true"},      {"highest", {num(466)}, "true"},
        {"baroque-ish", {num(432.5)}, "true"}, {"below", {num(414.99)}, "false"},
        {"above", {num(466.01)}, "false"},   {"NaN", {num(kNaN)}, "false"},
        {"infinite", {num(kInf)}, "false"},  {"a string", {Param("440")}, "false"},
        {"nothing", {}, "false"},            {"null", {Param()}, "false"},
    };
    for (const auto& c : cases) EXPECT_EQ(answer(command, c.arguments), c.expected) << c.what;
    EXPECT_EQ(stored, (std::vector<double>{415, 466, 432.5}));
    EXPECT_EQ(tracker.referencePitch(), 432.5);  // the refused ones changed nothing
}

TEST(PitchCommands, FocusNarrowsOnAPositiveNumberAndClearsOnZeroOrNothing) {
    NoPoster poster;
    PitchTracker tracker(CaptureDeviceFactory{}, poster);
    SetPitchFocusCommand command(tracker);
    const std::vector<Case> cases = {
        {"a string's pitch", {num(82.41)}, "true"}, {"zero clears", {num(0)}, "null"},
        {"negative clears", {num(-5)}, "null"},      {"nothing clears", {}, "null"},
        {"NaN", {num(kNaN)}, "false"},               {"infinite", {num(kInf)}, "false"},
        {"a string", {Param("82")}, "false"},        {"a boolean", {Param(true)}, "false"},
    };
    for (const auto& c : cases) EXPECT_EQ(answer(command, c.arguments), c.expected) << c.what;
}

TEST(PitchCommands, ReferenceToneChecksItsArgumentsThenPlaysAFileAtThatPitch) {
    const auto dir = std::filesystem::temp_directory_path() / ("tunewick-tone-" + std::to_string(::getpid()));
    const std::string path = (dir / "sound" / "reference-tone.wav").string();
    PathPlayer player;
    PlayReferenceToneCommand command(player, path);
    const std::vector<Case> cases = {
        {"too low", {num(19.9), num(1)}, "false"},     {"too high", {num(2000.1), num(1)}, "false"},
        {"too short", {num(440), num(0.09)}, "false"}, {"too long", {num(440), num(5.01)}, "false"},
        {"no length", {num(440)}, "false"},            {"NaN", {num(kNaN), num(1)}, "false"},
        {"a string", {Param("440"), num(1)}, "false"}, {"nothing", {}, "false"},
    };
    for (const auto& c : cases) EXPECT_EQ(answer(command, c.arguments), c.expected) << c.what;
    EXPECT_TRUE(player.played.empty());
    EXPECT_FALSE(std::filesystem::exists(path));

    // The low E at A4 = 440, made in a folder that did not exist; the tracker reads it true.
    ASSERT_EQ(answer(command, {num(82.4069), num(1.5)}), "true");
    ASSERT_EQ(player.played, std::vector<std::string>{path});
    std::vector<double> cents;
    for (const auto& timed : trackPitchInFile(path)) {
        if (!timed.reading) continue;
        EXPECT_EQ(timed.reading->note, "E2");
        cents.push_back(timed.reading->cents);
    }
    ASSERT_GE(cents.size(), 20u);
    for (double c : cents) EXPECT_NEAR(c, 0.0, 1.0);
    // No file is left half-written beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sound"),
                            std::filesystem::directory_iterator()), 1);
    std::filesystem::remove_all(dir);
}

TEST(ReferenceTone, IsExactInLengthAndPeakAndEmptyForNonsense) {
    const auto tone = synthesisePluck(440.0, 0.5);
    EXPECT_EQ(tone.size(), static_cast<std::size_t>(0.5 * kReferenceToneRate));
    float peak = 0.0f;
    for (float s : tone) peak = std::max(peak, std::abs(s));
    EXPECT_NEAR(peak, 0.5f, 1e-6f);
    EXPECT_LT(std::abs(tone.front()), 0.01f);  // no click at either end
    EXPECT_LT(std::abs(tone.back()), 0.01f);
    for (double hz : {0.0, -1.0, kNaN, kInf}) EXPECT_TRUE(synthesisePluck(hz, 1.0).empty());
    EXPECT_TRUE(synthesisePluck(440.0, kNaN).empty());
}

}  // namespace
}  // namespace tunewick
