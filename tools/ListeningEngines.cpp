#include "ListeningEngines.h"

#include <sndfile.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "audio/listening/ChordNamer.h"
#include "audio/listening/NoteAnalyzer.h"
#include "audio/listening/NoteChecker.h"
#include "audio/listening/OnsetDetector.h"

namespace tunewick {
namespace {

constexpr int kBadInput = 2;

struct Sound {
    std::vector<float> samples;  // channels mixed down
    double rate = 0;
};

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

// The whole file, mono, at its own rate. Throws std::runtime_error naming the file.
Sound readSound(const std::string& path) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    if (info.samplerate < 8000 || info.samplerate > 96000 || info.channels < 1) {
        throw std::runtime_error(path + ": sample rate " + std::to_string(info.samplerate) +
                                 " Hz is outside 8000 .. 96000");
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t read = sf_readf_float(file.get(), interleaved.data(), info.frames);
    Sound sound;
    sound.rate = info.samplerate;
    sound.samples.resize(static_cast<std::size_t>(std::max<sf_count_t>(read, 0)));
    for (std::size_t i = 0; i < sound.samples.size(); ++i) {
        float sum = 0;
        for (std::size_t c = 0; c < channels; ++c) sum += interleaved[i * channels + c];
        sound.samples[i] = sum / static_cast<float>(channels);
    }
    return sound;
}

std::string midiList(std::vector<int> midis) {
    std::sort(midis.begin(), midis.end());
    std::string out;
    for (int midi : midis) out += (out.empty() ? "" : ",") + std::to_string(midi);
    return out;
}

struct ExpectedEvent {
    double due;
    std::vector<int> midis;
};

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Throws std::runtime_error "FILE:LINE: what is wrong".
std::vector<ExpectedEvent> readExpectFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the expect file " + path);
    std::vector<ExpectedEvent> events;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto fail = [&](const std::string& what) {
            throw std::runtime_error(path + ":" + std::to_string(number) + ": " + what + " (\"" + trim(line) + "\")");
        };
        const std::string text = trim(line);
        if (text.empty() || text.front() == '#') continue;
        const auto tab = line.find('\t');
        if (tab == std::string::npos) fail("expected <due seconds><TAB><midi,midi,...>");
        const std::string dueText = trim(line.substr(0, tab));
        ExpectedEvent event{};
        const auto [dueEnd, dueError] = std::from_chars(dueText.data(), dueText.data() + dueText.size(), event.due);
        if (dueError != std::errc() || dueEnd != dueText.data() + dueText.size() || !std::isfinite(event.due) ||
            event.due < 0) {
            fail("the due time is not a number of seconds >= 0");
        }
        std::stringstream notes(trim(line.substr(tab + 1)));
        std::string item;
        while (std::getline(notes, item, ',')) {
            item = trim(item);
            int midi = 0;
            const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), midi);
            if (item.empty() || error != std::errc() || end != item.data() + item.size()) {
                fail("\"" + item + "\" is not a MIDI note number");
            }
            if (midi < NoteAnalyzer::kLowestMidi || midi > NoteAnalyzer::kHighestMidi) {
                fail("MIDI note " + item + " is outside 40 .. 88 (E2 .. E6)");
            }
            event.midis.push_back(midi);
        }
        if (event.midis.empty()) fail("no notes are listed");
        events.push_back(std::move(event));
    }
    return events;
}

}  // namespace

int analyzeChords(const std::string& path) {
    Sound sound;
    try {
        sound = readSound(path);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tunewick-analyze: %s\n", error.what());
        return kBadInput;
    }
    NoteAnalyzer analyzer(sound.rate);
    for (const Onset& onset : detectOnsets(sound.samples.data(), sound.samples.size(), sound.rate)) {
        const auto notes = analyzer.analyze(sound.samples.data(), sound.samples.size(), onset.sample);
        const auto chord = nameChord(notes);
        if (!chord) continue;
        std::vector<int> midis;
        for (const auto& note : notes) midis.push_back(note.midi);
        std::printf("%.4f %s %s\n", static_cast<double>(onset.sample) / sound.rate, chord->name.c_str(),
                    midiList(midis).c_str());
    }
    std::fflush(stdout);
    return 0;
}

int checkExpected(const std::string& path, const std::string& expectPath) {
    Sound sound;
    std::vector<ExpectedEvent> events;
    try {
        events = readExpectFile(expectPath);
        sound = readSound(path);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tunewick-analyze: %s\n", error.what());
        return kBadInput;
    }
    const std::vector<Onset> onsets = detectOnsets(sound.samples.data(), sound.samples.size(), sound.rate);
    NoteChecker checker(sound.rate);
    for (const auto& event : events) {
        std::vector<ExpectedNote> expected;
        for (int midi : event.midis) expected.push_back({midi});
        const auto due = static_cast<std::int64_t>(std::llround(event.due * sound.rate));
        const EventCheck result = checker.check(sound.samples.data(), sound.samples.size(), due, expected, onsets);
        for (const auto& verdict : result.notes) {
            if (verdict.heard) {
                const double offset = std::round(verdict.offsetMs * 10.0) / 10.0 + 0.0;
                std::printf("%.3f %d heard %.1f\n", event.due, verdict.midi, offset);
            } else {
                std::printf("%.3f %d missing -\n", event.due, verdict.midi);
            }
        }
        for (int midi : result.extra) std::printf("%.3f %d extra -\n", event.due, midi);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace tunewick
