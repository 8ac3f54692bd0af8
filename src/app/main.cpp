#include <iostream>
#include <optional>
#include <variant>

#include "app/CtunewickApp.h"
#include "app/Options.h"
#include "audio/portaudio/AudioDevices.h"
#include "audio/portaudio/StderrFilter.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

}  // namespace

int main(int argc, char** argv) {
    const tunewick::ParsedOptions parsed = tunewick::parseOptions(argc, argv);
    if (const auto* exit = std::get_if<tunewick::OptionsExit>(&parsed)) {
        (exit->status == 0 ? std::cout : std::cerr) << exit->text;
        return exit->status;
    }
    const auto& options = std::get<tunewick::Options>(parsed);
    // PortAudio's checks would fill the terminal when a microphone fails; the host says
    // what happened in a line of its own.
    std::optional<tunewick::StderrFilter> quiet;
    if (!kSanitized) quiet.emplace(&tunewick::isPortAudioNoise);
    if (options.listDevices) {
        tunewick::printAudioDevices(std::cout);
        return 0;
    }
    return tunewick::CtunewickApp::InitInstance(options);
}
