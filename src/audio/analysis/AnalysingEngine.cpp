#include "audio/analysis/AnalysingEngine.h"

#include <cstdio>
#include <utility>

#include "audio/Status.h"

namespace tunewick {

void convertSignedBytes(std::span<const std::uint8_t> bytes, std::span<double> samples) {
    const std::size_t count = bytes.size() < samples.size() ? bytes.size() : samples.size();
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<double>(static_cast<std::int8_t>(bytes[i])) * 0.0078125;
    }
}

AnalysingEngine::AnalysingEngine(CaptureConfig config, std::int32_t log2Size, CaptureDeviceFactory openDevice,
                                 Reporter& reporter, DialogPoster& poster, std::string functionName)
    : CaptureEngine(config, std::move(openDevice), reporter),
      setup_(static_cast<std::int32_t>(config.blockSize), log2Size, 50.0, static_cast<std::int32_t>(config.sampleRate)),
      spectrum_(config.blockSize, 0.0),
      samples_(config.blockSize, 0.0),
      poster_(poster),
      call_(std::move(functionName)) {
    if (status::failed(initialize())) {
        this->reporter().report("Wav Recorder", "Error initializing Wav Recorder.");
    }
}

std::int32_t AnalysingEngine::prepareStart() {
    const auto failures = files_.open();
    if (!failures.empty()) std::fprintf(stderr, "%s\n", describeDiagnosticFailures(failures).c_str());
    return status::kOk;
}

void AnalysingEngine::finish() { files_.close(); }

void AnalysingEngine::report(Param value) {
    if (!call_.arguments.empty()) call_.arguments.erase(call_.arguments.begin());
    call_.arguments.push_back(std::move(value));
    poster_.postCallSwfFunction(call_);
}

}  // namespace tunewick
