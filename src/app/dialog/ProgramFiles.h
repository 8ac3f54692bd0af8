#pragma once
// Where the program's own files are: the movies (data/) and the player (web/). They lie beside
// the program in a build tree, and in ../share/tunewick from the program's real path once it is
// installed (/usr/bin/tunewick -> /usr/share/tunewick). Plain functions, any thread.
#include <filesystem>
#include <optional>
#include <string>

namespace tunewick {

// The folder holding data/<startMovie> and web/player/index.html: the program's own folder
// first, then <its folder>/../share/tunewick. `program` is the program's real path (symlinks
// resolved). The folder ends in "/"; nothing when neither holds the files.
std::optional<std::string> findProgramFiles(const std::filesystem::path& program);

// The folders findProgramFiles looks in, in its order (for the message when none is found).
std::string programFilesCandidates(const std::filesystem::path& program);

// The running program's real path, from /proc/self/exe; empty if it cannot be read.
std::filesystem::path runningProgram();

}  // namespace tunewick
