#pragma once
// The player's lasting choices: reference pitch, tuning, tuner mode, tuner view, the daily
// practice goal, the chords page's choices, and the play-along latency and windows, kept in one
// JSON file (settings.json) so that a restart comes back as the player left it. Keys it does not
// know are kept as they are. Owned by the dialog and used on the dialog's thread only.
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>

#include <nlohmann/json.hpp>

namespace tunewick {

class SettingsStore {
public:
    // The names the pages use.
    static constexpr const char* kReferencePitch = "referencePitch";  // A4 in Hz, 415..466
    static constexpr const char* kTuning = "tuning";                  // see kTunings
    static constexpr const char* kTunerMode = "tunerMode";            // "auto" or "manual"
    static constexpr const char* kTunerView = "tunerView";            // "needle" or "strobe"
    static constexpr const char* kDailyGoal = "dailyGoal";            // practice minutes a day, 1..240
    // The chords page: the trainer's set, its custom list, the drill's tempo and best scores.
    static constexpr const char* kChordSet = "chordSet";              // see the rules
    static constexpr const char* kChordList = "chordList";            // names or frets, comma-separated
    static constexpr const char* kDrillTempo = "drillTempo";          // beats per minute, 40..160
    static constexpr const char* kDrillBest = "drillBest";            // JSON text: {"Am-E": clean changes}
    // Play-along judging: the delay from what Tunewick plays to what it hears (ms, -100..500),
    // and how far from its due time a note is a hit (10..150 ms) or early/late (50..400 ms).
    static constexpr const char* kLatency = "latency";
    static constexpr const char* kHitWindow = "hitWindow";
    static constexpr const char* kLateWindow = "lateWindow";
    // The browser's output latency (ms, 0..1000) the page allowed for when "latency" was
    // measured, and allows for again in every run after; -1 until a measurement.
    static constexpr const char* kOutputLatency = "outputLatency";

    // Reads `file` now. A missing file gives the defaults. A file that is no JSON object
    // gives the defaults too, writes one line to `diagnostics` and is moved to
    // settings.json.bad (or the next free name), never overwriting an earlier one. A file
    // the system cannot read (no permission, an I/O error) gives the defaults, one line, and
    // is left alone: settings changed in this run are then not saved. An empty path keeps
    // the settings in memory only.
    explicit SettingsStore(std::filesystem::path file, std::ostream& diagnostics);

    // Where the settings live: $XDG_CONFIG_HOME/tunewick/settings.json when that variable
    // holds an absolute path, else $HOME/.config/tunewick/settings.json. Empty when neither
    // is known.
    static std::filesystem::path fileFor(const char* xdgConfigHome, const char* home);
    static std::filesystem::path defaultFile();

    // Every known setting, name to value; a stored value of the wrong type or range reads
    // as its default.
    nlohmann::json values() const;
    // Takes `value` for `name` and writes the file; false (and nothing changes) for an
    // unknown name or a value of the wrong type or range. A file that cannot be written
    // leaves the value taken for this run and writes one line to the diagnostics.
    bool set(const std::string& name, const nlohmann::json& value);

    double referencePitch() const;
    int dailyGoal() const;
    double latency() const;

    // Called after a setting has changed, with its name.
    void onChange(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

    const std::filesystem::path& file() const { return file_; }

private:
    void load();
    nlohmann::json effective(const std::string& name) const;

    std::filesystem::path file_;
    std::ostream& diagnostics_;
    nlohmann::json document_ = nlohmann::json::object();
    bool keepFile_ = false;     // the file could not be read: never write over it
    bool toldNotSaved_ = false;
    std::function<void(const std::string&)> listener_;
};

}  // namespace tunewick
