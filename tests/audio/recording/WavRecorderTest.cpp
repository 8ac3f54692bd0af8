#include "audio/recording/WavRecorder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/EngineTestSupport.h"
#include "support/ScriptedCaptureDevice.h"
#include "audio/Status.h"

namespace tunewick {
namespace {

using test::eventually;
using test::le32;
using test::pattern;
using test::readFile;
using test::TempDir;
using Op = ScriptedCaptureDevice::Operation;

constexpr std::uint32_t kBlock = 5512;

class WavRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(recorder->initialize(), status::kOk); }

    // The sample bytes of the recording, checked to be a closed file of the right layout.
    std::vector<std::uint8_t> recorded() const {
        const auto file = readFile(path);
        EXPECT_GE(file.size(), 56u);
        if (file.size() < 56) return {};
        const std::uint32_t n = le32(file, 52);
        EXPECT_EQ(file.size(), 56u + n + n % 2);
        EXPECT_EQ(le32(file, 4), 48u + n + n % 2);
        EXPECT_EQ(le32(file, 44), 0u);
        if (file.size() < 56u + n) return {};
        return {file.begin() + 56, file.begin() + 56 + n};
    }

    TempDir dir;
    std::string path = dir.file("recording.wav");
    std::shared_ptr<ScriptedCaptureDevice> device = ScriptedCaptureDevice::create();
    RecordingReporter reporter;
    std::unique_ptr<WavRecorder> recorder =
        std::make_unique<WavRecorder>(device->factory(), reporter, path);
};

TEST_F(WavRecorderTest, RecordsEveryWholeBlockInCaptureOrder) {
    ASSERT_EQ(recorder->start(), status::kOk);
    EXPECT_EQ(recorder->blockSize(), kBlock);
    EXPECT_EQ(recorder->bufferSize(), 88192u);
    // 57330 bytes (1.3 s) in pieces, as a microphone would deliver them.
    const auto sound = pattern(57330);
    for (std::size_t at = 0; at < sound.size(); at += 4000) {
        const std::size_t piece = std::min<std::size_t>(4000, sound.size() - at);
        ASSERT_EQ(device->capture(sound.data() + at, piece), piece);
    }
    recorder->stop();
    const auto data = recorded();
    ASSERT_EQ(data.size(), 55120u);  // ten whole blocks; the rest is under one block
    EXPECT_TRUE(std::equal(data.begin(), data.end(), sound.begin()));
    EXPECT_FALSE(recorder->hasWriter());
    EXPECT_TRUE(reporter.reports().empty());
}

TEST_F(WavRecorderTest, ABacklogLongerThanTheRingsEndIsWrittenWhole) {
    ASSERT_EQ(recorder->start(), status::kOk);
    // 15 blocks captured, then 4 more that wrap past the end of the 16-block ring; the
    // capture thread may take them in any grouping.
    const auto sound = pattern(19 * kBlock);
    ASSERT_EQ(device->capture(sound.data(), 15 * kBlock), 15 * kBlock);
    ASSERT_TRUE(eventually([&] { return recorder->nextReadOffset() == 15 * kBlock; }));
    ASSERT_EQ(device->capture(sound.data() + 15 * kBlock, 4 * kBlock), 4 * kBlock);
    recorder->stop();
    EXPECT_EQ(recorded(), sound);
}

TEST_F(WavRecorderTest, StartTwiceRecordsOnIntoTheSameFile) {
    ASSERT_EQ(recorder->start(), status::kOk);
    ASSERT_EQ(device->capture(pattern(kBlock)), kBlock);
    EXPECT_EQ(recorder->start(), status::kOk);
    EXPECT_EQ(device->buffersCreated(), 1u);
    ASSERT_EQ(device->capture(pattern(kBlock, kBlock)), kBlock);
    recorder->stop();
    EXPECT_EQ(recorded(), pattern(2 * kBlock));
}

TEST_F(WavRecorderTest, StopWithoutRecordingDoesNothing) {
    recorder->stop();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(device->calls(Op::stop), 0u);
}

TEST_F(WavRecorderTest, StopBeforeTheFirstBlockLeavesAnEmptyValidFile) {
    ASSERT_EQ(recorder->start(), status::kOk);
    ASSERT_EQ(device->capture(pattern(kBlock - 1)), kBlock - 1);
    recorder->stop();
    EXPECT_EQ(readFile(path).size(), 56u);
    EXPECT_TRUE(recorded().empty());
}

TEST_F(WavRecorderTest, TheFileSaysWhatTheDeviceReallyCaptures) {
    device->setActualFormat(WaveFormat::pcm8Mono(22050));
    ASSERT_EQ(recorder->start(), status::kOk);
    recorder->stop();
    const auto file = readFile(path);
    ASSERT_EQ(file.size(), 56u);
    EXPECT_EQ(le32(file, 24), 22050u);
    EXPECT_EQ(le32(file, 28), 22050u);
}

TEST_F(WavRecorderTest, DestroyingARecorderFinishesItsRecording) {
    ASSERT_EQ(recorder->start(), status::kOk);
    ASSERT_EQ(device->capture(pattern(2 * kBlock + 10)), 2 * kBlock + 10);
    recorder.reset();
    EXPECT_EQ(recorded(), pattern(2 * kBlock));
    EXPECT_FALSE(device->hasBuffer());
}

TEST_F(WavRecorderTest, AFileThatCannotBeCreatedEndsCaptureWithTheReport) {
    WavRecorder homeless(device->factory(), reporter, dir.file("missing/recording.wav"));
    ASSERT_EQ(homeless.initialize(), status::kOk);
    EXPECT_EQ(homeless.start(), status::kOk);  // as before: the start itself goes on
    ASSERT_EQ(device->capture(pattern(kBlock)), kBlock);
    ASSERT_TRUE(reporter.waitForReports(1));
    EXPECT_EQ(reporter.reports()[0].first, "DirectSound Sample");
    EXPECT_EQ(reporter.reports()[0].second,
              "Error handling DirectSound notifications. Sample will now exit.");
    ASSERT_TRUE(eventually([&] { return !homeless.isRunning(); }));
    ASSERT_TRUE(eventually([&] { return !device->isCapturing(); }));  // not left running
    homeless.stop();
    EXPECT_FALSE(homeless.hasWriter());
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST_F(WavRecorderTest, ARecordingCutShortByACaptureErrorIsStillAValidFile) {
    ASSERT_EQ(recorder->start(), status::kOk);
    ASSERT_EQ(device->capture(pattern(2 * kBlock)), 2 * kBlock);
    ASSERT_TRUE(eventually([&] { return recorder->nextReadOffset() == 2 * kBlock; }));
    device->fail(Op::lock, static_cast<std::int32_t>(0x88780032u));
    ASSERT_EQ(device->capture(pattern(kBlock, 2 * kBlock)), kBlock);
    ASSERT_TRUE(reporter.waitForReports(1));
    ASSERT_TRUE(eventually([&] { return !recorder->isRunning(); }));
    recorder->stop();  // the movie's "stopRecorder", or the page change, after the error
    EXPECT_EQ(recorded(), pattern(2 * kBlock));
    EXPECT_FALSE(recorder->hasWriter());

    // The next recording starts cleanly and replaces the file from its first byte.
    device->clearFailures();
    ASSERT_EQ(recorder->start(), status::kOk);
    ASSERT_EQ(device->capture(pattern(kBlock, 9)), kBlock);
    recorder->stop();
    EXPECT_EQ(recorded(), pattern(kBlock, 9));
}

}  // namespace
}  // namespace tunewick
