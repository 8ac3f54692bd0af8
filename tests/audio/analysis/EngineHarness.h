#pragma once
// Runs one analysing engine on a scripted capture device in a temporary current directory.
// feed() plays bytes into the device and runs the block step on the test's thread as well,
// so that when it returns the bytes are analysed, whichever thread took them.
#include <cstdint>
#include <memory>
#include <vector>

#include "AnalysisSupport.h"
#include "support/ScriptedCaptureDevice.h"

namespace tunewick::testing {

template <class Engine>
struct EngineHarness {
    ScopedWorkDir dir;
    std::shared_ptr<ScriptedCaptureDevice> device = ScriptedCaptureDevice::create();
    RecordingPoster poster;
    RecordingReporter reporter;
    Engine engine{device->factory(), reporter, poster};

    // Plays `bytes` (whole blocks) one block at a time, each analysed before the next.
    void feed(const std::vector<std::uint8_t>& bytes) {
        const std::size_t block = Engine::kBlockSize;
        for (std::size_t at = 0; at + block <= bytes.size(); at += block) {
            device->capture(bytes.data() + at, block);
            engine.processBlock();
        }
    }
};

}  // namespace tunewick::testing
