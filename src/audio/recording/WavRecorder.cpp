#include "audio/recording/WavRecorder.h"

#include "audio/Status.h"

namespace tunewick {

WavRecorder::WavRecorder(CaptureDeviceFactory openDevice, Reporter& reporter, std::string path)
    : CaptureEngine(CaptureConfig::recorder(), std::move(openDevice), reporter),
      path_(std::move(path)) {}

WavRecorder::~WavRecorder() {
    stop();  // finishes a recording in progress (or one a capture error left open)
    release();
}

std::int32_t WavRecorder::createWaveFile() {
    CaptureBuffer* buffer = captureBuffer();
    if (isRunning() || buffer == nullptr) return status::kNothingDone;
    // The file says what the device really captures.
    const WaveFormat actual = buffer->getFormat();
    writer_ = std::make_unique<WaveFileWriter>(path_);
    return status::failed(writer_->open(actual)) ? status::kNothingDone : status::kOk;
}

std::int32_t WavRecorder::closeWaveFile() {
    if (writer_) writer_->close();
    writer_.reset();
    return status::kOk;
}

bool WavRecorder::hasWriter() const { return writer_ != nullptr; }

std::int32_t WavRecorder::prepareStart() {
    // A writer still here was left by a failed recording: finish it before it is replaced.
    closeWaveFile();
    // Never negative: a file that cannot be created shows at the first block step.
    createWaveFile();
    return status::kOk;
}

bool WavRecorder::canProcess() const { return writer_ != nullptr; }

std::int32_t WavRecorder::consume(const std::uint8_t* first, std::uint32_t firstLength,
                                  const std::uint8_t* second, std::uint32_t secondLength) {
    std::uint32_t written = 0;
    const std::int32_t head = writer_->write(firstLength, first, &written);
    if (status::failed(head)) return head;
    if (second != nullptr) {
        const std::int32_t tail = writer_->write(secondLength, second, &written);
        if (status::failed(tail)) return tail;
    }
    return status::kOk;
}

void WavRecorder::finish() { closeWaveFile(); }

}  // namespace tunewick
