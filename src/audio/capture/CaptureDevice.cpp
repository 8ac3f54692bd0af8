#include "audio/capture/CaptureDevice.h"

#include "audio/capture/SampleStream.h"

namespace tunewick {
namespace {

class ForwardingCaptureDevice final : public CaptureDevice {
public:
    explicit ForwardingCaptureDevice(std::shared_ptr<CaptureDevice> target)
        : target_(std::move(target)) {}
    std::int32_t createCaptureBuffer(const WaveFormat& format, std::uint32_t bufferBytes,
                                     std::unique_ptr<CaptureBuffer>* buffer) override {
        return target_->createCaptureBuffer(format, bufferBytes, buffer);
    }
    std::shared_ptr<SampleStream> sampleStream() const override { return target_->sampleStream(); }

private:
    std::shared_ptr<CaptureDevice> target_;
};

}  // namespace

bool isEngineBufferRequest(const WaveFormat& format, std::uint32_t bufferBytes,
                           const std::unique_ptr<CaptureBuffer>* buffer) {
    return buffer != nullptr && bufferBytes != 0 && format.formatTag == 1 && format.channels == 1 &&
           format.bitsPerSample == 8 && format.samplesPerSec != 0;
}

CaptureDeviceFactory sharedDeviceFactory(std::shared_ptr<CaptureDevice> device) {
    return [device = std::move(device)]() -> std::unique_ptr<CaptureDevice> {
        if (!device) return nullptr;
        return std::make_unique<ForwardingCaptureDevice>(device);
    };
}

}  // namespace tunewick
