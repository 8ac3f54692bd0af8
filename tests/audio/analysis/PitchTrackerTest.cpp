// The pitch tracker as a live consumer: fed by a shared stream at a device's rate, it tells the
// movie each reading, ends a pitch with exactly one null, and analyses everything given
// before a stop. How exactly a note is read is the estimator's tests' business.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "AnalysisSupport.h"
#include "audio/analysis/PitchTracker.h"
#include "audio/capture/StreamCaptureBuffer.h"
#include "bridge/FlashObject.h"
#include "support/ScriptedCaptureDevice.h"
#include "support/ScriptedSampleStream.h"

namespace tunewick {
namespace {

using testing::RecordingPoster;
using testing::ScriptedSampleStream;

constexpr double kDeviceRate = 48000.0;

std::vector<float> sine(double hz, double seconds, double amplitude = 0.5) {
    std::vector<float> out(static_cast<std::size_t>(seconds * kDeviceRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / kDeviceRate));
    }
    return out;
}

std::vector<float> silence(double seconds) {
    return std::vector<float>(static_cast<std::size_t>(seconds * kDeviceRate), 0.0f);
}

double number(const FlashObject& object, const char* name) {
    const Param* value = object.getProperty(name);
    return value != nullptr && value->type() == Param::Number ? value->getNumber() : NAN;
}

struct Tracked {
    std::shared_ptr<ScriptedSampleStream> stream = std::make_shared<ScriptedSampleStream>(kDeviceRate);
    RecordingPoster poster;
    PitchTracker tracker{sharedDeviceFactory(std::make_shared<StreamCaptureDevice>(stream)), poster};

    // The calls as "A3" for a reading and "null" for the end of a pitch.
    std::vector<std::string> notes() const {
        std::vector<std::string> out;
        for (const auto& call : poster.calls()) {
            EXPECT_EQ(call.name, "setPitch");
            EXPECT_EQ(call.arguments.size(), 1u);
            const Param& argument = call.arguments.at(0);
            if (argument.type() == Param::Null) {
                out.push_back("null");
            } else {
                out.push_back(argument.getObject()->getProperty("note")->getString());
            }
        }
        return out;
    }
};

// "A3 A3 ... null" with nothing but `note` before the one null at the end.
void expectOnePitchThenOneNull(const std::vector<std::string>& notes, const std::string& note) {
    ASSERT_GE(notes.size(), 10u) << "about thirty readings a second expected";
    for (std::size_t i = 0; i + 1 < notes.size(); ++i) EXPECT_EQ(notes[i], note) << "reading " << i;
    EXPECT_EQ(notes.back(), "null");
}

TEST(PitchTracker, ReportsEachReadingAndEndsAPitchWithOneNull) {
    Tracked t;
    ASSERT_EQ(t.tracker.initialize(), 0);
    ASSERT_EQ(t.tracker.start(), 0);
    t.stream->push(sine(220.0, 1.0));
    t.stream->push(silence(1.0));  // the pitch ends here: one null, not one per reading
    t.tracker.stop();
    expectOnePitchThenOneNull(t.notes(), "A3");

    const auto calls = t.poster.calls();
    const FlashObject& first = *calls.front().arguments[0].getObject();
    EXPECT_NEAR(number(first, "frequency"), 220.0, 220.0 * (std::exp2(1.0 / 1200.0) - 1.0));
    EXPECT_EQ(number(first, "midi"), 57.0);
    EXPECT_LT(std::abs(number(first, "cents")), 1.0);
    EXPECT_GT(number(first, "clarity"), 0.9);
    EXPECT_NEAR(number(first, "level"), 20.0 * std::log10(0.5 / std::sqrt(2.0)), 1.5);
}

TEST(PitchTracker, AStopWhileAPitchSoundsEndsItAndAnalysesEverythingGiven) {
    Tracked t;
    ASSERT_EQ(t.tracker.initialize(), 0);
    ASSERT_EQ(t.tracker.start(), 0);
    t.stream->push(sine(440.0, 1.0));
    t.tracker.stop();
    EXPECT_EQ(t.stream->taps(), 0u);
    const auto notes = t.notes();
    expectOnePitchThenOneNull(notes, "A4");
    // One second at a reading every 31.25 ms, less the window's fill and the settling.
    EXPECT_GE(notes.size(), 24u);

    // Nothing comes after the stop, and a new start begins afresh.
    t.stream->push(sine(440.0, 0.5));
    EXPECT_EQ(t.notes().size(), notes.size());
    ASSERT_EQ(t.tracker.start(), 0);
    t.stream->push(sine(330.0, 1.0));
    t.tracker.stop();
    const auto again = t.notes();
    EXPECT_EQ(std::vector<std::string>(again.begin() + static_cast<long>(notes.size()), again.end() - 1),
              std::vector<std::string>(again.size() - notes.size() - 1, "E4"));
}

TEST(PitchTracker, TheReferencePitchMovesNoteAndCentsWhileItRuns) {
    Tracked t;
    ASSERT_EQ(t.tracker.initialize(), 0);
    ASSERT_EQ(t.tracker.start(), 0);
    EXPECT_FALSE(t.tracker.setReferencePitch(500.0));
    ASSERT_TRUE(t.tracker.setReferencePitch(432.0));
    t.stream->push(sine(440.0, 1.0));
    t.tracker.stop();
    const auto calls = t.poster.calls();
    ASSERT_GE(calls.size(), 2u);
    const FlashObject& reading = *calls[calls.size() - 2].arguments[0].getObject();
    EXPECT_EQ(reading.getProperty("note")->getString(), "A4");
    EXPECT_NEAR(number(reading, "cents"), 1200.0 * std::log2(440.0 / 432.0), 1.0);
}

TEST(PitchTracker, StartFailsWithoutAStreamOrWhenTheDeviceRefuses) {
    RecordingPoster poster;
    // A device that only makes byte buffers has no samples to give.
    PitchTracker bytesOnly(ScriptedCaptureDevice::create()->factory(), poster);
    EXPECT_EQ(bytesOnly.initialize(), 1);
    EXPECT_LT(bytesOnly.start(), 0);
    PitchTracker none(CaptureDeviceFactory{}, poster);
    EXPECT_EQ(none.initialize(), 1);
    EXPECT_LT(none.start(), 0);

    Tracked t;
    ASSERT_EQ(t.tracker.initialize(), 0);
    t.stream->refuseNextAttach(-9999);
    EXPECT_EQ(t.tracker.start(), -9999);
    EXPECT_FALSE(t.tracker.isRunning());
    EXPECT_EQ(t.tracker.start(), 0);
    EXPECT_TRUE(t.tracker.isRunning());
    t.tracker.release();
    EXPECT_LT(t.tracker.start(), 0);
    EXPECT_TRUE(poster.calls().empty());
}

TEST(PitchTracker, SharesTheStreamWithAnEngineBufferWithoutDisturbingIt) {
    Tracked t;
    auto device = std::make_shared<StreamCaptureDevice>(t.stream);
    std::unique_ptr<CaptureBuffer> buffer;
    ASSERT_EQ(device->createCaptureBuffer(WaveFormat::pcm8Mono(2048), 8192, &buffer), 0);
    ASSERT_EQ(t.tracker.initialize(), 0);
    ASSERT_EQ(buffer->start(), 0);
    ASSERT_EQ(t.tracker.start(), 0);
    EXPECT_EQ(t.stream->taps(), 2u);
    t.stream->push(sine(220.0, 1.0));
    t.tracker.stop();  // the buffer goes on
    t.stream->push(sine(220.0, 1.0));
    ASSERT_EQ(buffer->stop(), 0);
    std::uint32_t capture = 0, read = 0;
    ASSERT_EQ(buffer->getCurrentPosition(&capture, &read), 0);
    // Two seconds at 2048 Hz, less what the resampler's filter still held at the stop.
    const auto* stream = dynamic_cast<StreamCaptureBuffer*>(buffer.get());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->stats().framesDropped, 0u);
    EXPECT_NEAR(static_cast<double>(stream->stats().bytesOut), 4096.0, 8.0);
    expectOnePitchThenOneNull(t.notes(), "A3");
}

}  // namespace
}  // namespace tunewick
