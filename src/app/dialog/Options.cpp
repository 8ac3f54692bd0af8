#include "app/dialog/Options.h"

#include <CLI/CLI.hpp>

#ifndef TUNEWICK_VERSION
#define TUNEWICK_VERSION "unknown"
#endif

namespace tunewick {

std::string versionText() {
    return std::string("tunewick ") + TUNEWICK_VERSION;
}

ParsedOptions parseOptions(int argc, const char* const* argv) {
    CLI::App app("Tunewick: learn the guitar. Starts the host and opens the player in a browser.", "tunewick");
    Options options;
    int port = 0;
    bool noBrowser = false;
    bool version = false;
    app.add_option("--port", port, "Port on 127.0.0.1 to serve the player on (0: any free port)")
        ->check(CLI::Range(0, 65535))
        ->option_text("N");
    app.add_flag("--no-browser", noBrowser, "Do not open a browser; only print the player's URL");
    app.add_option("--input", options.inputFile, "Play this WAV file (looped) as the microphone")
        ->check(CLI::ExistingFile)
        ->option_text("FILE");
    app.add_flag("--list-devices", options.listDevices, "List the sound devices and exit");
    app.add_option("--input-device", options.inputDevice, "Record from the sound device of this name")
        ->option_text("NAME");
    app.add_option("--output-device", options.outputDevice, "Play sounds on the sound device of this name")
        ->option_text("NAME");
    app.add_option("--movies", options.movies,
                   "Play the movies of this folder (start movie Loader.swf, else Loader.html)")
        ->check(CLI::ExistingDirectory)
        ->option_text("DIR");
    app.add_option("--songs", options.songs, "List and serve the song files of this folder on the Songs page")
        ->check(CLI::ExistingDirectory)
        ->option_text("DIR");
    app.add_flag("--version", version, "Print the version and exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return OptionsExit{0, app.help()};
    } catch (const CLI::CallForAllHelp&) {
        return OptionsExit{0, app.help()};
    } catch (const CLI::ParseError& error) {
        return OptionsExit{2, "tunewick: " + std::string(error.what()) + "\nRun with --help for more information.\n"};
    }
    if (version) return OptionsExit{0, versionText() + "\n"};
    options.port = static_cast<std::uint16_t>(port);
    options.openBrowser = !noBrowser;
    return options;
}

}  // namespace tunewick
