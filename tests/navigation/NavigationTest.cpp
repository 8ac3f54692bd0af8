#include "navigation/Navigation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/FlashObject.h"
#include "support/FakeFlashControl.h"

namespace tunewick {
namespace {

using testing::FakeFlashControl;
using Names = std::vector<std::string>;

// Keeps the posted page names, as the dialog's queue would until it runs them.
class RecordingPoster : public DialogPoster {
public:
    void postLoadSwf(std::string pageName) override { posted.push_back(std::move(pageName)); }
    void postCallSwfFunction(FunctionCall) override {}
    Names posted;
};

// Writes each event into the control's journal, so events and calls share one order.
class JournalHandler : public EventHandler {
public:
    explicit JournalHandler(FakeFlashControl& control) : control_(control) {}
    void handleEvent(FunctionCall* event) override {
        control_.journal.push_back(event->name + " with " + std::to_string(event->arguments.size()) + " arguments");
    }

private:
    FakeFlashControl& control_;
};

std::string loadSwfRequest(const std::string& name) {
    return "<invoke name=\"loadSwf\" returntype=\"xml\"><arguments><string>" + name + "</string></arguments></invoke>";
}

class NavigationTest : public ::testing::Test {
protected:
    NavigationTest() {
        events.addEventHandler("pageUnload", std::make_shared<JournalHandler>(control));
        events.addEventHandler("pageLoad", std::make_shared<JournalHandler>(control));
    }

    // "back forward" flags of the history report, e.g. "10" when only back is possible.
    std::string info() const {
        const Param report = navigation.historyInfo();
        const FlashObject* map = report.getObject();
        if (report.type() != Param::Object || map->size() != 2) return "not a two-flag object";
        return std::string(map->getProperty("canGoBack")->getBoolean() ? "1" : "0") +
               (map->getProperty("canGoForward")->getBoolean() ? "1" : "0");
    }

    FakeFlashControl control;
    RecordingPoster poster;
    EventRegistry events;
    Navigation navigation{control, "/opt/tunewick/data/Loader.html", poster, events};
};

TEST_F(NavigationTest, StartsEmptyWithTheStartMovieOutsideTheHistory) {
    navigation.loadStartMovie();
    EXPECT_EQ(control.journal, Names{"LoadMovie 0 /opt/tunewick/data/Loader.html"});
    EXPECT_EQ(navigation.currentIndex(), -1);
    EXPECT_EQ(info(), "00");
    EXPECT_FALSE(navigation.goBack());
    EXPECT_FALSE(navigation.goForward());
    EXPECT_EQ(navigation.historySize(), 0u);
    EXPECT_TRUE(poster.posted.empty());

    FakeFlashControl local;
    Navigation flash(local, "/home/me/movies/Loader.swf", poster, events);
    flash.loadStartMovie();
    EXPECT_EQ(local.journal, Names{"LoadMovie 0 /home/me/movies/Loader.swf"});
}

TEST_F(NavigationTest, LoadPostsTheSwitchAndShowPerformsItBetweenTheEvents) {
    navigation.load("A");
    EXPECT_EQ(navigation.historyNames(), Names{"A"});
    EXPECT_EQ(info(), "00");
    EXPECT_EQ(poster.posted, Names{"A"});
    EXPECT_TRUE(control.journal.empty());  // nothing reaches the movie inside the request

    navigation.show(poster.posted.front());
    EXPECT_EQ(control.journal,
              (Names{"pageUnload with 0 arguments", "CallFunction " + loadSwfRequest("A"), "pageLoad with 0 arguments"}));
    EXPECT_EQ(navigation.historyNames(), Names{"A"});
    EXPECT_EQ(navigation.currentIndex(), 0);
}

TEST_F(NavigationTest, WalksTheHistoryAndDropsTheEntriesAheadOnLoad) {
    navigation.load("A");
    navigation.load("B");
    EXPECT_EQ(info(), "10");
    EXPECT_FALSE(navigation.goForward());
    EXPECT_TRUE(navigation.goBack());
    EXPECT_EQ(info(), "01");
    EXPECT_FALSE(navigation.goBack());
    EXPECT_TRUE(navigation.goForward());
    navigation.load("P");
    ASSERT_TRUE(navigation.goBack());
    ASSERT_TRUE(navigation.goBack());
    navigation.load("Q");
    EXPECT_EQ(navigation.historyNames(), (Names{"A", "Q"}));
    EXPECT_EQ(navigation.currentIndex(), 1);
    EXPECT_EQ(info(), "10");

    // B and P were dropped after their switches were posted: the dialog still shows each page
    // it was asked for, in order.
    const Names expected{"A", "B", "A", "B", "P", "B", "A", "Q"};
    EXPECT_EQ(poster.posted, expected);
    for (const std::string& name : poster.posted) navigation.show(name);
    ASSERT_EQ(control.calls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(control.calls[i], loadSwfRequest(expected[i]));
}

TEST_F(NavigationTest, NamesAreKeptAndSentAsGiven) {
    navigation.load("A");
    navigation.load("A");
    EXPECT_EQ(navigation.historyNames(), (Names{"A", "A"}));
    EXPECT_EQ(info(), "10");

    const std::string odd = "a<b>&c \"é\" 中.html";
    navigation.load(odd);
    EXPECT_EQ(poster.posted.back(), odd);
    navigation.show(odd);
    EXPECT_EQ(control.calls.back(), loadSwfRequest(odd));
}

}  // namespace
}  // namespace tunewick
