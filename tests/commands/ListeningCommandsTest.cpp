// The chord listener's and the practice session's commands: what each argument gets as an
// answer, that a refused call changes nothing, and that the page-unload handler stops both.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/listening/ChordListener.h"
#include "audio/practice/PracticeSession.h"
#include "bridge/DialogPoster.h"
#include "commands/ListeningCommands.h"
#include "ParamJson.h"
#include "support/ScriptedSampleStream.h"

namespace tunewick {
namespace {

using json = nlohmann::json;
using testing::ScriptedSampleStream;

class NoPoster final : public DialogPoster {
public:
    void postLoadSwf(std::string) override {}
    void postCallSwfFunction(FunctionCall) override {}
};

std::vector<Param> args(const json& list) {
    std::vector<Param> out;
    for (const auto& item : list) out.push_back(testing::paramFromJson(item));
    return out;
}

struct Fixture {
    std::shared_ptr<ScriptedSampleStream> stream = std::make_shared<ScriptedSampleStream>(22050.0, true);  // a microphone
    NoPoster poster;
    ChordListener listener{sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster};
    PracticeSession session{sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster};
    Fixture() {
        listener.initialize();
        session.initialize();
    }
};

const json kEvents = {{{"time", 0}, {"notes", {{{"midi", 52}, {"string", 4}, {"fret", 2}}}}},
                      {{"time", 500}, {"notes", {{{"midi", 45}, {"string", 5}, {"fret", 0}}}}}};

TEST(ListeningCommands, StartPracticeAnswersFalseForAnyMalformedArgumentAndChangesNothing) {
    struct Case {
        const char* what;
        json arguments;
        bool answer;
    };
    const Case cases[] = {
        {"events alone", json::array({kEvents}), true},
        {"events, delay and options", {kEvents, 1500, {{"hitWindow", 100}, {"lateWindow", 150}}}, true},
        {"a null delay and options", {kEvents, nullptr, nullptr}, true},
        {"no arguments", json::array(), false},
        {"events not a list", {"C G Am F"}, false},
        {"unsorted events", json::array({json::array({kEvents[1], kEvents[0]})}), false},
        {"a negative delay", {kEvents, -1}, false},
        {"a delay as text", {kEvents, "1500"}, false},
        {"a hit window wider than the late one", {kEvents, 0, {{"hitWindow", 200}, {"lateWindow", 150}}}, false},
    };
    for (const Case& c : cases) {
        Fixture f;
        StartPracticeCommand start(f.session, [] { return 0.0; });
        StopPracticeCommand stop(f.session);
        EXPECT_EQ(start.execute(args(c.arguments)).toXml(), c.answer ? "<true/>" : "<false/>") << c.what;
        EXPECT_EQ(f.session.isRunning(), c.answer) << c.what;
        EXPECT_EQ(f.stream->taps(), c.answer ? 1u : 0u) << c.what;
        EXPECT_EQ(stop.execute({}).type(), c.answer ? Param::Object : Param::Null) << c.what;
    }
}

TEST(ListeningCommands, ARefusedListLeavesTheRunningPracticeAloneAndItsMusicMayBeSaidLate) {
    Fixture f;
    StartPracticeCommand start(f.session, [] { return 0.0; });
    SetMusicLateCommand late(f.session);
    StopPracticeCommand stop(f.session);
    EXPECT_EQ(late.execute(args({12.5})).toXml(), "<false/>") << "no practice runs";
    ASSERT_EQ(start.execute(args(json::array({kEvents}))).toXml(), "<true/>");
    for (const auto& [given, answer] : std::vector<std::pair<json, bool>>{
             {{12.5}, true}, {{-10000}, true}, {{10000.5}, false}, {{"12"}, false}, {json::array(), false},
             {{40, 2500}, true}, {{40, -1}, false}, {{40, "2500"}, false}}) {
        EXPECT_EQ(late.execute(args(given)).toXml(), answer ? "<true/>" : "<false/>") << given;
    }
    EXPECT_EQ(start.execute(args(json::array({json::array({kEvents[1], kEvents[0]})}))).toXml(), "<false/>");
    EXPECT_TRUE(f.session.isRunning());
    const Param summary = stop.execute({});
    ASSERT_EQ(summary.type(), Param::Object);
    for (const char* field : {"events", "hits", "accuracy", "meanOffset", "spread"}) {
        EXPECT_NE(summary.getObject()->getProperty(field), nullptr) << field;
    }
    EXPECT_EQ(stop.execute({}).type(), Param::Null);
}

TEST(ListeningCommands, ChordListenerStartsStopsAndTakesOnlyRealTargets) {
    Fixture f;
    StartChordListenerCommand start(f.listener);
    StopChordListenerCommand stop(f.listener);
    SetChordTargetCommand target(f.listener);
    EXPECT_EQ(start.execute({}).type(), Param::Null);
    EXPECT_TRUE(f.listener.isRunning());
    EXPECT_EQ(stop.execute({}).type(), Param::Null);
    EXPECT_FALSE(f.listener.isRunning());

    struct Case {
        const char* what;
        json arguments;
        bool answer;
    };
    const json a = {{{"midi", 45}, {"string", 5}, {"fret", 0}}, {{"midi", 52}, {"string", 4}, {"fret", 2}}};
    const Case cases[] = {
        {"two notes", json::array({a}), true},
        {"null clears", {nullptr}, true},
        {"nothing clears", json::array(), true},
        {"one note", json::array({json::array({a[0]})}), false},
        {"an empty list", {json::array()}, false},
        {"a string out of range", {{a[0], {{"midi", 52}, {"string", 9}}}}, false},
        {"not a list", {"Am"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(target.execute(args(c.arguments)).toXml(), c.answer ? "<true/>" : "<false/>") << c.what;
    }
}

}  // namespace
}  // namespace tunewick
