#pragma once
// The PCM format record of a capture buffer and of a WAV file's "fmt " chunk.
#include <cstdint>

namespace tunewick {

struct WaveFormat {
    std::uint16_t formatTag = 0;        // 1: PCM
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t cbSize = 0;

    // 8-bit mono PCM at `rate`: the only format the engines capture in.
    static WaveFormat pcm8Mono(std::uint32_t rate) {
        return WaveFormat{1, 1, rate, rate, 1, 8, 0};
    }
    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

}  // namespace tunewick
