// The event list, options and start delay a page sends to a practice: what is taken, and
// that anything malformed is refused whole.
#include <gtest/gtest.h>

#include "ParamJson.h"
#include "audio/practice/PracticeEvents.h"

namespace tunewick {
namespace {

using json = nlohmann::json;
using testing::paramFromJson;

json note(int midi, int string, int fret) { return {{"midi", midi}, {"string", string}, {"fret", fret}}; }

json event(double time, json notes) { return {{"time", time}, {"notes", std::move(notes)}}; }

TEST(PracticeEvents, ReadsEventsInOrderWithEveryNote) {
    const json list = {event(0, {note(52, 4, 2)}), event(500, {note(48, 5, 3), note(52, 4, 2), note(55, 3, 0)}),
                       event(500, {{{"midi", 60}}})};
    const auto events = parsePracticeEvents(paramFromJson(list));
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 3u);
    EXPECT_EQ((*events)[1].time, 500.0);
    ASSERT_EQ((*events)[1].notes.size(), 3u);
    EXPECT_EQ((*events)[1].notes[0].midi, 48);
    EXPECT_EQ((*events)[1].notes[0].string, 5);
    EXPECT_EQ((*events)[1].notes[0].fret, 3);
    // String and fret left out read as unknown.
    EXPECT_EQ((*events)[2].notes[0].string, 0);
    EXPECT_EQ((*events)[2].notes[0].fret, -1);
}

TEST(PracticeEvents, RefusesEveryMalformedList) {
    const json one = note(52, 4, 2);
    struct Case {
        const char* what;
        json list;
    };
    const Case cases[] = {
        {"not a list", {{"time", 0}}},
        {"an empty list", json::array()},
        {"a number", 3},
        {"times going back", {event(100, {one}), event(99.5, {one})}},
        {"a negative time", {event(-1, {one})}},
        {"a time as text", {{{"time", "0"}, {"notes", {one}}}}},
        {"no time", {{{"notes", {one}}}}},
        {"no notes", {{{"time", 0}}}},
        {"empty notes", {event(0, json::array())}},
        {"notes not a list", {event(0, one)}},
        {"a note without midi", {event(0, {{{"string", 1}, {"fret", 0}}})}},
        {"midi 128", {event(0, {note(128, 1, 0)})}},
        {"midi -1", {event(0, {note(-1, 1, 0)})}},
        {"midi 60.5", {event(0, {{{"midi", 60.5}}})}},
        {"string 0", {event(0, {note(52, 0, 2)})}},
        {"string 7", {event(0, {note(52, 7, 2)})}},
        {"string as text", {event(0, {{{"midi", 52}, {"string", "4"}}})}},
        {"fret -1", {event(0, {note(52, 4, -1)})}},
        {"fret 31", {event(0, {note(52, 4, 31)})}},
        {"thirteen notes", {event(0, json(std::vector<json>(13, one)))}},
        {"a note that is a number", {event(0, {52})}},
        {"a good event after a bad one", {event(0, {note(52, 9, 2)}), event(10, {one})}},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(parsePracticeEvents(paramFromJson(c.list))) << c.what;
    }
}

TEST(PracticeEvents, TakesTheLongestListAndRefusesOneMore) {
    json list = json::array();
    for (int i = 0; i < static_cast<int>(PracticeLimits::kMaxEvents); ++i) list.push_back(event(i * 10.0, {note(40 + i % 20, 6, 0)}));
    const auto longest = parsePracticeEvents(paramFromJson(list));
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->size(), PracticeLimits::kMaxEvents);
    list.push_back(event(1e6, {note(40, 6, 0)}));
    EXPECT_FALSE(parsePracticeEvents(paramFromJson(list)));
}

TEST(PracticeEvents, OptionsFallBackToDefaultsAndKeepTheirOrder) {
    struct Case {
        json options;
        bool taken;
        double hit, late;
    };
    const Case cases[] = {
        {nullptr, true, 50, 150},
        {json::object(), true, 50, 150},
        {{{"hitWindow", 100}, {"lateWindow", 150}}, true, 100, 150},
        {{{"hitWindow", 30}}, true, 30, 150},
        {{{"lateWindow", 400}}, true, 50, 400},
        {{{"hitWindow", 150}, {"lateWindow", 150}}, true, 150, 150},
        {{{"hitWindow", 200}}, false, 0, 0},          // wider than the default late window
        {{{"hitWindow", 0}}, false, 0, 0},
        {{{"lateWindow", -5}}, false, 0, 0},
        {{{"lateWindow", 1000.5}}, false, 0, 0},
        {{{"hitWindow", "50"}}, false, 0, 0},
        {json::array(), false, 0, 0},
        {7, false, 0, 0},
    };
    for (const Case& c : cases) {
        const auto options = parsePracticeOptions(paramFromJson(c.options));
        ASSERT_EQ(options.has_value(), c.taken) << c.options.dump();
        if (!options) continue;
        EXPECT_EQ(options->hitWindow, c.hit) << c.options.dump();
        EXPECT_EQ(options->lateWindow, c.late) << c.options.dump();
    }
}

TEST(PracticeEvents, StartDelayIsAnOptionalNumberInRange) {
    struct Case {
        json delay;
        std::optional<double> ms;
    };
    const Case cases[] = {{nullptr, 0.0}, {0, 0.0},        {1500, 1500.0},        {60000, 60000.0},
                          {-1, std::nullopt}, {60001, std::nullopt}, {"1500", std::nullopt}, {true, std::nullopt}};
    for (const Case& c : cases) EXPECT_EQ(parseStartDelay(paramFromJson(c.delay)), c.ms) << c.delay.dump();
}

}  // namespace
}  // namespace tunewick
