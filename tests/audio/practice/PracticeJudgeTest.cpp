// Verdicts from the note checker's findings, their call to the movie, and the running score.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "audio/practice/PracticeJudge.h"
#include "bridge/FlashObject.h"

namespace tunewick {
namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

NoteVerdict heard(int midi, double offsetMs) { return {midi, 0, true, offsetMs, std::nanf("")}; }
NoteVerdict missing(int midi) { return {midi, 0, false, kNone, std::nanf("")}; }

struct Case {
    const char* what;
    EventCheck check;
    std::optional<double> onsetOffset;
    VerdictKind kind;
    std::optional<double> offset;
    std::vector<int> missing;
    std::vector<int> extra;
};

TEST(PracticeJudge, EachFindingGetsItsVerdict) {
    const PracticeOptions options{50.0, 150.0};
    const Case cases[] = {
        {"on time", {{heard(52, 3.0)}, {}, 10}, 3.0, VerdictKind::hit, 3.0, {}, {}},
        {"hit at the window's edge", {{heard(52, -50.0)}, {}, 10}, -50.0, VerdictKind::hit, -50.0, {}, {}},
        {"just early", {{heard(52, -50.1)}, {}, 10}, -50.1, VerdictKind::early, -50.1, {}, {}},
        {"late", {{heard(52, 80.0)}, {}, 10}, 80.0, VerdictKind::late, 80.0, {}, {}},
        {"late at the edge", {{heard(52, 150.0)}, {}, 10}, 150.0, VerdictKind::late, 150.0, {}, {}},
        {"beyond the late window", {{heard(52, 151.0)}, {}, 10}, 151.0, VerdictKind::missed, std::nullopt, {52}, {}},
        {"nothing", {{missing(52), missing(55)}, {}, -1}, std::nullopt, VerdictKind::missed, std::nullopt, {52, 55}, {}},
        {"a wrong note alone", {{missing(52)}, {53}, 10}, 4.0, VerdictKind::wrong, 4.0, {52}, {53}},
        {"a wrong fret in a chord", {{heard(48, 2.0), missing(52), heard(55, 2.0)}, {53}, 10}, 2.0,
         VerdictKind::wrong, 2.0, {52}, {53}},
        {"an open string that should be muted", {{heard(48, 1.0), heard(52, 1.0)}, {40}, 10}, 1.0,
         VerdictKind::wrong, 1.0, {}, {40}},
        {"a muted string", {{heard(45, -4.0), missing(52), heard(57, -4.0)}, {}, 10}, -4.0, VerdictKind::partial, -4.0,
         {52}, {}},
        // A strum's strings spread over time: the middle one times it, not the straggler.
        {"a spread strum", {{heard(40, 1.0), heard(47, 2.0), heard(52, 120.0)}, {}, 10}, 1.0, VerdictKind::hit, 2.0,
         {}, {}},
        {"an even count takes the middle pair", {{heard(40, 10.0), heard(47, 70.0)}, {}, 10}, 10.0, VerdictKind::hit,
         40.0, {}, {}},
        {"notes without their own offset", {{heard(52, kNone)}, {}, 10}, -70.0, VerdictKind::early, -70.0, {}, {}},
        {"heard but never timed", {{heard(52, kNone)}, {}, -1}, std::nullopt, VerdictKind::missed, std::nullopt, {52}, {}},
    };
    for (const Case& c : cases) {
        const PracticeVerdict v = judgeEvent(c.check, c.onsetOffset, options);
        EXPECT_EQ(verdictName(v.kind), std::string(verdictName(c.kind))) << c.what;
        EXPECT_EQ(v.offset.has_value(), c.offset.has_value()) << c.what;
        if (v.offset && c.offset) {
            EXPECT_NEAR(*v.offset, *c.offset, 0.05) << c.what;
        }
        EXPECT_EQ(v.missing, c.missing) << c.what;
        EXPECT_EQ(v.extra, c.extra) << c.what;
    }
}

TEST(PracticeJudge, TheCallCarriesEveryField) {
    PracticeVerdict v;
    v.index = 7;
    v.time = 3500.0;
    v.kind = VerdictKind::wrong;
    v.offset = -12.5;
    v.missing = {52};
    v.extra = {53, 41};
    const FunctionCall call = verdictCall(v);
    EXPECT_EQ(call.name, "setVerdict");
    ASSERT_EQ(call.arguments.size(), 1u);
    EXPECT_EQ(call.argumentsToXml(),
              "<object><property id=\"extra\"><array><property id=\"0\"><number>53</number></property>"
              "<property id=\"1\"><number>41</number></property></array></property>"
              "<property id=\"index\"><number>7</number></property>"
              "<property id=\"missing\"><array><property id=\"0\"><number>52</number></property></array></property>"
              "<property id=\"offset\"><number>-12.5</number></property>"
              "<property id=\"time\"><number>3500</number></property>"
              "<property id=\"verdict\"><string>wrong</string></property></object>");
    v.offset.reset();
    EXPECT_NE(verdictCall(v).argumentsToXml().find("<property id=\"offset\"><null/></property>"), std::string::npos);
}

double numberIn(const Param& summary, const char* name) {
    const Param* value = summary.getObject()->getProperty(name);
    return value && value->type() == Param::Number ? value->getNumber() : kNone;
}

TEST(PracticeJudge, TheScoreCountsHitsAndTimesOnlyWhatCameInTime) {
    PracticeScore score;
    EXPECT_TRUE(std::isnan(numberIn(score.summary(), "meanOffset")));
    EXPECT_EQ(numberIn(score.summary(), "accuracy"), 0.0);

    auto add = [&](VerdictKind kind, std::optional<double> offset) {
        PracticeVerdict v;
        v.kind = kind;
        v.offset = offset;
        score.add(v);
    };
    add(VerdictKind::hit, 10.0);
    add(VerdictKind::hit, -10.0);
    add(VerdictKind::late, 90.0);
    add(VerdictKind::wrong, 140.0);    // not timed: the wrong note
    add(VerdictKind::partial, -130.0);  // nor the chord with a string missing
    add(VerdictKind::missed, std::nullopt);
    const Param summary = score.summary();
    EXPECT_EQ(numberIn(summary, "events"), 6.0);
    EXPECT_EQ(numberIn(summary, "hits"), 2.0);
    EXPECT_NEAR(numberIn(summary, "accuracy"), 2.0 / 6.0, 1e-12);
    EXPECT_NEAR(numberIn(summary, "meanOffset"), 30.0, 0.05);
    // Population deviation of 10, -10, 90 about 30.
    EXPECT_NEAR(numberIn(summary, "spread"), std::sqrt((400.0 + 1600.0 + 3600.0) / 3.0), 0.05);
}

}  // namespace
}  // namespace tunewick
