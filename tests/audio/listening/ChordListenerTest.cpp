// The chord listener on a scripted microphone: one report per strum, timed on the stream's
// clock, named; with a target, each string's verdict; and nothing for a single note unless a
// target asks for every strum.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "LiveSignals.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/listening/ChordListener.h"
#include "bridge/FlashObject.h"
#include "support/ScriptedSampleStream.h"

namespace tunewick {
namespace {

using testing::ScriptedSampleStream;
using testing::TimedPoster;

struct Heard {
    double time;
    std::string name;
    std::vector<std::string> verdicts;  // of the target's strings, when checked
    bool clean = false;
};

std::vector<Heard> heard(const TimedPoster& poster) {
    std::vector<Heard> out;
    for (const auto& posted : poster.posted()) {
        EXPECT_EQ(posted.call.name, "setChord");
        const FlashObject& chord = *posted.call.arguments.at(0).getObject();
        Heard h{chord.getProperty("time")->getNumber(), chord.getProperty("name")->getString(), {}};
        if (const Param* check = chord.getProperty("check")) {
            const FlashObject& notes = *check->getObject()->getProperty("notes")->getObject();
            for (std::size_t i = 0; i < notes.size(); ++i) {
                h.verdicts.push_back(notes.getProperty(std::to_string(i))->getObject()->getProperty("verdict")->getString());
            }
            h.clean = check->getObject()->getProperty("clean")->getBoolean();
        }
        out.push_back(h);
    }
    return out;
}

struct Listening {
    explicit Listening(double rate) : stream(std::make_shared<ScriptedSampleStream>(rate)) {}
    std::shared_ptr<ScriptedSampleStream> stream;
    TimedPoster poster;
    ChordListener listener{sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster};
};

TEST(ChordListener, NamesEachStrumOnceAtItsTime) {
    struct Strum {
        double seconds;
        std::vector<int> notes;
        const char* name;
    };
    const std::vector<Strum> strums = {
        {0.5, {48, 52, 55, 60, 64}, "C"},      // x32010
        {1.5, {45, 52, 57, 60, 64}, "Am"},     // x02210
        {2.5, {45, 52, 57}, "A5"},             // x022xx
        {3.5, {50, 57, 62, 66}, "D"},          // xx0232
        {4.5, {43, 47, 50, 55, 59, 67}, "G"},  // 320003
    };
    for (double rate : {22050.0, 44100.0}) {
        SCOPED_TRACE(rate);
        Listening l(rate);
        ASSERT_EQ(l.listener.initialize(), 0);
        std::vector<float> signal(static_cast<std::size_t>(6.5 * rate));
        for (const Strum& s : strums) testing::addStrum(signal, rate, s.seconds, s.notes, 30.0, 0.45);
        // A lone note names no chord.
        testing::addPluck(signal, rate, 5.5, 55, 0.12, 0.4);
        ASSERT_EQ(l.listener.start(), 0);
        testing::feed(*l.stream, signal, rate);
        l.listener.stop();
        const auto got = heard(l.poster);
        ASSERT_EQ(got.size(), strums.size());
        for (std::size_t i = 0; i < strums.size(); ++i) {
            EXPECT_EQ(got[i].name, strums[i].name) << i;
            EXPECT_NEAR(got[i].time, strums[i].seconds, 0.010) << i;
            EXPECT_TRUE(got[i].verdicts.empty()) << i;
        }
    }
}

TEST(ChordListener, WithATargetEveryStrumCarriesEachStringsVerdict) {
    const std::vector<ExpectedNote> a = {{45, 5, 0}, {52, 4, 2}, {57, 3, 2}, {61, 2, 2}, {64, 1, 0}};
    struct Case {
        const char* what;
        std::vector<int> played;
        std::vector<std::string> verdicts;
        bool clean;
    };
    const Case cases[] = {
        {"clean", {45, 52, 57, 61, 64}, {"ok", "ok", "ok", "ok", "ok"}, true},
        {"the B string dead", {45, 52, 57, 64}, {"ok", "ok", "ok", "muted", "ok"}, false},
        {"the B string a fret high", {45, 52, 57, 62, 64}, {"ok", "ok", "ok", "wrong", "ok"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Listening l(22050.0);
        ASSERT_EQ(l.listener.initialize(), 0);
        l.listener.setTarget(a);
        std::vector<float> signal(static_cast<std::size_t>(1.5 * 22050.0));
        testing::addStrum(signal, 22050.0, 0.5, c.played, 30.0, 0.8);
        ASSERT_EQ(l.listener.start(), 0);
        testing::feed(*l.stream, signal, 22050.0);
        l.listener.stop();
        const auto got = heard(l.poster);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].verdicts, c.verdicts);
        EXPECT_EQ(got[0].clean, c.clean);
    }
}

TEST(ChordListener, AStopReportsAStrumCutShortAndARestartKeepsTheTarget) {
    Listening l(22050.0);
    ASSERT_EQ(l.listener.initialize(), 0);
    l.listener.setTarget(std::vector<ExpectedNote>{{45, 5, 0}, {52, 4, 2}});
    std::vector<float> signal(static_cast<std::size_t>(0.7 * 22050.0));
    testing::addStrum(signal, 22050.0, 0.5, {45, 52, 57});  // 200 ms heard of it
    ASSERT_EQ(l.listener.start(), 0);
    EXPECT_EQ(l.listener.start(), 0);  // already running: nothing changes
    EXPECT_EQ(l.stream->taps(), 1u);
    testing::feed(*l.stream, signal, 22050.0);
    l.listener.stop();
    EXPECT_EQ(l.stream->taps(), 0u);
    ASSERT_EQ(heard(l.poster).size(), 1u);
    EXPECT_EQ(heard(l.poster)[0].verdicts.size(), 2u);

    // The clock starts again at the restart.
    ASSERT_EQ(l.listener.start(), 0);
    testing::feed(*l.stream, signal, 22050.0);
    l.listener.stop();
    const auto got = heard(l.poster);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NEAR(got[1].time, 0.5, 0.010);
    EXPECT_EQ(got[1].verdicts.size(), 2u);
}

}  // namespace
}  // namespace tunewick
