#include "progress/ProgressExport.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sys/stat.h>

#include "progress/ProgressStore.h"
#include "progress/ProgressSummary.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

json columnValue(const SQLite::Column& c) {
    if (c.isNull()) return nullptr;
    if (c.isInteger()) return c.getInt64();
    if (c.isFloat()) return c.getDouble();
    return c.getString();
}

// Every row of `sql` as an object, column name to value.
json rows(SQLite::Database& db, const char* sql, std::optional<std::int64_t> id = std::nullopt) {
    SQLite::Statement s(db, sql);
    if (id) s.bind(1, *id);
    json out = json::array();
    while (s.executeStep()) {
        json row = json::object();
        for (int i = 0; i < s.getColumnCount(); ++i) row[s.getColumnName(i)] = columnValue(s.getColumn(i));
        out.push_back(std::move(row));
    }
    return out;
}

std::string csvField(const SQLite::Column& c) {
    if (c.isNull()) return {};
    std::string text = c.getString();
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char ch : text) {
        if (ch == '"') quoted += '"';
        quoted += ch;
    }
    return quoted + "\"";
}

bool writeCsv(SQLite::Database& db, const fs::path& file, const char* sql, std::string& error) {
    std::ofstream out(file, std::ios::binary);
    SQLite::Statement s(db, sql);
    for (int i = 0; i < s.getColumnCount(); ++i) out << (i ? "," : "") << s.getColumnName(i);
    out << "\r\n";
    while (s.executeStep()) {
        for (int i = 0; i < s.getColumnCount(); ++i) out << (i ? "," : "") << csvField(s.getColumn(i));
        out << "\r\n";
    }
    out.flush();
    if (!out) {
        error = "cannot write " + file.string();
        return false;
    }
    return true;
}

struct Table {
    const char* file;
    const char* sql;
};

// One file per kind; the per-string and per-event rows are folded into their kind's file.
constexpr std::array<Table, 6> kTables{{
    {"session.csv", "SELECT at, page, start, seconds FROM session ORDER BY at, id"},
    {"notegame.csv", "SELECT at, asked, heard, correct, ms, string, fret FROM notegame ORDER BY at, id"},
    {"tuner.csv", "SELECT at, string, target, first_cents FROM tuner ORDER BY at, id"},
    {"chord.csv",
     "SELECT c.at, c.chord, c.clean, (SELECT group_concat(s.string || ':' || s.verdict, ' ') FROM chord_string s "
     "WHERE s.chord_id = c.id) AS strings FROM chord c ORDER BY c.at, c.id"},
    {"drill.csv", "SELECT at, pair, bpm, changes, clean, seconds FROM drill ORDER BY at, id"},
    {"playalong.csv",
     "SELECT p.id AS run, p.at, p.song, p.lesson, p.speed, p.accuracy, p.spread, e.idx AS event, e.bar, e.verdict, "
     "e.offset_ms, e.string, e.fret FROM playalong p LEFT JOIN playalong_event e ON e.run_id = p.id "
     "ORDER BY p.at, p.id, e.idx"},
}};

}  // namespace

json progressAsJson(const ProgressStore& store, std::int64_t nowMs) {
    json out = {{"schema", ProgressStore::kSchemaVersion}, {"exported", nowMs}};
    SQLite::Database* db = store.database();
    if (!db) return out;
    out["session"] = rows(*db, "SELECT at, page, start, seconds FROM session ORDER BY at, id");
    out["notegame"] = rows(*db, "SELECT at, asked, heard, correct, ms, string, fret FROM notegame ORDER BY at, id");
    out["tuner"] = rows(*db, "SELECT at, string, target, first_cents AS firstCents FROM tuner ORDER BY at, id");
    out["drill"] = rows(*db, "SELECT at, pair, bpm, changes, clean, seconds FROM drill ORDER BY at, id");
    json chords = rows(*db, "SELECT id, at, chord, clean FROM chord ORDER BY at, id");
    for (json& c : chords) {
        c["strings"] = rows(*db, "SELECT string, verdict FROM chord_string WHERE chord_id = ? ORDER BY rowid",
                            c["id"].get<std::int64_t>());
        c.erase("id");
    }
    out["chord"] = std::move(chords);
    json runs = rows(*db, "SELECT id, at, song, lesson, speed, accuracy, spread FROM playalong ORDER BY at, id");
    for (json& run : runs) {
        run["events"] = rows(*db,
                             "SELECT idx AS \"index\", bar, verdict, offset_ms AS offset, string, fret "
                             "FROM playalong_event WHERE run_id = ? ORDER BY idx",
                             run["id"].get<std::int64_t>());
        run.erase("id");
    }
    out["playalong"] = std::move(runs);
    return out;
}

fs::path documentsFolder() {
    const char* home = std::getenv("HOME");
    // xdg-user-dir reads the player's user-dirs.dirs and answers $HOME when DOCUMENTS is unset.
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen("xdg-user-dir DOCUMENTS 2>/dev/null", "r"), ::pclose);
    if (pipe) {
        std::array<char, 4096> line{};
        if (std::fgets(line.data(), static_cast<int>(line.size()), pipe.get())) {
            std::string path(line.data());
            while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
            std::error_code ec;
            if (!path.empty() && path[0] == '/' && fs::is_directory(path, ec)) return path;
        }
    }
    if (home && home[0] == '/') return home;
    return {};
}

std::optional<fs::path> exportProgress(const ProgressStore& store, const fs::path& under, std::int64_t nowMs,
                                       std::string& error) {
    if (!store.database()) {
        error = "no practice history is kept this time";
        return std::nullopt;
    }
    if (under.empty()) {
        error = "no documents or home folder is known";
        return std::nullopt;
    }
    const std::string base = "Tunewick progress " + localDay(nowMs);
    fs::path folder;
    for (int n = 1; n < 1000 && folder.empty(); ++n) {
        fs::path candidate = under / (n == 1 ? base : base + " " + std::to_string(n));
        // mkdir fails on a name that is taken, so an earlier export is never written into.
        if (::mkdir(candidate.c_str(), 0755) == 0) {
            folder = candidate;
        } else if (errno != EEXIST) {
            error = "cannot make " + candidate.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
    }
    if (folder.empty()) {
        error = "every folder name for today is taken";
        return std::nullopt;
    }
    try {
        for (const Table& t : kTables) {
            if (!writeCsv(*store.database(), folder / t.file, t.sql, error)) return std::nullopt;
        }
        std::ofstream json(folder / "progress.json", std::ios::binary);
        json << progressAsJson(store, nowMs).dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        json.flush();
        if (!json) {
            error = "cannot write " + (folder / "progress.json").string();
            return std::nullopt;
        }
    } catch (const SQLite::Exception& e) {
        error = e.what();
        return std::nullopt;
    }
    return folder;
}

}  // namespace tunewick
