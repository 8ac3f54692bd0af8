#include "bridge/CommandRegistry.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/FakeFlashControl.h"

namespace tunewick {
namespace {

using testing::FakeFlashControl;
using Lines = std::vector<std::string>;

// Writes each of its steps into the control's journal, so steps and replies share one order.
class JournalCommand : public FunctionCommand {
public:
    JournalCommand(std::string name, FakeFlashControl& control, Param answer)
        : FunctionCommand(std::move(name)), control_(control), answer_(std::move(answer)) {}
    ~JournalCommand() override { ++destroyed; }

    Param execute(const std::vector<Param>& arguments) override {
        note("execute " + std::to_string(arguments.size()));
        if (failIn == "execute") throw std::runtime_error("execute");
        return answer_;
    }
    void beforeExecute() override { note("before"); }
    void afterExecute() override {
        note("after");
        if (failIn == "after") throw std::runtime_error("after");
    }

    std::string failIn;
    static inline int destroyed = 0;

private:
    void note(const std::string& step) { control_.journal.push_back(step + " " + getName()); }
    FakeFlashControl& control_;
    Param answer_;
};

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() { registry.control = &control; }
    JournalCommand& add(const std::string& name, Param answer = Param()) {
        auto command = std::make_unique<JournalCommand>(name, control, std::move(answer));
        JournalCommand& ref = *command;
        registry.add(std::move(command));
        return ref;
    }
    FakeFlashControl control;
    CommandRegistry registry;
};

TEST_F(DispatchTest, RunsTheCommandAndRepliesOnceBetweenTheHooks) {
    add("goBack", Param(true));
    control.setFlashCallHandler([this](const std::string& request) { registry.dispatch(request); });
    control.movieCalls(
        "<invoke name=\"goBack\" returntype=\"xml\"><arguments><number>1</number><string>é</string></arguments>"
        "</invoke>");
    EXPECT_EQ(control.journal, (Lines{"before goBack", "execute 2 goBack", "SetReturnValue <true/>", "after goBack"}));
}

TEST_F(DispatchTest, RequestsNamingNoCommandAreAnsweredNull) {
    add("exit");
    add("");  // even a command under the empty name never runs for a request naming nothing
    for (const char* request : {"<invoke name=\"Exit\"><arguments></arguments></invoke>",
                                "<INVOKE name=\"exit\"><arguments></arguments></INVOKE>", "<invoke name=\"unknown\"/>",
                                "<invoke><arguments/></invoke>", "", "garbage"}) {
        control.journal.clear();
        registry.dispatch(request);
        EXPECT_EQ(control.journal, Lines{"SetReturnValue <null/>"}) << request;
    }
}

TEST_F(DispatchTest, AFailingCommandStillGetsExactlyOneReply) {
    JournalCommand& command = add("fail", Param(true));
    command.failIn = "execute";
    EXPECT_THROW(registry.dispatch("<invoke name=\"fail\"/>"), std::runtime_error);
    command.failIn = "after";
    EXPECT_THROW(registry.dispatch("<invoke name=\"fail\"/>"), std::runtime_error);
    EXPECT_EQ(control.returned, (Lines{"<null/>", "<true/>"}));
}

TEST_F(DispatchTest, OwnsItsCommandsAndFindsThemByExactName) {
    JournalCommand::destroyed = 0;
    {
        CommandRegistry local;
        local.control = &control;
        local.add(std::make_unique<JournalCommand>("loadSwf", control, Param("first")));
        local.add(std::make_unique<JournalCommand>("loadSwf", control, Param("second")));
        local.add(nullptr);
        EXPECT_EQ(JournalCommand::destroyed, 1);  // the replaced one
        EXPECT_EQ(local.size(), 1u);
        EXPECT_EQ(local.find("loadswf"), nullptr);
        local.dispatch("<invoke name=\"loadSwf\"/>");
        EXPECT_EQ(control.returned, Lines{"<string>second</string>"});
    }
    EXPECT_EQ(JournalCommand::destroyed, 2);
}

TEST_F(DispatchTest, NamesEveryCommandOnceInOrder) {
    EXPECT_TRUE(registry.names().empty());
    add("startTuner");
    add("exit");
    add("getHistoryInfo");
    add("exit");  // replaces, never doubles
    EXPECT_EQ(registry.names(), (Lines{"exit", "getHistoryInfo", "startTuner"}));
}

}  // namespace
}  // namespace tunewick
