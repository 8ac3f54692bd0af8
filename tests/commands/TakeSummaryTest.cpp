// The picture of a take: one peak per 10 ms as hex, readings thinned and rounded, the reply's shape.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "bridge/FlashObject.h"
#include "commands/TakeSummary.h"

namespace tunewick {
namespace {

TEST(TakeSummary, OnePeakPerTenMillisecondsAsTwoHexDigits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        std::vector<float> samples;  // at 1000 Hz: ten samples a window
        std::string peaks;
    };
    const std::vector<Case> cases = {
        {"silence", std::vector<float>(20, 0.0f), "0000"},
        {"the largest magnitude counts, either sign", {0.1f, -0.5f, 0.2f, 0, 0, 0, 0, 0, 0, 0}, "80"},
        {"full scale and beyond clip to ff", {0, 0, 0, 0, 0, 0, 0, 0, 0, 1.7f, 1.0f}, "ffff"},
        {"a partial last window still shows", {0.25f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.25f, 0.5f}, "4080"},
        {"NaN is no peak", {nan, 0.1f, 0, 0, 0, 0, 0, 0, 0, 0}, "1a"},
        {"nothing", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TakeSummary take(1000.0);
        take.addSamples(c.samples.data(), c.samples.size());
        EXPECT_EQ(take.peaksHex(), c.peaks);
        EXPECT_DOUBLE_EQ(take.duration(), static_cast<double>(c.samples.size()) / 1000.0);
    }
}

TEST(TakeSummary, BlocksOfAnySizeGiveTheSamePeaks) {
    std::vector<float> samples(44100);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = 0.9f * std::sin(0.001f * static_cast<float>(i * i % 7919));
    TakeSummary whole(44100.0);
    whole.addSamples(samples.data(), samples.size());
    TakeSummary pieces(44100.0);
    for (std::size_t at = 0; at < samples.size(); at += 1000) {
        pieces.addSamples(samples.data() + at, std::min<std::size_t>(1000, samples.size() - at));
    }
    EXPECT_EQ(whole.peaksHex().size(), 200u);  // one second: a hundred peaks
    EXPECT_EQ(pieces.peaksHex(), whole.peaksHex());
}

TEST(TakeSummary, ReadingsAreThinnedAndUnusableOnesLeftOut) {
    const double inf = std::numeric_limits<double>::infinity();
    TakeSummary take(8000.0);
    const std::vector<TakeReading> offered = {
        {0.000, 110.0, "A2", 1.0},
        {0.020, 110.0, "A2", 1.0},   // too close to the one before
        {0.050, 110.0, "A2", 2.0},
        {0.100, 0.0, "A2", 0.0},     // no frequency
        {0.110, inf, "A2", 0.0},
        {0.120, 110.0, "A2", std::nan("")},
        {0.130, 110.0, "A2", 3.0},
    };
    for (const TakeReading& r : offered) take.addReading(r);
    EXPECT_EQ(take.readingCount(), 3u);
}

TEST(TakeSummary, TheReplyIsOneObjectWithRoundedNumbers) {
    TakeSummary take(100.0);
    const std::vector<float> samples = {0.5f, 0.5f};
    take.addSamples(samples.data(), samples.size());
    take.addReading({0.0123456, 110.123456, "A2", 1.87654});
    EXPECT_EQ(take.toParam().toXml(),
              "<object><property id=\"duration\"><number>0.02</number></property>"
              "<property id=\"peakStep\"><number>0.01</number></property>"
              "<property id=\"peaks\"><string>8080</string></property>"
              "<property id=\"readings\"><array><property id=\"0\"><object>"
              "<property id=\"cents\"><number>1.9</number></property>"
              "<property id=\"frequency\"><number>110.12</number></property>"
              "<property id=\"note\"><string>A2</string></property>"
              "<property id=\"time\"><number>0.012</number></property>"
              "</object></property></array></property></object>");
}

}  // namespace
}  // namespace tunewick
