#pragma once
// Maps the player's and the movies' URLs to files, and movie files back to URLs.
//   "/"            -> <programDir>/web/player/index.html
//   "/player/..."  -> <programDir>/web/player/...
//   "/ruffle/..."  -> <programDir>/web/ruffle/...   (the SWF player, from npm)
//   "/charts/..."  -> <programDir>/web/charts/...   (Chart.js, from npm)
//   "/alphatab/..." -> <programDir>/web/alphatab/... (the tab renderer and synthesizer, from npm)
//   "/songs/..."   -> the songs folder, when there is one (the player's own files: a request
//                     for them must carry the token, see Found::needsToken)
//   "/movies/..."  -> the movie folder (by default <programDir>/data)
// No request can reach a file outside those folders, however it is encoded: the path is
// decoded exactly once, anything suspicious is refused, and the real (symlink-free) path of
// the file must still lie inside its folder.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "bridge/UrlEncoding.h"

namespace tunewick {

// The Content-Type for a file name, by its extension (case-insensitive);
// "application/octet-stream" for anything unknown.
std::string contentTypeFor(const std::filesystem::path& file);

// The URL under which the movie file at moviePath is served ("/movies/<relative path>"), or
// nothing when the file does not lie in moviesDir. Two relative paths are taken relative to
// the same folder. Works on the names only: the file need not exist.
std::optional<std::string> movieUrl(const std::filesystem::path& moviesDir, const std::string& moviePath);

class StaticFiles {
public:
    struct Found {
        std::filesystem::path file;  // canonical path of a regular file inside its folder
        std::string contentType;
        bool needsToken = false;  // a file of the songs folder: the player's own, not the program's
    };
    struct Refused {
        int status;  // 400 for a malformed or suspicious path, 404 for anything not served
        // Under a folder whose files need the token: a caller without it must be told 403
        // whether or not the file exists, so the answer says nothing of what is there.
        bool needsToken = false;
    };

    // An empty moviesDir means <programDir>/data; an empty songsDir serves no songs.
    explicit StaticFiles(const std::filesystem::path& programDir, std::filesystem::path moviesDir = {},
                         std::filesystem::path songsDir = {});

    // Resolves a request target (path, optionally followed by "?query"). Thread-safe.
    std::variant<Found, Refused> resolve(std::string_view target) const;

private:
    std::filesystem::path playerDir_;
    std::filesystem::path ruffleDir_;
    std::filesystem::path chartsDir_;
    std::filesystem::path alphaTabDir_;
    std::filesystem::path moviesDir_;
    std::filesystem::path songsDir_;
};

}  // namespace tunewick
