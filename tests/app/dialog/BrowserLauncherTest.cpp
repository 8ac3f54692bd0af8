// Which browser opens the player, how it is started, and the clean-up of its profile.
#include "app/dialog/BrowserLauncher.h"
#include "support/WebTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace tunewick::test {
namespace {

namespace fs = std::filesystem;

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
