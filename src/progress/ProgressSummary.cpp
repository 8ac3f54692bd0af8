#include "progress/ProgressSummary.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "progress/ProgressStore.h"

namespace tunewick {
namespace {

using json = nlohmann::json;

constexpr int kTimingBinMs = 20;
constexpr int kTimingReachMs = 200;   // offsets beyond ±this fall in the outermost bins
constexpr int kStreakReachDays = 400;
constexpr std::size_t kNextItems = 3;

std::tm localTime(std::int64_t ms) {
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

std::string dayKey(const std::tm& tm) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return text;
}

// Local midnight `back` days before the day of `ms`; mktime settles month ends and DST.
std::int64_t midnightBefore(std::int64_t ms, int back) {
    std::tm tm = localTime(ms);
    tm.tm_mday -= back;
    tm.tm_hour = 0;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm)) * 1000;
}

double round1(double x) { return std::round(x * 10.0) / 10.0; }

struct Candidate {
    double weakness;  // 0 (fine) .. 1 (weakest)
    json item;
};

void minutes(SQLite::Database& db, const SummaryRequest& r, json& out) {
    const std::int64_t from = midnightBefore(r.nowMs, r.days - 1);
    std::map<std::string, double> perDay;
    SQLite::Statement s(db, "SELECT start, seconds FROM session WHERE start >= ? AND start <= ?");
    s.bind(1, midnightBefore(r.nowMs, kStreakReachDays));
    s.bind(2, r.nowMs);
    std::map<std::string, double> allDays;
    while (s.executeStep()) {
        const std::int64_t start = s.getColumn(0).getInt64();
        const double minutes = s.getColumn(1).getDouble() / 60.0;
        const std::string day = localDay(start);
        allDays[day] += minutes;
        if (start >= from) perDay[day] += minutes;
    }
    json series = json::array();
    for (int back = r.days - 1; back >= 0; --back) {
        const std::string day = localDay(midnightBefore(r.nowMs, back));
        const auto it = perDay.find(day);
        series.push_back({{"day", day}, {"minutes", round1(it == perDay.end() ? 0.0 : it->second)}});
    }
    out["minutesPerDay"] = std::move(series);
    const std::string today = localDay(r.nowMs);
    out["today"] = today;
    out["todayMinutes"] = round1(allDays.count(today) ? allDays[today] : 0.0);

    // Days in a row with practice, up to today; a day not yet practised does not break it.
    int streak = 0;
    int back = allDays.count(today) ? 0 : 1;
    for (; back <= kStreakReachDays; ++back) {
        if (!allDays.count(localDay(midnightBefore(r.nowMs, back)))) break;
        ++streak;
    }
    out["streak"] = streak;
}

void songs(SQLite::Database& db, std::int64_t from, json& out, std::vector<Candidate>& next) {
    std::map<std::pair<std::string, std::string>, json> runs;  // (song, lesson) -> runs
    std::map<std::pair<std::string, std::string>, std::int64_t> latestRun;
    std::map<std::pair<std::string, std::string>, double> latestAccuracy;
    SQLite::Statement s(db,
                        "SELECT id, at, song, lesson, speed, accuracy, spread FROM playalong WHERE at >= ? ORDER BY at");
    s.bind(1, from);
    while (s.executeStep()) {
        const auto key = std::make_pair(s.getColumn(2).getString(), s.getColumn(3).getString());
        runs[key].push_back({{"at", s.getColumn(1).getInt64()},
                             {"speed", s.getColumn(4).getDouble()},
                             {"accuracy", s.getColumn(5).getDouble()},
                             {"spread", s.getColumn(6).getDouble()}});
        latestRun[key] = s.getColumn(0).getInt64();
        latestAccuracy[key] = s.getColumn(5).getDouble();
    }
    json list = json::array();
    SQLite::Statement missedBars(db,
                                 "SELECT bar, COUNT(*) AS n FROM playalong_event WHERE run_id = ? AND verdict != 'hit' "
                                 "GROUP BY bar ORDER BY n DESC, bar LIMIT 4");
    for (auto& [key, items] : runs) {
        json lesson = key.second.empty() ? json(nullptr) : json(key.second);
        list.push_back({{"song", key.first}, {"lesson", lesson}, {"runs", std::move(items)}});
        const double accuracy = latestAccuracy[key];
        if (accuracy >= 0.95) continue;
        json bars = json::array();
        missedBars.bind(1, latestRun[key]);
        while (missedBars.executeStep()) bars.push_back(missedBars.getColumn(0).getInt());
        missedBars.reset();
        std::sort(bars.begin(), bars.end());
        std::string label = key.first + (key.second.empty() ? "" : " — " + key.second);
        if (!bars.empty()) label += bars.size() == 1 ? ", bar " : ", bars ";
        for (std::size_t i = 0; i < bars.size(); ++i) label += (i ? ", " : "") + std::to_string(bars[i].get<int>());
        next.push_back({1.0 - accuracy,
                        {{"kind", "lesson"},
                         {"label", label},
                         {"page", "Songs"},
                         {"detail", {{"song", key.first}, {"lesson", lesson}, {"bars", bars}}}}});
    }
    out["songs"] = std::move(list);
}

void missedPlaces(SQLite::Database& db, std::int64_t from, json& out, std::vector<Candidate>& next) {
    std::map<std::pair<int, int>, std::pair<int, int>> places;  // (string, fret) -> (misses, asked)
    SQLite::Statement game(db,
                           "SELECT string, fret, SUM(correct = 0), COUNT(*) FROM notegame "
                           "WHERE at >= ? AND string IS NOT NULL AND fret IS NOT NULL GROUP BY string, fret");
    game.bind(1, from);
    while (game.executeStep()) {
        auto& p = places[{game.getColumn(0).getInt(), game.getColumn(1).getInt()}];
        p.first += game.getColumn(2).getInt();
        p.second += game.getColumn(3).getInt();
    }
    SQLite::Statement events(db,
                             "SELECT e.string, e.fret, SUM(e.verdict IN ('wrong', 'missed')), COUNT(*) "
                             "FROM playalong_event e JOIN playalong p ON p.id = e.run_id "
                             "WHERE p.at >= ? AND e.string IS NOT NULL AND e.fret IS NOT NULL GROUP BY e.string, e.fret");
    events.bind(1, from);
    while (events.executeStep()) {
        auto& p = places[{events.getColumn(0).getInt(), events.getColumn(1).getInt()}];
        p.first += events.getColumn(2).getInt();
        p.second += events.getColumn(3).getInt();
    }
    json list = json::array();
    std::vector<std::pair<double, json>> worst;
    for (const auto& [place, counts] : places) {
        if (counts.first == 0) continue;
        json one = {{"string", place.first}, {"fret", place.second}, {"misses", counts.first}, {"asked", counts.second}};
        worst.emplace_back(static_cast<double>(counts.first) / counts.second, one);
        list.push_back(std::move(one));
    }
    out["missed"] = std::move(list);
    if (worst.empty()) return;
    std::stable_sort(worst.begin(), worst.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    json placesToPractise = json::array();
    double sum = 0;
    for (std::size_t i = 0; i < worst.size() && i < 5; ++i) {
        placesToPractise.push_back({{"string", worst[i].second["string"]}, {"fret", worst[i].second["fret"]}});
        sum += worst[i].first;
    }
    const double weakness = sum / static_cast<double>(placesToPractise.size());
    next.push_back({weakness,
                    {{"kind", "notes"},
                     {"label", "The notes you miss most on the neck"},
                     {"page", "Notes"},
                     {"detail", {{"places", placesToPractise}}}}});
}

void timing(SQLite::Database& db, std::int64_t from, json& out) {
    const int binCount = 2 * kTimingReachMs / kTimingBinMs;
    std::vector<int> counts(static_cast<std::size_t>(binCount), 0);
    SQLite::Statement s(db,
                        "SELECT e.offset_ms FROM playalong_event e JOIN playalong p ON p.id = e.run_id "
                        "WHERE p.at >= ? AND e.offset_ms IS NOT NULL");
    s.bind(1, from);
    int total = 0;
    while (s.executeStep()) {
        const double offset = std::clamp(s.getColumn(0).getDouble(), -static_cast<double>(kTimingReachMs),
                                         kTimingReachMs - 1e-9);
        const int bin = static_cast<int>(std::floor((offset + kTimingReachMs) / kTimingBinMs));
        ++counts[static_cast<std::size_t>(std::clamp(bin, 0, binCount - 1))];
        ++total;
    }
    json bins = json::array();
    for (int i = 0; i < binCount; ++i) {
        bins.push_back({{"from", -kTimingReachMs + i * kTimingBinMs}, {"count", counts[static_cast<std::size_t>(i)]}});
    }
    out["timing"] = {{"binMs", kTimingBinMs}, {"total", total}, {"bins", std::move(bins)}};
}

void pairs(SQLite::Database& db, std::int64_t from, json& out, std::vector<Candidate>& next) {
    std::map<std::string, json> runs;
    std::map<std::string, double> latest;
    SQLite::Statement s(db, "SELECT at, pair, bpm, changes, clean, seconds FROM drill WHERE at >= ? ORDER BY at");
    s.bind(1, from);
    while (s.executeStep()) {
        const int changes = s.getColumn(3).getInt();
        const double perMinute = changes / (s.getColumn(5).getDouble() / 60.0);
        const std::string pair = s.getColumn(1).getString();
        runs[pair].push_back({{"at", s.getColumn(0).getInt64()},
                              {"perMinute", round1(perMinute)},
                              {"bpm", s.getColumn(2).getDouble()},
                              {"cleanRatio", changes ? static_cast<double>(s.getColumn(4).getInt()) / changes : 0.0}});
        latest[pair] = perMinute;
    }
    json list = json::array();
    for (auto& [pair, items] : runs) {
        list.push_back({{"pair", pair}, {"runs", std::move(items)}});
        // Sixty clean changes a minute is where a pair stops holding a song up.
        const double weakness = 1.0 - std::min(1.0, latest[pair] / 60.0);
        if (weakness > 0.05) {
            next.push_back({weakness,
                            {{"kind", "pair"},
                             {"label", "Change " + pair + " (" + std::to_string(static_cast<int>(latest[pair])) +
                                           " a minute)"},
                             {"page", "Chords"},
                             {"detail", {{"pair", pair}}}}});
        }
    }
    out["pairs"] = std::move(list);
}

void chords(SQLite::Database& db, std::int64_t from, json& out, std::vector<Candidate>& next) {
    json list = json::array();
    SQLite::Statement s(db, "SELECT chord, COUNT(*), SUM(clean) FROM chord WHERE at >= ? GROUP BY chord ORDER BY chord");
    s.bind(1, from);
    while (s.executeStep()) {
        const std::string chord = s.getColumn(0).getString();
        const int tries = s.getColumn(1).getInt();
        const int clean = s.getColumn(2).getInt();
        list.push_back({{"chord", chord}, {"tries", tries}, {"clean", clean}});
        const double weakness = 1.0 - static_cast<double>(clean) / tries;
        if (weakness > 0.05) {
            next.push_back({weakness,
                            {{"kind", "chord"},
                             {"label", "Make " + chord + " ring clean"},
                             {"page", "Chords"},
                             {"detail", {{"chord", chord}}}}});
        }
    }
    out["chords"] = std::move(list);
}

void counts(SQLite::Database& db, std::int64_t from, json& out) {
    SQLite::Statement game(db, "SELECT COUNT(*), COALESCE(SUM(correct), 0), AVG(ms) FROM notegame WHERE at >= ?");
    game.bind(1, from);
    game.executeStep();
    const int rounds = game.getColumn(0).getInt();
    out["notegame"] = {{"rounds", rounds},
                       {"correct", game.getColumn(1).getInt()},
                       {"averageMs", rounds ? std::round(game.getColumn(2).getDouble()) : 0.0}};
    SQLite::Statement tuner(db, "SELECT COUNT(*), AVG(ABS(first_cents)) FROM tuner WHERE at >= ?");
    tuner.bind(1, from);
    tuner.executeStep();
    const int uses = tuner.getColumn(0).getInt();
    out["tuner"] = {{"uses", uses}, {"averageAbsCents", uses ? round1(tuner.getColumn(1).getDouble()) : 0.0}};
}

bool anything(SQLite::Database& db) {
    for (const char* table : {"session", "notegame", "tuner", "chord", "drill", "playalong"}) {
        SQLite::Statement s(db, std::string("SELECT EXISTS(SELECT 1 FROM ") + table + ")");
        s.executeStep();
        if (s.getColumn(0).getInt()) return true;
    }
    return false;
}

}  // namespace

std::string localDay(std::int64_t ms) { return dayKey(localTime(ms)); }

json progressSummary(const ProgressStore& store, const SummaryRequest& request) {
    SummaryRequest r = request;
    r.days = std::clamp(r.days, 1, 365);
    json out = {{"days", r.days}, {"goalMinutes", r.goalMinutes}, {"available", store.available()}};
    std::vector<Candidate> next;
    SQLite::Database* db = store.database();
    const std::int64_t from = midnightBefore(r.nowMs, r.days - 1);
    bool empty = true;
    if (db) {
        try {
            empty = !anything(*db);
            minutes(*db, r, out);
            songs(*db, from, out, next);
            missedPlaces(*db, from, out, next);
            timing(*db, from, out);
            pairs(*db, from, out, next);
            chords(*db, from, out, next);
            counts(*db, from, out);
        } catch (const SQLite::Exception& e) {
            out["error"] = e.what();
        }
    }
    out["empty"] = empty;
    // Whatever could not be read still has its shape, so the page never meets a hole.
    const json blanks = {{"minutesPerDay", json::array()}, {"today", localDay(r.nowMs)}, {"todayMinutes", 0},
                         {"streak", 0}, {"songs", json::array()}, {"missed", json::array()},
                         {"timing", {{"binMs", kTimingBinMs}, {"total", 0}, {"bins", json::array()}}},
                         {"pairs", json::array()}, {"chords", json::array()},
                         {"notegame", {{"rounds", 0}, {"correct", 0}, {"averageMs", 0}}},
                         {"tuner", {{"uses", 0}, {"averageAbsCents", 0}}}};
    for (auto it = blanks.begin(); it != blanks.end(); ++it) {
        if (!out.contains(it.key())) out[it.key()] = it.value();
    }
    std::stable_sort(next.begin(), next.end(), [](const Candidate& a, const Candidate& b) { return a.weakness > b.weakness; });
    json items = json::array();
    for (std::size_t i = 0; i < next.size() && i < kNextItems; ++i) items.push_back(next[i].item);
    out["next"] = std::move(items);
    return out;
}

}  // namespace tunewick
