// The summary the Progress page draws, from small histories whose answers can be worked out
// by hand, and from the made-up history the README's picture uses.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "progress/HistoryBuilder.h"
#include "progress/ProgressStore.h"
#include "progress/ProgressSummary.h"

namespace tunewick {
namespace {

using json = nlohmann::json;
constexpr std::int64_t kDay = 24LL * 3600 * 1000;

// Local noon of a fixed day, so "k days ago" is k calendar days back whatever the time zone.
std::int64_t noon() {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 15;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm)) * 1000;
}

SessionResult session(std::int64_t start, double seconds) { return {"Notes", static_cast<double>(start), seconds}; }

json summary(const ProgressStore& store, int days = 30) { return progressSummary(store, {days, 20, noon()}); }

TEST(ProgressSummary, AnEmptyHistoryHasItsShapeAndSaysSo) {
    ProgressStore store("", nullptr);
    const json s = summary(store, 7);
    EXPECT_TRUE(s["empty"]);
    EXPECT_EQ(s["goalMinutes"], 20);
    ASSERT_EQ(s["minutesPerDay"].size(), 7u);
    EXPECT_EQ(s["minutesPerDay"][6]["day"], "2026-03-15");
    EXPECT_EQ(s["minutesPerDay"][0]["day"], "2026-03-09");
    for (const json& day : s["minutesPerDay"]) EXPECT_EQ(day["minutes"], 0);
    EXPECT_EQ(s["streak"], 0);
    EXPECT_TRUE(s["next"].empty());
    EXPECT_EQ(s["timing"]["bins"].size(), 20u);
}

TEST(ProgressSummary, MinutesFallOnTheirDayAndTheStreakCountsDaysInARow) {
    struct Case {
        const char* name;
        std::vector<int> daysAgo;  // a ten-minute session on each
        int streak;
    };
    const std::vector<Case> cases = {
        {"today and the two days before", {0, 1, 2}, 3},
        {"not yet today: the streak holds until midnight", {1, 2}, 2},
        {"a gap yesterday", {0, 2, 3}, 1},
        {"nothing since the day before yesterday", {2, 3}, 0},
        {"a month in a row, beyond the window", [] {
             std::vector<int> d;
             for (int i = 0; i < 40; ++i) d.push_back(i);
             return d;
         }(), 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressStore store("", nullptr);
        for (int ago : c.daysAgo) {
            ASSERT_TRUE(store.record(session(noon() - ago * kDay - 3600 * 1000, 600), noon()));
        }
        const json s = summary(store, 30);
        EXPECT_EQ(s["streak"], c.streak);
        EXPECT_FALSE(s["empty"]);
        for (int back = 0; back < 30; ++back) {
            const bool practised = std::find(c.daysAgo.begin(), c.daysAgo.end(), back) != c.daysAgo.end();
            EXPECT_EQ(s["minutesPerDay"][29 - back]["minutes"], practised ? 10.0 : 0.0) << back << " days ago";
        }
    }
}

TEST(ProgressSummary, TimingOffsetsLandInTwentyMillisecondBins) {
    ProgressStore store("", nullptr);
    PlayAlongResult run{"Song", std::nullopt, 1.0, 0.5, 20, {}};
    const std::vector<std::pair<std::optional<double>, int>> offsets = {
        {-250.0, 0}, {-200.0, 0}, {-181.0, 0}, {-180.0, 1}, {-0.5, 9}, {0.0, 10}, {19.9, 10},
        {199.9, 19}, {600.0, 19}, {std::nullopt, -1}};
    std::vector<int> expected(20, 0);
    int index = 0;
    for (const auto& [offset, bin] : offsets) {
        run.events.push_back({index++, 1, offset ? "hit" : "missed", offset, std::nullopt, std::nullopt});
        if (bin >= 0) ++expected[static_cast<std::size_t>(bin)];
    }
    ASSERT_TRUE(store.record(run, noon()));
    const json timing = summary(store)["timing"];
    EXPECT_EQ(timing["total"], 9);
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(timing["bins"][i]["from"], -200 + 20 * static_cast<int>(i));
        EXPECT_EQ(timing["bins"][i]["count"], expected[i]) << "bin " << i;
    }
}

// The three weakest items, weakest first; what lies outside the window does not count.
TEST(ProgressSummary, PractiseNextNamesTheThreeWeakestItems) {
    ProgressStore store("", nullptr);
    const std::int64_t now = noon();
    // Chord F: never clean in four tries (weakness 1); chord C always clean (not named).
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(store.record(ChordResult{"F", false, {}}, now));
    ASSERT_TRUE(store.record(ChordResult{"C", true, {}}, now));
    // A lesson at 40 % (0.6), missing bars 7 and 5; an older, better run first.
    PlayAlongResult older{"Greensleeves", "Bars 1-8", 0.5, 0.9, 30, {}};
    ASSERT_TRUE(store.record(older, now - 2 * kDay));
    PlayAlongResult latest{"Greensleeves", "Bars 1-8", 0.5, 0.4, 30, {}};
    latest.events = {{0, 5, "missed", std::nullopt, 1, 2}, {1, 5, "wrong", 30.0, 1, 2},
                     {2, 7, "late", 80.0, std::nullopt, std::nullopt}, {3, 2, "hit", 0.0, std::nullopt, std::nullopt}};
    ASSERT_TRUE(store.record(latest, now));
    // The place string 1 fret 2: missed in both play-along events above and in one of two
    // note-game rounds (3 of 4: 0.75).
    ASSERT_TRUE(store.record(NoteGameResult{47, 48, false, 3000, 1, 2}, now));
    ASSERT_TRUE(store.record(NoteGameResult{47, 47, true, 1000, 1, 2}, now));
    // A pair at 45 a minute (0.25): fourth, left out.
    ASSERT_TRUE(store.record(DrillResult{"Am-E", 60, 45, 40, 60}, now));
    // A drill outside a 7-day window (weakest of all) must not count.
    ASSERT_TRUE(store.record(DrillResult{"C-G", 60, 1, 1, 60}, now - 10 * kDay));

    const json s = summary(store, 7);
    ASSERT_EQ(s["next"].size(), 3u) << s["next"].dump();
    EXPECT_EQ(s["next"][0]["kind"], "chord");
    EXPECT_EQ(s["next"][0]["detail"]["chord"], "F");
    EXPECT_EQ(s["next"][1]["kind"], "notes");
    EXPECT_EQ(s["next"][1]["detail"]["places"], json::parse(R"([{"string":1,"fret":2}])"));
    EXPECT_EQ(s["next"][2]["kind"], "lesson");
    EXPECT_EQ(s["next"][2]["detail"]["bars"], json::parse("[5, 7]")) << "bar 2 was played right";
    EXPECT_EQ(s["next"][2]["page"], "Songs");
    ASSERT_EQ(s["missed"].size(), 1u);
    EXPECT_EQ(s["missed"][0]["misses"], 3);
    EXPECT_EQ(s["missed"][0]["asked"], 4);
    ASSERT_EQ(s["pairs"].size(), 1u) << "the old drill lies outside the window";
    EXPECT_EQ(s["pairs"][0]["runs"][0]["perMinute"], 45.0);
    ASSERT_EQ(s["songs"].size(), 1u);
    EXPECT_EQ(s["songs"][0]["runs"].size(), 2u);
    EXPECT_EQ(s["songs"][0]["lesson"], "Bars 1-8");
    EXPECT_EQ(s["chords"].size(), 2u);
}

TEST(ProgressSummary, MadeUpHistoryFillsEveryPart) {
    ProgressStore store("", nullptr);
    ASSERT_GT(buildHistory(store, {14, noon(), 3, false}), 100);
    const json s = summary(store);
    EXPECT_FALSE(s["empty"]);
    EXPECT_GE(s["streak"], 3);
    EXPECT_GT(s["todayMinutes"], 0);
    EXPECT_FALSE(s["songs"].empty());
    EXPECT_FALSE(s["missed"].empty());
    EXPECT_GT(s["timing"]["total"], 0);
    EXPECT_EQ(s["pairs"].size(), 3u);
    EXPECT_EQ(s["next"].size(), 3u);
    EXPECT_GT(s["notegame"]["rounds"], 0);
    EXPECT_EQ(s["tuner"]["uses"].get<int>() % 6, 0);
}

}  // namespace
}  // namespace tunewick
