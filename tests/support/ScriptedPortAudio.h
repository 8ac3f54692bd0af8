#pragma once
// A PortAudio the test scripts, for the microphone's input stream: one default input device
// ("Scripted microphone", mono, 48 kHz) whose opens and closes can be slowed and whose
// deliveries can start late, come in large blocks, stop or fail on cue; and a count of the
// calls made. Each api() object runs its started streams' deliveries on a thread of its own,
// as PortAudio's callback thread would; abort() stops that thread before it returns.
//
// The script and the counts are shared by the test and every api() object (which the stream
// owns, and which a keeper left behind may keep past the stream's end). Safe from any thread;
// a change to the script takes effect with the next call or delivery.
#include <atomic>
#include <chrono>
#include <memory>

#include "audio/portaudio/PortAudioApi.h"

namespace tunewick::testing {

class ScriptedPortAudio {
public:
    struct Script {
        std::atomic<int> openMs{0};           // each open takes this long
        std::atomic<int> closeMs{0};          // each close takes this long
        std::atomic<int> firstDeliveryMs{0};  // from start to the first block
        std::atomic<int> blockMs{10};         // one block of this many ms of sound, this often
        std::atomic<double> latency{0.0};     // the input latency a stream reports, seconds
        std::atomic<bool> delivering{true};   // false: a running stream delivers nothing
        std::atomic<int> failingOpens{0};     // this many next opens fail (paDeviceUnavailable)
        std::atomic<bool> takesFormat{true};  // false: the device refuses every format
    };
    struct Counts {
        std::atomic<int> initializes{0};
        std::atomic<int> terminates{0};
        std::atomic<int> opens{0};          // open() calls, failed ones included
        std::atomic<int> starts{0};
        std::atomic<int> closing{0};        // close() calls begun
        std::atomic<int> closes{0};         // close() calls that returned
        std::atomic<long long> frames{0};   // delivered
    };

    ScriptedPortAudio();

    Script& script() { return shared_->script; }
    const Counts& counts() const { return shared_->counts; }
    // A PortAudio over this script, for PortAudioInputStream::create.
    std::unique_ptr<PortAudioApi> api() const;

    struct Shared {
        Script script;
        Counts counts;
    };

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace tunewick::testing
