// detectOnsetsInFile: a sound file through the onset detector at the file's own rate, read in
// chunks and mixed down, so that a long recording never sits in memory whole.
#include <sndfile.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/listening/OnsetDetector.h"

namespace tunewick {

namespace {

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

std::vector<Onset> detectOnsetsInFile(const std::string& path, double* sampleRate, const OnsetTold& told) {
    auto fail = [&](const std::string& why) {
        return std::runtime_error("Cannot read the sound file \"" + path + "\": " + why);
    };
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) throw fail(sf_strerror(nullptr));
    if (info.channels <= 0 || info.samplerate <= 0) throw fail("it has no sound");
    if (info.samplerate < 8000 || info.samplerate > 96000) {
        throw fail("its sample rate " + std::to_string(info.samplerate) + " Hz is outside 8000 .. 96000");
    }
    if (sampleRate != nullptr) *sampleRate = info.samplerate;

    OnsetDetector detector(info.samplerate);
    constexpr std::size_t kChunkFrames = 4096;
    const std::size_t chunkFrames = told ? detector.hopSamples() : kChunkFrames;
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> chunk(chunkFrames * channels);
    std::vector<float> mono(chunkFrames);
    std::vector<Onset> found;
    std::int64_t fed = 0;
    auto tell = [&](std::size_t from) {
        if (!told) return;
        for (std::size_t k = from; k < found.size(); ++k) told(found[k], fed);
    };
    for (;;) {
        const sf_count_t frames = sf_readf_float(file.get(), chunk.data(), static_cast<sf_count_t>(chunkFrames));
        if (frames <= 0) break;
        for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) sum += chunk[i * channels + c];
            mono[i] = sum / static_cast<float>(channels);
        }
        const std::size_t before = found.size();
        detector.process(mono.data(), static_cast<std::size_t>(frames), found);
        fed += frames;
        tell(before);
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) throw fail(sf_strerror(file.get()));
    const std::size_t before = found.size();
    detector.flush(found);
    tell(before);
    return found;
}

}  // namespace tunewick
