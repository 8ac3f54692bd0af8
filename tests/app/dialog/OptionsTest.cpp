// The command line: defaults, every option, --help and --version, and bad command lines.
#include "app/dialog/Options.h"
#include "support/WebTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace tunewick::test {
namespace {

std::vector<const char*> argv(std::initializer_list<const char*> args) {
    std::vector<const char*> all{"tunewick"};
    all.insert(all.end(), args);
    return all;
}

ParsedOptions parse(std::initializer_list<const char*> args) {
    const auto all = argv(args);
    return parseOptions(static_cast<int>(all.size()), all.data());
}

TEST(CommandLineOptions, DefaultsAndEveryOption) {
    const ParsedOptions none = parse({});
    ASSERT_TRUE(std::holds_alternative<Options>(none));
    EXPECT_EQ(std::get<Options>(none).port, 0);
    EXPECT_TRUE(std::get<Options>(none).openBrowser);
    EXPECT_TRUE(std::get<Options>(none).inputFile.empty());
    EXPECT_FALSE(std::get<Options>(none).listDevices);
    EXPECT_TRUE(std::get<Options>(none).movies.empty());

    const ProgramDir dir;
    const std::string wav = (dir.path() / "data/sound/beep.wav").string();
    const ParsedOptions all = parse({"--port", "65535", "--no-browser", "--input", wav.c_str(), "--list-devices",
                                     "--input-device", "USB Mic", "--output-device=Speakers", "--movies",
                                     dir.path().c_str(), "--songs", dir.path().c_str()});
    ASSERT_TRUE(std::holds_alternative<Options>(all));
    const Options& options = std::get<Options>(all);
    EXPECT_EQ(options.port, 65535);
    EXPECT_FALSE(options.openBrowser);
    EXPECT_EQ(options.inputFile, wav);
    EXPECT_TRUE(options.listDevices);
    EXPECT_EQ(options.inputDevice, "USB Mic");
    EXPECT_EQ(options.outputDevice, "Speakers");
    EXPECT_EQ(options.movies, dir.path().string());
    EXPECT_EQ(options.songs, dir.path().string());
    EXPECT_TRUE(std::get<Options>(none).songs.empty());
}

TEST(CommandLineOptions, HelpAndVersionEndTheProgramSuccessfully) {
    const ParsedOptions version = parse({"--version"});
    ASSERT_TRUE(std::holds_alternative<OptionsExit>(version));
    EXPECT_EQ(std::get<OptionsExit>(version).status, 0);
    EXPECT_EQ(std::get<OptionsExit>(version).text, versionText() + "\n");
    EXPECT_EQ(versionText().rfind("tunewick ", 0), 0u);

    const ParsedOptions help = parse({"--help"});
    ASSERT_TRUE(std::holds_alternative<OptionsExit>(help));
    EXPECT_EQ(std::get<OptionsExit>(help).status, 0);
    for (const char* option : {"--port", "--no-browser", "--input", "--list-devices", "--input-device",
                               "--output-device", "--movies", "--songs", "--version"}) {
        EXPECT_NE(std::get<OptionsExit>(help).text.find(option), std::string::npos) << option;
    }
}

TEST(CommandLineOptions, BadCommandLinesExitWithStatusTwoAndSayWhy) {
    struct Case {
        std::vector<const char*> args;
        const char* mentions;
    };
    const std::vector<Case> cases{
        {{"--bogus"}, "--bogus"},
        {{"--port"}, "--port"},
        {{"--port", "70000"}, "70000"},
        {{"--port", "-1"}, "-1"},
        {{"--port", "http"}, "http"},
        {{"--input", "/nonexistent/file.wav"}, "/nonexistent/file.wav"},
        {{"stray"}, "stray"},
        {{"--movies", "/nonexistent/movies"}, "/nonexistent/movies"},
        {{"--movies"}, "--movies"},
        {{"--songs", "/nonexistent/songs"}, "/nonexistent/songs"},
        {{"--songs"}, "--songs"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> all{"tunewick"};
        all.insert(all.end(), c.args.begin(), c.args.end());
        const ParsedOptions parsed = parseOptions(static_cast<int>(all.size()), all.data());
        ASSERT_TRUE(std::holds_alternative<OptionsExit>(parsed)) << c.mentions;
        const OptionsExit& exit = std::get<OptionsExit>(parsed);
        EXPECT_EQ(exit.status, 2) << c.mentions;
        EXPECT_NE(exit.text.find(c.mentions), std::string::npos) << exit.text;
        EXPECT_EQ(exit.text.rfind("tunewick: ", 0), 0u) << exit.text;
    }
}

}  // namespace
}  // namespace tunewick::test
