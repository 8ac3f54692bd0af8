#pragma once
// The practice history: every result a page reports, kept in one SQLite file
// (progress.db) that survives crashes and power cuts once a write has returned. Opens or
// makes the file, brings an older schema up to date, and sets a corrupt or newer file aside
// (progress.db.bad, .bad.1 …) to start anew. Owned by the dialog and used on the dialog's
// thread only; another process may use the same file at the same time (WAL, busy timeout).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "progress/PracticeResult.h"

namespace SQLite {
class Database;
}

namespace tunewick {

class ProgressStore {
public:
    // The schema this build writes; files of a lower version are migrated on open.
    static constexpr int kSchemaVersion = 2;

    // What the player is told, at most once per cause: a caption and a text.
    using Teller = std::function<void(const std::string& caption, const std::string& text)>;

    // Opens `file` now (an empty path keeps the history in memory). A file that cannot be
    // used is set aside and a new one started; when even that fails the store keeps nothing
    // (available() is false) and the player is told why.
    ProgressStore(std::filesystem::path file, Teller tell);
    ~ProgressStore();
    ProgressStore(const ProgressStore&) = delete;
    ProgressStore& operator=(const ProgressStore&) = delete;

    // $XDG_DATA_HOME/tunewick/progress.db when that variable is absolute, else
    // $HOME/.local/share/tunewick/progress.db; empty when neither is known.
    static std::filesystem::path fileFor(const char* xdgDataHome, const char* home);
    static std::filesystem::path defaultFile();

    bool available() const { return db_ != nullptr; }
    const std::filesystem::path& file() const { return file_; }
    // The file a bad history was moved to on open, if any.
    const std::filesystem::path& setAside() const { return setAside_; }

    // Stores `result` as of `atMs` (ms since 1970) in one transaction; true once it is on
    // the disk. False when it could not be written (the disk full, the file locked too long),
    // with the player told the first time; what was kept before stays.
    bool record(const PracticeResult& result, std::int64_t atMs);

    // Forgets every result (the tables stay). False when it could not.
    bool clear();

    // For the summary and the export, which only read. Null when not available().
    SQLite::Database* database() const { return db_.get(); }

    // Milliseconds the store waits for another process's write before giving up.
    static constexpr int kBusyTimeoutMs = 5000;

private:
    void open();
    void tellOnce(bool& told, const std::string& caption, const std::string& text);

    std::filesystem::path file_;
    Teller tell_;
    std::unique_ptr<SQLite::Database> db_;
    std::filesystem::path setAside_;
    bool toldWriteFailure_ = false;
};

// The statements that made schema version `version` from the one before it (version 1 from an
// empty file). Public so that tests can make a file of an earlier version.
const char* progressSchemaStep(int version);

}  // namespace tunewick
