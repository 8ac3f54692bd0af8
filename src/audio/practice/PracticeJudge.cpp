#include "audio/practice/PracticeJudge.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "bridge/FlashObject.h"

namespace tunewick {
namespace {

std::unique_ptr<Param> number(double value) {
    auto param = std::make_unique<Param>();
    param->setNumber(value);
    return param;
}

std::unique_ptr<Param> midiList(const std::vector<int>& notes) {
    auto list = std::make_unique<FlashObject>();
    for (std::size_t i = 0; i < notes.size(); ++i) list->setProperty(std::to_string(i), number(notes[i]));
    auto param = std::make_unique<Param>();
    param->setArray(std::move(list));
    return param;
}

// One decimal is finer than any onset is timed.
double tenth(double ms) { return std::round(ms * 10.0) / 10.0; }

// The middle offset of the notes heard: the event's offset, unmoved by one straggler of a
// spread strum.
std::optional<double> medianOffset(const EventCheck& check) {
    std::vector<double> offsets;
    for (const NoteVerdict& note : check.notes) {
        if (note.heard && std::isfinite(note.offsetMs)) offsets.push_back(note.offsetMs);
    }
    if (offsets.empty()) return std::nullopt;
    std::sort(offsets.begin(), offsets.end());
    const std::size_t mid = offsets.size() / 2;
    return offsets.size() % 2 ? offsets[mid] : (offsets[mid - 1] + offsets[mid]) / 2.0;
}

}  // namespace

const char* verdictName(VerdictKind kind) {
    switch (kind) {
        case VerdictKind::hit: return "hit";
        case VerdictKind::early: return "early";
        case VerdictKind::late: return "late";
        case VerdictKind::wrong: return "wrong";
        case VerdictKind::partial: return "partial";
        case VerdictKind::missed: return "missed";
    }
    return "missed";
}

PracticeVerdict judgeEvent(const EventCheck& check, std::optional<double> onsetOffsetMs,
                           const PracticeOptions& options) {
    PracticeVerdict verdict;
    std::size_t heard = 0;
    for (const NoteVerdict& note : check.notes) {
        if (note.heard) {
            ++heard;
        } else {
            verdict.missing.push_back(note.midi);
        }
    }
    verdict.extra = check.extra;
    verdict.offset = medianOffset(check);
    if (!verdict.offset && onsetOffsetMs && std::isfinite(*onsetOffsetMs)) verdict.offset = onsetOffsetMs;

    const bool outOfWindow = verdict.offset && std::abs(*verdict.offset) > options.lateWindow;
    if ((heard == 0 && verdict.extra.empty()) || outOfWindow || !verdict.offset) {
        // Nothing within the window, or notes with no onset to time them by: not played.
        verdict.kind = VerdictKind::missed;
        verdict.offset.reset();
        verdict.missing.clear();
        for (const NoteVerdict& note : check.notes) verdict.missing.push_back(note.midi);
        verdict.extra.clear();
        return verdict;
    }
    if (!verdict.extra.empty()) {
        verdict.kind = VerdictKind::wrong;
    } else if (!verdict.missing.empty()) {
        verdict.kind = VerdictKind::partial;
    } else if (std::abs(*verdict.offset) <= options.hitWindow) {
        verdict.kind = VerdictKind::hit;
    } else {
        verdict.kind = *verdict.offset < 0.0 ? VerdictKind::early : VerdictKind::late;
    }
    verdict.offset = tenth(*verdict.offset);
    return verdict;
}

FunctionCall verdictCall(const PracticeVerdict& verdict) {
    auto object = std::make_unique<FlashObject>();
    object->setProperty("index", number(static_cast<double>(verdict.index)));
    object->setProperty("time", number(verdict.time));
    object->setProperty("verdict", std::make_unique<Param>(verdictName(verdict.kind)));
    object->setProperty("offset", verdict.offset ? number(*verdict.offset) : std::make_unique<Param>());
    object->setProperty("missing", midiList(verdict.missing));
    object->setProperty("extra", midiList(verdict.extra));
    FunctionCall call("setVerdict");
    Param argument;
    argument.setObject(std::move(object));
    call.arguments.push_back(std::move(argument));
    return call;
}

void PracticeScore::add(const PracticeVerdict& verdict) {
    ++events_;
    if (verdict.kind == VerdictKind::hit) ++hits_;
    const bool inTime = verdict.kind == VerdictKind::hit || verdict.kind == VerdictKind::early ||
                        verdict.kind == VerdictKind::late;
    if (inTime && verdict.offset) {
        ++timed_;
        sum_ += *verdict.offset;
        sumSquares_ += *verdict.offset * *verdict.offset;
    }
}

Param PracticeScore::summary() const {
    auto object = std::make_unique<FlashObject>();
    object->setProperty("events", number(static_cast<double>(events_)));
    object->setProperty("hits", number(static_cast<double>(hits_)));
    object->setProperty("accuracy", number(events_ ? static_cast<double>(hits_) / static_cast<double>(events_) : 0.0));
    if (timed_ > 0) {
        const double mean = sum_ / static_cast<double>(timed_);
        const double variance = std::max(0.0, sumSquares_ / static_cast<double>(timed_) - mean * mean);
        object->setProperty("meanOffset", number(tenth(mean)));
        object->setProperty("spread", number(tenth(std::sqrt(variance))));
    } else {
        object->setProperty("meanOffset", std::make_unique<Param>());
        object->setProperty("spread", std::make_unique<Param>());
    }
    Param out;
    out.setObject(std::move(object));
    return out;
}

}  // namespace tunewick
