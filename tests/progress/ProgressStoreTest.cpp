// The practice history on the disk: migration from every earlier schema, files that cannot be
// used, two instances at once, a process killed in the middle of writing, and a full disk.
#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "progress/ProgressStore.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kDay = 24LL * 3600 * 1000;
constexpr std::int64_t kNow = 1765100000000LL;

NoteGameResult noteRound(int ms, bool correct = true) {
    NoteGameResult r;
    r.asked = 45;
    r.heard = correct ? 45 : 47;
    r.correct = correct;
    r.ms = ms;
    r.string = 1;
    r.fret = 0;
    return r;
}

PlayAlongResult run(int events) {
    PlayAlongResult r;
    r.song = "Greensleeves";
    r.speed = 0.8;
    r.accuracy = 0.9;
    r.spread = 30;
    for (int i = 0; i < events; ++i) r.events.push_back({i, i / 4, "hit", 5.0, 2, 3});
    return r;
}

int count(const fs::path& file, const std::string& table) {
    SQLite::Database db(file, SQLite::OPEN_READONLY);
    return db.execAndGet("SELECT COUNT(*) FROM " + table).getInt();
}

std::string integrity(const fs::path& file) {
    SQLite::Database db(file, SQLite::OPEN_READONLY);
    return db.execAndGet("PRAGMA integrity_check").getString();
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProgressStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tunewick-progress-" + std::to_string(::getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        file_ = folder_ / "progress.db";
    }
    void TearDown() override { fs::remove_all(folder_); }

    ProgressStore::Teller teller() {
        return [this](const std::string& caption, const std::string& text) { told_.push_back(caption + ": " + text); };
    }

    fs::path folder_;
    fs::path file_;
    std::vector<std::string> told_;
};

TEST_F(ProgressStoreTest, FileLivesUnderTheDataHome) {
    EXPECT_EQ(ProgressStore::fileFor("/x/data", "/home/p"), fs::path("/x/data/tunewick/progress.db"));
    EXPECT_EQ(ProgressStore::fileFor("relative", "/home/p"), fs::path("/home/p/.local/share/tunewick/progress.db"));
    EXPECT_EQ(ProgressStore::fileFor(nullptr, "/home/p"), fs::path("/home/p/.local/share/tunewick/progress.db"));
    EXPECT_EQ(ProgressStore::fileFor(nullptr, nullptr), fs::path());
}

TEST_F(ProgressStoreTest, ANewFileIsMadeInWalModeAtTheCurrentSchema) {
    {
        ProgressStore store(folder_ / "deeper" / "progress.db", teller());
        ASSERT_TRUE(store.available());
        EXPECT_TRUE(store.record(noteRound(900), kNow));
    }
    SQLite::Database db(folder_ / "deeper" / "progress.db", SQLite::OPEN_READONLY);
    EXPECT_EQ(db.execAndGet("PRAGMA user_version").getInt(), ProgressStore::kSchemaVersion);
    EXPECT_EQ(db.execAndGet("PRAGMA journal_mode").getString(), "wal");
    EXPECT_EQ(db.execAndGet("SELECT ms FROM notegame").getDouble(), 900.0);
    EXPECT_TRUE(told_.empty());
}

// A file of each earlier version, with a result of every kind written as that version wrote
// it, opens at the current version with every row and value still there.
TEST_F(ProgressStoreTest, MigratingFromEachEarlierSchemaKeepsTheData) {
    for (int from = 1; from < ProgressStore::kSchemaVersion; ++from) {
        SCOPED_TRACE("from version " + std::to_string(from));
        fs::remove(file_);
        {
            SQLite::Database db(file_, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
            for (int v = 1; v <= from; ++v) db.exec(progressSchemaStep(v));
            db.exec("PRAGMA user_version = " + std::to_string(from));
            db.exec("INSERT INTO session(at, page, start, seconds) VALUES(1, 'Notes', 1765000000000, 600)");
            db.exec("INSERT INTO notegame(at, asked, heard, correct, ms) VALUES(2, 45, 47, 0, 2500)");
            db.exec("INSERT INTO tuner(at, string, target, first_cents) VALUES(3, 0, 40, -31.5)");
            db.exec("INSERT INTO chord(id, at, chord, clean) VALUES(7, 4, 'Am', 0)");
            db.exec("INSERT INTO chord_string(chord_id, string, verdict) VALUES(7, 2, 'buzz')");
            db.exec("INSERT INTO drill(at, pair, bpm, changes, clean, seconds) VALUES(5, 'Am-E', 60, 30, 25, 60)");
            db.exec("INSERT INTO playalong(id, at, song, lesson, speed, accuracy, spread) "
                    "VALUES(9, 6, 'Greensleeves', 'Bars 1-8', 0.5, 0.75, 40)");
            db.exec("INSERT INTO playalong_event(run_id, idx, bar, verdict, offset_ms) VALUES(9, 0, 1, 'late', 60)");
        }
        {
            ProgressStore store(file_, teller());
            ASSERT_TRUE(store.available());
            EXPECT_TRUE(store.setAside().empty());
            EXPECT_TRUE(store.record(noteRound(700), kNow));
        }
        SQLite::Database db(file_, SQLite::OPEN_READONLY);
        EXPECT_EQ(db.execAndGet("PRAGMA user_version").getInt(), ProgressStore::kSchemaVersion);
        EXPECT_EQ(db.execAndGet("SELECT seconds FROM session").getDouble(), 600.0);
        EXPECT_EQ(db.execAndGet("SELECT ms FROM notegame WHERE id = 1").getDouble(), 2500.0);
        EXPECT_TRUE(db.execAndGet("SELECT string FROM notegame WHERE id = 1").isNull());
        EXPECT_EQ(db.execAndGet("SELECT fret FROM notegame WHERE id = 2").getInt(), 0);
        EXPECT_EQ(db.execAndGet("SELECT first_cents FROM tuner").getDouble(), -31.5);
        EXPECT_EQ(db.execAndGet("SELECT verdict FROM chord_string WHERE chord_id = 7").getString(), "buzz");
        EXPECT_EQ(db.execAndGet("SELECT clean FROM drill").getInt(), 25);
        EXPECT_EQ(db.execAndGet("SELECT lesson FROM playalong WHERE id = 9").getString(), "Bars 1-8");
        EXPECT_EQ(db.execAndGet("SELECT offset_ms FROM playalong_event WHERE run_id = 9").getDouble(), 60.0);
        EXPECT_EQ(db.execAndGet("PRAGMA integrity_check").getString(), "ok");
        SQLite::Statement orphans(db, "PRAGMA foreign_key_check");
        EXPECT_FALSE(orphans.executeStep()) << "a row lost its parent";
    }
    EXPECT_TRUE(told_.empty());
}

// What cannot be used is moved aside under a name not yet taken, never overwritten or
// deleted; the player is told once, and a new history works.
TEST_F(ProgressStoreTest, AFileThatCannotBeUsedIsSetAsideAndANewOneStarts) {
    struct Case {
        const char* name;
        void (*make)(const fs::path&);
    };
    const std::vector<Case> cases = {
        {"not a database",
         [](const fs::path& f) { std::ofstream(f) << "these are my notes, not a database\n" << std::string(5000, 'x'); }},
        {"from a newer version",
         [](const fs::path& f) {
             SQLite::Database db(f, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
             db.exec("CREATE TABLE future(x)");
             db.exec("PRAGMA user_version = 99");
         }},
        {"damaged inside",
         [](const fs::path& f) {
             {
                 ProgressStore store(f, nullptr);
                 for (int i = 0; i < 400; ++i) store.record(noteRound(i), kNow);
             }
             // Scribble over the pages after the header: the file still opens, its content is broken.
             std::fstream io(f, std::ios::in | std::ios::out | std::ios::binary);
             io.seekp(4096 + 100);
             const std::string junk(8000, '\x5a');
             io.write(junk.data(), static_cast<std::streamsize>(junk.size()));
         }},
    };
    std::vector<std::string> keptContent;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        told_.clear();
        fs::remove(file_);
        fs::remove(fs::path(file_.string() + "-wal"));
        fs::remove(fs::path(file_.string() + "-shm"));
        cases[i].make(file_);
        const std::string before = readAll(file_);
        ProgressStore store(file_, teller());
        ASSERT_TRUE(store.available());
        const fs::path expected = i == 0 ? fs::path(file_.string() + ".bad") : fs::path(file_.string() + ".bad." + std::to_string(i));
        EXPECT_EQ(store.setAside(), expected);
        EXPECT_TRUE(readAll(expected) == before) << "the set-aside file is not the file as it was";
        ASSERT_EQ(told_.size(), 1u);
        EXPECT_NE(told_[0].find(expected.string()), std::string::npos) << told_[0];
        EXPECT_TRUE(store.record(noteRound(1), kNow));
        keptContent.push_back(before);
    }
    // Every earlier set-aside file is as it was.
    EXPECT_TRUE(readAll(file_.string() + ".bad") == keptContent[0]);
    EXPECT_TRUE(readAll(file_.string() + ".bad.1") == keptContent[1]);
    EXPECT_EQ(count(file_, "notegame"), 1);
}

TEST_F(ProgressStoreTest, AFolderThatCannotBeWrittenKeepsNothingAndSaysWhy) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    fs::create_directories(folder_ / "locked");
    fs::permissions(folder_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    ProgressStore store(folder_ / "locked" / "progress.db", teller());
    EXPECT_FALSE(store.available());
    EXPECT_FALSE(store.record(noteRound(1), kNow));
    ASSERT_EQ(told_.size(), 1u);
    EXPECT_NE(told_[0].find("cannot keep your practice history"), std::string::npos);
    fs::permissions(folder_ / "locked", fs::perms::owner_all);
}

// Two stores on one file: in one process (one after the other) and in two processes writing
// at the same time. Every write that returned true is there, once.
TEST_F(ProgressStoreTest, TwoInstancesShareTheFile) {
    {
        ProgressStore a(file_, teller());
        ProgressStore b(file_, teller());
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE((i % 2 ? a : b).record(noteRound(i), kNow + i));
        }
        EXPECT_TRUE(a.clear());
        EXPECT_TRUE(b.record(noteRound(5), kNow));
    }
    EXPECT_EQ(count(file_, "notegame"), 1);

    constexpr int kEach = 150;
    std::vector<pid_t> children;
    for (int c = 0; c < 2; ++c) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ProgressStore store(file_, nullptr);
            int ok = 0;
            for (int i = 0; i < kEach; ++i) ok += store.record(run(20), kNow + i) ? 1 : 0;
            ::_exit(ok == kEach ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer lost a result";
    }
    EXPECT_EQ(count(file_, "playalong"), 2 * kEach);
    EXPECT_EQ(count(file_, "playalong_event"), 2 * kEach * 20);
    EXPECT_EQ(integrity(file_), "ok");
    EXPECT_TRUE(told_.empty());
}

// A writer killed with SIGKILL at an arbitrary moment: every result whose write had returned
// is there afterwards, and the file is whole.
TEST_F(ProgressStoreTest, AWriteThatReturnedSurvivesKill9) {
    for (int round_ = 0; round_ < 3; ++round_) {
        SCOPED_TRACE("round " + std::to_string(round_));
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipeFds[0]);
            ProgressStore store(file_, nullptr);
            for (int i = 0;; ++i) {
                const int ms = round_ * 100000 + i;
                if (!store.record(noteRound(ms), kNow)) ::_exit(1);
                if (::write(pipeFds[1], &ms, sizeof ms) != sizeof ms) ::_exit(2);
            }
        }
        ::close(pipeFds[1]);
        std::vector<int> acknowledged;
        const std::size_t killAfter = 30 + static_cast<std::size_t>(round_) * 25;
        int ms = 0;
        while (acknowledged.size() < killAfter && ::read(pipeFds[0], &ms, sizeof ms) == sizeof ms) {
            acknowledged.push_back(ms);
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        // Whatever was acknowledged after we stopped reading counts too.
        while (::read(pipeFds[0], &ms, sizeof ms) == sizeof ms) acknowledged.push_back(ms);
        ::close(pipeFds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";
        ASSERT_GE(acknowledged.size(), killAfter);

        ProgressStore reopened(file_, teller());
        ASSERT_TRUE(reopened.available());
        EXPECT_TRUE(reopened.setAside().empty());
        SQLite::Database db(file_, SQLite::OPEN_READONLY);
        SQLite::Statement has(db, "SELECT COUNT(*) FROM notegame WHERE ms = ?");
        int missing = 0;
        for (const int kept : acknowledged) {
            has.bind(1, kept);
            has.executeStep();
            if (has.getColumn(0).getInt() != 1) ++missing;
            has.reset();
        }
        EXPECT_EQ(missing, 0) << "of " << acknowledged.size();
        EXPECT_EQ(db.execAndGet("PRAGMA integrity_check").getString(), "ok");
    }
    EXPECT_TRUE(told_.empty());
}

// A disk that fills up: the write that does not fit answers false, the player is told once
// that the disk is full, and everything kept before is still there and whole. The disk is a
// 1 MiB tmpfs where this process may mount one, else a file-size limit on the writer.
TEST_F(ProgressStoreTest, AFullDiskKeepsWhatWasKeptAndSaysSo) {
    struct Disk {
        const char* name;
        bool tmpfs;
    };
    for (const Disk disk : {Disk{"tmpfs of 1 MiB", true}, Disk{"file size limit", false}}) {
        SCOPED_TRACE(disk.name);
        const fs::path mount = folder_ / (disk.tmpfs ? "tmpfs" : "limited");
        fs::create_directories(mount);
        if (disk.tmpfs && ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=1m") != 0) {
            std::printf("[  NOTE    ] no tmpfs here (not permitted); the size-limited file covers a full disk\n");
            continue;
        }
        const fs::path file = mount / "progress.db";
        {
            ProgressStore store(file, nullptr);
            for (int i = 0; i < 10; ++i) ASSERT_TRUE(store.record(run(10), kNow + i));
        }
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipeFds[0]);
            if (!disk.tmpfs) {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit limit{};
                limit.rlim_cur = limit.rlim_max = fs::file_size(file) + 256 * 1024;
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::string told;
            ProgressStore store(file, [&told](const std::string&, const std::string& text) { told += text + "\n"; });
            int kept = 0;
            int failures = 0;
            for (int i = 0; i < 400 && failures < 3; ++i) {
                if (store.record(run(2000), kNow + i)) {
                    ++kept;
                } else {
                    ++failures;
                }
            }
            const std::string report = std::to_string(kept) + " " + std::to_string(failures) + "\n" + told;
            (void)!::write(pipeFds[1], report.data(), report.size());
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        std::string report;
        char buffer[512];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        int kept = -1;
        int failures = -1;
        ASSERT_EQ(std::sscanf(report.c_str(), "%d %d", &kept, &failures), 2) << report;
        EXPECT_EQ(failures, 3) << "the disk never filled";
        const std::string told = report.substr(report.find('\n') + 1);
        EXPECT_NE(told.find(disk.tmpfs ? "The disk is full" : "(is it full?)"), std::string::npos) << told;
        EXPECT_NE(told.find("was not kept"), std::string::npos) << told;
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << "told once: " << told;
        EXPECT_EQ(count(file, "playalong"), 10 + kept);
        EXPECT_EQ(count(file, "playalong_event"), 100 + kept * 2000);
        EXPECT_EQ(integrity(file), "ok");
        if (disk.tmpfs) ::umount(mount.c_str());
    }
}

}  // namespace
}  // namespace tunewick
