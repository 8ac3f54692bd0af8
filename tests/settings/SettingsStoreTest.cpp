// The settings file: defaults, values and their limits, unknown keys, atomic replacement,
// and what happens to a file that cannot be used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "settings/AtomicFile.h"
#include "settings/SettingsStore.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

// Each test in a folder of its own; the settings file is inside it.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tunewick-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        file_ = folder_ / "tunewick" / "settings.json";
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(file_.parent_path())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
    fs::path file_;
    std::ostringstream log_;
};

const json kDefaults = {{"referencePitch", 440.0}, {"tuning", "standard"}, {"tunerMode", "auto"}, {"tunerView", "needle"},
                        {"dailyGoal", 15},
                        {"chordSet", "openMajor"}, {"chordList", "Am, C, G, E"}, {"drillTempo", 60}, {"drillBest", "{}"}, {"latency", 0.0}, {"outputLatency", -1.0},
                        {"hitWindow", 50.0},   {"lateWindow", 150.0}};

TEST_F(SettingsStoreTest, MissingFileGivesDefaultsQuietlyAndIsOnlyMadeByASet) {
    SettingsStore store(file_, log_);
    EXPECT_EQ(store.values(), kDefaults);
    EXPECT_DOUBLE_EQ(store.referencePitch(), 440.0);
    EXPECT_EQ(log_.str(), "");
    EXPECT_FALSE(fs::exists(file_));
    ASSERT_TRUE(store.set("tuning", "dropD"));
    EXPECT_EQ(json::parse(readText(file_)), json({{"tuning", "dropD"}}));
}

TEST_F(SettingsStoreTest, ValuesAreTakenOnlyWithinTheirTypeAndRange) {
    struct Case {
        const char* name;
        json value;
        bool taken;
    };
    const Case cases[] = {
        {"referencePitch", 415, true},
        {"referencePitch", 466.0, true},
        {"referencePitch", 432.5, true},
        {"referencePitch", 414.99, false},
        {"referencePitch", 466.01, false},
        {"referencePitch", std::nan(""), false},
        {"referencePitch", std::numeric_limits<double>::infinity(), false},
        {"referencePitch", "440", false},
        {"referencePitch", true, false},
        {"tuning", "standard", true},
        {"tuning", "dropD", true},
        {"tuning", "halfStepDown", true},
        {"tuning", "openG", true},
        {"tuning", "openD", true},
        {"tuning", "DADGAD", true},
        {"tuning", "dadgad", false},
        {"tuning", "", false},
        {"tuning", 3, false},
        {"tunerMode", "manual", true},
        {"tunerMode", "auto", true},
        {"tunerMode", "Manual", false},
        {"tunerView", "strobe", true},
        {"tunerView", "needle", true},
        {"tunerView", false, false},
        {"tunerView", nullptr, false},
        {"dailyGoal", 1, true},
        {"dailyGoal", 240, true},
        {"dailyGoal", 0, false},
        {"dailyGoal", 241, false},
        {"dailyGoal", 20.5, false},
        {"dailyGoal", "20", false},
        {"chordSet", "barre", true},
        {"chordSet", "custom", true},
        {"chordSet", "jazz", false},
        {"chordList", "Am, x32010, F#m", true},
        {"chordList", std::string(301, 'a'), false},
        {"chordList", 7, false},
        {"drillTempo", 40, true},
        {"drillTempo", 160, true},
        {"drillTempo", 39, false},
        {"drillTempo", 161, false},
        {"drillTempo", 90.5, false},
        {"drillTempo", "90", false},
        {"drillBest", "{\"Am-E\": 31, \"C-G\": 0}", true},
        {"drillBest", "{\"Am-E\": -1}", false},
        {"drillBest", "{\"Am-E\": 2.5}", false},
        {"drillBest", "[31]", false},
        {"drillBest", "{\"Am-E\": 31", false},
        {"drillBest", 31, false},
        {"latency", 0, true},
        {"latency", 500, true},
        {"latency", 120.5, true},
        {"latency", -100, true},
        {"latency", -100.5, false},
        {"latency", 500.5, false},
        {"latency", "80", false},
        {"outputLatency", 0, true},
        {"outputLatency", 1000, true},
        {"outputLatency", -1, false},
        {"outputLatency", 1000.5, false},
        {"hitWindow", 10, true},
        {"hitWindow", 150, true},
        {"hitWindow", 9.9, false},
        {"hitWindow", 151, false},
        {"lateWindow", 50, true},
        {"lateWindow", 400, true},
        {"lateWindow", 49, false},
        {"lateWindow", 401, false},
        {"lateWindow", std::nan(""), false},
        {"latency", 87.5, true},
        {"latency", std::nan(""), false},
        {"volume", 3, false},
        {"", "auto", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + c.value.dump());
        fs::remove_all(file_.parent_path());
        SettingsStore store(file_, log_);
        EXPECT_EQ(store.set(c.name, c.value), c.taken);
        json expected = kDefaults;
        if (c.taken) expected[c.name] = c.value;
        EXPECT_EQ(store.values(), expected);
        // A refused value leaves no file behind; a taken one is read back by the next run.
        EXPECT_EQ(fs::exists(file_), c.taken);
        EXPECT_EQ(SettingsStore(file_, log_).values(), expected);
    }
    EXPECT_EQ(log_.str(), "");
}

TEST_F(SettingsStoreTest, UnknownKeysAndBadValuesInAGoodFileAreKept) {
    fs::create_directories(file_.parent_path());
    writeText(file_, R"({"referencePitch": 900, "tuning": "openG", "window": {"x": 3}, "future": [1, "two"]})");
    SettingsStore store(file_, log_);
    // A value out of range reads as its default; the file is no corrupt file for it.
    EXPECT_DOUBLE_EQ(store.referencePitch(), 440.0);
    EXPECT_EQ(store.values()["tuning"], "openG");
    EXPECT_EQ(log_.str(), "");
    ASSERT_TRUE(store.set("tunerView", "strobe"));
    const json saved = json::parse(readText(file_));
    EXPECT_EQ(saved["window"], json({{"x", 3}}));
    EXPECT_EQ(saved["future"], json({1, "two"}));
    EXPECT_EQ(saved["tunerView"], "strobe");
    EXPECT_EQ(saved["tuning"], "openG");
    ASSERT_TRUE(store.set("referencePitch", 442));
    EXPECT_EQ(json::parse(readText(file_))["referencePitch"], 442);
}

TEST_F(SettingsStoreTest, AFileThatCannotBeUsedGivesDefaultsOneLineAndIsKeptAside) {
    const std::string unusable[] = {
        "",
        "{",
        "{\"tuning\": \"dropD\",}",
        "[\"tuning\", \"dropD\"]",
        "null",
        "440",
        "\xff\xfe{}",
        "{\"tuning\": \"\xc3\x28\"}",  // ill-formed UTF-8
        std::string(1 << 20, ' ') + "{}",  // far larger than any settings file
    };
    for (const std::string& text : unusable) {
        SCOPED_TRACE(text.substr(0, 40));
        fs::remove_all(file_.parent_path());
        fs::create_directories(file_.parent_path());
        writeText(file_, text);
        std::ostringstream log;
        SettingsStore store(file_, log);
        EXPECT_EQ(store.values(), kDefaults);
        const std::string line = log.str();
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_NE(line.find("settings.json.bad"), std::string::npos) << line;
        EXPECT_EQ(namesInFolder(), std::vector<std::string>{"settings.json.bad"});
        EXPECT_EQ(readText(file_.string() + ".bad"), text);
        // The next write makes a good file beside the kept one.
        ASSERT_TRUE(store.set("tunerMode", "manual"));
        EXPECT_EQ(namesInFolder(), (std::vector<std::string>{"settings.json", "settings.json.bad"}));
    }
}

TEST_F(SettingsStoreTest, AKeptBadFileIsNeverOverwritten) {
    fs::create_directories(file_.parent_path());
    writeText(file_.string() + ".bad", "first");
    writeText(file_.string() + ".bad.1", "second");
    writeText(file_, "third");
    std::ostringstream log;
    SettingsStore store(file_, log);
    EXPECT_EQ(readText(file_.string() + ".bad"), "first");
    EXPECT_EQ(readText(file_.string() + ".bad.1"), "second");
    EXPECT_EQ(readText(file_.string() + ".bad.2"), "third");
    EXPECT_NE(log.str().find("settings.json.bad.2"), std::string::npos) << log.str();
    EXPECT_FALSE(fs::exists(file_));
}

// The system refusing the bytes says nothing about the file: it stays where it is, as it
// is, and this run neither moves it aside nor writes over it.
TEST_F(SettingsStoreTest, AnUnreadableFileIsLeftInPlace) {
    struct Case {
        const char* what;
        void (*make)(const fs::path&);
        bool needsNonRoot;  // root reads past permissions
    };
    const Case cases[] = {
        {"a folder where the file should be", [](const fs::path& f) { fs::create_directories(f); }, false},
        {"a file without read permission",
         [](const fs::path& f) {
             fs::create_directories(f.parent_path());
             writeText(f, R"({"tuning":"openG"})");
             fs::permissions(f, fs::perms::none);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsNonRoot && ::geteuid() == 0) continue;
        fs::remove_all(file_.parent_path());
        c.make(file_);
        const auto before = fs::symlink_status(file_).type();
        std::ostringstream log;
        SettingsStore store(file_, log);
        EXPECT_EQ(store.values(), kDefaults);
        EXPECT_NE(log.str().find("cannot be read"), std::string::npos) << log.str();
        EXPECT_TRUE(store.set("tuning", "openD"));
        EXPECT_EQ(store.values()["tuning"], "openD") << "taken for this run";
        EXPECT_NE(log.str().find("not saved"), std::string::npos) << log.str();
        EXPECT_EQ(fs::symlink_status(file_).type(), before);
        EXPECT_EQ(namesInFolder(), std::vector<std::string>{"settings.json"}) << "nothing moved aside";
        fs::permissions(file_, fs::perms::owner_all, fs::perm_options::add);
    }
}

TEST_F(SettingsStoreTest, AWriteReplacesTheFileWholeAndLeavesNoTemporary) {
    SettingsStore store(file_, log_);
    ASSERT_TRUE(store.set("tuning", "openG"));
    const std::string before = readText(file_);
    // A second name for the old file: an in-place rewrite would change what it shows, a
    // replacement by rename leaves it whole.
    const fs::path old = folder_ / "old-settings.json";
    fs::create_hard_link(file_, old);
    ASSERT_TRUE(store.set("tuning", "DADGAD"));
    EXPECT_EQ(readText(old), before);
    EXPECT_EQ(json::parse(readText(file_))["tuning"], "DADGAD");
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{"settings.json"});
}

TEST_F(SettingsStoreTest, AFailedWriteKeepsTheOldFileAndTheValueForThisRun) {
    SettingsStore store(file_, log_);
    ASSERT_TRUE(store.set("tuning", "openG"));
    // The temporary file cannot be made where a file stands in for the folder.
    const fs::path blocked = folder_ / "blocked" / "settings.json";
    fs::create_directories(folder_);
    writeText(folder_ / "blocked", "a file, not a folder");
    std::ostringstream log;
    SettingsStore stuck(blocked, log);
    EXPECT_TRUE(stuck.set("tunerMode", "manual"));
    EXPECT_EQ(stuck.values()["tunerMode"], "manual");
    EXPECT_NE(log.str().find("not saved"), std::string::npos) << log.str();
    EXPECT_EQ(readText(folder_ / "blocked"), "a file, not a folder");
    EXPECT_EQ(json::parse(readText(file_))["tuning"], "openG");
}

// A save replaces the content, not what the player made of the file: its permissions, and
// a link to where they keep it (absolute, relative, or through a second link).
TEST_F(SettingsStoreTest, ASaveKeepsLinksAndPermissions) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct Case {
        const char* what;
        std::optional<fs::perms> mode;  // of an existing file; none: no file yet
        int links;                      // 0: the file itself; 1: absolute; 2: relative then absolute
    };
    const Case cases[] = {
        {"a first file", std::nullopt, 0},
        {"a private file", fs::perms(0600), 0},
        {"a shared file", fs::perms(0644), 0},
        {"a group file behind a link", fs::perms(0640), 1},
        {"a file behind two links", fs::perms(0644), 2},
        {"a link to no file yet", std::nullopt, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder_);
        fs::create_directories(file_.parent_path());
        const fs::path target = folder_ / "elsewhere" / "mine.json";
        const fs::path real = c.links == 0 ? file_ : target;
        fs::create_directories(real.parent_path());
        if (c.mode) {
            writeText(real, R"({"tuning":"openG"})");
            fs::permissions(real, *c.mode);
        }
        if (c.links == 1) fs::create_symlink(target, file_);
        if (c.links == 2) {
            fs::create_symlink(target, folder_ / "hop.json");
            fs::create_symlink("../hop.json", file_);
        }
        std::ostringstream log;
        SettingsStore store(file_, log);
        ASSERT_TRUE(store.set("tunerView", "strobe"));
        EXPECT_EQ(log.str(), "");
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(file_)), c.links > 0);
        EXPECT_EQ(json::parse(readText(real))["tunerView"], "strobe");
        const auto expected = c.mode ? *c.mode : fs::perms(0666 & ~mask);
        EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, expected);
        EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator{}), 1)
            << "no temporary left beside " << real;
    }
}

TEST_F(SettingsStoreTest, ListenersHearTakenChangesOnly) {
    SettingsStore store(file_, log_);
    std::vector<std::string> heard;
    store.onChange([&heard](const std::string& name) { heard.push_back(name); });
    store.set("referencePitch", 442);
    store.set("referencePitch", 442);  // no change
    store.set("referencePitch", 500);  // refused
    store.set("tunerView", "strobe");
    EXPECT_EQ(heard, (std::vector<std::string>{"referencePitch", "tunerView"}));
}

TEST(SettingsFile, FollowsTheBaseDirectoryRules) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/cfg", "/home/p", "/cfg/tunewick/settings.json"},
        {nullptr, "/home/p", "/home/p/.config/tunewick/settings.json"},
        {"", "/home/p", "/home/p/.config/tunewick/settings.json"},
        {"relative/cfg", "/home/p", "/home/p/.config/tunewick/settings.json"},
        {nullptr, nullptr, ""},
        {nullptr, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.xdg ? c.xdg : "(unset)") + " " + (c.home ? c.home : "(unset)"));
        EXPECT_EQ(SettingsStore::fileFor(c.xdg, c.home).string(), c.expected);
    }
}

TEST(SettingsMemoryOnly, AnEmptyPathKeepsValuesWithoutAnyFile) {
    std::ostringstream log;
    SettingsStore store("", log);
    EXPECT_TRUE(store.set("tunerMode", "manual"));
    EXPECT_EQ(store.values()["tunerMode"], "manual");
    EXPECT_EQ(log.str(), "");
}

}  // namespace
}  // namespace tunewick
