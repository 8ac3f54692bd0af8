// Percent-decoding of request paths, and the mapping of movie files to their URLs.
#include "app/web/StaticFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

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

}  // namespace
}  // namespace tunewick::test
