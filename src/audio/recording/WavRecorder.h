#pragma once
// Records the microphone into "data/sound/recording.wav" (or a path of the owner's choice):
// the capture engine with the recorder's configuration (44100 bytes per second, 5512-byte
// blocks, 16 of them) and a consumer that writes every captured whole block, in capture
// order, to a WaveFileWriter. Each start makes a new file from its first byte; each stop
// finishes it as a valid WAV file, also when capture failed on the way, and so does the
// destruction of a recorder still recording.
//
// The owner calls initialize() once (a negative status is the owner's to show as
// "Error initializing Wav Recorder."; a missing device answers 1).
#include <cstdint>
#include <memory>
#include <string>

#include "audio/capture/CaptureEngine.h"
#include "audio/recording/WaveFileWriter.h"

namespace tunewick {

class WavRecorder final : public CaptureEngine {
public:
    WavRecorder(CaptureDeviceFactory openDevice, Reporter& reporter,
                std::string path = WaveFileWriter::kDefaultPath);
    // Stops (finishing a recording in progress) and releases the device.
    ~WavRecorder() override;

    // Makes the writer and opens the file in the buffer's actual format. 1 when running, when
    // there is no buffer or when the file cannot be created (the start goes on; the first
    // block step then fails and the capture thread reports it and stops capture), else 0.
    std::int32_t createWaveFile();
    // Closes (finishes) and drops the writer, if there is one; 0.
    std::int32_t closeWaveFile();

    const std::string& path() const { return path_; }
    // Whether a writer is in place (between a start and the end of its recording).
    bool hasWriter() const;

protected:
    std::int32_t prepareStart() override;
    bool canProcess() const override;
    std::int32_t consume(const std::uint8_t* first, std::uint32_t firstLength,
                         const std::uint8_t* second, std::uint32_t secondLength) override;
    void finish() override;

private:
    std::string path_;
    std::unique_ptr<WaveFileWriter> writer_;
};

}  // namespace tunewick
