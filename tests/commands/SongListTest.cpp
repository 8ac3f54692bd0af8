// The songs folder's listing: which files count as songs, how deep it looks, what it leaves
// out, and the URLs it gives them.
#include "commands/SongList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bridge/FlashObject.h"
#include "bridge/Param.h"

namespace tunewick::test {
namespace {

namespace fs = std::filesystem;

class SongListTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tunewick-songs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        folder_ = root_ / "songs";
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(root_); }

    void put(const fs::path& relative, const std::string& content = "x") {
        const fs::path file = folder_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const SongFile& song : listSongFiles(folder_)) out.push_back(song.name);
        return out;
    }

    fs::path root_;
    fs::path folder_;
};

TEST(SongFileTypes, KnownExtensionsInAnyCase) {
    const std::vector<std::pair<const char*, bool>> cases{
        {"a.gp3", true},  {"a.GP4", true},      {"a.gp5", true},     {"a.gpx", true},  {"a.gp", true},
        {"a.xml", true},  {"a.musicxml", true}, {"a.MXL", true},     {"a.alphatex", true},
        {"a.tex", true},  {"a.ATEX", true},  {"a.gp6", false},     {"a.pdf", false},    {"gp5", false},   {"a.gp5.bak", false},
        {"a", false},
    };
    for (const auto& [name, song] : cases) EXPECT_EQ(isSongFile(name), song) << name;
}

TEST_F(SongListTest, ListsSongsSortedWithEncodedUrls) {
    put("Zebra.gp5", "12345");
    put("Blues in E #2.gp");
    put("lessons/01 open strings.alphatex");
    put("notes.txt");
    put(".hidden.gp5");
    put(".hidden/inside.gp5");
    put("a/b/c/deep.gp");        // depth 4: listed
    put("a/b/c/d/deeper.gp");    // depth 5: too deep
    const std::vector<SongFile> songs = listSongFiles(folder_);
    ASSERT_EQ(songs.size(), 4u);
    EXPECT_EQ(songs[0].name, "Blues in E #2.gp");
    EXPECT_EQ(songs[0].url, "/songs/Blues%20in%20E%20%232.gp");
    EXPECT_EQ(songs[1].name, "Zebra.gp5");
    EXPECT_EQ(songs[1].size, 5u);
    EXPECT_EQ(songs[2].name, "a/b/c/deep.gp");
    EXPECT_EQ(songs[2].url, "/songs/a/b/c/deep.gp");
    EXPECT_EQ(songs[3].url, "/songs/lessons/01%20open%20strings.alphatex");
}

TEST_F(SongListTest, LinksOutOfTheFolderAreLeftOutAndLinksInsideKept) {
    put("real.gp5");
    std::ofstream(root_ / "outside.gp5") << "secret";
    fs::create_symlink("../outside.gp5", folder_ / "escape.gp5");
    fs::create_directory_symlink("..", folder_ / "up");
    fs::create_symlink("real.gp5", folder_ / "alias.gp5");
    fs::create_symlink("missing.gp5", folder_ / "dangling.gp5");
    EXPECT_EQ(names(), (std::vector<std::string>{"alias.gp5", "real.gp5"}));
}

TEST_F(SongListTest, MissingFolderListsNothingAndTheCommandStillAnswers) {
    EXPECT_TRUE(listSongFiles(root_ / "nowhere").empty());
    EXPECT_TRUE(listSongFiles("").empty());
    put("one.xml");
    ListSongsCommand command(folder_);
    const Param answer = command.execute({});
    ASSERT_EQ(answer.type(), Param::Object);
    EXPECT_EQ(answer.getObject()->getProperty("folder")->getString(), folder_.string());
    const Param* songs = answer.getObject()->getProperty("songs");
    ASSERT_NE(songs, nullptr);
    ASSERT_EQ(songs->type(), Param::Array);
    ASSERT_EQ(songs->getObject()->size(), 1u);
    const FlashObject* first = songs->getObject()->getProperty("0")->getObject();
    EXPECT_EQ(first->getProperty("url")->getString(), "/songs/one.xml");
    EXPECT_EQ(first->getProperty("size")->getNumber(), 1.0);
    EXPECT_EQ(ListSongsCommand(root_ / "nowhere").execute({}).getObject()->getProperty("songs")->getObject()->size(), 0u);
}

}  // namespace
}  // namespace tunewick::test
