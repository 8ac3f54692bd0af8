// Percent-decoding of request paths, and the mapping of movie files to their URLs.
#include "app/web/StaticFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tunewick::test {
namespace {

namespace fs = std::filesystem;

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
    const fs::path data = "/opt/tunewick/data/";
    EXPECT_EQ(movieUrl(data, "/opt/tunewick/data/Loader.html"), "/movies/Loader.html");
    EXPECT_EQ(movieUrl("/opt/tunewick/data", "/opt/tunewick/data/Loader.html"), "/movies/Loader.html");
    EXPECT_EQ(movieUrl(data, "/opt/tunewick/data/pages/Tuner Page.html"), "/movies/pages/Tuner%20Page.html");
    EXPECT_EQ(movieUrl(data, "/opt/tunewick/data/../data/Menu.html"), "/movies/Menu.html");
    EXPECT_EQ(movieUrl("data", "data/Loader.html"), "/movies/Loader.html");
    EXPECT_EQ(movieUrl("/home/me/movies", "/home/me/movies/Loader.swf"), "/movies/Loader.swf");
    EXPECT_EQ(movieUrl(data, "data/Loader.html"), std::nullopt);  // relative against absolute: unknown
    EXPECT_EQ(movieUrl("data", "/opt/tunewick/data/Loader.html"), std::nullopt);
    EXPECT_EQ(movieUrl(data, "/opt/tunewick/data/../secret.txt"), std::nullopt);
    EXPECT_EQ(movieUrl(data, "/opt/tunewick/data"), std::nullopt);
    EXPECT_EQ(movieUrl(data, "/etc/passwd"), std::nullopt);
    EXPECT_EQ(movieUrl(data, "/opt/tunewick/database/x.html"), std::nullopt);
}

TEST(StaticFiles, ContentTypesOfThePlayersFiles) {
    const std::vector<std::pair<const char*, const char*>> cases{
        {"core.ruffle.abc.wasm", "application/wasm"},
        {"ruffle.js", "text/javascript; charset=utf-8"},
        {"Loader.SWF", "application/x-shockwave-flash"},
        {"DejaVuSansMono.ttf", "font/ttf"},
        {"ruffle.js.map", "application/json"},
        {"LICENSE_MIT", "application/octet-stream"},
    };
    for (const auto& [file, type] : cases) EXPECT_EQ(contentTypeFor(file), type) << file;
}

}  // namespace
}  // namespace tunewick::test
