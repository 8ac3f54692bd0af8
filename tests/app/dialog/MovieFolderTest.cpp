// Which folder of movies is played and which movie starts it.
#include "app/dialog/MovieFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace tunewick::test {
namespace {

namespace fs = std::filesystem;

class MovieFolderTest : public ::testing::Test {
protected:
    MovieFolderTest() {
        root = fs::temp_directory_path() / ("tunewick-movies-" + std::to_string(::getpid()));
        fs::create_directories(root);
    }
    ~MovieFolderTest() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    fs::path folderWith(const std::string& name, const std::vector<std::string>& files) {
        const fs::path folder = root / name;
        fs::create_directories(folder);
        for (const std::string& file : files) std::ofstream(folder / file) << "movie";
        return folder;
    }
    fs::path root;
};

TEST_F(MovieFolderTest, LoaderSwfStartsWhenTheFolderHasOneElseLoaderHtml) {
    const fs::path own = folderWith("data", {"Loader.html", "Menu.html"});
    struct Case {
        const char* what;
        std::string option;
        fs::path folder;
        const char* start;
    };
    const std::vector<Case> cases{
        {"the program's own movies", "", own, "Loader.html"},
        {"a set of Flash movies", folderWith("flash", {"Loader.swf", "Menu.swf"}).string(), root / "flash", "Loader.swf"},
        {"both kinds: the SWF wins", folderWith("both", {"Loader.swf", "Loader.html"}).string(), root / "both", "Loader.swf"},
        {"no start movie at all", folderWith("empty", {}).string(), root / "empty", "Loader.html"},
        {"a trailing slash", (root / "flash").string() + "/", root / "flash", "Loader.swf"},
        {"a folder named Loader.swf is no movie", folderWith("odd", {}).string(), root / "odd", "Loader.html"},
    };
    fs::create_directories(root / "odd" / "Loader.swf");
    for (const Case& c : cases) {
        const MovieFolder chosen = chooseMovieFolder(c.option, own);
        EXPECT_EQ(chosen.folder, c.folder) << c.what;
        EXPECT_EQ(chosen.startMovie, c.folder / c.start) << c.what;
    }
}

TEST_F(MovieFolderTest, ARelativeFolderIsTakenFromTheCurrentFolder) {
    folderWith("rel", {"Loader.swf"});
    const fs::path before = fs::current_path();
    fs::current_path(root);
    const MovieFolder chosen = chooseMovieFolder("rel/./", root / "data");
    fs::current_path(before);
    EXPECT_TRUE(chosen.folder.is_absolute());
    EXPECT_EQ(chosen.folder, root / "rel");
    EXPECT_EQ(chosen.startMovie, root / "rel" / "Loader.swf");
}

}  // namespace
}  // namespace tunewick::test
