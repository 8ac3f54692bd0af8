#include "audio/practice/PracticeEvents.h"

#include <cmath>
#include <string>

#include "bridge/FlashObject.h"

namespace tunewick {
namespace {

const Param* property(const Param& object, const char* name) {
    if (object.type() != Param::Object || object.getObject() == nullptr) return nullptr;
    return object.getObject()->getProperty(name);
}

std::optional<double> finiteNumber(const Param* value) {
    if (value == nullptr || value->type() != Param::Number) return std::nullopt;
    const double x = value->getNumber();
    if (!std::isfinite(x)) return std::nullopt;
    return x;
}

// A whole number in lo..hi.
std::optional<int> wholeNumber(const Param* value, int lo, int hi) {
    const auto x = finiteNumber(value);
    if (!x || *x != std::floor(*x) || *x < lo || *x > hi) return std::nullopt;
    return static_cast<int>(*x);
}

bool absent(const Param* value) { return value == nullptr || value->type() == Param::Null; }

std::optional<ExpectedNote> parseNote(const Param& value) {
    const auto midi = wholeNumber(property(value, "midi"), 0, 127);
    if (!midi) return std::nullopt;
    ExpectedNote note{*midi};
    if (const Param* string = property(value, "string"); !absent(string)) {
        const auto s = wholeNumber(string, 1, 6);
        if (!s) return std::nullopt;
        note.string = *s;
    }
    if (const Param* fret = property(value, "fret"); !absent(fret)) {
        const auto f = wholeNumber(fret, 0, 30);
        if (!f) return std::nullopt;
        note.fret = *f;
    }
    return note;
}

std::optional<PracticeEvent> parseEvent(const Param& value) {
    const auto time = finiteNumber(property(value, "time"));
    if (!time || *time < 0.0 || *time > PracticeLimits::kMaxSongMs) return std::nullopt;
    const Param* notes = property(value, "notes");
    if (notes == nullptr) return std::nullopt;
    auto expected = parseExpectedNotes(*notes);
    if (!expected) return std::nullopt;
    return PracticeEvent{*time, std::move(*expected)};
}

}  // namespace

std::optional<std::vector<ExpectedNote>> parseExpectedNotes(const Param& value) {
    const auto elements = arrayElements(value);
    if (!elements || elements->empty() || elements->size() > PracticeLimits::kMaxNotesPerEvent) return std::nullopt;
    std::vector<ExpectedNote> notes;
    notes.reserve(elements->size());
    for (const Param* element : *elements) {
        const auto note = parseNote(*element);
        if (!note) return std::nullopt;
        notes.push_back(*note);
    }
    return notes;
}

std::optional<std::vector<const Param*>> arrayElements(const Param& value) {
    if (value.type() != Param::Array || value.getObject() == nullptr) return std::nullopt;
    const FlashObject& map = *value.getObject();
    std::vector<const Param*> elements;
    elements.reserve(map.size());
    for (std::size_t i = 0; i < map.size(); ++i) {
        const Param* element = map.getProperty(std::to_string(i));
        if (element == nullptr) return std::nullopt;  // a key that is no index
        elements.push_back(element);
    }
    return elements;
}

std::optional<std::vector<PracticeEvent>> parsePracticeEvents(const Param& value) {
    if (value.type() != Param::Array || value.getObject() == nullptr) return std::nullopt;
    // Refused before anything is copied: a huge list costs nothing.
    if (value.getObject()->size() > PracticeLimits::kMaxEvents) return std::nullopt;
    const auto elements = arrayElements(value);
    if (!elements || elements->empty()) return std::nullopt;
    std::vector<PracticeEvent> events;
    events.reserve(elements->size());
    for (const Param* element : *elements) {
        auto event = parseEvent(*element);
        if (!event) return std::nullopt;
        if (!events.empty() && event->time < events.back().time) return std::nullopt;
        events.push_back(std::move(*event));
    }
    return events;
}

std::optional<PracticeOptions> parsePracticeOptions(const Param& value) {
    PracticeOptions options;
    if (value.type() == Param::Null) return options;
    if (value.type() != Param::Object) return std::nullopt;
    for (auto [name, field] : {std::pair{"hitWindow", &options.hitWindow}, std::pair{"lateWindow", &options.lateWindow}}) {
        const Param* given = property(value, name);
        if (absent(given)) continue;
        const auto ms = finiteNumber(given);
        if (!ms || *ms <= 0.0 || *ms > PracticeLimits::kMaxWindowMs) return std::nullopt;
        *field = *ms;
    }
    if (options.hitWindow > options.lateWindow) return std::nullopt;
    return options;
}

std::optional<double> parseStartDelay(const Param& value) {
    if (value.type() == Param::Null) return 0.0;
    const auto ms = finiteNumber(&value);
    if (!ms || *ms < 0.0 || *ms > PracticeLimits::kMaxStartDelayMs) return std::nullopt;
    return *ms;
}

}  // namespace tunewick
