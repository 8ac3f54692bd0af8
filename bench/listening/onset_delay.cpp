// How soon the onset detector tells an onset on the live path: feeds a sound file a hop at a
// time, as the chord listener's worker is fed, and prints one line per onset, "<onset seconds>
// <seconds fed when it was told>". onset_benchmark.py --report-delay scores it against the
// corpus's note-ons. A bad file is named on stderr and gives exit status 2.
#include <cstdio>
#include <stdexcept>

#include "audio/listening/OnsetDetector.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: onset_delay FILE\n");
        return 2;
    }
    double rate = 0.0;
    try {
        tunewick::detectOnsetsInFile(argv[1], &rate, [&](const tunewick::Onset& onset, std::int64_t fed) {
            std::printf("%.5f %.5f\n", static_cast<double>(onset.sample) / rate, static_cast<double>(fed) / rate);
        });
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "onset_delay: %s\n", error.what());
        return 2;
    }
    return 0;
}
