#include "audio/recording/WaveFileWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <filesystem>

#include "support/EngineTestSupport.h"
#include "audio/Status.h"

namespace tunewick {
namespace {

using test::le16;
using test::le32;
using test::pattern;
using test::readFile;
using test::tag;
using test::TempDir;

const WaveFormat kRecorderFormat = WaveFormat::pcm8Mono(44100);

// Writes `data` in one go into a fresh file and closes it; the file's bytes.
std::vector<std::uint8_t> record(const std::string& path, const std::vector<std::uint8_t>& data) {
    WaveFileWriter writer(path);
    EXPECT_EQ(writer.open(kRecorderFormat), status::kOk);
    std::uint32_t written = 0;
    const std::uint8_t none = 0;  // a valid pointer also when there is nothing to write
    EXPECT_EQ(writer.write(static_cast<std::uint32_t>(data.size()),
                           data.empty() ? &none : data.data(), &written),
              status::kOk);
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(writer.close(), status::kOk);
    return readFile(path);
}

void expectHeader(const std::vector<std::uint8_t>& file, std::uint32_t n) {
    const std::uint32_t pad = n % 2;
    ASSERT_EQ(file.size(), 56u + n + pad);
    EXPECT_EQ(tag(file, 0), "RIFF");
    EXPECT_EQ(le32(file, 4), 48u + n + pad);
    EXPECT_EQ(tag(file, 8), "WAVE");
    EXPECT_EQ(tag(file, 12), "fmt ");
    EXPECT_EQ(le32(file, 16), 16u);
    EXPECT_EQ(le16(file, 20), 1u);       // PCM
    EXPECT_EQ(le16(file, 22), 1u);       // mono
    EXPECT_EQ(le32(file, 24), 44100u);   // samples per second
    EXPECT_EQ(le32(file, 28), 44100u);   // bytes per second
    EXPECT_EQ(le16(file, 32), 1u);       // alignment
    EXPECT_EQ(le16(file, 34), 8u);       // bits
    EXPECT_EQ(tag(file, 36), "fact");
    EXPECT_EQ(le32(file, 40), 4u);
    EXPECT_EQ(le32(file, 44), 0u);       // the count is 0 in a closed file
    EXPECT_EQ(tag(file, 48), "data");
    EXPECT_EQ(le32(file, 52), n);
    if (pad != 0) {
        EXPECT_EQ(file.back(), 0u);
    }
}

TEST(WaveFileWriterTest, LayoutOfClosedFilesAndLibsndfileReadsThem) {
    TempDir dir;
    for (std::uint32_t n : {0u, 1u, 44100u, 44101u}) {
        SCOPED_TRACE(n);
        const auto data = pattern(n, 3);
        const auto file = record(dir.file("r.wav"), data);
        expectHeader(file, n);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 56));
        if (n == 0) continue;

        SF_INFO info{};
        SNDFILE* sf = sf_open(dir.file("r.wav").c_str(), SFM_READ, &info);
        ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.frames, n);
        EXPECT_EQ(info.samplerate, 44100);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
        std::vector<std::uint8_t> back(n + 10);
        EXPECT_EQ(sf_read_raw(sf, back.data(), static_cast<sf_count_t>(back.size())), n);
        back.resize(n);
        EXPECT_EQ(back, data);
        sf_close(sf);
    }
}

TEST(WaveFileWriterTest, ManySmallWritesKeepTheirOrderAcrossBufferFlushes) {
    TempDir dir;
    WaveFileWriter writer(dir.file("r.wav"));
    ASSERT_EQ(writer.open(kRecorderFormat), status::kOk);
    const auto data = pattern(100003);
    for (std::size_t at = 0; at < data.size(); at += 7) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(7, data.size() - at));
        std::uint32_t written = 0;
        ASSERT_EQ(writer.write(piece, data.data() + at, &written), status::kOk);
        ASSERT_EQ(written, piece);
    }
    EXPECT_EQ(writer.dataBytes(), 100003u);
    // While writing, the count of the "fact" chunk says "unknown".
    const auto partial = readFile(dir.file("r.wav"));
    ASSERT_GE(partial.size(), 56u);
    EXPECT_EQ(le32(partial, 44), 0xFFFFFFFFu);
    ASSERT_EQ(writer.close(), status::kOk);
    const auto file = readFile(dir.file("r.wav"));
    expectHeader(file, 100003);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 56));
}

TEST(WaveFileWriterTest, RefusalsOfClosedWritersAndMissingArguments) {
    TempDir dir;
    WaveFileWriter never(dir.file("never.wav"));
    std::uint32_t written = 5;
    const std::uint8_t byte = 1;
    EXPECT_EQ(never.write(1, &byte, &written), status::kNotInitialized);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(never.close(), status::kNotInitialized);
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.wav")));

    WaveFileWriter writer(dir.file("r.wav"));
    ASSERT_EQ(writer.open(kRecorderFormat), status::kOk);
    written = 77;
    EXPECT_EQ(writer.write(4, nullptr, &written), status::kInvalidArg);
    EXPECT_EQ(written, 77u);  // refused before the count is touched
    EXPECT_EQ(writer.write(1, &byte, nullptr), status::kInvalidArg);
    ASSERT_EQ(writer.write(3, pattern(3).data(), &written), status::kOk);
    ASSERT_EQ(writer.close(), status::kOk);
    const auto finished = readFile(dir.file("r.wav"));
    EXPECT_EQ(writer.close(), status::kNotInitialized);
    EXPECT_EQ(writer.write(1, &byte, &written), status::kNotInitialized);
    EXPECT_EQ(readFile(dir.file("r.wav")), finished);
}

TEST(WaveFileWriterTest, OpenFailsWithoutTheFolderAndTruncatesAnExistingFile) {
    TempDir dir;
    WaveFileWriter missing(dir.file("no/such/folder.wav"));
    EXPECT_EQ(missing.open(kRecorderFormat), status::kFail);
    EXPECT_FALSE(missing.isOpen());
    std::uint32_t written = 0;
    EXPECT_EQ(missing.write(1, pattern(1).data(), &written), status::kNotInitialized);

    record(dir.file("r.wav"), pattern(50000));
    EXPECT_EQ(record(dir.file("r.wav"), pattern(2)).size(), 58u);
}

TEST(WaveFileWriterTest, DefaultPathIsRelativeToTheCurrentFolder) {
    EXPECT_STREQ(WaveFileWriter::kDefaultPath, "data/sound/recording.wav");
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    {
        WaveFileWriter noFolder;
        EXPECT_EQ(noFolder.open(kRecorderFormat), status::kFail);
        std::filesystem::create_directories("data/sound");
        WaveFileWriter writer;
        EXPECT_EQ(writer.open(kRecorderFormat), status::kOk);
        EXPECT_EQ(writer.close(), status::kOk);
    }
    std::filesystem::current_path(previous);
    expectHeader(readFile(dir.file("data/sound/recording.wav")), 0);
}

TEST(WaveFileWriterTest, AFullDiskIsAStatusNotACrash) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    WaveFileWriter writer("/dev/full");
    ASSERT_EQ(writer.open(kRecorderFormat), status::kOk);
    const auto data = pattern(100000);
    std::uint32_t written = 0;
    EXPECT_EQ(writer.write(100000, data.data(), &written), status::kFail);
    EXPECT_LT(written, 100000u);
    EXPECT_EQ(writer.close(), status::kFail);
    EXPECT_TRUE(writer.isOpen());  // unfinished; the destructor lets the handle go
}

}  // namespace
}  // namespace tunewick
