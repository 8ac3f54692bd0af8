// The pieces around the web control: token, request policy, path and URL mapping, the
// command line and the browser launch.
#include "WebTestSupport.h"

#include "app/BrowserLauncher.h"
#include "app/Options.h"
#include "app/RequestPolicy.h"
#include "app/StaticFiles.h"
#include "app/Token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace tunewick::test {
namespace {

namespace fs = std::filesystem;

TEST(SessionToken, IsThirtyTwoHexCharactersAndNewEachTime) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string token = makeToken();
        ASSERT_EQ(token.size(), 32u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_TRUE(tokensEqual("0123abcd", "0123abcd"));
    EXPECT_FALSE(tokensEqual("0123abcd", "0123abce"));
    EXPECT_FALSE(tokensEqual("0123abcd", "0123abc"));
    EXPECT_FALSE(tokensEqual("", "0"));
}

TEST(RequestPolicy, FindsQueryParameters) {
    EXPECT_EQ(queryValue("/bridge?token=abc", "token"), "abc");
    EXPECT_EQ(queryValue("/bridge?x=1&token=abc&token=def", "token"), "abc");
    EXPECT_EQ(queryValue("/bridge?token=abc#frag", "token"), "abc");
    EXPECT_EQ(queryValue("/bridge?token", "token"), "");
    EXPECT_EQ(queryValue("/bridge?xtoken=abc", "token"), std::nullopt);
    EXPECT_EQ(queryValue("/bridge", "token"), std::nullopt);
    EXPECT_EQ(targetPath("/bridge?token=abc"), "/bridge");
}

TEST(StaticFiles, DecodesOnceAndRejectsBrokenEscapes) {
    EXPECT_EQ(percentDecode("/a%20b"), "/a b");
    EXPECT_EQ(percentDecode("%2e%2E"), "..");
    EXPECT_EQ(percentDecode("%252e"), "%2e");  // once only
    EXPECT_EQ(percentDecode("%"), std::nullopt);
    EXPECT_EQ(percentDecode("%4"), std::nullopt);
    EXPECT_EQ(percentDecode("ab%"), std::nullopt);
    EXPECT_EQ(percentDecode("%g0"), std::nullopt);
    EXPECT_EQ(percentEncodeSegment("Page One+ü.html"), "Page%20One%2B%C3%BC.html");
}

TEST(StaticFiles, MovieFilesMapToMovieUrls) {
    const fs::path program = "/opt/tunewick/";
    EXPECT_EQ(movieUrl(program, "/opt/tunewick/data/Loader.html"), "/movies/Loader.html");
    EXPECT_EQ(movieUrl("/opt/tunewick", "/opt/tunewick/data/Loader.html"), "/movies/Loader.html");
    EXPECT_EQ(movieUrl(program, "/opt/tunewick/data/pages/Tuner Page.html"), "/movies/pages/Tuner%20Page.html");
    EXPECT_EQ(movieUrl(program, "data/Loader.html"), "/movies/Loader.html");
    EXPECT_EQ(movieUrl(program, "/opt/tunewick/data/../data/Menu.html"), "/movies/Menu.html");
    EXPECT_EQ(movieUrl("", "data/Loader.html"), "/movies/Loader.html");
    EXPECT_EQ(movieUrl(program, "/opt/tunewick/data/../secret.txt"), std::nullopt);
    EXPECT_EQ(movieUrl(program, "/opt/tunewick/data"), std::nullopt);
    EXPECT_EQ(movieUrl(program, "/etc/passwd"), std::nullopt);
    EXPECT_EQ(movieUrl(program, "/opt/tunewick/database/x.html"), std::nullopt);
}

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

    const ProgramDir dir;
    const std::string wav = (dir.path() / "data/sound/beep.wav").string();
    const ParsedOptions all = parse({"--port", "65535", "--no-browser", "--input", wav.c_str(), "--list-devices",
                                     "--input-device", "USB Mic", "--output-device=Speakers"});
    ASSERT_TRUE(std::holds_alternative<Options>(all));
    const Options& options = std::get<Options>(all);
    EXPECT_EQ(options.port, 65535);
    EXPECT_FALSE(options.openBrowser);
    EXPECT_EQ(options.inputFile, wav);
    EXPECT_TRUE(options.listDevices);
    EXPECT_EQ(options.inputDevice, "USB Mic");
    EXPECT_EQ(options.outputDevice, "Speakers");
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
                               "--output-device", "--version"}) {
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

TEST(BrowserLauncher, ChoosesChromiumAppModeThenTheDefaultBrowser) {
    const std::string url = "http://127.0.0.1:1234/?token=abc";
    BrowserEnvironment environment;
    EXPECT_EQ(browserCommand(url, environment, "/tmp/p"), std::nullopt);  // no display

    environment.hasDisplay = true;
    environment.chromium = "/usr/bin/chromium";
    auto chromium = browserCommand(url, environment, "/tmp/p");
    ASSERT_TRUE(chromium);
    EXPECT_EQ(chromium->program, "/usr/bin/chromium");
    EXPECT_FALSE(chromium->searchPath);
    const auto& args = chromium->arguments;
    ASSERT_FALSE(args.empty());
    EXPECT_EQ(args[0], "/usr/bin/chromium");
    EXPECT_NE(std::find(args.begin(), args.end(), "--app=" + url), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "--user-data-dir=/tmp/p"), args.end());
    EXPECT_EQ(std::find(args.begin(), args.end(), "--no-sandbox"), args.end());
    environment.runningAsRoot = true;
    chromium = browserCommand(url, environment, "/tmp/p");
    EXPECT_NE(std::find(chromium->arguments.begin(), chromium->arguments.end(), "--no-sandbox"),
              chromium->arguments.end());

    environment.chromium.clear();
    const auto opener = browserCommand(url, environment, "");
    ASSERT_TRUE(opener);
    EXPECT_EQ(opener->program, "xdg-open");
    EXPECT_TRUE(opener->searchPath);
    EXPECT_EQ(opener->arguments, (std::vector<std::string>{"xdg-open", url}));
}

TEST(BrowserLauncher, StartsTheProgramWithoutWaitingAndClearsItsProfile) {
    // A stand-in browser that ends at once shows the start and the clean-up, not a window.
    BrowserEnvironment environment;
    environment.hasDisplay = true;
    environment.chromium = "/bin/true";
    fs::path profile;
    {
        BrowserLauncher launcher(environment);
        ASSERT_TRUE(launcher.open("http://127.0.0.1:1/?token=t"));
        EXPECT_GT(launcher.child(), 0);
        profile = launcher.profileDir();
        EXPECT_TRUE(fs::is_directory(profile));
        EXPECT_FALSE(launcher.open("http://127.0.0.1:1/?token=t"));  // once only
        // Let the stand-in end, then the launcher's clean-up collects it.
        for (int i = 0; i < 250; ++i) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(launcher.child()), &info, WEXITED | WNOWAIT | WNOHANG) != 0 ||
                info.si_pid != 0) {
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
    }
    EXPECT_FALSE(fs::exists(profile));

    // Without a display, or when nothing starts, it only says so, naming the URL.
    environment.chromium = "/nonexistent/chromium";
    for (const bool display : {false, true}) {
        environment.hasDisplay = display;
        BrowserLauncher failing(environment);
        std::FILE* notes = std::tmpfile();
        ASSERT_NE(notes, nullptr);
        EXPECT_FALSE(failing.open("http://127.0.0.1:1/?token=t", notes));
        EXPECT_EQ(failing.child(), -1);
        std::rewind(notes);
        char line[256] = {};
        ASSERT_NE(std::fgets(line, sizeof line, notes), nullptr);
        EXPECT_NE(std::string(line).find("http://127.0.0.1:1/?token=t"), std::string::npos);
        std::fclose(notes);
    }
}

}  // namespace
}  // namespace tunewick::test
