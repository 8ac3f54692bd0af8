// tunewick-analyze end to end: WAV files written here with libsndfile, the tool run as a
// child process in a temporary folder, its stdout, stderr, exit status and files checked.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "PluckedStrings.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tunewick-analyze-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the tool with `args` in `dir`, which also receives its stdout and stderr files.
Outcome runTool(const fs::path& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argvStrings{TUNEWICK_ANALYZE_PATH};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    const fs::path outPath = dir / "tool.stdout";
    const fs::path errPath = dir / "tool.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (spawned != 0) return outcome;
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = readText(outPath);
    outcome.err = readText(errPath);
    return outcome;
}

// Unsigned 8-bit bytes of a sine at `hz` sampled at 2048 Hz, as a microphone delivers them.
std::vector<std::uint8_t> sineBytes(double hz, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double x = std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / 2048.0);
        bytes[i] = static_cast<std::uint8_t>(std::lround(128.0 + 63.0 * x));
    }
    return bytes;
}

// A harmonic tone (fundamental and two overtones), unsigned 8-bit at 2048 Hz.
std::vector<std::uint8_t> toneBytes(double hz, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / 2048.0;
        const double x = std::sin(2.0 * std::numbers::pi * hz * t) + 0.5 * std::sin(4.0 * std::numbers::pi * hz * t) +
                         0.3 * std::sin(6.0 * std::numbers::pi * hz * t);
        bytes[i] = static_cast<std::uint8_t>(std::lround(128.0 + 35.0 * x));
    }
    return bytes;
}

void writeU8Wav(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    SF_INFO info{};
    info.samplerate = 2048;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_write_raw(file, bytes.data(), static_cast<sf_count_t>(bytes.size())),
              static_cast<sf_count_t>(bytes.size()));
    sf_close(file);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(AnalyzeTool, TunerPrintsOneLinePerBlockAndWritesTheDiagnosticFiles) {
    TempDir dir;
    auto bytes = sineBytes(75.0, 2048);
    bytes.resize(2 * 2048, 128);  // a second of silence
    const auto sharp = sineBytes(89.0, 2048);
    bytes.insert(bytes.end(), sharp.begin(), sharp.end());
    bytes.resize(bytes.size() + 1000, 128);  // a partial block: never analysed
    writeU8Wav(dir.path / "strings.wav", bytes);

    const auto outcome = runTool(dir.path, {"--engine", "tuner", "strings.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "0 setStringTune <number>0.5</number>\n"
                           "1 setStringTune <null/>\n"
                           "2 setStringTune <number>-0.5</number>\n");
    EXPECT_EQ(readText(dir.path / "statistic.txt"),
              "targetp = 82, realp = 75, result = 0.500000\n"
              "targetp = 82, realp = 89, result = -0.500000\n");
    EXPECT_EQ(lines(readText(dir.path / "data.txt")).size(), 3U);
    EXPECT_EQ(lines(readText(dir.path / "fft.txt")).size(), 2U);
    EXPECT_EQ(lines(readText(dir.path / "log.txt")).size(), 9U);
}

TEST(AnalyzeTool, TunerTakesTheStringOption) {
    TempDir dir;
    writeU8Wav(dir.path / "a.wav", sineBytes(103.0, 2048));
    const auto outcome = runTool(dir.path, {"--engine", "tuner", "--string", "1", "a.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "0 setStringTune <number>0.5</number>\n");
}

TEST(AnalyzeTool, RecognizerPrintsOnlyTheBlocksWithATone) {
    TempDir dir;
    auto bytes = toneBytes(82.41, 1024);
    bytes.resize(2 * 1024, 128);
    const auto a = toneBytes(110.0, 1024);
    bytes.insert(bytes.end(), a.begin(), a.end());
    writeU8Wav(dir.path / "tones.wav", bytes);

    const auto outcome = runTool(dir.path, {"--engine", "recognizer", "tones.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "0 setTone <number>1</number>\n"
                           "2 setTone <number>2</number>\n");
    EXPECT_EQ(lines(readText(dir.path / "data.txt")).size(), 3U);
    EXPECT_EQ(lines(readText(dir.path / "statistic.txt")).size(), 4U);
}

TEST(AnalyzeTool, ResamplesACdQualityStereoFile) {
    TempDir dir;
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open((dir.path / "cd.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<short> frames(2 * 44100 * 2);
    for (std::size_t i = 0; i < frames.size() / 2; ++i) {
        const double x = std::sin(2.0 * std::numbers::pi * 110.0 * static_cast<double>(i) / 44100.0);
        frames[2 * i] = frames[2 * i + 1] = static_cast<short>(std::lround(12000.0 * x));
    }
    EXPECT_EQ(sf_writef_short(file, frames.data(), 2 * 44100), 2 * 44100);
    sf_close(file);

    const auto outcome = runTool(dir.path, {"--engine", "tuner", "--string", "1", "cd.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "0 setStringTune <number>0</number>\n"
                           "1 setStringTune <number>0</number>\n");
}

TEST(AnalyzeTool, BadOptionsAndUnreadableFilesExitWithTwo) {
    TempDir dir;
    writeU8Wav(dir.path / "ok.wav", sineBytes(82.0, 2048));
    {
        std::ofstream text(dir.path / "text.wav");
        text << "this is not a sound file\n";
    }
    const std::vector<std::vector<std::string>> bad{
        {"--engine", "tuner", "missing.wav"},
        {"--engine", "tuner", "text.wav"},
        {"--engine", "metronome", "ok.wav"},
        {"--engine", "tuner", "--string", "6", "ok.wav"},
        {"--engine", "tuner", "--string", "-1", "ok.wav"},
        {"--engine", "tuner"},
        {"ok.wav"},
        {"--engine", "tuner", "--frobnicate", "ok.wav"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        const auto outcome = runTool(dir.path, args);
        EXPECT_EQ(outcome.exitCode, 2) << joined;
        EXPECT_FALSE(outcome.err.empty()) << joined;
        EXPECT_EQ(outcome.out, "") << joined;
    }
    EXPECT_FALSE(fs::exists(dir.path / "data.txt"));  // nothing was analysed
    const auto missing = runTool(dir.path, {"--engine", "tuner", "missing.wav"});
    EXPECT_NE(missing.err.find("missing.wav"), std::string::npos) << missing.err;
}

// A 16-bit file at `rate` with `channels` equal channels: `lead` seconds of silence, then a
// harmonic tone at `hz` for `seconds`.
void writeToneWav(const fs::path& path, int rate, int channels, double lead, double hz, double seconds) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const auto frames = static_cast<std::size_t>((lead + seconds) * rate);
    std::vector<short> samples(frames * static_cast<std::size_t>(channels), 0);
    for (std::size_t i = static_cast<std::size_t>(lead * rate); i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double x = 0.5 * std::sin(2.0 * std::numbers::pi * hz * t) + 0.2 * std::sin(4.0 * std::numbers::pi * hz * t);
        for (int c = 0; c < channels; ++c) samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = static_cast<short>(std::lround(16000.0 * x));
    }
    EXPECT_EQ(sf_writef_short(file, samples.data(), static_cast<sf_count_t>(frames)), static_cast<sf_count_t>(frames));
    sf_close(file);
}

TEST(AnalyzeTool, PitchPrintsOneLinePerReading) {
    TempDir dir;
    writeToneWav(dir.path / "a3.wav", 44100, 2, 0.3, 220.0, 1.0);
    const auto outcome = runTool(dir.path, {"--engine", "pitch", "a3.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    const auto printed = lines(outcome.out);
    EXPECT_EQ(printed.size(), static_cast<std::size_t>(1.3 * 8192 / 256));  // a hop every 31.25 ms
    ASSERT_GE(printed.size(), 30U);
    EXPECT_EQ(printed[0], "0.0312 - - - -");
    EXPECT_EQ(printed[1], "0.0625 - - - -");
    const std::regex reading(R"(^(\d+\.\d{4}) (\d+\.\d{3}) ([A-G]#?\d) (-?\d+\.\d{2}) ([01]\.\d{3})$)");
    const std::regex none(R"(^\d+\.\d{4} - - - -$)");
    int steady = 0;
    for (const auto& line : printed) {
        std::smatch m;
        if (std::regex_match(line, m, reading)) {
            EXPECT_EQ(m[3].str(), "A3") << line;
            EXPECT_LT(std::fabs(std::stod(m[4].str())), 1.0) << line;
            EXPECT_NEAR(std::stod(m[2].str()), 220.0, 0.1) << line;
            steady += std::stod(m[1].str()) > 0.5 ? 1 : 0;
        } else {
            EXPECT_TRUE(std::regex_match(line, none)) << line;
        }
    }
    EXPECT_EQ(steady, static_cast<int>(printed.size()) - 16) << outcome.out;  // every reading after 0.5 s
}

TEST(AnalyzeTool, PitchTakesTheReferenceOption) {
    TempDir dir;
    writeToneWav(dir.path / "a4.wav", 8192, 1, 0.0, 440.0, 0.5);
    const auto outcome = runTool(dir.path, {"--engine", "pitch", "--reference", "432", "a4.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const auto printed = lines(outcome.out);
    ASSERT_EQ(printed.size(), 16U);
    EXPECT_EQ(printed.back().substr(0, 25), "0.5000 440.000 A4 31.77 0") << printed.back();
    EXPECT_GE(std::stod(printed.back().substr(24)), 0.99) << printed.back();
}

TEST(AnalyzeTool, PitchBadOptionsAndUnreadableFilesExitWithTwo) {
    TempDir dir;
    writeToneWav(dir.path / "ok.wav", 8192, 1, 0.0, 110.0, 0.2);
    {
        std::ofstream text(dir.path / "text.wav");
        text << "this is not a sound file\n";
    }
    const std::vector<std::vector<std::string>> bad{
        {"--engine", "pitch", "missing.wav"},
        {"--engine", "pitch", "text.wav"},
        {"--engine", "pitch", "--reference", "414.9", "ok.wav"},
        {"--engine", "pitch", "--reference", "467", "ok.wav"},
        {"--engine", "pitch", "--reference", "a", "ok.wav"},
        {"--engine", "pitch", "--reference"},
        {"--engine", "pitch"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        const auto outcome = runTool(dir.path, args);
        EXPECT_EQ(outcome.exitCode, 2) << joined;
        EXPECT_FALSE(outcome.err.empty()) << joined;
        EXPECT_EQ(outcome.out, "") << joined;
    }
    const auto text = runTool(dir.path, {"--engine", "pitch", "text.wav"});
    EXPECT_NE(text.err.find("text.wav"), std::string::npos) << text.err;
}

// A float WAV at the listening tests' rate holding `signal`.
void writeFloatWav(const fs::path& path, const std::vector<float>& signal) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(tunewick::testing::kListeningRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_float(file, signal.data(), static_cast<sf_count_t>(signal.size())),
              static_cast<sf_count_t>(signal.size()));
    sf_close(file);
}

std::vector<float> seconds(double length) {
    return std::vector<float>(static_cast<std::size_t>(length * tunewick::testing::kListeningRate), 0.0f);
}

struct ChordLine {
    double at;
    std::string name;
};

TEST(AnalyzeTool, ChordPrintsOneLinePerStrum) {
    TempDir dir;
    auto signal = seconds(5.0);
    tunewick::testing::addStrum(signal, 0.5, {48, 52, 55, 60, 64});
    tunewick::testing::addStrum(signal, 2.0, {48, 52, 55, 59, 64});
    tunewick::testing::addStrum(signal, 3.5, {40, 47, 52});
    writeFloatWav(dir.path / "strums.wav", signal);
    const auto outcome = runTool(dir.path, {"--engine", "chord", "strums.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::vector<ChordLine> expected{{0.5, "C"}, {2.0, "Cmaj7"}, {3.5, "E5"}};
    const auto printed = lines(outcome.out);
    ASSERT_EQ(printed.size(), expected.size()) << outcome.out;
    const std::regex line(R"(^(\d+\.\d{4}) (\S+) ((\d+,)+\d+)$)");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(printed[i], m, line)) << printed[i];
        EXPECT_NEAR(std::stod(m[1].str()), expected[i].at, 0.01) << printed[i];
        EXPECT_EQ(m[2].str(), expected[i].name) << printed[i];
    }
}

struct CheckLine {
    std::string due;
    int midi;
    std::string verdict;
    double offsetMs;  // NaN: "-"
};

TEST(AnalyzeTool, CheckJudgesEachExpectedNote) {
    TempDir dir;
    auto signal = seconds(5.0);
    tunewick::testing::addStrum(signal, 1.05, {45, 52, 57, 61, 64});   // A major, 50 ms late
    tunewick::testing::addStrum(signal, 2.5, {52, 57, 61, 64});        // the A string muted
    tunewick::testing::addStrum(signal, 3.98, {45, 52, 57, 62, 64});   // the B string a fret high, 20 ms early
    writeFloatWav(dir.path / "take.wav", signal);
    {
        std::ofstream expect(dir.path / "expect.tsv");
        expect << "# due\tnotes\n1.0\t45,52,57,61,64\n\n2.5\t45,52,57,61,64\n4.0\t45,52,57,61,64\n";
    }
    const auto outcome = runTool(dir.path, {"--engine", "check", "--expect", "expect.tsv", "take.wav"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const double none = std::nan("");
    const std::vector<CheckLine> expected{
        {"1.000", 45, "heard", 50.0}, {"1.000", 52, "heard", 50.0}, {"1.000", 57, "heard", 50.0},
        {"1.000", 61, "heard", 50.0}, {"1.000", 64, "heard", 50.0},
        {"2.500", 45, "missing", none}, {"2.500", 52, "heard", 0.0}, {"2.500", 57, "heard", 0.0},
        {"2.500", 61, "heard", 0.0}, {"2.500", 64, "heard", 0.0},
        {"4.000", 45, "heard", -20.0}, {"4.000", 52, "heard", -20.0}, {"4.000", 57, "heard", -20.0},
        {"4.000", 61, "missing", none}, {"4.000", 64, "heard", -20.0}, {"4.000", 62, "extra", none},
    };
    const auto printed = lines(outcome.out);
    ASSERT_EQ(printed.size(), expected.size()) << outcome.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::istringstream fields(printed[i]);
        std::string due, verdict, offset;
        int midi = 0;
        fields >> due >> midi >> verdict >> offset;
        EXPECT_EQ(due, expected[i].due) << printed[i];
        EXPECT_EQ(midi, expected[i].midi) << printed[i];
        EXPECT_EQ(verdict, expected[i].verdict) << printed[i];
        if (std::isnan(expected[i].offsetMs)) {
            EXPECT_EQ(offset, "-") << printed[i];
        } else {
            EXPECT_TRUE(std::regex_match(offset, std::regex(R"(^-?\d+\.\d$)"))) << printed[i];
            EXPECT_NEAR(std::stod(offset), expected[i].offsetMs, 5.0) << printed[i];
        }
    }
}

struct BadExpect {
    std::string content;
    std::string where;  // what the message must name
};

TEST(AnalyzeTool, CheckBadExpectFilesExitWithTwoNamingTheLine) {
    TempDir dir;
    auto signal = seconds(1.0);
    tunewick::testing::addStrum(signal, 0.3, {45, 52, 57});
    writeFloatWav(dir.path / "take.wav", signal);
    const std::vector<BadExpect> cases{
        {"0.3 45,52\n", "bad.tsv:1:"},                    // no tab
        {"# fine\n0.3\t45,x\n", "bad.tsv:2:"},           // not a number
        {"0.3\t45\n\nsoon\t45\n", "bad.tsv:3:"},        // the due time
        {"0.3\t\n", "bad.tsv:1:"},                       // no notes
        {"-0.5\t45\n", "bad.tsv:1:"},                    // before the file
        {"0.3\t45,,52\n", "bad.tsv:1:"},
        {"0.3\t45,200\n", "bad.tsv:1:"},                 // outside the guitar
    };
    for (const auto& c : cases) {
        {
            std::ofstream bad(dir.path / "bad.tsv");
            bad << c.content;
        }
        const auto outcome = runTool(dir.path, {"--engine", "check", "--expect", "bad.tsv", "take.wav"});
        EXPECT_EQ(outcome.exitCode, 2) << c.content;
        EXPECT_NE(outcome.err.find(c.where), std::string::npos) << c.content << outcome.err;
        EXPECT_EQ(outcome.out, "") << c.content;
    }
    const std::vector<std::vector<std::string>> bad{
        {"--engine", "check", "take.wav"},
        {"--engine", "check", "--expect", "absent.tsv", "take.wav"},
        {"--engine", "check", "--expect", "bad.tsv", "absent.wav"},
        {"--engine", "chord", "absent.wav"},
        {"--engine", "chord"},
    };
    for (const auto& args : bad) {
        const auto outcome = runTool(dir.path, args);
        EXPECT_EQ(outcome.exitCode, 2) << args.back();
        EXPECT_FALSE(outcome.err.empty()) << args.back();
        EXPECT_EQ(outcome.out, "") << args.back();
    }
}

}  // namespace
