// trackPitchInFile: a sound file through the estimator, read and resampled in chunks so that
// a long recording never sits in memory whole.
#include <sndfile.h>
#include <soxr.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/analysis/PitchEstimator.h"

namespace tunewick {

namespace {

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct SoxrDeleter {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};

}  // namespace

std::vector<TimedPitchReading> trackPitchInFile(const std::string& path, double referencePitch) {
    auto fail = [&](const std::string& why) {
        return std::runtime_error("Cannot read the sound file \"" + path + "\": " + why);
    };
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) throw fail(sf_strerror(nullptr));
    if (info.channels <= 0 || info.samplerate <= 0) throw fail("it has no sound");

    PitchEstimator estimator;
    if (!estimator.setReferencePitch(referencePitch)) {
        throw std::invalid_argument("The reference pitch must lie between 415 and 466 Hz");
    }
    std::vector<TimedPitchReading> readings;
    const PitchEstimator::Sink sink = [&](double seconds, const std::optional<PitchReading>& reading) {
        readings.push_back({seconds, reading});
    };

    const double rate = PitchEstimator::kSampleRate;
    std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter> resampler;
    if (info.samplerate != static_cast<int>(rate)) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        // High quality: nothing above the new Nyquist frequency folds into the analysed band.
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t problem = nullptr;
        resampler.reset(soxr_create(info.samplerate, rate, 1, &problem, &io, &quality, nullptr));
        if (problem != nullptr || !resampler) throw fail(std::string("cannot resample it: ") + (problem ? problem : "?"));
    }

    constexpr sf_count_t kChunkFrames = 4096;
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(kChunkFrames));
    // Room for a chunk at the new rate, plus what soxr holds back.
    const double ratio = rate / info.samplerate;
    std::vector<float> resampled(static_cast<std::size_t>(static_cast<double>(kChunkFrames) * ratio) + 4096);

    auto feed = [&](const float* samples, std::size_t count) {
        if (!resampler) {
            estimator.process(std::span<const float>(samples, count), sink);
            return;
        }
        // With no input (samples == nullptr) soxr gives out what it still holds.
        std::size_t offset = 0;
        for (;;) {
            std::size_t taken = 0;
            std::size_t made = 0;
            const soxr_error_t problem =
                soxr_process(resampler.get(), samples == nullptr ? nullptr : samples + offset, count - offset, &taken,
                             resampled.data(), resampled.size(), &made);
            if (problem != nullptr) throw fail(std::string("cannot resample it: ") + problem);
            estimator.process(std::span<const float>(resampled.data(), made), sink);
            offset += taken;
            if (samples == nullptr ? made == 0 : offset >= count && made < resampled.size()) break;
        }
    };

    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), chunk.data(), kChunkFrames);
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            // Mixed by averaging, so that a full-scale multichannel file cannot clip.
            double sum = 0.0;
            for (std::size_t c = 0; c < channels; ++c) sum += chunk[static_cast<std::size_t>(f) * channels + c];
            mono[static_cast<std::size_t>(f)] = static_cast<float>(sum / static_cast<double>(channels));
        }
        feed(mono.data(), static_cast<std::size_t>(got));
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) throw fail(sf_strerror(file.get()));
    if (resampler) feed(nullptr, 0);
    return readings;
}

}  // namespace tunewick
