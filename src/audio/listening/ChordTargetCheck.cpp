#include "audio/listening/ChordTargetCheck.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "bridge/FlashObject.h"

namespace tunewick {
namespace {

// A wrong fret lands this close to the note the string should give.
constexpr int kWrongFretReach = 4;
// Open strings in standard tuning, string 1 (high e) .. 6 (low E).
constexpr int kOpenString[7] = {0, 64, 59, 55, 50, 45, 40};
constexpr int kFrets = 24;

bool playableOn(int string, int midi) {
    if (string < 1 || string > 6) return true;  // unknown string: any
    return midi >= kOpenString[string] && midi <= kOpenString[string] + kFrets;
}

std::unique_ptr<Param> number(double value) {
    auto param = std::make_unique<Param>();
    param->setNumber(value);
    return param;
}

}  // namespace

ChordTargetCheck checkAgainstTarget(const std::vector<ExpectedNote>& target, const EventCheck& check) {
    ChordTargetCheck result;
    result.extra = check.extra;
    result.notes.resize(target.size());
    std::vector<bool> silent(target.size(), true);
    for (std::size_t i = 0; i < target.size(); ++i) {
        StringCheck& string = result.notes[i];
        string.expected = target[i];
        const NoteVerdict* verdict = i < check.notes.size() ? &check.notes[i] : nullptr;
        if (verdict != nullptr && std::isfinite(verdict->cents)) string.cents = verdict->cents;
        if (verdict != nullptr && verdict->heard) {
            silent[i] = false;
            string.verdict = string.cents && std::abs(*string.cents) > kBuzzCents ? "buzz" : "ok";
        }
    }
    // Each unexpected note explains at most one silent string, the nearest first.
    std::vector<std::array<std::size_t, 3>> pairs;  // distance, string, extra
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (!silent[i]) continue;
        for (std::size_t e = 0; e < check.extra.size(); ++e) {
            const int distance = std::abs(check.extra[e] - target[i].midi);
            if (distance == 0 || distance > kWrongFretReach || !playableOn(target[i].string, check.extra[e])) continue;
            pairs.push_back({static_cast<std::size_t>(distance), i, e});
        }
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<bool> used(check.extra.size(), false);
    for (const auto& [distance, i, e] : pairs) {
        if (!silent[i] || used[e]) continue;
        silent[i] = false;
        used[e] = true;
        result.notes[i].verdict = "wrong";
        result.notes[i].heardMidi = check.extra[e];
    }
    bool clean = check.extra.empty();
    for (const StringCheck& string : result.notes) clean = clean && std::string(string.verdict) == "ok";
    result.clean = clean;
    return result;
}

Param toParam(const ChordTargetCheck& check) {
    auto notes = std::make_unique<FlashObject>();
    for (std::size_t i = 0; i < check.notes.size(); ++i) {
        const StringCheck& s = check.notes[i];
        auto item = std::make_unique<FlashObject>();
        item->setProperty("midi", number(s.expected.midi));
        item->setProperty("string", s.expected.string > 0 ? number(s.expected.string) : std::make_unique<Param>());
        item->setProperty("fret", s.expected.fret >= 0 ? number(s.expected.fret) : std::make_unique<Param>());
        item->setProperty("verdict", std::make_unique<Param>(s.verdict));
        item->setProperty("heardMidi", s.heardMidi ? number(*s.heardMidi) : std::make_unique<Param>());
        item->setProperty("cents", s.cents ? number(std::round(*s.cents * 10.0) / 10.0) : std::make_unique<Param>());
        auto value = std::make_unique<Param>();
        value->setObject(std::move(item));
        notes->setProperty(std::to_string(i), std::move(value));
    }
    auto extra = std::make_unique<FlashObject>();
    for (std::size_t i = 0; i < check.extra.size(); ++i) extra->setProperty(std::to_string(i), number(check.extra[i]));

    auto object = std::make_unique<FlashObject>();
    auto notesParam = std::make_unique<Param>();
    notesParam->setArray(std::move(notes));
    auto extraParam = std::make_unique<Param>();
    extraParam->setArray(std::move(extra));
    object->setProperty("notes", std::move(notesParam));
    object->setProperty("extra", std::move(extraParam));
    object->setProperty("clean", std::make_unique<Param>(check.clean));
    Param out;
    out.setObject(std::move(object));
    return out;
}

}  // namespace tunewick
