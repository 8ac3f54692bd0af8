// The songs folder over HTTP: its files go only to requests with the token (and, when a
// browser names one, our own Origin), read-only, and nothing outside the folder can be reached
// through it however the path is written. alphaTab's files are served like the player's.
#include "support/WebControlFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tunewick::test {
namespace {

namespace fs = std::filesystem;

void put(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

class SongFilesTest : public WebControlFixture {
protected:
    WebControlSettings settings() const override {
        WebControlSettings s = WebControlFixture::settings();
        s.songsDir = songs();
        return s;
    }
    fs::path songs() const { return dir.path() / "songs"; }

    void SetUp() override {
        put(songs() / "Blues in E.gp5", "FICHIER GUITAR PRO v5.00");
        put(songs() / "lessons/scale.alphatex", "\\title \"Scale\" . 0.6 2.6 |");
        put(songs() / "tab.musicxml", "<score-partwise/>");
        put(songs() / ".private.gp", "hidden");
        put(dir.path() / "web/alphatab/alphaTab.min.js", "var alphaTab = {};");
        put(dir.path() / "web/alphatab/font/Bravura.woff2", "wOF2");
        put(dir.path() / "web/alphatab/soundfont/sonivox.sf2", "RIFF....sfbk");
        fs::create_symlink("../secret.txt", songs() / "escape.gp");
        fs::create_directory_symlink("..", songs() / "up");
        fs::create_symlink("Blues in E.gp5", songs() / "alias.gp5");
        WebControlFixture::SetUp();
    }

    std::string withToken(const std::string& path) const { return path + "?token=" + control->token(); }

    HttpReply getWith(const std::string& target, const std::string& origin) const {
        const std::string own = "127.0.0.1:" + std::to_string(control->port());
        std::string head = "GET " + target + " HTTP/1.1\r\nConnection: close\r\nHost: " + own;
        if (!origin.empty()) head += "\r\nOrigin: " + origin;
        return rawHttp(control->port(), head);
    }
};

TEST_F(SongFilesTest, SongsNeedTheTokenAndOurOrigin) {
    const std::string own = "http://127.0.0.1:" + std::to_string(control->port());
    struct Case {
        const char* what;
        std::string target;
        std::string origin;
        int status;
    };
    const std::vector<Case> cases{
        {"token, no origin", withToken("/songs/Blues%20in%20E.gp5"), "", 200},
        {"token, own origin", withToken("/songs/Blues%20in%20E.gp5"), own, 200},
        {"no token", "/songs/Blues%20in%20E.gp5", "", 403},
        {"wrong token", "/songs/Blues%20in%20E.gp5?token=" + std::string(32, '0'), "", 403},
        {"token of another parameter", "/songs/Blues%20in%20E.gp5?x=" + control->token(), "", 403},
        {"foreign origin", withToken("/songs/Blues%20in%20E.gp5"), "http://evil.example", 403},
        {"null origin", withToken("/songs/Blues%20in%20E.gp5"), "null", 403},
        // A stranger learns nothing of which songs are there.
        {"missing song, no token", "/songs/Not%20there.gp5", "", 403},
        {"missing song, token", withToken("/songs/Not%20there.gp5"), "", 404},
    };
    for (const Case& c : cases) {
        const HttpReply reply = getWith(c.target, c.origin);
        EXPECT_EQ(reply.status, c.status) << c.what;
        if (c.status == 200) {
            EXPECT_EQ(reply.body, "FICHIER GUITAR PRO v5.00") << c.what;
        } else {
            EXPECT_EQ(reply.body.find("GUITAR"), std::string::npos) << c.what;
        }
    }
    EXPECT_EQ(httpGet(control->port(), withToken("/songs/lessons/scale.alphatex")).body, "\\title \"Scale\" . 0.6 2.6 |");
    EXPECT_EQ(httpGet(control->port(), withToken("/songs/alias.gp5")).status, 200);  // a link inside is fine
    // Read-only: no other method reaches a song.
    const std::string own2 = "127.0.0.1:" + std::to_string(control->port());
    EXPECT_EQ(httpRequest(control->port(), "PUT", withToken("/songs/tab.musicxml"), own2).status, 405);
    EXPECT_EQ(httpRequest(control->port(), "DELETE", withToken("/songs/tab.musicxml"), own2).status, 405);
}

TEST_F(SongFilesTest, NoPathLeavesTheSongsFolder) {
    const std::vector<std::string> escapes{
        "/songs/../secret.txt",
        "/songs/%2e%2e/secret.txt",
        "/songs/%2E%2E/%2E%2E/secret.txt",
        "/songs/lessons/..%2f..%2fsecret.txt",
        "/songs/..%2Fsecret.txt",
        "/songs/%252e%252e/secret.txt",
        "/songs/..%5csecret.txt",
        "/songs/lessons%2f..%2f..%2fsecret.txt",
        "/songs/escape.gp",
        "/songs/up/secret.txt",
        "/songs/%2fetc%2fpasswd",
        "/songs//etc/passwd",
        "/songs/.private.gp",
        "/songs/lessons",
        "/songs/",
        "/songs/tab.musicxml%00.gp",
    };
    for (const std::string& path : escapes) {
        const HttpReply reply = httpGet(control->port(), withToken(path));
        EXPECT_TRUE(reply.status == 400 || reply.status == 404) << path << " gave " << reply.status;
        EXPECT_EQ(reply.body.find(ProgramDir::secret), std::string::npos) << path;
    }
    // After every refusal the folder is still served.
    EXPECT_EQ(httpGet(control->port(), withToken("/songs/tab.musicxml")).status, 200);
}

TEST_F(SongFilesTest, AlphaTabFilesComeWithTheirTypesAndWithoutToken) {
    struct Case {
        const char* target;
        const char* type;
    };
    const std::vector<Case> cases{
        {"/alphatab/alphaTab.min.js", "text/javascript; charset=utf-8"},
        {"/alphatab/font/Bravura.woff2", "font/woff2"},
        {"/alphatab/soundfont/sonivox.sf2", "audio/x-soundfont"},
    };
    for (const Case& c : cases) {
        const HttpReply reply = httpGet(control->port(), c.target);
        EXPECT_EQ(reply.status, 200) << c.target;
        EXPECT_EQ(reply.header("content-type"), c.type) << c.target;
    }
    EXPECT_EQ(httpGet(control->port(), "/alphatab/../secret.txt").status, 400);
    EXPECT_EQ(httpGet(control->port(), "/alphatab/%2e%2e/secret.txt").status, 400);
    EXPECT_EQ(httpGet(control->port(), "/alphatab/missing.js").status, 404);
}

// Without a songs folder the prefix names nothing.
class NoSongsFolderTest : public WebControlFixture {};

TEST_F(NoSongsFolderTest, SongsAreNotServed) {
    EXPECT_EQ(httpGet(control->port(), "/songs/x.gp?token=" + control->token()).status, 404);
}

}  // namespace
}  // namespace tunewick::test
