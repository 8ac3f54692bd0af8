#include "audio/capture/WavFileCaptureDevice.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <numbers>

#include "support/EngineTestSupport.h"
#include "audio/capture/CaptureEngine.h"
#include "audio/Status.h"

namespace tunewick {
namespace {

using test::eventually;
using test::pattern;
using test::TestEngine;
using test::TempDir;
using Mode = WavFileCaptureDevice::Mode;

// Writes a WAV file with libsndfile: interleaved frames, in the given sub-format.
void writeWav(const std::string& path, int rate, int channels, int subformat,
              const std::vector<double>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subformat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    EXPECT_EQ(sf_writef_double(file, interleaved.data(), frames), frames);
    sf_close(file);
}

void writeRawU8(const std::string& path, int rate, const std::vector<std::uint8_t>& bytes) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_write_raw(file, bytes.data(), static_cast<sf_count_t>(bytes.size())),
              static_cast<sf_count_t>(bytes.size()));
    sf_close(file);
}

std::vector<double> sine(double hz, int rate, double seconds, double amplitude, int channels,
                         double rightSign = 1.0) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<double> out;
    for (std::size_t i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
        out.push_back(v);
        if (channels == 2) out.push_back(rightSign * v);
    }
    return out;
}

// Upward crossings of the silence line, per second.
double frequencyOf(const std::vector<std::uint8_t>& bytes, std::uint32_t rate) {
    int crossings = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        if (bytes[i - 1] < 128 && bytes[i] >= 128) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

double rmsAroundSilence(const std::vector<std::uint8_t>& bytes, std::size_t skip) {
    double sum = 0.0;
    for (std::size_t i = skip; i + skip < bytes.size(); ++i) sum += (bytes[i] - 128.0) * (bytes[i] - 128.0);
    return std::sqrt(sum / static_cast<double>(bytes.size() - 2 * skip));
}

TEST(WavFileCaptureDeviceTest, AnEightBitFileAtTheEnginesRateIsUsedByteForByte) {
    TempDir dir;
    std::vector<std::uint8_t> bytes(5000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 % 256);
    writeRawU8(dir.file("u8.wav"), 2048, bytes);

    std::string error;
    auto device = WavFileCaptureDevice::open(dir.file("u8.wav"), Mode::stepped, &error);
    ASSERT_TRUE(device) << error;
    EXPECT_EQ(device->fileSampleRate(), 2048u);
    EXPECT_EQ(device->fileChannels(), 1);
    EXPECT_EQ(device->totalBytes(2048), 5000u);
    EXPECT_EQ(*device->bytesAt(2048), bytes);

    // Through an engine, stepping block by block as tunewick-analyze does: every whole block
    // once, in order.
    RecordingReporter reporter;
    TestEngine engine(CaptureConfig::recognizer(), device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);
    ASSERT_EQ(engine.start(), status::kOk);
    EXPECT_EQ(device->totalBytes(), 5000u);
    while (device->advance(1024) == 1024) engine.processBlock();
    EXPECT_EQ(device->delivered(), 5000u);
    EXPECT_EQ(device->advance(1024), 0u);  // the end: the file is not looped in this mode
    engine.stop();
    EXPECT_EQ(engine.bytes(), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4096));
    EXPECT_TRUE(reporter.reports().empty());

    // Another format at the same rate is only quantised: 16-bit values that are whole
    // multiples of 1/128 land on exact bytes.
    const std::vector<double> values{0.0, 0.5, -0.5, -1.0, 127.0 / 128, 1.0 / 128};
    writeWav(dir.file("s16.wav"), 2048, 1, SF_FORMAT_PCM_16, values);
    auto s16 = WavFileCaptureDevice::open(dir.file("s16.wav"), Mode::stepped);
    ASSERT_TRUE(s16);
    EXPECT_EQ(*s16->bytesAt(2048), (std::vector<std::uint8_t>{128, 192, 64, 0, 255, 129}));
}

TEST(WavFileCaptureDeviceTest, ResamplingKeepsTheFrequencyAndMixesTheChannels) {
    TempDir dir;
    writeWav(dir.file("stereo.wav"), 44100, 2, SF_FORMAT_PCM_16,
             sine(196.0, 44100, 2.0, 0.5, 2));
    auto device = WavFileCaptureDevice::open(dir.file("stereo.wav"), Mode::stepped);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->fileChannels(), 2);
    const auto bytes = *device->bytesAt(2048);
    EXPECT_NEAR(static_cast<double>(bytes.size()), 4096.0, 2.0);
    EXPECT_NEAR(frequencyOf(bytes, 2048), 196.0, 1.0);
    // A sine of amplitude 0.5 is 64 steps: its RMS is 64 / sqrt(2).
    EXPECT_NEAR(rmsAroundSilence(bytes, 100), 64.0 / std::sqrt(2.0), 2.0);

    // Channels in opposite phase mix to silence: averaged, not taken from one channel.
    writeWav(dir.file("opposed.wav"), 44100, 2, SF_FORMAT_PCM_16,
             sine(196.0, 44100, 1.0, 0.5, 2, -1.0));
    auto opposed = WavFileCaptureDevice::open(dir.file("opposed.wav"), Mode::stepped);
    ASSERT_TRUE(opposed);
    EXPECT_LT(rmsAroundSilence(*opposed->bytesAt(2048), 100), 1.0);
}

TEST(WavFileCaptureDeviceTest, SoundAboveTheNewNyquistFrequencyDoesNotFoldIn) {
    TempDir dir;
    // 1500 Hz would fold to 548 Hz at 2048 Hz without the anti-aliasing filter.
    writeWav(dir.file("high.wav"), 44100, 1, SF_FORMAT_FLOAT, sine(1500.0, 44100, 1.0, 0.8, 1));
    auto device = WavFileCaptureDevice::open(dir.file("high.wav"), Mode::stepped);
    ASSERT_TRUE(device);
    EXPECT_LT(rmsAroundSilence(*device->bytesAt(2048), 200), 1.0);
    // At 44100 (the recorder's rate) the tone is kept.
    EXPECT_NEAR(frequencyOf(*device->bytesAt(44100), 44100), 1500.0, 5.0);
}

TEST(WavFileCaptureDeviceTest, SteppedNotificationsFireAsCapturePassesThem) {
    TempDir dir;
    writeRawU8(dir.file("u8.wav"), 2048, pattern(3000));
    auto device = WavFileCaptureDevice::open(dir.file("u8.wav"), Mode::stepped);
    ASSERT_TRUE(device);
    std::unique_ptr<CaptureBuffer> buffer;
    const WaveFormat stereo16{1, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(device->createCaptureBuffer(stereo16, 4096, &buffer), status::kInvalidArg);
    ASSERT_EQ(device->createCaptureBuffer(WaveFormat::pcm8Mono(2048), 2048, &buffer), status::kOk);
    auto event = std::make_shared<NotificationEvent>();
    ASSERT_EQ(buffer->setNotificationPositions({1023, 2047}, event), status::kOk);

    EXPECT_EQ(device->advance(100), 0u);  // not capturing yet
    ASSERT_EQ(buffer->start(), status::kOk);
    EXPECT_EQ(device->advance(1023), 1023u);
    EXPECT_FALSE(event->waitFor(std::chrono::milliseconds(0)));
    EXPECT_EQ(device->advance(1), 1u);  // the last byte of the first block
    EXPECT_TRUE(event->waitFor(std::chrono::milliseconds(0)));
    EXPECT_EQ(device->advance(1500), 1500u);  // passes 2047 and wraps
    EXPECT_TRUE(event->waitFor(std::chrono::milliseconds(0)));
    std::uint32_t capture = 0;
    std::uint32_t read = 0;
    ASSERT_EQ(buffer->getCurrentPosition(&capture, &read), status::kOk);
    EXPECT_EQ(read, (1024u + 1500u) % 2048u);
    EXPECT_EQ(device->advance(1000), 476u);  // only what is left of the file
    EXPECT_EQ(device->delivered(), 3000u);
    ASSERT_EQ(buffer->stop(), status::kOk);
}

TEST(WavFileCaptureDeviceTest, RealTimeDeliversAtTheRateAndLoops) {
    TempDir dir;
    writeRawU8(dir.file("short.wav"), 2048, pattern(100));
    auto device = WavFileCaptureDevice::open(dir.file("short.wav"), Mode::realTime);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->advance(10), 0u);  // stepping is for the stepped mode only

    RecordingReporter reporter;
    // 16 blocks of 64 bytes at 2048 Hz: a notification every 31 ms.
    TestEngine engine(CaptureConfig{2048, 64, 16}, device->factory(), reporter);
    ASSERT_EQ(engine.initialize(), status::kOk);
    ASSERT_EQ(engine.start(), status::kOk);
    ASSERT_TRUE(eventually([&] { return engine.bytes().size() >= 320; }));
    engine.stop();
    const auto bytes = engine.bytes();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_EQ(bytes[i], i % 100) << "at " << i;  // the file, again and again
    }
    EXPECT_TRUE(reporter.reports().empty());
}

TEST(WavFileCaptureDeviceTest, UnreadableFilesGiveAReason) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(WavFileCaptureDevice::open(dir.file("absent.wav"), Mode::stepped, &error));
    EXPECT_NE(error.find("absent.wav"), std::string::npos) << error;

    {
        std::ofstream text(dir.file("text.wav"));
        text << "this is not a sound file\n";
    }
    error.clear();
    EXPECT_FALSE(WavFileCaptureDevice::open(dir.file("text.wav"), Mode::realTime, &error));
    EXPECT_NE(error.find("text.wav"), std::string::npos) << error;
    EXPECT_FALSE(WavFileCaptureDevice::open(dir.file("text.wav"), Mode::stepped));  // no error out
}

}  // namespace
}  // namespace tunewick
