// Finding the movies and the player: beside the program (a build tree), else in
// ../share/tunewick (an installed tree), and never in a folder that lacks either.
#include "app/dialog/ProgramFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace tunewick {
namespace {

namespace fs = std::filesystem;

// A throw-away tree <root>/usr/{bin,share/tunewick}; the program is <root>/usr/bin/tunewick.
class Tree {
public:
    Tree() : root_(fs::temp_directory_path() / ("tunewick-files-" + std::to_string(::getpid()) + "-" +
                                                 std::to_string(count_++))) {
        fs::create_directories(root_ / "usr/bin");
        fs::create_directories(root_ / "usr/share/tunewick");
    }
    ~Tree() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    void add(const std::string& relative) {
        const fs::path file = root_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
    }
    fs::path program() const { return root_ / "usr/bin/tunewick"; }
    std::string dir(const std::string& relative) const { return (root_ / relative).string() + "/"; }

private:
    static inline int count_ = 0;
    fs::path root_;
};

TEST(ProgramFiles, BesideTheProgramFirstThenShareAndOnlyWhereBothPartsAre) {
    const std::string bin = "usr/bin";
    const std::string share = "usr/share/tunewick";
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::optional<std::string> found;  // relative to the root
    };
    const auto complete = [](const std::string& dir) {
        return std::vector<std::string>{dir + "/data/Loader.html", dir + "/web/player/index.html"};
    };
    const auto both = [&] {
        auto files = complete(bin);
        for (auto& f : complete(share)) files.push_back(f);
        return files;
    };
    const std::vector<Case> cases{
        {"build tree", complete(bin), bin},
        {"installed tree", complete(share), share},
        {"both: beside wins", both(), bin},
        {"beside lacks the player", {bin + "/data/Loader.html", share + "/data/Loader.html",
                                     share + "/web/player/index.html"}, share},
        {"beside lacks the start movie", {bin + "/data/Menu.html", bin + "/web/player/index.html"}, std::nullopt},
        {"share lacks the player", {share + "/data/Loader.html", share + "/web/player/player.js"}, std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        Tree tree;
        for (const auto& file : c.files) tree.add(file);
        const auto found = findProgramFiles(tree.program());
        if (c.found) {
            EXPECT_EQ(found, tree.dir(*c.found)) << c.name;
        } else {
            EXPECT_EQ(found, std::nullopt) << c.name;
        }
    }
}

TEST(ProgramFiles, TheMessageNamesBothPlacesAndTheRunningProgramIsReal) {
    Tree tree;
    const std::string places = programFilesCandidates(tree.program());
    EXPECT_NE(places.find(tree.program().parent_path().string() + " and "), std::string::npos) << places;
    EXPECT_NE(places.find("usr/share/tunewick"), std::string::npos) << places;
    EXPECT_EQ(places.find(".."), std::string::npos) << places;

    const fs::path self = runningProgram();
    EXPECT_TRUE(self.is_absolute());
    EXPECT_EQ(self.filename(), "dialog_test");
    EXPECT_EQ(fs::canonical(self), self);
}

}  // namespace
}  // namespace tunewick
