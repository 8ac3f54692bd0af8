// The practice-history commands as a page calls them: values as they cross from a movie,
// every bad argument, and the files an export leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bridge/FlashObject.h"
#include "commands/ParamJson.h"
#include "commands/ProgressCommands.h"
#include "progress/ProgressStore.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

Param value(const char* jsonText) { return jsonToParam(json::parse(jsonText)); }
Param number(double x) {
    Param p;
    p.setNumber(x);
    return p;
}

class ProgressCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tunewick-progress-commands-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    ProgressContext context() {
        return {[] { return std::int64_t{1765100000000}; }, [] { return 25; }, [this] { return folder_; },
                [this](const std::string&, const std::string& text) { told_.push_back(text); }};
    }

    fs::path folder_;
    std::vector<std::string> told_;
    ProgressStore store_{"", nullptr};
};

TEST_F(ProgressCommandsTest, ArraysComeBackInIndexOrder) {
    // More than ten items: the map's text order ("10" before "2") must not leak out.
    const json list = json::parse("[0,1,2,3,4,5,6,7,8,9,10,11]");
    EXPECT_EQ(paramToJson(jsonToParam(list)), list);
    const json nested = json::parse(R"({"a":[{"b":true,"c":null}],"d":"x","e":-1.5})");
    EXPECT_EQ(paramToJson(jsonToParam(nested)), nested);
}

TEST_F(ProgressCommandsTest, EveryCommandRefusesBadArguments) {
    RecordResultCommand record(store_, context());
    GetProgressCommand get(store_, context());
    DeleteProgressCommand remove(store_);
    struct Case {
        const char* name;
        FunctionCommand& command;
        std::vector<Param> arguments;
        std::string answer;
    };
    const Param goodRound = value(R"({"asked":45,"heard":45,"correct":true,"ms":1200,"string":1,"fret":0})");
    const std::vector<Case> cases = {
        {"record: nothing", record, {}, "<false/>"},
        {"record: kind only", record, {Param("notegame")}, "<false/>"},
        {"record: kind not text", record, {number(1), goodRound}, "<false/>"},
        {"record: unknown kind", record, {Param("karaoke"), goodRound}, "<false/>"},
        {"record: fields not an object", record, {Param("notegame"), Param("asked=45")}, "<false/>"},
        {"record: fields an array", record, {Param("notegame"), value("[45]")}, "<false/>"},
        {"record: a field out of range", record,
         {Param("notegame"), value(R"({"asked":45,"heard":45,"correct":true,"ms":1200,"string":9,"fret":0})")},
         "<false/>"},
        {"record: good", record, {Param("notegame"), goodRound}, "<true/>"},
        {"get: days as text", get, {Param("30")}, "<null/>"},
        {"get: zero days", get, {number(0)}, "<null/>"},
        {"get: too many days", get, {number(366)}, "<null/>"},
        {"get: half a day", get, {number(1.5)}, "<null/>"},
        {"delete: nothing", remove, {}, "<false/>"},
        {"delete: true is no confirmation", remove, {Param(true)}, "<false/>"},
        {"delete: the wrong word", remove, {Param("yes")}, "<false/>"},
        {"delete: in capitals", remove, {Param("DELETE")}, "<false/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.command.execute(c.arguments).toXml(), c.answer);
    }
    // Only the good round was kept, and the refused deletions kept it.
    const Param summary = get.execute({number(7)});
    ASSERT_EQ(summary.type(), Param::Object);
    const json s = paramToJson(summary);
    EXPECT_EQ(s["notegame"]["rounds"], 1);
    EXPECT_EQ(s["days"], 7);
    EXPECT_EQ(s["goalMinutes"], 25);
    EXPECT_EQ(paramToJson(get.execute({}))["days"], 30) << "days defaults to thirty";
    EXPECT_EQ(remove.execute({Param("delete")}).toXml(), "<true/>");
    EXPECT_EQ(paramToJson(get.execute({}))["empty"], true);
}

TEST_F(ProgressCommandsTest, ARecordedPlayAlongRunKeepsItsEventsInOrder) {
    RecordResultCommand record(store_, context());
    json events = json::array();
    for (int i = 0; i < 12; ++i) events.push_back({{"index", i}, {"bar", i / 4}, {"verdict", "late"}, {"offset", 10 * i}});
    const json run = {{"song", "Scarborough Fair"}, {"speed", 1}, {"accuracy", 0.5}, {"spread", 20}, {"events", events}};
    ASSERT_EQ(record.execute({Param("playalong"), jsonToParam(run)}).toXml(), "<true/>");
    GetProgressJsonCommand all(store_, context());
    const json kept = json::parse(all.execute({}).getString());
    ASSERT_EQ(kept["playalong"].size(), 1u);
    ASSERT_EQ(kept["playalong"][0]["events"].size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(kept["playalong"][0]["events"][i]["offset"], 10.0 * i);
    EXPECT_TRUE(kept["playalong"][0]["lesson"].is_null());
}

std::vector<std::string> lines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(ProgressCommandsTest, ExportWritesOneFilePerKindIntoANewDatedFolder) {
    RecordResultCommand record(store_, context());
    ExportProgressCommand exporter(store_, context());
    ASSERT_EQ(record.execute({Param("chord"), value(R"({"chord":"G,7","clean":false,"strings":[{"string":4,"verdict":"buzz"},{"string":5,"verdict":"clean"}]})")}).toXml(), "<true/>");
    ASSERT_EQ(record.execute({Param("tuner"), value(R"({"string":0,"target":40,"firstCents":-12.5})")}).toXml(), "<true/>");

    const Param first = exporter.execute({});
    ASSERT_EQ(first.type(), Param::String);
    const fs::path folder = first.getString();
    EXPECT_EQ(folder.parent_path(), folder_);
    EXPECT_EQ(folder.filename().string().rfind("Tunewick progress 20", 0), 0u) << folder;
    for (const char* name : {"session.csv", "notegame.csv", "tuner.csv", "chord.csv", "drill.csv", "playalong.csv",
                             "progress.json"}) {
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    }
    const auto chord = lines(folder / "chord.csv");
    ASSERT_EQ(chord.size(), 2u);
    EXPECT_EQ(chord[0], "at,chord,clean,strings\r");
    EXPECT_EQ(chord[1], "1765100000000,\"G,7\",0,4:buzz 5:clean\r") << "a comma is quoted";
    EXPECT_EQ(lines(folder / "notegame.csv").size(), 1u) << "a header alone";
    std::ifstream jsonFile(folder / "progress.json");
    const json everything = json::parse(jsonFile);
    EXPECT_EQ(everything["tuner"][0]["firstCents"], -12.5);

    // A second export the same day goes into a folder of its own.
    const Param second = exporter.execute({});
    ASSERT_EQ(second.type(), Param::String);
    EXPECT_EQ(second.getString(), folder.string() + " 2");
    EXPECT_TRUE(told_.empty());
}

TEST_F(ProgressCommandsTest, AnExportWithNowhereToGoSaysWhy) {
    ProgressContext nowhere = context();
    nowhere.exportUnder = [this] { return folder_ / "missing" / "deeper"; };
    ExportProgressCommand exporter(store_, nowhere);
    EXPECT_EQ(exporter.execute({}).toXml(), "<null/>");
    ASSERT_EQ(told_.size(), 1u);
    EXPECT_NE(told_[0].find("could not be exported"), std::string::npos);
}

}  // namespace
}  // namespace tunewick
