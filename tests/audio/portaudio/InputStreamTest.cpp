// The microphone's keeper on a scripted PortAudio: devices that open slowly, begin late,
// deliver in large blocks, stall, refuse the format after a change, or hang in a close; taps
// that come and go while the stream closes; and the program's exit while PortAudio is held.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "audio/Status.h"
#include "audio/portaudio/AudioDevices.h"
#include "audio/portaudio/PortAudioInputStream.h"
#include "audio/portaudio/PortAudioSoundPlayer.h"
#include "support/RecordingReporter.h"
#include "support/ScriptedPortAudio.h"

namespace tunewick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ScriptedPortAudio;

struct CountingTap final : SampleTap {
    void onSamples(const float*, std::size_t count, unsigned) override { frames += count; }
    std::atomic<std::size_t> frames{0};
};

template <typename Pred>
bool eventually(Pred done, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// How a device delivers, and what the player hears of it over a while. The cases run side
// by side, each on its own scripted PortAudio.
TEST(PortAudioInputStream, AliveWhileItDeliversLateOrInLargeBlocksDeadWhenItNeverDoes) {
    struct Case {
        const char* what;
        int firstMs;
        int blockMs;
        double latency;
        std::chrono::milliseconds watch;
        std::size_t alarms;
        bool reopened;
    };
    const std::vector<Case> cases{
        {"steady 10 ms blocks", 0, 10, 0.0, 2500ms, 0, false},
        {"first samples after 2.5 s", 2500, 10, 0.0, 3500ms, 0, false},
        {"1.5 s blocks, latency reported", 1500, 1500, 1.5, 5000ms, 0, false},
        {"0.7 s blocks, no latency reported", 700, 700, 0.0, 4000ms, 0, false},
        {"nothing ever", 60000, 10, 0.0, 6000ms, 1, true},
    };
    std::vector<std::future<void>> runs;
    for (const Case& c : cases) {
        runs.push_back(std::async(std::launch::async, [c] {
            ScriptedPortAudio pa;
            pa.script().firstDeliveryMs = c.firstMs;
            pa.script().blockMs = c.blockMs;
            pa.script().latency = c.latency;
            RecordingReporter reporter;
            CountingTap tap;
            {
                const auto stream = PortAudioInputStream::create({}, &reporter, pa.api());
                ASSERT_NE(stream, nullptr) << c.what;
                ASSERT_EQ(stream->attach(tap), status::kOk) << c.what;
                std::this_thread::sleep_for(c.watch);
                stream->detach(tap);
            }
            EXPECT_EQ(reporter.reports().size(), c.alarms) << c.what;
            EXPECT_EQ(pa.counts().opens > 1, c.reopened) << c.what << ": " << pa.counts().opens << " opens";
            EXPECT_EQ(tap.frames > 0, c.alarms == 0) << c.what;
        }));
    }
    for (auto& run : runs) run.get();
}

// A device that fails, is reopened but stays silent, and at last delivers again was one
// failure; failing once more after that is a second.
TEST(PortAudioInputStream, OneAlarmPerFailureNotPerRetry) {
    ScriptedPortAudio pa;
    RecordingReporter reporter;
    CountingTap tap;
    const auto stream = PortAudioInputStream::create({}, &reporter, pa.api());
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(stream->attach(tap), status::kOk);
    std::this_thread::sleep_for(300ms);
    pa.script().delivering = false;
    ASSERT_TRUE(reporter.waitForReports(1));
    // Reopened and still silent: retries, no more alarms.
    ASSERT_TRUE(eventually([&] { return pa.counts().opens >= 2; }, 3s));
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(reporter.reports().size(), 1u);
    pa.script().delivering = true;
    const std::size_t before = tap.frames;
    ASSERT_TRUE(eventually([&] { return tap.frames > before; }, 8s)) << "back once it delivers";
    std::this_thread::sleep_for(300ms);
    pa.script().delivering = false;
    EXPECT_TRUE(reporter.waitForReports(2)) << "a new failure is told again";
    stream->detach(tap);
}

TEST(PortAudioInputStream, ASlowOpenStillServesTheTapThatAskedForIt) {
    ScriptedPortAudio pa;
    pa.script().openMs = 1500;
    CountingTap tap;
    const auto stream = PortAudioInputStream::create({}, nullptr, pa.api());
    ASSERT_NE(stream, nullptr);
    const auto asked = Clock::now();
    EXPECT_EQ(stream->attach(tap), status::kOk);
    EXPECT_GE(secondsSince(asked), 1.4);
    EXPECT_TRUE(eventually([&] { return tap.frames > 0; }, 1s));
    stream->detach(tap);
    EXPECT_EQ(pa.counts().opens, 1);
}

// A tap that comes while the last one's close is under way must not be told the stream runs
// when it is about to be closed: its samples begin at once when attach() returns.
TEST(PortAudioInputStream, ATapThatComesDuringACloseGetsSamplesAtOnce) {
    ScriptedPortAudio pa;
    pa.script().closeMs = 200;
    const auto stream = PortAudioInputStream::create({}, nullptr, pa.api());
    ASSERT_NE(stream, nullptr);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        CountingTap first;
        CountingTap next;
        ASSERT_EQ(stream->attach(first), status::kOk);
        ASSERT_TRUE(eventually([&] { return first.frames > 0; }, 1s));
        stream->detach(first);
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 10));
        ASSERT_EQ(stream->attach(next), status::kOk);
        const auto attached = Clock::now();
        ASSERT_TRUE(eventually([&] { return next.frames > 0; }, 2s));
        EXPECT_LT(secondsSince(attached), 0.15) << "a gap after attach() said the stream runs";
        stream->detach(next);
    }
}

// After a failure the default input may change to one that cannot take the stream's format:
// it is never opened, and the retries back off. Once it takes the format again, the taps
// hear again.
TEST(PortAudioInputStream, ARefreshedDeviceMustTakeTheFormatAndRetriesBackOff) {
    ScriptedPortAudio pa;
    RecordingReporter reporter;
    CountingTap tap;
    const auto stream = PortAudioInputStream::create({}, &reporter, pa.api());
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(stream->attach(tap), status::kOk);
    pa.script().takesFormat = false;
    pa.script().delivering = false;
    ASSERT_TRUE(reporter.waitForReports(1));
    const int initializes = pa.counts().initializes;
    std::this_thread::sleep_for(6s);
    EXPECT_EQ(pa.counts().opens, 1) << "a device that refuses the format is not opened";
    // Retries 1, 2 and 4 s after the failure; every second would make six.
    EXPECT_LE(pa.counts().initializes - initializes, 3);
    EXPECT_GE(pa.counts().initializes - initializes, 2);
    pa.script().takesFormat = true;
    pa.script().delivering = true;
    const std::size_t before = tap.frames;
    EXPECT_TRUE(eventually([&] { return tap.frames > before; }, 11s));
    EXPECT_EQ(reporter.reports().size(), 1u);
    stream->detach(tap);
}

// A reporter that counts what it hears after its owner said it is gone.
struct LateReporter final : Reporter {
    void report(const std::string&, const std::string&) override { (gone ? late : early)++; }
    std::atomic<bool> gone{false};
    std::atomic<int> early{0};
    std::atomic<int> late{0};
};

// A keeper caught in a PortAudio call that hangs: the stream's end leaves it behind in
// time, and the keeper, back at last, tells no one. Two ways to be caught: the close of a
// stream that stalled, and an open that hangs past every wait and then fails.
TEST(PortAudioInputStream, AHangingCallHoldsUpNoExitAndNothingIsToldAfterTheEnd) {
    struct Case {
        const char* what;
        bool stallThenHangInClose;  // else: the first open hangs, then fails
        int early;                  // reports while the reporter was there
    };
    const std::vector<Case> cases{
        {"a close that hangs after a stall", true, 1},
        {"an open that hangs, then fails", false, 0},
    };
    std::vector<std::future<void>> runs;
    for (const Case& c : cases) {
        runs.push_back(std::async(std::launch::async, [c] {
            ScriptedPortAudio pa;
            LateReporter reporter;
            CountingTap tap;
            auto stream = PortAudioInputStream::create({}, &reporter, pa.api());
            ASSERT_NE(stream, nullptr);
            if (c.stallThenHangInClose) {
                ASSERT_EQ(stream->attach(tap), status::kOk);
                pa.script().closeMs = 5000;
                pa.script().delivering = false;
                ASSERT_TRUE(eventually([&] { return pa.counts().closing >= 1; }, 5s)) << c.what;
                stream->detach(tap);
            } else {
                const auto longer = PortAudioInputStream::kOpenWait + 2s;
                pa.script().openMs = static_cast<int>(std::chrono::milliseconds(longer).count());
                pa.script().failingOpens = 1;
                EXPECT_NE(stream->attach(tap), status::kOk) << c.what;
            }
            const auto ending = Clock::now();
            stream.reset();
            EXPECT_LT(secondsSince(ending), 2.0) << c.what;
            reporter.gone = true;
            ASSERT_TRUE(eventually([&] { return pa.counts().terminates >= 1; }, 8s)) << c.what;
            std::this_thread::sleep_for(50ms);
            EXPECT_EQ(reporter.early, c.early) << c.what;
            EXPECT_EQ(reporter.late, 0) << c.what;
        }));
    }
    for (auto& run : runs) run.get();
}

// Someone stuck inside PortAudio holds its mutex for good: sessions and the sound player
// give up on it in time instead of hanging the program's exit.
TEST(PortAudioInputStream, ExitDoesNotWaitOnAStuckPortAudioUser) {
    std::promise<void> held;
    std::promise<void> release;
    std::thread stuck([&] {
        std::lock_guard lock(portAudioMutex());
        held.set_value();
        release.get_future().wait_for(10s);
    });
    held.get_future().wait();
    const auto start = Clock::now();
    {
        PortAudioSession session;
        EXPECT_FALSE(session.ok());
        PortAudioSoundPlayer player;
        player.play("/nonexistent.wav");
        EXPECT_TRUE(player.waitIdle(5s));
    }
    const double took = secondsSince(start);
    release.set_value();
    stuck.join();
    EXPECT_LT(took, 3.0);
}

}  // namespace
}  // namespace tunewick
