#include "audio/capture/CaptureEngine.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "support/EngineTestSupport.h"
#include "support/ScriptedCaptureDevice.h"
#include "audio/Status.h"

namespace tunewick {
namespace {

using test::eventually;
using test::pattern;
using test::TestEngine;
using Op = ScriptedCaptureDevice::Operation;

constexpr std::int32_t kDeviceError = static_cast<std::int32_t>(0x88780032u);

// 8 blocks of 16 bytes: small enough to walk round the ring by hand.
constexpr CaptureConfig kSmall{128, 16, 8};

class CaptureEngineTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedCaptureDevice> device = ScriptedCaptureDevice::create();
    RecordingReporter reporter;
};

TEST(CaptureConfigTest, TheRecordersBlockRule) {
    EXPECT_EQ(CaptureEngine::blockSizeFor(WaveFormat::pcm8Mono(44100)), 5512u);
    EXPECT_EQ(CaptureEngine::blockSizeFor(WaveFormat::pcm8Mono(8192)), 1024u);   // 8192 / 8
    EXPECT_EQ(CaptureEngine::blockSizeFor(WaveFormat::pcm8Mono(8191)), 1024u);   // the floor
    EXPECT_EQ(CaptureEngine::blockSizeFor(WaveFormat::pcm8Mono(2048)), 1024u);
    WaveFormat stereo16{1, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(CaptureEngine::blockSizeFor(stereo16), 22048u);  // 22050 down to a multiple of 4
}

TEST_F(CaptureEngineTest, BuffersAndNotificationsOfEachEngine) {
    struct Case {
        CaptureConfig config;
        std::uint32_t block;
        std::uint32_t buffer;
    };
    for (const Case& c : {Case{CaptureConfig::recognizer(), 1024, 32768},
                          Case{CaptureConfig::tuner(), 2048, 65536},
                          Case{CaptureConfig::recorder(), 5512, 88192}}) {
        TestEngine engine(c.config, device->factory(), reporter);
        ASSERT_EQ(engine.initialize(), status::kOk);
        EXPECT_EQ(engine.format(), WaveFormat::pcm8Mono(c.config.sampleRate));
        ASSERT_EQ(engine.start(), status::kOk);
        EXPECT_EQ(engine.blockSize(), c.block);
        EXPECT_EQ(engine.bufferSize(), c.buffer);
        EXPECT_EQ(device->bufferSize(), c.buffer);
        EXPECT_EQ(device->requestedFormat(), WaveFormat::pcm8Mono(c.config.sampleRate));
        const auto offsets = device->notificationOffsets();
        ASSERT_EQ(offsets.size(), c.config.notificationCount);
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            EXPECT_EQ(offsets[i], (i + 1) * c.block - 1);
        }
        engine.stop();
    }
}

TEST_F(CaptureEngineTest, WithoutDeviceStartFailsAndTouchesNothing) {
    TestEngine engine(kSmall, ScriptedCaptureDevice::noDevice(), reporter);
    EXPECT_EQ(engine.initialize(), status::kNothingDone);
    EXPECT_FALSE(engine.hasDevice());
    EXPECT_TRUE(status::failed(engine.start()));
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.prepared, 0);
    EXPECT_EQ(engine.processBlock(), status::kNothingDone);
    engine.stop();
    EXPECT_EQ(engine.finished, 0);
    EXPECT_TRUE(reporter.reports().empty());
}

TEST_F(CaptureEngineTest, StartStopRestartAndTheIdleCases) {
    TestEngine engine(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);

    engine.stop();  // idle: nothing to do
    EXPECT_EQ(device->calls(Op::stop), 0u);
    EXPECT_EQ(engine.finished, 0);

    // A stop right after the start: the last step finds nothing, the finish runs.
    ASSERT_EQ(engine.start(), status::kOk);
    engine.stop();
    EXPECT_EQ(engine.finished, 1);
    EXPECT_EQ(device->calls(Op::lock), 0u);

    ASSERT_EQ(engine.start(), status::kOk);
    EXPECT_TRUE(engine.isRunning());
    EXPECT_TRUE(device->isCapturing());
    EXPECT_EQ(engine.prepared, 2);

    EXPECT_EQ(engine.start(), status::kOk);  // already running: nothing changes
    EXPECT_EQ(device->buffersCreated(), 2u);
    EXPECT_EQ(engine.prepared, 2);

    ASSERT_EQ(device->capture(pattern(40)), 40u);  // two blocks and a half
    ASSERT_TRUE(eventually([&] { return engine.bytes().size() == 32; }));

    engine.stop();
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(device->isCapturing());
    EXPECT_EQ(engine.finished, 2);
    engine.stop();
    EXPECT_EQ(engine.finished, 2);
    EXPECT_EQ(device->calls(Op::stop), 2u);

    // A restart makes a new buffer and reads it from its start.
    ASSERT_EQ(engine.start(), status::kOk);
    EXPECT_EQ(device->buffersCreated(), 3u);
    EXPECT_EQ(engine.nextReadOffset(), 0u);
    EXPECT_EQ(device->capture(pattern(16, 100)), 16u);
    ASSERT_TRUE(eventually([&] { return engine.bytes().size() == 48; }));
    engine.stop();
    EXPECT_EQ(engine.finished, 3);

    auto expected = pattern(32);
    auto second = pattern(16, 100);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(engine.bytes(), expected);
    EXPECT_TRUE(reporter.reports().empty());
    EXPECT_EQ(device->outstandingLocks(), 0u);
}

// The block step driven by hand on a started engine: the positions are set without
// notifications, so the capture thread stays asleep.
class BlockStepTest : public CaptureEngineTest {
protected:
    void SetUp() override {
        ASSERT_EQ(engine.initialize(), status::kOk);
        ASSERT_EQ(engine.start(), status::kOk);
    }
    TestEngine engine{kSmall, device->factory(), reporter};
};

TEST_F(BlockStepTest, WholeBlocksOnlyAndTheBacklogInOneStep) {
    device->setPositions(8, 8);  // half a block
    EXPECT_EQ(engine.processBlock(), status::kNothingDone);
    EXPECT_EQ(device->calls(Op::lock), 0u);

    device->setPositions(56, 56);  // three blocks and a half
    EXPECT_EQ(engine.processBlock(), status::kOk);
    ASSERT_EQ(engine.regions().size(), 1u);
    EXPECT_EQ(engine.regions()[0].firstLength, 48u);
    EXPECT_FALSE(engine.regions()[0].hasSecond);
    EXPECT_EQ(engine.nextReadOffset(), 48u);
    EXPECT_EQ(device->lockRequests().back(), std::make_pair(0u, 48u));
    EXPECT_EQ(device->outstandingLocks(), 0u);

    EXPECT_EQ(engine.processBlock(), status::kNothingDone);  // the half block stays
    EXPECT_EQ(engine.nextReadOffset(), 48u);
}

TEST_F(BlockStepTest, ReadPositionThatWrappedGivesTwoParts) {
    device->setPositions(112, 112);  // seven blocks
    ASSERT_EQ(engine.processBlock(), status::kOk);
    EXPECT_EQ(engine.nextReadOffset(), 112u);

    device->setPositions(40, 40);  // past the end: 16 + 40 = 56, three whole blocks
    ASSERT_EQ(engine.processBlock(), status::kOk);
    ASSERT_EQ(engine.regions().size(), 2u);
    const auto wrapped = engine.regions()[1];
    EXPECT_EQ(wrapped.firstLength, 16u);
    EXPECT_TRUE(wrapped.hasSecond);
    EXPECT_EQ(wrapped.secondLength, 32u);
    EXPECT_EQ(device->lockRequests().back(), std::make_pair(112u, 48u));
    EXPECT_EQ(engine.nextReadOffset(), 32u);
}

TEST_F(BlockStepTest, ReadingTheLastBlockBringsTheOffsetBackToZero) {
    device->setPositions(96, 96);
    ASSERT_EQ(engine.processBlock(), status::kOk);
    device->setPositions(0, 0);  // the rest of the ring, exactly
    ASSERT_EQ(engine.processBlock(), status::kOk);
    EXPECT_EQ(engine.regions().back().firstLength, 32u);
    EXPECT_FALSE(engine.regions().back().hasSecond);
    EXPECT_EQ(engine.nextReadOffset(), 0u);
}

TEST_F(BlockStepTest, FailuresAreReturnedAndNothingStaysLocked) {
    device->setPositions(32, 32);
    device->fail(Op::getCurrentPosition, kDeviceError, 1);
    EXPECT_EQ(engine.processBlock(), kDeviceError);
    device->fail(Op::lock, kDeviceError - 1, 1);
    EXPECT_EQ(engine.processBlock(), kDeviceError - 1);
    EXPECT_EQ(engine.nextReadOffset(), 0u);

    engine.consumeStatus = status::kFail;
    EXPECT_EQ(engine.processBlock(), status::kFail);
    EXPECT_EQ(device->outstandingLocks(), 0u);
    EXPECT_EQ(engine.nextReadOffset(), 0u);  // not taken: a failed consumer advances nothing

    engine.consumeStatus = status::kOk;
    EXPECT_EQ(engine.processBlock(), status::kOk);
    EXPECT_EQ(engine.nextReadOffset(), 32u);
}

class CaptureThreadFailureTest : public CaptureEngineTest,
                                 public ::testing::WithParamInterface<Op> {};

TEST_P(CaptureThreadFailureTest, ReportsGoesIdleAndStopsCapture) {
    TestEngine engine(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);
    ASSERT_EQ(engine.start(), status::kOk);
    device->fail(GetParam(), kDeviceError);
    ASSERT_EQ(device->capture(pattern(16)), 16u);  // a notification wakes the thread

    ASSERT_TRUE(reporter.waitForReports(1));
    ASSERT_TRUE(eventually([&] { return !engine.isRunning(); }));
    ASSERT_TRUE(eventually([&] { return !device->isCapturing(); }));
    const auto reports = reporter.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, "DirectSound Sample");
    EXPECT_EQ(reports[0].second, "Error handling DirectSound notifications. Sample will now exit.");
    EXPECT_EQ(device->outstandingLocks(), 0u);
    EXPECT_EQ(engine.finished, 0);

    // The stop of an idle engine collects the ended thread and the finish still owed.
    engine.stop();
    EXPECT_EQ(engine.finished, 1);
    engine.stop();
    EXPECT_EQ(engine.finished, 1);

    // And the engine starts again afresh.
    device->clearFailures();
    ASSERT_EQ(engine.start(), status::kOk);
    ASSERT_EQ(device->capture(pattern(16, 7)), 16u);
    ASSERT_TRUE(eventually([&] { return engine.bytes() == pattern(16, 7); }));
    engine.stop();
    EXPECT_EQ(engine.finished, 2);
    EXPECT_EQ(reporter.reports().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(PositionOrLock, CaptureThreadFailureTest,
                         ::testing::Values(Op::getCurrentPosition, Op::lock));

TEST_F(CaptureEngineTest, FailedStartsLeaveTheEngineIdle) {
    TestEngine engine(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);

    device->fail(Op::createCaptureBuffer, kDeviceError, 1);
    EXPECT_EQ(engine.start(), kDeviceError);
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.prepared, 0);

    device->fail(Op::setNotificationPositions, kDeviceError, 1);
    EXPECT_EQ(engine.start(), kDeviceError);
    EXPECT_FALSE(device->hasBuffer());
    EXPECT_EQ(engine.prepared, 0);

    engine.prepareStatus = status::kFail;
    EXPECT_EQ(engine.start(), status::kFail);
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.finished, 0);  // a failed preparation is not finished
    engine.prepareStatus = status::kOk;

    device->fail(Op::start, kDeviceError, 1);
    EXPECT_EQ(engine.start(), kDeviceError);
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.finished, 1);  // the preparation that did succeed is undone
    engine.stop();
    EXPECT_EQ(engine.finished, 1);

    EXPECT_EQ(engine.start(), status::kOk);
    EXPECT_TRUE(engine.isRunning());
}

TEST_F(CaptureEngineTest, AStopWaitsForTheBlockStepInProgress) {
    TestEngine engine(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);
    ASSERT_EQ(engine.start(), status::kOk);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> first{true};
    device->setLockHook([&] {
        if (first.exchange(false)) {  // hold the capture thread's step only
            entered.set_value();
            released.wait();
        }
    });
    ASSERT_EQ(device->capture(pattern(16)), 16u);
    entered.get_future().wait();

    std::atomic<bool> stopped{false};
    std::thread owner([&] {
        engine.stop();
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(stopped);  // a stop that returned now would have left the step running
    EXPECT_EQ(engine.finished, 0);
    release.set_value();
    owner.join();
    EXPECT_EQ(engine.finished, 1);
    EXPECT_EQ(engine.bytes(), pattern(16));
    EXPECT_EQ(engine.mostInside, 1);
}

TEST_F(CaptureEngineTest, AFailingStopStillJoinsAndFinishes) {
    TestEngine engine(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);
    ASSERT_EQ(engine.start(), status::kOk);
    device->setPositions(32, 32);
    device->fail(Op::stop, kDeviceError, 1);
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.finished, 1);
    EXPECT_TRUE(engine.regions().empty());  // no last step on a device that did not stop
    ASSERT_EQ(engine.start(), status::kOk);  // and the next start works
}

TEST_F(CaptureEngineTest, ReleaseAndDestructionEndCapture) {
    auto engine = std::make_unique<TestEngine>(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine->initialize(), status::kOk);
    ASSERT_EQ(engine->start(), status::kOk);
    engine->release();
    EXPECT_EQ(engine->finished, 1);
    EXPECT_FALSE(device->hasBuffer());
    EXPECT_TRUE(status::failed(engine->start()));  // no device any more
    EXPECT_EQ(device->buffersCreated(), 1u);

    engine = std::make_unique<TestEngine>(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine->initialize(), status::kOk);
    ASSERT_EQ(engine->start(), status::kOk);
    ASSERT_EQ(device->capture(pattern(20)), 20u);
    engine.reset();
    EXPECT_FALSE(device->hasBuffer());
}

// While a test thread captures without pause, the owner starts and stops the engine and a
// third thread runs block steps of its own: steps never overlap, and within each run every
// byte arrives once and in order.
TEST_F(CaptureEngineTest, StepsNeverOverlapUnderStartStopAndOutsideSteps) {
    TestEngine engine(kSmall, device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);
    std::atomic<bool> quit{false};
    std::atomic<std::size_t> produced{0};
    std::thread producer([&] {
        std::size_t next = 0;
        while (!quit) {
            // Never lap the reader: overwritten bytes would break the order checked below.
            const std::uint32_t size = kSmall.blockSize * kSmall.notificationCount;
            const std::uint32_t unread =
                (device->capturePosition() + size - engine.nextReadOffset()) % size;
            if (unread + 5 < size - kSmall.blockSize) {
                const auto chunk = pattern(5, next);
                next += device->capture(chunk);
                produced = next;
            }
            std::this_thread::yield();
        }
    });
    std::thread stepper([&] {
        while (!quit) {
            engine.processBlock();
            std::this_thread::yield();
        }
    });

    for (int run = 0; run < 20; ++run) {
        ASSERT_EQ(engine.start(), status::kOk);
        const std::size_t atStart = produced;
        ASSERT_TRUE(eventually([&] { return produced > atStart + 100; }));
        engine.stop();
    }
    quit = true;
    producer.join();
    stepper.join();

    EXPECT_EQ(engine.mostInside, 1);
    EXPECT_EQ(engine.finished, 20);
    EXPECT_TRUE(reporter.reports().empty());
    // Each region is a stretch of capture in order.
    const auto bytes = engine.bytes();
    const auto regions = engine.regions();
    ASSERT_FALSE(regions.empty());
    std::size_t at = 0;
    for (const auto& region : regions) {
        const std::size_t length = region.firstLength + region.secondLength;
        ASSERT_EQ(length % kSmall.blockSize, 0u);
        for (std::size_t i = at + 1; i < at + length; ++i) {
            ASSERT_EQ(bytes[i], (bytes[i - 1] + 1) % 251) << "at byte " << i;
        }
        at += length;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(device->outstandingLocks(), 0u);
}

}  // namespace
}  // namespace tunewick
