#pragma once
// The microphone through PortAudio, as the capture devices the engines open. Every device a
// factory makes shares one PortAudioInputStream, so any mix of engines and the pitch tracker
// runs on one open device; each engine's buffer converts the stream's float samples to its
// own rate and format (see StreamCaptureBuffer).
#include <string>

#include "audio/capture/CaptureDevice.h"
#include "bridge/Reporter.h"

namespace tunewick {

class PortAudioCaptureDevice {
public:
    // Engines' factory: the input named `deviceName` (see findAudioDevice; empty: the default
    // input). Every call gives a new device object over the factory's one shared stream,
    // which lives while any of its devices does; nullptr when PortAudio finds no such input.
    // `reporter` (may be null; it must outlive the devices) hears when the device fails.
    static CaptureDeviceFactory factory(std::string deviceName = {}, Reporter* reporter = nullptr);
};

}  // namespace tunewick
