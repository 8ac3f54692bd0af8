#include "progress/PracticeResult.h"

#include <cmath>
#include <initializer_list>

namespace tunewick {
namespace {

using json = nlohmann::json;

constexpr int kLowestMidi = 28;    // E1, below a bass's low E
constexpr int kHighestMidi = 100;  // E7, above the guitar's reach
constexpr std::size_t kMaxText = 64;
constexpr std::size_t kMaxEvents = 20000;

// Reads one field after another and remembers the first fault; each reader gives a neutral
// value once a fault is known, so a parse reads straight through and checks `ok()` at the end.
class Fields {
public:
    Fields(const json& object, std::string& error) : object_(object), error_(error) {}

    bool ok() const { return ok_; }

    double number(const char* name, double low, double high) {
        const json* v = find(name);
        if (!v) return 0;
        if (!v->is_number()) return fail(name, "is not a number"), 0;
        const double x = v->get<double>();
        if (!std::isfinite(x) || x < low || x > high) return fail(name, "is out of range"), 0;
        return x;
    }

    int integer(const char* name, int low, int high) {
        const double x = number(name, low, high);
        if (ok_ && x != std::floor(x)) return fail(name, "is not a whole number"), 0;
        return static_cast<int>(x);
    }

    bool boolean(const char* name) {
        const json* v = find(name);
        if (!v) return false;
        if (!v->is_boolean()) return fail(name, "is not true or false"), false;
        return v->get<bool>();
    }

    std::string text(const char* name) {
        const json* v = find(name);
        if (!v) return {};
        if (!v->is_string()) return fail(name, "is not text"), std::string();
        const auto& s = v->get_ref<const std::string&>();
        if (s.empty() || s.size() > kMaxText) return fail(name, "is empty or too long"), std::string();
        return s;
    }

    std::string oneOf(const char* name, std::initializer_list<const char*> choices) {
        const std::string s = text(name);
        if (!ok_) return {};
        for (const char* c : choices) {
            if (s == c) return s;
        }
        fail(name, "is not one of the known words");
        return {};
    }

    // A field that may be absent or null.
    bool present(const char* name) const {
        const auto it = object_.find(name);
        return it != object_.end() && !it->is_null();
    }

    const json* array(const char* name, std::size_t maxItems) {
        const json* v = find(name);
        if (!v) return nullptr;
        if (!v->is_array()) return fail(name, "is not a list"), nullptr;
        if (v->size() > maxItems) return fail(name, "has too many items"), nullptr;
        return v;
    }

    void fail(const std::string& name, const char* what) {
        if (!ok_) return;
        ok_ = false;
        error_ = "\"" + name + "\" " + what;
    }

private:
    const json* find(const char* name) {
        if (!ok_) return nullptr;
        const auto it = object_.find(name);
        if (it == object_.end() || it->is_null()) return fail(name, "is missing"), nullptr;
        return &*it;
    }

    const json& object_;
    std::string& error_;
    bool ok_ = true;
};

NoteGameResult noteGame(Fields& f) {
    NoteGameResult r;
    r.asked = f.integer("asked", kLowestMidi, kHighestMidi);
    if (f.present("heard")) r.heard = f.integer("heard", kLowestMidi, kHighestMidi);
    r.correct = f.boolean("correct");
    r.ms = f.number("ms", 0, 600000);
    r.string = f.integer("string", 0, 5);
    r.fret = f.integer("fret", 0, 24);
    return r;
}

TunerResult tuner(Fields& f) {
    TunerResult r;
    r.string = f.integer("string", 0, 5);
    r.target = f.integer("target", kLowestMidi, kHighestMidi);
    r.firstCents = f.number("firstCents", -1200, 1200);
    return r;
}

ChordResult chord(Fields& f, std::string& error) {
    ChordResult r;
    r.chord = f.text("chord");
    r.clean = f.boolean("clean");
    if (const json* list = f.array("strings", 6)) {
        for (const json& item : *list) {
            if (!item.is_object()) {
                f.fail("strings", "holds an item that is no object");
                break;
            }
            Fields s(item, error);
            ChordString one;
            one.string = s.integer("string", 0, 5);
            one.verdict = s.oneOf("verdict", {"clean", "muted", "buzz", "wrong", "missing"});
            if (!s.ok()) {
                f.fail("strings", "holds a bad item");
                break;
            }
            r.strings.push_back(std::move(one));
        }
    }
    return r;
}

DrillResult drill(Fields& f) {
    DrillResult r;
    r.pair = f.text("pair");
    const auto dash = r.pair.find('-');
    if (f.ok() && (dash == std::string::npos || dash == 0 || dash + 1 == r.pair.size() ||
                   r.pair.find('-', dash + 1) != std::string::npos)) {
        f.fail("pair", "is not two chord names joined by -");
    }
    r.bpm = f.number("bpm", 20, 400);
    r.changes = f.integer("changes", 0, 10000);
    r.clean = f.integer("clean", 0, r.changes);
    r.seconds = f.number("seconds", 1, 3600);
    return r;
}

PlayAlongResult playAlong(Fields& f, std::string& error) {
    PlayAlongResult r;
    r.song = f.text("song");
    if (f.present("lesson")) r.lesson = f.text("lesson");
    r.speed = f.number("speed", 0.1, 4);
    r.accuracy = f.number("accuracy", 0, 1);
    r.spread = f.number("spread", 0, 10000);
    if (const json* list = f.array("events", kMaxEvents)) {
        r.events.reserve(list->size());
        for (const json& item : *list) {
            if (!item.is_object()) {
                f.fail("events", "holds an item that is no object");
                break;
            }
            Fields e(item, error);
            PlayAlongEvent one;
            one.index = e.integer("index", 0, 1000000);
            one.bar = e.integer("bar", 0, 100000);
            one.verdict = e.oneOf("verdict", {"hit", "early", "late", "wrong", "partial", "missed"});
            if (e.present("offset")) one.offset = e.number("offset", -10000, 10000);
            if (e.present("string")) one.string = e.integer("string", 0, 5);
            if (e.present("fret")) one.fret = e.integer("fret", 0, 24);
            if (!e.ok()) {
                f.fail("events", "holds a bad item");
                break;
            }
            r.events.push_back(std::move(one));
        }
    }
    return r;
}

SessionResult session(Fields& f) {
    SessionResult r;
    r.page = f.text("page");
    // From 2000 to 2200: a clock that far off is no clock.
    r.start = f.number("start", 946684800000.0, 7258118400000.0);
    r.seconds = f.number("seconds", 0, 86400);
    return r;
}

}  // namespace

std::optional<PracticeResult> parsePracticeResult(const std::string& kind, const json& fields, std::string& error) {
    if (!fields.is_object()) {
        error = "the result is no object";
        return std::nullopt;
    }
    Fields f(fields, error);
    PracticeResult result;
    if (kind == "notegame") {
        result = noteGame(f);
    } else if (kind == "tuner") {
        result = tuner(f);
    } else if (kind == "chord") {
        result = chord(f, error);
    } else if (kind == "drill") {
        result = drill(f);
    } else if (kind == "playalong") {
        result = playAlong(f, error);
    } else if (kind == "session") {
        result = session(f);
    } else {
        error = "unknown kind \"" + kind + "\"";
        return std::nullopt;
    }
    if (!f.ok()) return std::nullopt;
    return result;
}

const char* kindOf(const PracticeResult& result) {
    static constexpr const char* kNames[] = {"notegame", "tuner", "chord", "drill", "playalong", "session"};
    return kNames[result.index()];
}

}  // namespace tunewick
