#include "settings/SettingsStore.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <unistd.h>

#include "settings/AtomicFile.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// Settings are a few lines; anything bigger is no settings file of ours.
constexpr std::size_t kMaxFileBytes = 1 << 20;

constexpr double kLowestReference = 415.0;
constexpr double kHighestReference = 466.0;
// The delay from playing to hearing, ms: up to the worst Bluetooth headset. It is what remains
// after the page has allowed for its browser's reported output latency, so it is below zero
// when that report overstated the truth, by a few ms as a rule.
constexpr double kLowestLatency = -100.0;
constexpr double kHighestLatency = 500.0;
// The report the page allowed for. The browser's report wanders, by hundreds of ms on a busy
// machine, so the page keeps the one its measurement was made with.
constexpr double kHighestOutputLatency = 1000.0;

bool isOneOf(const json& value, std::initializer_list<const char*> choices) {
    if (!value.is_string()) return false;
    const auto& text = value.get_ref<const json::string_t&>();
    for (const char* choice : choices) {
        if (text == choice) return true;
    }
    return false;
}

struct Rule {
    const char* name;
    json fallback;
    bool (*accepts)(const json&);
};

// The drill's best scores, kept as the JSON text of an object, pair to whole count (the pages
// exchange strings and numbers only), and of a sensible size.
bool isBestTable(const json& v) {
    if (!v.is_string() || v.get_ref<const json::string_t&>().size() > 8000) return false;
    const json table = json::parse(v.get_ref<const json::string_t&>(), nullptr, false);
    if (!table.is_object()) return false;
    for (const auto& [pair, count] : table.items()) {
        if (pair.empty() || pair.size() > 40 || !count.is_number_integer()) return false;
        if (count.get<long long>() < 0 || count.get<long long>() > 1000) return false;
    }
    return true;
}

bool isNumberIn(const json& value, double low, double high) {
    if (!value.is_number()) return false;
    const double v = value.get<double>();
    return std::isfinite(v) && v >= low && v <= high;
}

const std::array<Rule, 13>& rules() {
    static const std::array<Rule, 13> table{{
        {SettingsStore::kReferencePitch, 440.0,
         [](const json& v) {
             if (!v.is_number()) return false;
             const double hz = v.get<double>();
             return std::isfinite(hz) && hz >= kLowestReference && hz <= kHighestReference;
         }},
        {SettingsStore::kTuning, "standard",
         [](const json& v) { return isOneOf(v, {"standard", "dropD", "halfStepDown", "openG", "openD", "DADGAD"}); }},
        {SettingsStore::kTunerMode, "auto", [](const json& v) { return isOneOf(v, {"auto", "manual"}); }},
        {SettingsStore::kTunerView, "needle", [](const json& v) { return isOneOf(v, {"needle", "strobe"}); }},
        {SettingsStore::kDailyGoal, 15,
         [](const json& v) {
             if (!v.is_number()) return false;
             const double minutes = v.get<double>();
             return minutes >= 1 && minutes <= 240 && minutes == std::floor(minutes);
         }},
        {SettingsStore::kChordSet, "openMajor",
         [](const json& v) { return isOneOf(v, {"openMajor", "openMinor", "sevenths", "barre", "custom"}); }},
        {SettingsStore::kChordList, "Am, C, G, E",
         [](const json& v) { return v.is_string() && v.get_ref<const json::string_t&>().size() <= 300; }},
        {SettingsStore::kDrillTempo, 60,
         [](const json& v) {
             if (!v.is_number()) return false;
             const double bpm = v.get<double>();
             return bpm >= 40.0 && bpm <= 160.0 && bpm == std::floor(bpm);
         }},
        {SettingsStore::kDrillBest, "{}", isBestTable},
        {SettingsStore::kLatency, 0.0, [](const json& v) { return isNumberIn(v, kLowestLatency, kHighestLatency); }},
        {SettingsStore::kOutputLatency, -1.0,
         [](const json& v) { return isNumberIn(v, 0.0, kHighestOutputLatency); }},
        {SettingsStore::kHitWindow, 50.0, [](const json& v) { return isNumberIn(v, 10.0, 150.0); }},
        {SettingsStore::kLateWindow, 150.0, [](const json& v) { return isNumberIn(v, 50.0, 400.0); }},
    }};
    return table;
}

const Rule* ruleFor(const std::string& name) {
    for (const Rule& rule : rules()) {
        if (name == rule.name) return &rule;
    }
    return nullptr;
}

// unreadable: the system would not give the bytes (EACCES, EIO...), which says nothing
// about the file itself; unusable: the bytes are no settings file of ours.
enum class ReadResult { ok, missing, unreadable, unusable };

ReadResult readFile(const fs::path& file, std::string& text, std::string& error) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return ReadResult::missing;
        error = std::strerror(errno);
        return ReadResult::unreadable;
    }
    std::array<char, 8192> buffer{};
    ReadResult result = ReadResult::ok;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            result = ReadResult::unreadable;
            break;
        }
        if (n == 0) break;
        text.append(buffer.data(), static_cast<std::size_t>(n));
        if (text.size() > kMaxFileBytes) {
            error = "larger than " + std::to_string(kMaxFileBytes) + " bytes";
            result = ReadResult::unusable;
            break;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace

SettingsStore::SettingsStore(fs::path file, std::ostream& diagnostics)
    : file_(std::move(file)), diagnostics_(diagnostics) {
    load();
}

fs::path SettingsStore::fileFor(const char* xdgConfigHome, const char* home) {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
    if (xdgConfigHome && xdgConfigHome[0] == '/') return fs::path(xdgConfigHome) / "tunewick" / "settings.json";
    if (home && home[0] == '/') return fs::path(home) / ".config" / "tunewick" / "settings.json";
    return {};
}

fs::path SettingsStore::defaultFile() { return fileFor(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")); }

void SettingsStore::load() {
    if (file_.empty()) return;
    std::string text;
    std::string error;
    const ReadResult read = readFile(file_, text, error);
    if (read == ReadResult::missing) return;
    if (read == ReadResult::unreadable) {
        // Perhaps only for now: the player's file stays as it is, and is not written over
        // with the defaults either.
        keepFile_ = true;
        diagnostics_ << "Settings: " << file_.string() << " cannot be read (" << error
                     << "); using the defaults for this run and leaving the file as it is" << std::endl;
        return;
    }
    if (read == ReadResult::ok) {
        json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (parsed.is_object()) {
            document_ = std::move(parsed);
            return;
        }
        error = parsed.is_discarded() ? "not JSON" : "not a JSON object";
    }
    std::string line = "Settings: " + file_.string() + " cannot be used (" + error + "); using the defaults";
    std::string moveError;
    if (const auto kept = moveAsideKeepingOthers(file_, ".bad", moveError)) {
        line += ", the file is kept as " + kept->string();
    } else {
        line += "; " + moveError;
    }
    diagnostics_ << line << std::endl;
}

json SettingsStore::effective(const std::string& name) const {
    const Rule* rule = ruleFor(name);
    if (!rule) return nullptr;
    const auto stored = document_.find(name);
    if (stored != document_.end() && rule->accepts(*stored)) return *stored;
    return rule->fallback;
}

json SettingsStore::values() const {
    json out = json::object();
    for (const Rule& rule : rules()) out[rule.name] = effective(rule.name);
    return out;
}

bool SettingsStore::set(const std::string& name, const json& value) {
    const Rule* rule = ruleFor(name);
    if (!rule || !rule->accepts(value)) return false;
    const auto stored = document_.find(name);
    if (stored != document_.end() && *stored == value) return true;
    document_[name] = value;
    if (keepFile_) {
        if (!toldNotSaved_) diagnostics_ << "Settings: not saved: " << file_.string() << " could not be read" << std::endl;
        toldNotSaved_ = true;
    } else if (!file_.empty()) {
        std::string error;
        // Strings from elsewhere are valid UTF-8 already; replacing keeps a dump from throwing.
        const std::string text = document_.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
        if (!writeFileAtomically(file_, text, error)) diagnostics_ << "Settings: not saved: " << error << std::endl;
    }
    if (listener_) listener_(name);
    return true;
}

double SettingsStore::referencePitch() const { return effective(kReferencePitch).get<double>(); }

int SettingsStore::dailyGoal() const { return static_cast<int>(effective(kDailyGoal).get<double>()); }
double SettingsStore::latency() const { return effective(kLatency).get<double>(); }

}  // namespace tunewick
