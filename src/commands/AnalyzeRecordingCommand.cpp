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

AnalyzeRecordingCommand::AnalyzeRecordingCommand(std::string path, Analyzer analyzer,
                                                 std::function<double()> referencePitch, DialogPoster& poster)
    : FunctionCommand("analyzeRecording"),
      path_(std::move(path)),
      analyzer_(std::move(analyzer)),
      referencePitch_(std::move(referencePitch)),
      poster_(poster) {}

AnalyzeRecordingCommand::~AnalyzeRecordingCommand() {
    stopping_ = true;
    if (worker_.joinable()) worker_.join();
}

AnalyzeRecordingCommand::Analyzer AnalyzeRecordingCommand::pitchTracker() {
    return [](const std::string& path, double referencePitch) {
        std::vector<TakeReading> out;
        try {
            for (const TimedPitchReading& timed : trackPitchInFile(path, referencePitch)) {
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
    if (busy_.load()) return Param(false);
    if (worker_.joinable()) worker_.join();  // the last one has finished: busy_ is false
    const double reference = referencePitch_ ? referencePitch_() : 440.0;
    busy_ = true;
    worker_ = std::thread([this, reference] {
        FunctionCall call(kResultFunction);
        call.arguments.push_back(analyze(reference));
        // Free before the answer goes out, so a page that asks again on the answer is served.
        busy_ = false;
        if (!stopping_.load()) poster_.postCallSwfFunction(std::move(call));
    });
    return Param(true);
}

Param AnalyzeRecordingCommand::analyze(double referencePitch) const {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path_.c_str(), SFM_READ, &info));
    if (!file || info.channels <= 0 || info.samplerate <= 0) return Param();

    TakeSummary take(static_cast<double>(info.samplerate));
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto maxFrames = static_cast<sf_count_t>(kMaxSeconds * info.samplerate);
    constexpr sf_count_t kChunkFrames = 8192;
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(kChunkFrames));
    for (sf_count_t read = 0; read < maxFrames && !stopping_.load();) {
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

    if (analyzer_ && !stopping_.load()) {
        for (const TakeReading& reading : analyzer_(path_, referencePitch)) {
            if (reading.time > kMaxSeconds) break;
            take.addReading(reading);
        }
    }
    return take.toParam();
}

}  // namespace tunewick
