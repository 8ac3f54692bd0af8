#pragma once
// One practice result as a page reports it ("notegame", "tuner", "chord", "drill", "playalong",
// "session"), checked field by field before anything is stored. Plain values: made and used on
// whichever thread reads the page's call (the dialog's).
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace tunewick {

struct NoteGameResult {
    int asked = 0;                  // MIDI note asked for
    std::optional<int> heard;       // MIDI note heard; none when nothing was heard
    bool correct = false;
    double ms = 0;                  // time to answer
    int string = 0;                 // 0 = low E … 5 = high e
    int fret = 0;
};

struct TunerResult {
    int string = 0;
    int target = 0;                 // the string's MIDI note
    double firstCents = 0;          // how far off it was when first heard
};

struct ChordString {
    int string = 0;
    std::string verdict;            // clean, muted, buzz, wrong, missing
};

struct ChordResult {
    std::string chord;
    bool clean = false;
    std::vector<ChordString> strings;
};

struct DrillResult {
    std::string pair;               // "Am-E"
    double bpm = 0;
    int changes = 0;
    int clean = 0;
    double seconds = 0;
};

struct PlayAlongEvent {
    int index = 0;
    int bar = 0;
    std::string verdict;            // hit, early, late, wrong, missed
    std::optional<double> offset;   // ms, negative when early; none when missed
    std::optional<int> string;
    std::optional<int> fret;
};

struct PlayAlongResult {
    std::string song;
    std::optional<std::string> lesson;
    double speed = 1;
    double accuracy = 0;
    double spread = 0;              // ms
    std::vector<PlayAlongEvent> events;
};

struct SessionResult {
    std::string page;
    double start = 0;               // ms since 1970
    double seconds = 0;
};

using PracticeResult =
    std::variant<NoteGameResult, TunerResult, ChordResult, DrillResult, PlayAlongResult, SessionResult>;

// The kind's name and its fields checked: the result, or nothing with the first fault in `error`
// (an unknown kind, a missing field, a wrong type, a value out of range). Extra fields are
// ignored.
std::optional<PracticeResult> parsePracticeResult(const std::string& kind, const nlohmann::json& fields,
                                                  std::string& error);

// The kind's name of a result ("notegame" …).
const char* kindOf(const PracticeResult& result);

}  // namespace tunewick
