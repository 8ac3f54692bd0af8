#pragma once
// Where the player keeps songs for the Songs page: the folder given with --songs, else
// $XDG_DATA_HOME/tunewick/songs (XDG_DATA_HOME defaulting to ~/.local/share). Plain functions,
// called once at start-up on the main thread.
#include <filesystem>
#include <string>

namespace tunewick {

// The default folder for these environment values; empty when neither is an absolute path.
std::filesystem::path defaultSongsFolder(const char* xdgDataHome, const char* home);

// The folder to use: `option` when given (it exists: the command line checked it), else the
// default of the running environment, made if missing. A default that cannot be made is still
// answered: it lists no songs until it exists.
std::filesystem::path chooseSongsFolder(const std::string& option);

}  // namespace tunewick
