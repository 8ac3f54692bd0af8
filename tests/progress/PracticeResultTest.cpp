// The checks a page's result passes before it is stored: each kind's fields at the edges of
// their ranges, and the faults a page can make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "progress/PracticeResult.h"

namespace tunewick {
namespace {

using json = nlohmann::json;

const json kNoteGame = {{"asked", 45}, {"heard", 45}, {"correct", true}, {"ms", 1800}, {"string", 1}, {"fret", 0}};
const json kTuner = {{"string", 0}, {"target", 40}, {"firstCents", -23.5}};
const json kChord = {{"chord", "Am"}, {"clean", false},
                     {"strings", {{{"string", 1}, {"verdict", "clean"}}, {{"string", 2}, {"verdict", "buzz"}}}}};
const json kDrill = {{"pair", "Am-E"}, {"bpm", 60}, {"changes", 30}, {"clean", 24}, {"seconds", 60}};
const json kPlayAlong = {{"song", "Greensleeves"}, {"lesson", nullptr}, {"speed", 0.75}, {"accuracy", 0.8},
                         {"spread", 35},
                         {"events", {{{"index", 0}, {"bar", 1}, {"verdict", "hit"}, {"offset", -12}},
                                     {{"index", 1}, {"bar", 1}, {"verdict", "missed"}, {"offset", nullptr},
                                      {"string", 2}, {"fret", 3}}}}};
const json kSession = {{"page", "Notes"}, {"start", 1765000000000.0}, {"seconds", 300}};

json with(json base, const std::string& key, json value) {
    base[key] = std::move(value);
    return base;
}

json without(json base, const std::string& key) {
    base.erase(key);
    return base;
}

struct Case {
    const char* name;
    std::string kind;
    json fields;
    bool valid;
};

TEST(PracticeResult, EachKindTakesWhatIsInRangeAndRefusesTheRest) {
    const std::vector<Case> cases = {
        {"note game", "notegame", kNoteGame, true},
        {"nothing heard", "notegame", with(kNoteGame, "heard", nullptr), true},
        {"lowest note", "notegame", with(kNoteGame, "asked", 28), true},
        {"below the range", "notegame", with(kNoteGame, "asked", 27), false},
        {"above the range", "notegame", with(kNoteGame, "heard", 101), false},
        {"half a note", "notegame", with(kNoteGame, "asked", 45.5), false},
        {"correct as text", "notegame", with(kNoteGame, "correct", "yes"), false},
        {"no answer time", "notegame", without(kNoteGame, "ms"), false},
        {"negative time", "notegame", with(kNoteGame, "ms", -1), false},
        {"seventh string", "notegame", with(kNoteGame, "string", 6), false},
        {"fret 24", "notegame", with(kNoteGame, "fret", 24), true},
        {"fret 25", "notegame", with(kNoteGame, "fret", 25), false},
        {"tuner", "tuner", kTuner, true},
        {"tuner a whole octave off", "tuner", with(kTuner, "firstCents", -1200), true},
        {"tuner beyond an octave", "tuner", with(kTuner, "firstCents", 1200.5), false},
        {"tuner without target", "tuner", without(kTuner, "target"), false},
        {"chord", "chord", kChord, true},
        {"chord without strings", "chord", with(kChord, "strings", json::array()), true},
        {"chord name empty", "chord", with(kChord, "chord", ""), false},
        {"chord name too long", "chord", with(kChord, "chord", std::string(65, 'A')), false},
        {"unknown string verdict", "chord", with(kChord, "strings", {{{"string", 1}, {"verdict", "loud"}}}), false},
        {"seven strings", "chord", with(kChord, "strings", json::array({kChord["strings"][0], kChord["strings"][0],
                                                                         kChord["strings"][0], kChord["strings"][0],
                                                                         kChord["strings"][0], kChord["strings"][0],
                                                                         kChord["strings"][0]})), false},
        {"string item not an object", "chord", with(kChord, "strings", {1, 2}), false},
        {"drill", "drill", kDrill, true},
        {"drill all clean", "drill", with(kDrill, "clean", 30), true},
        {"more clean than made", "drill", with(kDrill, "clean", 31), false},
        {"pair without a dash", "drill", with(kDrill, "pair", "AmE"), false},
        {"pair of three", "drill", with(kDrill, "pair", "Am-E-G"), false},
        {"pair half empty", "drill", with(kDrill, "pair", "Am-"), false},
        {"drill too slow", "drill", with(kDrill, "bpm", 19), false},
        {"drill of no time", "drill", with(kDrill, "seconds", 0), false},
        {"play along", "playalong", kPlayAlong, true},
        {"play along as a lesson", "playalong", with(kPlayAlong, "lesson", "Bars 1-8"), true},
        {"lesson that is a number", "playalong", with(kPlayAlong, "lesson", 3), false},
        {"accuracy above one", "playalong", with(kPlayAlong, "accuracy", 1.01), false},
        {"speed zero", "playalong", with(kPlayAlong, "speed", 0), false},
        {"unknown event verdict", "playalong",
         with(kPlayAlong, "events", {{{"index", 0}, {"bar", 1}, {"verdict", "great"}}}), false},
        {"event without bar", "playalong", with(kPlayAlong, "events", {{{"index", 0}, {"verdict", "hit"}}}), false},
        {"events not a list", "playalong", with(kPlayAlong, "events", {{"index", 0}}), false},
        {"session", "session", kSession, true},
        {"session start before 2000", "session", with(kSession, "start", 0), false},
        {"session of a whole day", "session", with(kSession, "seconds", 86400), true},
        {"session longer than a day", "session", with(kSession, "seconds", 86401), false},
        {"page not text", "session", with(kSession, "page", 3), false},
        {"unknown kind", "lesson", kSession, false},
        {"kind in capitals", "SESSION", kSession, false},
        {"fields not an object", "session", json::array({1, 2}), false},
        {"extra fields are ignored", "tuner", with(kTuner, "mood", "happy"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const auto result = parsePracticeResult(c.kind, c.fields, error);
        EXPECT_EQ(result.has_value(), c.valid) << error;
        if (result) {
            EXPECT_EQ(kindOf(*result), c.kind);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(PracticeResult, KeepsTheValuesItChecked) {
    std::string error;
    const auto run = parsePracticeResult("playalong", kPlayAlong, error);
    ASSERT_TRUE(run) << error;
    const auto& r = std::get<PlayAlongResult>(*run);
    EXPECT_EQ(r.song, "Greensleeves");
    EXPECT_FALSE(r.lesson);
    EXPECT_DOUBLE_EQ(r.speed, 0.75);
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[0].offset, -12.0);
    EXPECT_FALSE(r.events[1].offset);
    EXPECT_EQ(r.events[1].verdict, "missed");
    EXPECT_EQ(r.events[1].string, 2);
    EXPECT_EQ(r.events[1].fret, 3);
    EXPECT_FALSE(r.events[0].string);

    const auto game = parsePracticeResult("notegame", with(kNoteGame, "heard", nullptr), error);
    ASSERT_TRUE(game);
    EXPECT_FALSE(std::get<NoteGameResult>(*game).heard);
    EXPECT_EQ(std::get<NoteGameResult>(*game).asked, 45);
}

}  // namespace
}  // namespace tunewick
