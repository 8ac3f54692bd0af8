#pragma once
// The capture service the engines use, shaped like a looping DirectSound capture buffer:
// a device makes buffers; a buffer captures 8-bit mono PCM at the engine's rate into a ring
// of `bufferBytes`, signals an event as capture passes each notification offset, and lets
// the reader lock the safe region (up to two parts) and unlock it again.
// Backends: a scripted device (tests), a WAV file played as the microphone, PortAudio.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/capture/NotificationEvent.h"
#include "audio/WaveFormat.h"

namespace tunewick {

class CaptureBuffer {
public:
    virtual ~CaptureBuffer() = default;

    // The event is signalled each time the capture position passes one of the offsets
    // (the offset of the last byte of each block). Set before start().
    virtual std::int32_t setNotificationPositions(const std::vector<std::uint32_t>& offsets,
                                                  std::shared_ptr<NotificationEvent> event) = 0;
    // Starts looping capture; a no-op when already capturing.
    virtual std::int32_t start() = 0;
    // Stops capture; the data captured so far stays readable.
    virtual std::int32_t stop() = 0;
    // capture: where the device writes next; read: the end of the data that is safe to read.
    virtual std::int32_t getCurrentPosition(std::uint32_t* capture, std::uint32_t* read) = 0;
    // Locks `length` bytes from `offset`, split in two parts where the region wraps
    // (second part null and 0 otherwise). The parts stay valid until unlock().
    virtual std::int32_t lock(std::uint32_t offset, std::uint32_t length,
                              const std::uint8_t** first, std::uint32_t* firstLength,
                              const std::uint8_t** second, std::uint32_t* secondLength) = 0;
    virtual std::int32_t unlock(const std::uint8_t* first, std::uint32_t firstLength,
                                const std::uint8_t* second, std::uint32_t secondLength) = 0;
    // The format the buffer really captures in.
    virtual WaveFormat getFormat() const = 0;
    virtual std::uint32_t size() const = 0;
};

class SampleStream;

class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;
    // Makes a looping buffer of `bufferBytes` for `format`; negative status on failure.
    virtual std::int32_t createCaptureBuffer(const WaveFormat& format, std::uint32_t bufferBytes,
                                             std::unique_ptr<CaptureBuffer>* buffer) = 0;
    // The shared stream of float samples behind the buffers, for consumers that want the
    // samples themselves (the pitch tracker); null for a device without one.
    virtual std::shared_ptr<SampleStream> sampleStream() const { return nullptr; }
};

// Whether a buffer request is one the engines make: 8-bit mono PCM with a rate, a positive
// size, somewhere to put the buffer. Devices answer E_INVALIDARG otherwise.
bool isEngineBufferRequest(const WaveFormat& format, std::uint32_t bufferBytes,
                           const std::unique_ptr<CaptureBuffer>* buffer);

// Opens the capture device an engine uses; nullptr when there is none (no microphone).
using CaptureDeviceFactory = std::function<std::unique_ptr<CaptureDevice>()>;

// A factory whose devices forward to one shared device, so that the creator can keep driving
// or observing the device the engine owns a handle of. A null device gives a factory that
// finds no device.
CaptureDeviceFactory sharedDeviceFactory(std::shared_ptr<CaptureDevice> device);

}  // namespace tunewick
