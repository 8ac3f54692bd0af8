#include "bridge/EventRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tunewick {
namespace {

using Lines = std::vector<std::string>;

class RecordingHandler : public EventHandler {
public:
    RecordingHandler(std::string label, Lines& log, std::function<void()> also = {})
        : label_(std::move(label)), log_(log), also_(std::move(also)) {}
    ~RecordingHandler() override { log_.push_back("destroyed " + label_); }
    void handleEvent(FunctionCall* event) override {
        log_.push_back(label_ + ":" + event->name);
        if (also_) also_();
    }

private:
    std::string label_;
    Lines& log_;
    std::function<void()> also_;
};

void raise(EventRegistry& events, const std::string& name) {
    FunctionCall event(name);
    events.raiseEvent(event);
}

TEST(EventRegistry, CallsEachHandlerOnceInRegistrationOrderUnderTheExactName) {
    Lines log;
    EventRegistry events;
    auto first = std::make_shared<RecordingHandler>("first", log);
    events.addEventHandler("pageUnload", first);
    events.addEventHandler("pageUnload", std::make_shared<RecordingHandler>("second", log));
    events.addEventHandler("pageUnload", first);  // already there: stays once, in its place
    events.addEventHandler("pageUnload", nullptr);
    EXPECT_EQ(events.handlersFor("pageUnload").size(), 2u);
    EXPECT_TRUE(events.hasEventHandler("pageUnload", first.get()));
    EXPECT_FALSE(events.hasEventHandler("pageLoad", first.get()));

    raise(events, "PageUnload");
    raise(events, "pageLoad");
    EXPECT_TRUE(log.empty());
    raise(events, "pageUnload");
    EXPECT_EQ(log, (Lines{"first:pageUnload", "second:pageUnload"}));
}

TEST(EventRegistry, RegisteringWhileRaisingIsSafeAndTakesEffectNextTime) {
    Lines log;
    EventRegistry events;
    events.addEventHandler("pageUnload", std::make_shared<RecordingHandler>("registering", log, [&] {
        for (int i = 0; i < 20; ++i) events.addEventHandler("pageUnload", std::make_shared<RecordingHandler>("late", log));
    }));
    raise(events, "pageUnload");
    EXPECT_EQ(log, Lines{"registering:pageUnload"});
    EXPECT_EQ(events.handlersFor("pageUnload").size(), 21u);
}

TEST(EventRegistry, ReleasesEveryHandlerOnce) {
    Lines log;
    {
        EventRegistry events;
        auto shared = std::make_shared<RecordingHandler>("both", log);
        events.addEventHandler("pageUnload", shared);
        events.addEventHandler("pageLoad", shared);
        events.addEventHandler("pageLoad", std::make_shared<RecordingHandler>("one", log));
    }
    std::sort(log.begin(), log.end());
    EXPECT_EQ(log, (Lines{"destroyed both", "destroyed one"}));
}

}  // namespace
}  // namespace tunewick
