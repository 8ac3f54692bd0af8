// The practice session on a scripted microphone: song time against the stream's clock, the
// verdicts it tells the movie, and the summary. How a note is heard is the checker's
// business; here the sound is clear and the question is whether the session asks right.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "LiveSignals.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/practice/PracticeSession.h"
#include "bridge/FlashObject.h"
#include "support/ScriptedSampleStream.h"

namespace tunewick {
namespace {

using testing::ScriptedSampleStream;
using testing::TimedPoster;

// Four events half a second apart: a note, a chord, a note, a chord.
const std::vector<std::vector<int>> kNotes = {{52}, {48, 52, 55, 60}, {57}, {45, 52, 57, 61}};
constexpr double kStartDelayMs = 400.0;
// Each strum is damped before the next, as a player's hand does.
constexpr double kHoldSeconds = 0.28;

std::vector<PracticeEvent> events() {
    std::vector<PracticeEvent> out;
    for (std::size_t i = 0; i < kNotes.size(); ++i) {
        PracticeEvent event{500.0 * static_cast<double>(i), {}};
        for (int midi : kNotes[i]) event.notes.push_back({midi});
        out.push_back(event);
    }
    return out;
}

struct Verdict {
    std::string kind;
    double offset;  // NaN for null
    std::vector<int> missing, extra;
};

std::vector<int> midis(const Param* list) {
    std::vector<int> out;
    if (list == nullptr || list->getObject() == nullptr) return out;
    for (std::size_t i = 0; i < list->getObject()->size(); ++i) {
        out.push_back(static_cast<int>(list->getObject()->getProperty(std::to_string(i))->getNumber()));
    }
    return out;
}

std::vector<Verdict> verdicts(const TimedPoster& poster) {
    std::vector<Verdict> out;
    for (const auto& posted : poster.posted()) {
        EXPECT_EQ(posted.call.name, "setVerdict");
        const FlashObject& v = *posted.call.arguments.at(0).getObject();
        EXPECT_EQ(v.getProperty("index")->getNumber(), static_cast<double>(out.size()));
        const Param* offset = v.getProperty("offset");
        out.push_back({v.getProperty("verdict")->getString(),
                       offset->type() == Param::Number ? offset->getNumber() : NAN, midis(v.getProperty("missing")),
                       midis(v.getProperty("extra"))});
    }
    return out;
}

struct Played {
    int event;
    double shiftMs;        // played this much after its due time
    std::vector<int> notes;  // what sounds
};

struct Case {
    const char* what;
    double rate;
    double latencyMs;  // the setting; the sound also comes this much later
    std::vector<Played> played;
    std::vector<std::string> kinds;
    std::vector<double> offsets;  // NaN for null
    std::vector<std::vector<int>> missing, extra;
    double holdSeconds = kHoldSeconds;
    double musicLateMs = 0.0;  // what the page says of its music once the practice runs
};

const double kNull = NAN;
// What a wrong note leaves of the expected one is the checker's call, not the session's.
const std::vector<int> kAny = {-1};

TEST(PracticeSession, JudgesWhatIsPlayedAgainstTheStreamClock) {
    const Case cases[] = {
        {"played right", 22050, 0, {{0, 0, kNotes[0]}, {1, 0, kNotes[1]}, {2, 0, kNotes[2]}, {3, 0, kNotes[3]}},
         {"hit", "hit", "hit", "hit"}, {0, 0, 0, 0}, {{}, {}, {}, {}}, {{}, {}, {}, {}}},
        {"played right at a device's rate", 48000, 0,
         {{0, 0, kNotes[0]}, {1, 0, kNotes[1]}, {2, 0, kNotes[2]}, {3, 0, kNotes[3]}},
         {"hit", "hit", "hit", "hit"}, {0, 0, 0, 0}, {{}, {}, {}, {}}, {{}, {}, {}, {}}},
        {"late, early, a muted string, a wrong note", 22050, 0,
         {{0, 80, kNotes[0]}, {1, -100, kNotes[1]}, {2, 0, {59}}, {3, 0, {45, 52, 57}}},
         {"late", "early", "wrong", "partial"}, {80, -100, 0, 0}, {{}, {}, kAny, {61}}, {{}, {}, {59}, {}}},
        {"the latency setting moves every due time", 22050, 60,
         {{0, 0, kNotes[0]}, {1, 0, kNotes[1]}, {2, 90, kNotes[2]}, {3, 0, kNotes[3]}},
         {"hit", "hit", "late", "hit"}, {0, 0, 90, 0}, {{}, {}, {}, {}}, {{}, {}, {}, {}}},
        {"a file keeps its own time 0 whatever the page says of its music", 22050, 0,
         {{0, 0, kNotes[0]}, {1, 0, kNotes[1]}, {2, 0, kNotes[2]}, {3, 0, kNotes[3]}},
         {"hit", "hit", "hit", "hit"}, {0, 0, 0, 0}, {{}, {}, {}, {}}, {{}, {}, {}, {}}, kHoldSeconds, 70},
        {"nothing played", 22050, 0, {}, {"missed", "missed", "missed", "missed"}, {kNull, kNull, kNull, kNull},
         {kNotes[0], kNotes[1], kNotes[2], kNotes[3]}, {{}, {}, {}, {}}},
        // Left ringing, so that nothing but the note itself starts in any window.
        {"played too late for the window", 22050, 0, {{0, 200, kNotes[0]}},
         {"missed", "missed", "missed", "missed"}, {kNull, kNull, kNull, kNull},
         {kNotes[0], kNotes[1], kNotes[2], kNotes[3]}, {{}, {}, {}, {}}, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto stream = std::make_shared<ScriptedSampleStream>(c.rate);
        TimedPoster poster;
        PracticeSession session(sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster);
        ASSERT_EQ(session.initialize(), 0);

        std::vector<float> signal(static_cast<std::size_t>(3.0 * c.rate));
        for (const Played& p : c.played) {
            const double at = (kStartDelayMs + c.latencyMs + 500.0 * p.event + p.shiftMs) / 1000.0;
            testing::addStrum(signal, c.rate, at, p.notes, 20.0, c.holdSeconds);
        }
        ASSERT_EQ(session.start(events(), kStartDelayMs, {}, c.latencyMs), 0);
        if (c.musicLateMs != 0.0) {
            EXPECT_FALSE(session.setMusicLate(c.musicLateMs)) << "the scripted stream is not live";
        }
        testing::feed(*stream, signal, c.rate);
        const Param summary = session.stop();

        const std::vector<Verdict> got = verdicts(poster);
        ASSERT_EQ(got.size(), c.kinds.size());
        std::size_t hits = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].kind, c.kinds[i]) << "event " << i;
            if (std::isnan(c.offsets[i])) {
                EXPECT_TRUE(std::isnan(got[i].offset)) << "event " << i;
            } else {
                EXPECT_NEAR(got[i].offset, c.offsets[i], 10.0) << "event " << i;
            }
            if (c.missing[i] != kAny) {
                EXPECT_EQ(got[i].missing, c.missing[i]) << "event " << i;
            }
            EXPECT_EQ(got[i].extra, c.extra[i]) << "event " << i;
            hits += got[i].kind == "hit";
        }
        ASSERT_EQ(summary.type(), Param::Object);
        EXPECT_EQ(summary.getObject()->getProperty("events")->getNumber(), 4.0);
        EXPECT_EQ(summary.getObject()->getProperty("hits")->getNumber(), static_cast<double>(hits));
    }
}

TEST(PracticeSession, AStopJudgesOnlyWhatHasClosedAndASecondStopHasNothingToSay) {
    auto stream = std::make_shared<ScriptedSampleStream>(22050.0);
    TimedPoster poster;
    PracticeSession session(sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster);
    ASSERT_EQ(session.initialize(), 0);
    EXPECT_EQ(session.stop().type(), Param::Null);

    ASSERT_EQ(session.start(events(), kStartDelayMs, {}, 0.0), 0);
    // Up to just after the second event's window closes (400 + 500 + 150 ms).
    std::vector<float> signal(static_cast<std::size_t>(1.06 * 22050.0));
    testing::addStrum(signal, 22050.0, 0.4, kNotes[0]);
    testing::addStrum(signal, 22050.0, 0.9, kNotes[1]);
    testing::feed(*stream, signal, 22050.0);
    const Param summary = session.stop();
    EXPECT_EQ(stream->taps(), 0u);
    const auto got = verdicts(poster);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].kind, "hit");
    EXPECT_EQ(got[1].kind, "hit");
    EXPECT_EQ(summary.getObject()->getProperty("events")->getNumber(), 2.0);
    EXPECT_EQ(summary.getObject()->getProperty("accuracy")->getNumber(), 1.0);
    EXPECT_EQ(session.stop().type(), Param::Null);
}

TEST(PracticeSession, ARestartForgetsTheOldPracticeAndARefusedStreamStartsNothing) {
    auto stream = std::make_shared<ScriptedSampleStream>(22050.0);
    TimedPoster poster;
    PracticeSession session(sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster);
    ASSERT_EQ(session.initialize(), 0);
    ASSERT_EQ(session.start(events(), 0.0, {}, 0.0), 0);
    stream->push(std::vector<float>(22050, 0.0f));
    // A new practice: its own clock from now, none of the old verdicts or score.
    ASSERT_EQ(session.start({events().front()}, 0.0, {}, 0.0), 0);
    EXPECT_EQ(stream->taps(), 1u);
    stream->push(std::vector<float>(22050, 0.0f));
    const Param summary = session.stop();
    EXPECT_EQ(summary.getObject()->getProperty("events")->getNumber(), 1.0);

    stream->refuseNextAttach(-5);
    EXPECT_LT(session.start(events(), 0.0, {}, 0.0), 0);
    EXPECT_FALSE(session.isRunning());
    EXPECT_EQ(session.stop().type(), Param::Null);

    PracticeSession without({}, poster);
    EXPECT_EQ(without.initialize(), 1);
    EXPECT_LT(without.start(events(), 0.0, {}, 0.0), 0);
}

}  // namespace
}  // namespace tunewick
