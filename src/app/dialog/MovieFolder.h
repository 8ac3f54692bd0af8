#pragma once
// Which folder of movies the host plays and which of its movies starts: the folder given with
// --movies, else the program's own data folder; in it "Loader.swf" when it is there (a set of
// Flash movies, played by Ruffle), else "Loader.html". Decided once at start-up, on the main
// thread; the result is a plain value.
#include <filesystem>
#include <string>

namespace tunewick {

struct MovieFolder {
    std::filesystem::path folder;      // absolute, normalised: served as "/movies/"
    std::filesystem::path startMovie;  // folder / "Loader.swf" or folder / "Loader.html"
};

// `option` is the --movies value (empty: not given); `defaultFolder` the program's own data
// folder. A relative folder is taken relative to the current folder. The start movie need
// not exist: the player then says that it is missing.
MovieFolder chooseMovieFolder(const std::string& option, const std::filesystem::path& defaultFolder);

}  // namespace tunewick
