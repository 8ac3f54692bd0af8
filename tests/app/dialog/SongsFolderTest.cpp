// Where the songs folder is: from the environment, or the folder given on the command line.
#include "app/dialog/SongsFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tunewick::test {
namespace {

namespace fs = std::filesystem;

TEST(SongsFolder, DefaultFollowsXdgDataHomeThenHome) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/data", "/home/me", "/data/tunewick/songs"},
        {nullptr, "/home/me", "/home/me/.local/share/tunewick/songs"},
        {"relative/path", "/home/me", "/home/me/.local/share/tunewick/songs"},  // not absolute: ignored
        {"", "/home/me", "/home/me/.local/share/tunewick/songs"},
        {nullptr, nullptr, ""},
        {nullptr, "home", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(defaultSongsFolder(c.xdg, c.home), fs::path(c.expected))
            << (c.xdg ? c.xdg : "(none)") << " / " << (c.home ? c.home : "(none)");
    }
}

TEST(SongsFolder, TheDefaultIsMadeAndAGivenFolderIsTakenAsAbsolute) {
    std::string pattern = (fs::temp_directory_path() / "tunewick-songsfolder-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path root = pattern;
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before ? before : "";
    ::setenv("XDG_DATA_HOME", root.c_str(), 1);
    const fs::path made = chooseSongsFolder("");
    if (before) {
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
    EXPECT_EQ(made, root / "tunewick" / "songs");
    EXPECT_TRUE(fs::is_directory(made));

    const fs::path given = chooseSongsFolder(root.string());
    EXPECT_EQ(given, root);
    EXPECT_TRUE(chooseSongsFolder("relative/songs").is_absolute());
    EXPECT_FALSE(fs::exists(fs::current_path() / "relative"));  // a given folder is never made
    fs::remove_all(root);
}

}  // namespace
}  // namespace tunewick::test
