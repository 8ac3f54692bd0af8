#include "commands/AnalyzeRecordingCommand.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <sndfile.h>
#include <stdexcept>

#include "audio/analysis/PitchEstimator.h"

namespace tunewick {
namespace {

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

AnalyzeRecordingCommand::AnalyzeRecordingCommand(std::string path, Analyzer analyzer)
    : FunctionCommand("analyzeRecording"), path_(std::move(path)), analyzer_(std::move(analyzer)) {}

AnalyzeRecordingCommand::Analyzer AnalyzeRecordingCommand::pitchTracker(std::function<double()> referencePitch) {
    return [referencePitch = std::move(referencePitch)](const std::string& path) {
        std::vector<TakeReading> out;
        try {
            for (const TimedPitchReading& timed : trackPitchInFile(path, referencePitch ? referencePitch() : 440.0)) {
                if (!timed.reading) continue;  // the unvoiced parts are left out
                const PitchReading& r = *timed.reading;
                out.push_back({timed.seconds, r.frequency, r.note, r.cents});
            }
        } catch (const std::exception&) {
            out.clear();
        }
        return out;
    };
}

Param AnalyzeRecordingCommand::execute(const std::vector<Param>&) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path_.c_str(), SFM_READ, &info));
    if (!file || info.channels <= 0 || info.samplerate <= 0) return Param();

    TakeSummary take(static_cast<double>(info.samplerate));
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto maxFrames = static_cast<sf_count_t>(kMaxSeconds * info.samplerate);
    constexpr sf_count_t kChunkFrames = 8192;
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(kChunkFrames));
    for (sf_count_t read = 0; read < maxFrames;) {
        const sf_count_t got = sf_readf_float(file.get(), chunk.data(), std::min(kChunkFrames, maxFrames - read));
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            // The loudest channel: a peak in either shows.
            float peak = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) {
                const float v = chunk[static_cast<std::size_t>(f) * channels + c];
                if (std::abs(v) > std::abs(peak)) peak = v;
            }
            mono[static_cast<std::size_t>(f)] = peak;
        }
        take.addSamples(mono.data(), static_cast<std::size_t>(got));
        read += got;
    }
    file.reset();

    if (analyzer_) {
        for (const TakeReading& reading : analyzer_(path_)) {
            if (reading.time > kMaxSeconds) break;
            take.addReading(reading);
        }
    }
    return take.toParam();
}

}  // namespace tunewick
