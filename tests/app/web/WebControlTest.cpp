// The web control's protocol with a player page: calls both ways, loads, alerts, exit,
// takeover and the end of the last player window, on loopback with a test client.
#include "support/WebControlFixture.h"

#include "app/web/WebControl.h"
#include "bridge/MessageQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tunewick::test {
namespace {

using json = nlohmann::json;

using WebControlTest = WebControlFixture;

TEST_F(WebControlTest, UrlCarriesPortAndFreshToken) {
    EXPECT_NE(control->port(), 0);
    EXPECT_EQ(control->url(),
              "http://127.0.0.1:" + std::to_string(control->port()) + "/?token=" + control->token());
    WebControl other(queue, dir.path(), 0, settings());
    EXPECT_NE(other.token(), control->token());
    EXPECT_NE(other.port(), control->port());
}

TEST_F(WebControlTest, MovieCallRunsOnDialogThreadAndIsAnsweredWithItsId) {
    std::atomic<bool> onDialogThread{false};
    std::promise<std::string> seen;
    handleCalls([&](const std::string& request) {
        onDialogThread = std::this_thread::get_id() == dialogId;
        seen.set_value(request);
        control->SetReturnValue("<true/>");
    });
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    const std::string request = R"(<invoke name="goBack" returntype="xml"><arguments></arguments></invoke>)";
    player.send({{"type", "call"}, {"id", 7}, {"request", request}});
    const auto reply = player.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (json{{"type", "return"}, {"id", 7}, {"value", "<true/>"}}));
    EXPECT_EQ(seen.get_future().get(), request);
    EXPECT_TRUE(onDialogThread);
}

TEST_F(WebControlTest, EveryMovieCallGetsExactlyOneAnswer) {
    handleCalls([&](const std::string& request) {
        if (request == "twice") {
            control->SetReturnValue("<number>1</number>");
            control->SetReturnValue("<number>2</number>");
        }
        // "silent" gives no answer at all.
    });
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    player.send({{"type", "call"}, {"id", 1}, {"request", "silent"}});
    player.send({{"type", "call"}, {"id", 2}, {"request", "twice"}});
    player.send({{"type", "call"}, {"id", 3}, {"request", "silent"}});
    EXPECT_EQ(player.receive(), (json{{"type", "return"}, {"id", 1}, {"value", "<null/>"}}));
    EXPECT_EQ(player.receive(), (json{{"type", "return"}, {"id", 2}, {"value", "<number>1</number>"}}));
    // No second answer to 2 comes between: the next one is the answer to 3.
    EXPECT_EQ(player.receive(), (json{{"type", "return"}, {"id", 3}, {"value", "<null/>"}}));
    // SetReturnValue outside a call answers nothing.
    queue.post([&] { control->SetReturnValue("<true/>"); });
    player.send({{"type", "call"}, {"id", 4}, {"request", "silent"}});
    EXPECT_EQ(player.receive(), (json{{"type", "return"}, {"id", 4}, {"value", "<null/>"}}));
}

TEST_F(WebControlTest, ThrowingHandlerStillAnswersNull) {
    handleCalls([](const std::string&) { throw std::runtime_error("command failed"); });
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    player.send({{"type", "call"}, {"id", 5}, {"request", "x"}});
    EXPECT_EQ(player.receive(), (json{{"type", "return"}, {"id", 5}, {"value", "<null/>"}}));
    // The answer goes out while the error is on its way; the error itself reaches the dialog.
    for (int i = 0; i < 250 && dialogExceptions == 0; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(dialogExceptions, 1);
}

TEST_F(WebControlTest, CallFunctionReturnsThePagesAnswerMatchedById) {
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    auto result = callFromDialog(R"(<invoke name="setTone" returntype="xml"><arguments><number>2</number></arguments></invoke>)");
    const auto call = player.receive();
    ASSERT_TRUE(call);
    EXPECT_EQ((*call)["type"], "call");
    EXPECT_EQ((*call)["request"],
              R"(<invoke name="setTone" returntype="xml"><arguments><number>2</number></arguments></invoke>)");
    const auto id = (*call)["id"].get<std::uint64_t>();
    player.send({{"type", "return"}, {"id", id + 1000}, {"value", "<string>wrong</string>"}});
    player.send({{"type", "return"}, {"id", id}, {"value", "<string>ok</string>"}});
    EXPECT_EQ(result.get(), "<string>ok</string>");
}

TEST_F(WebControlTest, SyncMovieCallRunsOnDialogThreadAndIsAnsweredInTheResponse) {
    std::atomic<bool> onDialogThread{false};
    handleCalls([&](const std::string& request) {
        onDialogThread = std::this_thread::get_id() == dialogId;
        control->SetReturnValue(request.find("getHistoryInfo") != std::string::npos ? "<object></object>" : "<null/>");
    });
    const std::string own = "127.0.0.1:" + std::to_string(control->port());
    const HttpReply reply = httpPost(control->port(), "/call?token=" + control->token(), "http://" + own, own,
                                     R"(<invoke name="getHistoryInfo" returntype="xml"><arguments/></invoke>)");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("content-type"), "application/xml; charset=utf-8");
    EXPECT_EQ(reply.header("cache-control"), "no-store");
    EXPECT_EQ(reply.body, "<object></object>");
    EXPECT_TRUE(onDialogThread);
}

// A SWF page blocked in its synchronous call cannot answer a host call; the dialog's thread,
// waiting for that answer, serves the page's call first, so neither waits for the other.
TEST_F(WebControlTest, SyncMovieCallIsServedWhileCallFunctionWaits) {
    handleCalls([&](const std::string&) { control->SetReturnValue("<true/>"); });
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    auto hostCall = callFromDialog(R"(<invoke name="loadSwf" returntype="xml"><arguments><string>A.swf</string></arguments></invoke>)");
    const auto call = player.receive();
    ASSERT_TRUE(call);
    EXPECT_EQ((*call)["type"], "call");

    const std::string own = "127.0.0.1:" + std::to_string(control->port());
    const auto started = std::chrono::steady_clock::now();
    const HttpReply reply = httpPost(control->port(), "/call?token=" + control->token(), "http://" + own, own,
                                     R"(<invoke name="goBack" returntype="xml"><arguments/></invoke>)");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "<true/>");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "served inside the wait, not after its time-out";
    EXPECT_EQ(hostCall.wait_for(0ms), std::future_status::timeout) << "the host call still waits for its answer";

    player.send({{"type", "return"}, {"id", (*call)["id"]}, {"value", "<null/>"}});
    EXPECT_EQ(hostCall.get(), "<null/>");
}

TEST_F(WebControlTest, LoadTellsThePlayerTheCommandNames) {
    std::promise<void> done;
    queue.post([&] {
        control->setCommandNames({"exit", "getHistoryInfo", "startPitchTracker"});
        control->LoadMovie(0, (dir.path() / "data/Menu.swf").string());
        done.set_value();
    });
    done.get_future().wait();
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    const auto load = player.receive();
    ASSERT_TRUE(load);
    EXPECT_EQ(*load, (json{{"type", "load"},
                           {"layer", 0},
                           {"url", "/movies/Menu.swf"},
                           {"commands", {"exit", "getHistoryInfo", "startPitchTracker"}}}));
}

class WebControlImpatientTest : public WebControlFixture {
protected:
    WebControlSettings settings() const override {
        WebControlSettings s = WebControlFixture::settings();
        s.callTimeout = 500ms;
        return s;
    }
};

TEST_F(WebControlImpatientTest, CallFunctionWithoutPageOrAnswerReturnsEmpty) {
    EXPECT_EQ(callFromDialog("<invoke name=\"loadSwf\"/>").get(), "");

    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    auto unanswered = callFromDialog("<invoke name=\"setTone\"/>");
    ASSERT_TRUE(player.receive());
    EXPECT_EQ(unanswered.get(), "");  // after the time-out

}

TEST_F(WebControlTest, CallFunctionEndsWhenThePageGoesAway) {
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    auto dropped = callFromDialog("<invoke name=\"setTone\"/>");
    ASSERT_TRUE(player.receive());
    player.close();
    ASSERT_EQ(dropped.wait_for(5s), std::future_status::ready);  // long before the time-out
    EXPECT_EQ(dropped.get(), "");
}

TEST_F(WebControlTest, LoadComesFirstOnConnectAndAfterReload) {
    loadFromDialog((dir.path() / "data/Loader.html").string());
    control->alert("Wav Recorder", "Error initializing Wav Recorder.");
    const json firstLoad{{"type", "load"}, {"layer", 0}, {"url", "/movies/Loader.html"}};
    {
        TestPlayer player;
        ASSERT_EQ(connect(player), 101);
        EXPECT_EQ(player.receive(), firstLoad);
        // An alert raised before any player was there is shown once one is.
        EXPECT_EQ(player.receive(),
                  (json{{"type", "alert"}, {"caption", "Wav Recorder"}, {"text", "Error initializing Wav Recorder."}}));
        loadFromDialog((dir.path() / "data/Page One.html").string());
        EXPECT_EQ(player.receive(), (json{{"type", "load"}, {"layer", 0}, {"url", "/movies/Page%20One.html"}}));
        player.close();
    }
    TestPlayer reloaded;
    ASSERT_EQ(connect(reloaded), 101);
    EXPECT_EQ(reloaded.receive(), (json{{"type", "load"}, {"layer", 0}, {"url", "/movies/Page%20One.html"}}));
    // The alert was delivered already; it is not shown again.
    auto result = callFromDialog("<invoke name=\"x\"/>");
    const auto next = reloaded.receive();
    ASSERT_TRUE(next);
    EXPECT_EQ((*next)["type"], "call");
    reloaded.send({{"type", "return"}, {"id", (*next)["id"]}, {"value", "<null/>"}});
    EXPECT_EQ(result.get(), "<null/>");
}

TEST_F(WebControlTest, MovieOutsideDataIsNotLoaded) {
    loadFromDialog((dir.path() / "secret.txt").string());
    loadFromDialog("/etc/passwd");
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    control->alert("c", "t");
    EXPECT_EQ(player.receive(), (json{{"type", "alert"}, {"caption", "c"}, {"text", "t"}}));
}

TEST_F(WebControlTest, NewConnectionTakesOver) {
    TestPlayer first;
    ASSERT_EQ(connect(first), 101);
    TestPlayer second;
    ASSERT_EQ(connect(second), 101);
    EXPECT_EQ(first.waitClosed(), 4000);

    auto result = callFromDialog("<invoke name=\"x\"/>");
    const auto call = second.receive();
    ASSERT_TRUE(call);
    second.send({{"type", "return"}, {"id", (*call)["id"]}, {"value", "<true/>"}});
    EXPECT_EQ(result.get(), "<true/>");
    EXPECT_EQ(lastClosedCount, 0);  // the replaced window's end is not the last one's
}

TEST_F(WebControlTest, AlertsAndExitReachThePlayerAndInvalidTextIsRepaired) {
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    control->alert("Caption", std::string("bad \xff byte"));
    EXPECT_EQ(player.receive(), (json{{"type", "alert"}, {"caption", "Caption"}, {"text", "bad \xEF\xBF\xBD byte"}}));
    control->sendExit();
    EXPECT_EQ(player.receive(), (json{{"type", "exit"}}));
    // After the exit the closing window ends nothing.
    player.close();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(lastClosedCount, 0);
}

TEST_F(WebControlTest, LastWindowClosedEndsAfterGracePeriodOnDialogThread) {
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    player.close();
    for (int i = 0; i < 100 && lastClosedCount == 0; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(lastClosedCount, 1);
    EXPECT_TRUE(lastClosedOnDialogThread);
}

class WebControlReloadTest : public WebControlFixture {
protected:
    WebControlSettings settings() const override {
        WebControlSettings s = WebControlFixture::settings();
        s.lastPlayerGrace = 1500ms;
        return s;
    }
};

TEST_F(WebControlReloadTest, ReloadInTimeKeepsTheProgramAndOnlyTheLastCloseCounts) {
    {
        TestPlayer player;
        ASSERT_EQ(connect(player), 101);
        player.close();
    }
    TestPlayer reloaded;
    ASSERT_EQ(connect(reloaded), 101);
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(lastClosedCount, 0);
    reloaded.close();
    for (int i = 0; i < 100 && lastClosedCount == 0; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(lastClosedCount, 1);
}

TEST_F(WebControlTest, StopWakesAWaitingCallFunction) {
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    std::promise<std::string> result;
    std::thread caller([&] { result.set_value(control->CallFunction("<invoke name=\"x\"/>")); });
    ASSERT_TRUE(player.receive());
    // The page answers the closing handshake meanwhile, so the host ends it cleanly.
    std::thread stopper([&] { control->stop(); });
    EXPECT_EQ(player.waitClosed(), 1001);
    stopper.join();
    auto future = result.get_future();
    EXPECT_EQ(future.wait_for(5s), std::future_status::ready);  // long before the time-out
    caller.join();
    EXPECT_EQ(future.get(), "");
    EXPECT_EQ(control->CallFunction("<invoke name=\"x\"/>"), "");  // stopped: no wait
}

TEST_F(WebControlTest, NoPlayerEverConnectedNeverEnds) {
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(lastClosedCount, 0);
}

}  // namespace
}  // namespace tunewick::test
