#include "progress/ProgressStore.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace tunewick {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCaption = "Practice history";

// What version 1 made: one table per kind, each row stamped with its time (ms since 1970).
constexpr const char* kVersion1 = R"sql(
CREATE TABLE session(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, page TEXT NOT NULL,
                     start INTEGER NOT NULL, seconds REAL NOT NULL);
CREATE TABLE notegame(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, asked INTEGER NOT NULL,
                      heard INTEGER, correct INTEGER NOT NULL, ms REAL NOT NULL);
CREATE TABLE tuner(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, string INTEGER NOT NULL,
                   target INTEGER NOT NULL, first_cents REAL NOT NULL);
CREATE TABLE chord(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, chord TEXT NOT NULL,
                   clean INTEGER NOT NULL);
CREATE TABLE chord_string(chord_id INTEGER NOT NULL REFERENCES chord(id) ON DELETE CASCADE,
                          string INTEGER NOT NULL, verdict TEXT NOT NULL);
CREATE TABLE drill(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, pair TEXT NOT NULL, bpm REAL NOT NULL,
                   changes INTEGER NOT NULL, clean INTEGER NOT NULL, seconds REAL NOT NULL);
CREATE TABLE playalong(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, song TEXT NOT NULL, lesson TEXT,
                       speed REAL NOT NULL, accuracy REAL NOT NULL, spread REAL NOT NULL);
CREATE TABLE playalong_event(run_id INTEGER NOT NULL REFERENCES playalong(id) ON DELETE CASCADE,
                             idx INTEGER NOT NULL, bar INTEGER NOT NULL, verdict TEXT NOT NULL,
                             offset_ms REAL);
)sql";

// Version 2: the place on the neck of each note-game round and play-along event (the heatmap
// of missed notes), and indexes for the summary's time windows.
constexpr const char* kVersion2 = R"sql(
ALTER TABLE notegame ADD COLUMN string INTEGER;
ALTER TABLE notegame ADD COLUMN fret INTEGER;
ALTER TABLE playalong_event ADD COLUMN string INTEGER;
ALTER TABLE playalong_event ADD COLUMN fret INTEGER;
CREATE INDEX session_start ON session(start);
CREATE INDEX playalong_at ON playalong(at);
CREATE INDEX drill_at ON drill(at);
CREATE INDEX playalong_event_run ON playalong_event(run_id);
CREATE INDEX chord_string_chord ON chord_string(chord_id);
)sql";

// A file that is no history of ours, or one too new to understand.
struct BadFile {
    std::string why;
};

bool isBadFileCode(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

// BEGIN IMMEDIATE takes the write lock at once (waiting out another process's writer for the
// busy timeout), so a transaction never fails half way for a lock; rolled back unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(SQLite::Database& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }
    ~WriteTransaction() {
        if (open_) {
            try {
                db_.exec("ROLLBACK");
            } catch (const SQLite::Exception&) {
                // Already rolled back by SQLite itself (after a full disk, for one).
            }
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void commit() {
        db_.exec("COMMIT");
        open_ = false;
    }

private:
    SQLite::Database& db_;
    bool open_ = true;
};

// Moves `file` to the first free `<file>.bad`, `.bad.1` … (a hard link cannot replace a file
// that appeared meanwhile), with its -wal and -shm companions beside the new name.
fs::path moveAside(const fs::path& file, std::string& error) {
    for (int n = 0; n < 1000; ++n) {
        fs::path target = file;
        target += n == 0 ? std::string(".bad") : ".bad." + std::to_string(n);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(target, ec))) continue;
        if (::link(file.c_str(), target.c_str()) != 0) {
            if (errno == EEXIST) continue;
            if (::rename(file.c_str(), target.c_str()) != 0) {
                error = std::strerror(errno);
                return {};
            }
        } else {
            ::unlink(file.c_str());
        }
        for (const char* companion : {"-wal", "-shm"}) {
            fs::path from = file;
            from += companion;
            fs::path to = target;
            to += companion;
            if (fs::exists(from, ec)) fs::rename(from, to, ec);
        }
        return target;
    }
    error = "every name up to .bad.999 is taken";
    return {};
}

}  // namespace

const char* progressSchemaStep(int version) {
    switch (version) {
        case 1:
            return kVersion1;
        case 2:
            return kVersion2;
        default:
            return nullptr;
    }
}

ProgressStore::ProgressStore(fs::path file, Teller tell) : file_(std::move(file)), tell_(std::move(tell)) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string why;
        try {
            open();
            return;
        } catch (const BadFile& bad) {
            why = bad.why;
        } catch (const SQLite::Exception& e) {
            if (!isBadFileCode(e.getErrorCode())) {
                db_.reset();
                if (tell_) {
                    tell_(kCaption, "Tunewick cannot keep your practice history this time (" + std::string(e.what()) +
                                        "): " + file_.string() + ". Everything else works as usual.");
                }
                return;
            }
            why = e.what();
        }
        db_.reset();
        if (attempt > 0 || file_.empty()) {
            if (tell_) tell_(kCaption, "Tunewick cannot keep your practice history this time (" + why + ").");
            return;
        }
        std::string error;
        setAside_ = moveAside(file_, error);
        if (setAside_.empty()) {
            if (tell_) {
                tell_(kCaption, "Your practice history (" + file_.string() + ") cannot be read (" + why +
                                    ") and could not be moved aside (" + error + "); it is not kept this time.");
            }
            return;
        }
        if (tell_) {
            tell_(kCaption, "Your practice history could not be read (" + why + "). It is kept as " +
                                setAside_.string() + " and a new history starts now.");
        }
    }
}

ProgressStore::~ProgressStore() = default;

fs::path ProgressStore::fileFor(const char* xdgDataHome, const char* home) {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    if (xdgDataHome && xdgDataHome[0] == '/') return fs::path(xdgDataHome) / "tunewick" / "progress.db";
    if (home && home[0] == '/') return fs::path(home) / ".local" / "share" / "tunewick" / "progress.db";
    return {};
}

fs::path ProgressStore::defaultFile() { return fileFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")); }

void ProgressStore::open() {
    const int flags = SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE;
    if (file_.empty()) {
        db_ = std::make_unique<SQLite::Database>(":memory:", flags);
    } else {
        std::error_code ec;
        fs::create_directories(file_.parent_path(), ec);
        db_ = std::make_unique<SQLite::Database>(file_, flags, kBusyTimeoutMs);
    }
    SQLite::Database& db = *db_;
    db.exec("PRAGMA foreign_keys = ON");
    // Read before anything is written, so a file set aside is the file as it was.
    const int version = db.execAndGet("PRAGMA user_version").getInt();
    if (version > kSchemaVersion) {
        throw BadFile{"it was written by a newer Tunewick (schema " + std::to_string(version) + ")"};
    }
    const std::string check = db.execAndGet("PRAGMA quick_check(1)").getString();
    if (check != "ok") throw BadFile{"it is damaged: " + check};
    if (!file_.empty()) {
        const std::string mode = db.execAndGet("PRAGMA journal_mode = WAL").getString();
        if (mode != "wal") throw BadFile{"its journal cannot be switched to WAL"};
    }
    // With WAL each commit is synced to the disk before it returns: a power cut keeps it.
    db.exec("PRAGMA synchronous = FULL");

    if (version < kSchemaVersion) {
        WriteTransaction tx(db);
        // Another instance may have migrated while this one waited for the lock.
        const int now = db.execAndGet("PRAGMA user_version").getInt();
        if (now > kSchemaVersion) throw BadFile{"it was written by a newer Tunewick"};
        if (now == 0 && db.tableExists("session")) throw BadFile{"it holds tables of no known schema"};
        for (int v = now + 1; v <= kSchemaVersion; ++v) db.exec(progressSchemaStep(v));
        // A pragma takes no bound value; the number is this build's constant.
        db.exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
        tx.commit();
    }
}

void ProgressStore::tellOnce(bool& told, const std::string& caption, const std::string& text) {
    if (told) return;
    told = true;
    if (tell_) tell_(caption, text);
}

namespace {

template <typename T>
void bindOptional(SQLite::Statement& s, int index, const std::optional<T>& value) {
    if (value) {
        s.bind(index, *value);
    } else {
        s.bind(index);
    }
}

void insert(SQLite::Database& db, const NoteGameResult& r, std::int64_t at) {
    SQLite::Statement s(db,
                        "INSERT INTO notegame(at, asked, heard, correct, ms, string, fret) VALUES(?,?,?,?,?,?,?)");
    s.bind(1, at);
    s.bind(2, r.asked);
    bindOptional(s, 3, r.heard);
    s.bind(4, r.correct ? 1 : 0);
    s.bind(5, r.ms);
    s.bind(6, r.string);
    s.bind(7, r.fret);
    s.exec();
}

void insert(SQLite::Database& db, const TunerResult& r, std::int64_t at) {
    SQLite::Statement s(db, "INSERT INTO tuner(at, string, target, first_cents) VALUES(?,?,?,?)");
    s.bind(1, at);
    s.bind(2, r.string);
    s.bind(3, r.target);
    s.bind(4, r.firstCents);
    s.exec();
}

void insert(SQLite::Database& db, const ChordResult& r, std::int64_t at) {
    SQLite::Statement s(db, "INSERT INTO chord(at, chord, clean) VALUES(?,?,?)");
    s.bind(1, at);
    s.bind(2, r.chord);
    s.bind(3, r.clean ? 1 : 0);
    s.exec();
    const std::int64_t id = db.getLastInsertRowid();
    SQLite::Statement each(db, "INSERT INTO chord_string(chord_id, string, verdict) VALUES(?,?,?)");
    for (const ChordString& one : r.strings) {
        each.bind(1, id);
        each.bind(2, one.string);
        each.bind(3, one.verdict);
        each.exec();
        each.reset();
    }
}

void insert(SQLite::Database& db, const DrillResult& r, std::int64_t at) {
    SQLite::Statement s(db, "INSERT INTO drill(at, pair, bpm, changes, clean, seconds) VALUES(?,?,?,?,?,?)");
    s.bind(1, at);
    s.bind(2, r.pair);
    s.bind(3, r.bpm);
    s.bind(4, r.changes);
    s.bind(5, r.clean);
    s.bind(6, r.seconds);
    s.exec();
}

void insert(SQLite::Database& db, const PlayAlongResult& r, std::int64_t at) {
    SQLite::Statement s(db,
                        "INSERT INTO playalong(at, song, lesson, speed, accuracy, spread) VALUES(?,?,?,?,?,?)");
    s.bind(1, at);
    s.bind(2, r.song);
    bindOptional(s, 3, r.lesson);
    s.bind(4, r.speed);
    s.bind(5, r.accuracy);
    s.bind(6, r.spread);
    s.exec();
    const std::int64_t id = db.getLastInsertRowid();
    SQLite::Statement each(
        db, "INSERT INTO playalong_event(run_id, idx, bar, verdict, offset_ms, string, fret) VALUES(?,?,?,?,?,?,?)");
    for (const PlayAlongEvent& e : r.events) {
        each.bind(1, id);
        each.bind(2, e.index);
        each.bind(3, e.bar);
        each.bind(4, e.verdict);
        bindOptional(each, 5, e.offset);
        bindOptional(each, 6, e.string);
        bindOptional(each, 7, e.fret);
        each.exec();
        each.reset();
    }
}

void insert(SQLite::Database& db, const SessionResult& r, std::int64_t at) {
    SQLite::Statement s(db, "INSERT INTO session(at, page, start, seconds) VALUES(?,?,?,?)");
    s.bind(1, at);
    s.bind(2, r.page);
    s.bind(3, static_cast<std::int64_t>(r.start));
    s.bind(4, r.seconds);
    s.exec();
}

std::string writeFailure(const SQLite::Exception& e, int systemErrno) {
    const bool full = systemErrno == ENOSPC || systemErrno == EFBIG || systemErrno == EDQUOT;
    if (full || (e.getErrorCode() & 0xff) == SQLITE_FULL) {
        return "The disk is full, so this result was not kept. Your history so far is safe; free some "
               "space and Tunewick keeps the next one.";
    }
    // A write refused by the file system (SQLite does not always keep its errno): most often a
    // disk or a quota that is full.
    if (e.getExtendedErrorCode() == SQLITE_IOERR_WRITE) {
        return "Writing to the disk failed (is it full?), so this result was not kept. Your history so far "
               "is safe; free some space and Tunewick keeps the next one.";
    }
    switch (e.getErrorCode() & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "Another Tunewick kept the practice history busy for too long, so this result was not kept.";
        default:
            return std::string("This result could not be written to your practice history (") + e.what() +
                   "). Your history so far is safe.";
    }
}

}  // namespace

bool ProgressStore::record(const PracticeResult& result, std::int64_t atMs) {
    if (!db_) return false;
    int systemErrno = 0;
    try {
        WriteTransaction tx(*db_);
        try {
            std::visit([&](const auto& r) { insert(*db_, r, atMs); }, result);
            tx.commit();
        } catch (const SQLite::Exception&) {
            // Taken before the rollback, which may set its own.
            systemErrno = sqlite3_system_errno(db_->getHandle());
            throw;
        }
        return true;
    } catch (const SQLite::Exception& e) {
        tellOnce(toldWriteFailure_, kCaption, writeFailure(e, systemErrno));
        return false;
    }
}

bool ProgressStore::clear() {
    if (!db_) return false;
    try {
        WriteTransaction tx(*db_);
        // The per-string and per-event rows go with their parents (ON DELETE CASCADE).
        for (const char* table : {"session", "notegame", "tuner", "chord", "drill", "playalong"}) {
            db_->exec(std::string("DELETE FROM ") + table);
        }
        tx.commit();
        return true;
    } catch (const SQLite::Exception& e) {
        tellOnce(toldWriteFailure_, kCaption, writeFailure(e, sqlite3_system_errno(db_->getHandle())));
        return false;
    }
}

}  // namespace tunewick
