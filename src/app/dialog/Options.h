#pragma once
// The command line. With no option the program starts and opens the player.
#include <cstdint>
#include <string>
#include <variant>

namespace tunewick {

struct Options {
    std::uint16_t port = 0;       // --port N; 0: the system picks a free port
    bool openBrowser = true;      // --no-browser: only print the URL
    std::string inputFile;        // --input FILE: a WAV file played as the microphone
    bool listDevices = false;     // --list-devices: print the sound devices and exit
    std::string inputDevice;      // --input-device NAME; empty: the system's default
    std::string outputDevice;     // --output-device NAME; empty: the system's default
    std::string movies;           // --movies DIR; empty: the program's own data folder
    std::string songs;            // --songs DIR; empty: $XDG_DATA_HOME/tunewick/songs
};

// The program ends at once: print `text` (to stdout for status 0, else to stderr) and exit
// with `status` (0 for --help and --version, 2 for a bad command line).
struct OptionsExit {
    int status = 0;
    std::string text;
};

using ParsedOptions = std::variant<Options, OptionsExit>;

ParsedOptions parseOptions(int argc, const char* const* argv);

// "tunewick <version>".
std::string versionText();

}  // namespace tunewick
