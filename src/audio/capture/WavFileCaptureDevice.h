#pragma once
// A WAV file played as the microphone. The whole file is decoded at opening (any channel
// count, mixed to mono; any sample format libsndfile reads) and converted, once per engine
// rate, to what a capture buffer delivers: unsigned 8-bit mono at the buffer's rate
// (resampled with an anti-aliasing filter, silence 128). A file that already is unsigned
// 8-bit mono at that rate is delivered byte for byte.
//
// Two modes:
// - realTime: the file plays in real time as a shared stream (FileSampleStream), looping at
//   the end (a microphone never ends); every buffer, and the pitch tracker, take their
//   samples from it, each converting to its own rate. The host's --input FILE.
// - stepped: no thread; the caller moves capture forward with advance(), and notifications
//   fire as capture passes them. Tests and tunewick-analyze use it to go through a file as
//   fast as the machine allows; the file is not looped.
// The device (held in a shared_ptr) hands engines a factory whose devices forward to it; the
// stepped calls act on the buffer the engine made last ("the current buffer"). Every call is
// safe from any thread.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/capture/CaptureDevice.h"

namespace tunewick {

class CaptureRing;

class WavFileCaptureDevice final : public CaptureDevice,
                                   public std::enable_shared_from_this<WavFileCaptureDevice> {
public:
    enum class Mode { realTime, stepped };

    // Reads and decodes the file. nullptr when it cannot be read, with the reason (naming the
    // file) in *error when error is given.
    static std::shared_ptr<WavFileCaptureDevice> open(const std::string& path, Mode mode,
                                                      std::string* error = nullptr);
    // A factory whose devices all forward to this one.
    CaptureDeviceFactory factory();

    // Converts the file to the format's rate (cached per rate) and makes a buffer that
    // delivers it. The format must be 8-bit mono PCM; anything else fails with E_INVALIDARG.
    std::int32_t createCaptureBuffer(const WaveFormat& format, std::uint32_t bufferBytes,
                                     std::unique_ptr<CaptureBuffer>* buffer) override;

    // Real-time mode's shared stream; null in stepped mode.
    std::shared_ptr<SampleStream> sampleStream() const override { return stream_; }

    Mode mode() const { return mode_; }
    const std::string& path() const { return path_; }
    std::uint32_t fileSampleRate() const { return fileRate_; }
    int fileChannels() const { return fileChannels_; }
    std::uint64_t fileFrames() const;

    // The file as a buffer at `rate` delivers it (converted on first use, then cached).
    std::shared_ptr<const std::vector<std::uint8_t>> bytesAt(std::uint32_t rate);
    // Its length: the number of bytes of the whole file at `rate`.
    std::uint64_t totalBytes(std::uint32_t rate);
    // The same at the current buffer's rate; 0 before any buffer was made.
    std::uint64_t totalBytes() const;

    // Stepped mode: delivers the next `bytes` bytes of the file into the current buffer while
    // it captures, signalling the notifications passed. Returns the number delivered: fewer
    // at the end of the file, 0 in real-time mode, without a capturing buffer, or at the end.
    // Delivering more than the buffer holds in one go overwrites unread data, as a real ring
    // would; callers step by at most a block.
    std::uint32_t advance(std::uint32_t bytes);
    // Bytes of the file delivered into the current buffer so far (stepped mode).
    std::uint64_t delivered() const;

private:
    WavFileCaptureDevice() = default;
    std::shared_ptr<CaptureRing> current() const;

    Mode mode_ = Mode::stepped;
    std::string path_;
    std::uint32_t fileRate_ = 0;
    int fileChannels_ = 0;
    bool fileIsUnsigned8Mono_ = false;
    std::shared_ptr<const std::vector<float>> mono_;  // the file mixed to mono, at its own rate
    std::shared_ptr<SampleStream> stream_;            // real-time mode only
    std::vector<std::uint8_t> rawBytes_;   // the file's own bytes when it is u8 mono

    std::mutex stepMutex_;  // one advance() at a time
    mutable std::mutex mutex_;
    std::map<std::uint32_t, std::shared_ptr<const std::vector<std::uint8_t>>> byRate_;
    std::weak_ptr<CaptureRing> current_;
    std::shared_ptr<const std::vector<std::uint8_t>> currentBytes_;
    std::uint64_t delivered_ = 0;
};

}  // namespace tunewick
