#include "support/ToneAnalysis.h"

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <numbers>

namespace tunewick::testing {

std::vector<double> fromUnsigned8(const std::vector<std::uint8_t>& bytes) {
    std::vector<double> out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) out.push_back((static_cast<double>(b) - 128.0) / 128.0);
    return out;
}

double toneLevel(const std::vector<double>& samples, double rate, double hz) {
    if (samples.empty()) return 0.0;
    const double w = 2.0 * std::numbers::pi * hz / rate;
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        re += samples[i] * std::cos(w * static_cast<double>(i));
        im -= samples[i] * std::sin(w * static_cast<double>(i));
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(samples.size());
}

double strongestFrequency(const std::vector<double>& samples, double rate, double low,
                          double high, double step) {
    double best = low;
    double bestLevel = -1.0;
    for (double hz = low; hz <= high; hz += step) {
        const double level = toneLevel(samples, rate, hz);
        if (level > bestLevel) {
            bestLevel = level;
            best = hz;
        }
    }
    return best;
}

double secondsWithTone(const std::vector<double>& samples, double rate, double hz,
                       double threshold) {
    const auto window = static_cast<std::size_t>(rate * 0.05);
    double seconds = 0.0;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        const std::vector<double> part(samples.begin() + static_cast<std::ptrdiff_t>(at),
                                       samples.begin() + static_cast<std::ptrdiff_t>(at + window));
        if (toneLevel(part, rate, hz) > threshold) seconds += 0.05;
    }
    return seconds;
}

bool writeToneWav(const std::filesystem::path& path, int rate, int channels, double hz,
                  double seconds, double amplitude) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<float> data(frames * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        const double v = amplitude * std::sin(2.0 * std::numbers::pi * hz *
                                              static_cast<double>(f) / rate);
        for (int c = 0; c < channels; ++c) {
            data[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(v);
        }
    }
    const sf_count_t written = sf_writef_float(file, data.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
    return written == static_cast<sf_count_t>(frames);
}

std::vector<double> readSoundFile(const std::filesystem::path& path, int* rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr || info.channels <= 0) {
        if (file != nullptr) sf_close(file);
        return {};
    }
    std::vector<double> frames(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_double(file, frames.data(), info.frames);
    sf_close(file);
    if (rate != nullptr) *rate = info.samplerate;
    std::vector<double> mono(static_cast<std::size_t>(read));
    for (std::size_t f = 0; f < mono.size(); ++f) {
        double sum = 0.0;
        for (int c = 0; c < info.channels; ++c) {
            sum += frames[f * static_cast<std::size_t>(info.channels) + static_cast<std::size_t>(c)];
        }
        mono[f] = sum / info.channels;
    }
    return mono;
}

std::vector<double> readRawS16(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<double> out;
    unsigned char pair[2];
    while (in.read(reinterpret_cast<char*>(pair), 2)) {
        const auto value = static_cast<std::int16_t>(pair[0] | (pair[1] << 8));
        out.push_back(value / 32768.0);
    }
    return out;
}

}  // namespace tunewick::testing
