// How soon the onset detector tells an onset on the live path: feeds each sound file a hop at a
// time, as the chord listener's worker is fed, and prints one line per onset, "<onset seconds>
// <seconds fed when it was told>". onset_benchmark.py --report-delay scores it against the
// corpus's note-ons. A bad file is named on stderr and gives exit status 2.
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "audio/listening/OnsetDetector.h"

namespace {

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

bool report(const char* path) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path, SFM_READ, &info));
    if (!file || info.channels <= 0 || info.samplerate < 8000 || info.samplerate > 96000) {
        std::fprintf(stderr, "onset_delay: cannot read %s\n", path);
        return false;
    }
    tunewick::OnsetDetector detector(info.samplerate);
    const auto channels = static_cast<std::size_t>(info.channels);
    const std::size_t hop = detector.hopSamples();
    std::vector<float> frames(hop * channels), mono(hop);
    std::vector<tunewick::Onset> found;
    std::int64_t fed = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), frames.data(), static_cast<sf_count_t>(hop));
        if (got <= 0) break;
        for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) sum += frames[i * channels + c];
            mono[i] = sum / static_cast<float>(channels);
        }
        const std::size_t before = found.size();
        detector.process(mono.data(), static_cast<std::size_t>(got), found);
        fed += got;
        for (std::size_t k = before; k < found.size(); ++k) {
            std::printf("%.5f %.5f\n", static_cast<double>(found[k].sample) / info.samplerate,
                        static_cast<double>(fed) / info.samplerate);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: onset_delay FILE\n");
        return 2;
    }
    return report(argv[1]) ? 0 : 2;
}
