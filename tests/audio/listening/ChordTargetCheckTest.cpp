// The chord trainer's view of a strum: each string's verdict from the checker's findings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "audio/listening/ChordTargetCheck.h"

namespace tunewick {
namespace {

// A major, open: x02220.
const std::vector<ExpectedNote> kA = {{45, 5, 0}, {52, 4, 2}, {57, 3, 2}, {61, 2, 2}, {64, 1, 0}};

NoteVerdict rang(const ExpectedNote& n, float cents = std::nanf("")) { return {n.midi, n.string, true, 0.0, cents}; }
NoteVerdict silent(const ExpectedNote& n) { return {n.midi, n.string, false, std::nan(""), std::nanf("")}; }

struct Case {
    const char* what;
    std::vector<NoteVerdict> notes;
    std::vector<int> extra;
    std::vector<std::string> verdicts;
    std::vector<int> heardMidi;  // -1 for none
    bool clean;
};

TEST(ChordTargetCheck, EachStringGetsItsVerdict) {
    const Case cases[] = {
        {"clean", {rang(kA[0]), rang(kA[1]), rang(kA[2]), rang(kA[3]), rang(kA[4])}, {},
         {"ok", "ok", "ok", "ok", "ok"}, {-1, -1, -1, -1, -1}, true},
        {"muted A string", {silent(kA[0]), rang(kA[1]), rang(kA[2]), rang(kA[3]), rang(kA[4])}, {},
         {"muted", "ok", "ok", "ok", "ok"}, {-1, -1, -1, -1, -1}, false},
        {"B string a fret too high", {rang(kA[0]), rang(kA[1]), rang(kA[2]), silent(kA[3]), rang(kA[4])}, {62},
         {"ok", "ok", "ok", "wrong", "ok"}, {-1, -1, -1, 62, -1}, false},
        {"a buzz, and a sharp string just within", {rang(kA[0], 31.0f), rang(kA[1], -30.0f), rang(kA[2]), rang(kA[3]), rang(kA[4])},
         {}, {"buzz", "ok", "ok", "ok", "ok"}, {-1, -1, -1, -1, -1}, false},
        // The low E rings open: nothing of the chord is missing, yet the strum is not clean.
        {"an open string that should be muted", {rang(kA[0]), rang(kA[1]), rang(kA[2]), rang(kA[3]), rang(kA[4])}, {40},
         {"ok", "ok", "ok", "ok", "ok"}, {-1, -1, -1, -1, -1}, false},
        // A note far from the missing one is no wrong fret of that string.
        {"missing beside a distant extra", {rang(kA[0]), rang(kA[1]), rang(kA[2]), rang(kA[3]), silent(kA[4])}, {40},
         {"ok", "ok", "ok", "ok", "muted"}, {-1, -1, -1, -1, -1}, false},
        // The high e cannot sound below its open string: a G#3 is no wrong fret of it.
        {"an extra the string cannot give", {rang(kA[0]), rang(kA[1]), rang(kA[2]), rang(kA[3]), silent(kA[4])}, {63},
         {"ok", "ok", "ok", "ok", "muted"}, {-1, -1, -1, -1, -1}, false},
        // One extra explains one string only, the nearer.
        {"one extra, two strings missing", {rang(kA[0]), rang(kA[1]), silent(kA[2]), silent(kA[3]), rang(kA[4])}, {60},
         {"ok", "ok", "muted", "wrong", "ok"}, {-1, -1, -1, 60, -1}, false},
    };
    for (const Case& c : cases) {
        const ChordTargetCheck result = checkAgainstTarget(kA, EventCheck{c.notes, c.extra, 100});
        ASSERT_EQ(result.notes.size(), kA.size()) << c.what;
        for (std::size_t i = 0; i < kA.size(); ++i) {
            EXPECT_EQ(result.notes[i].verdict, c.verdicts[i]) << c.what << " string " << kA[i].string;
            EXPECT_EQ(result.notes[i].heardMidi.value_or(-1), c.heardMidi[i]) << c.what << " string " << kA[i].string;
        }
        EXPECT_EQ(result.extra, c.extra) << c.what;
        EXPECT_EQ(result.clean, c.clean) << c.what;
    }
}

TEST(ChordTargetCheck, UnknownValuesGoOutAsNull) {
    const std::vector<ExpectedNote> power = {{40}, {47, 5, 2}};
    const ChordTargetCheck result = checkAgainstTarget(power, EventCheck{{rang(power[0], 4.04f), rang(power[1])}, {}, 0});
    const std::string xml = toParam(result).toXml();
    EXPECT_NE(xml.find("<property id=\"cents\"><number>4</number></property><property id=\"fret\"><null/></property>"
                       "<property id=\"heardMidi\"><null/></property><property id=\"midi\"><number>40</number></property>"
                       "<property id=\"string\"><null/></property>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<property id=\"clean\"><true/></property>"), std::string::npos) << xml;
}

}  // namespace
}  // namespace tunewick
