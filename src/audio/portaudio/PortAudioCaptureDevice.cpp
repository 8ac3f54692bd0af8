#include "audio/portaudio/PortAudioCaptureDevice.h"

#include <memory>
#include <mutex>

#include "audio/capture/StreamCaptureBuffer.h"
#include "audio/portaudio/PortAudioInputStream.h"

namespace tunewick {

CaptureDeviceFactory PortAudioCaptureDevice::factory(std::string deviceName, Reporter* reporter) {
    struct Shared {
        std::mutex mutex;
        std::weak_ptr<PortAudioInputStream> stream;
    };
    auto shared = std::make_shared<Shared>();
    return [shared, name = std::move(deviceName), reporter]() -> std::unique_ptr<CaptureDevice> {
        std::lock_guard lock(shared->mutex);
        auto stream = shared->stream.lock();
        if (!stream) {
            stream = PortAudioInputStream::create(name, reporter);
            if (!stream) return nullptr;
            shared->stream = stream;
        }
        return std::make_unique<StreamCaptureDevice>(stream);
    };
}

}  // namespace tunewick
