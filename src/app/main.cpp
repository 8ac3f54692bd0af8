#include <iostream>
#include <variant>

#include "app/CtunewickApp.h"
#include "app/Options.h"
#include "audio/portaudio/AudioDevices.h"

int main(int argc, char** argv) {
    const tunewick::ParsedOptions parsed = tunewick::parseOptions(argc, argv);
    if (const auto* exit = std::get_if<tunewick::OptionsExit>(&parsed)) {
        (exit->status == 0 ? std::cout : std::cerr) << exit->text;
        return exit->status;
    }
    const auto& options = std::get<tunewick::Options>(parsed);
    if (options.listDevices) {
        tunewick::printAudioDevices(std::cout);
        return 0;
    }
    return tunewick::CtunewickApp::InitInstance(options);
}
