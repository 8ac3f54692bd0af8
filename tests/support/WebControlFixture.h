#pragma once
// A web control on loopback with a dialog's thread running its queue, over a throw-away
// program folder; the movie-call handler and the last-window handler are observable.
#include "support/WebTestSupport.h"

#include "app/web/WebControl.h"
#include "bridge/MessageQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tunewick::test {

class WebControlFixture : public ::testing::Test {
protected:
    virtual WebControlSettings settings() const {
        WebControlSettings fast;
        fast.callTimeout = 10s;  // far beyond any answer here: only a wake-up ends a wait early
        fast.lastPlayerGrace = 300ms;
        fast.exitFlushTimeout = 2000ms;
        return fast;
    }

    void SetUp() override {
        control = std::make_unique<WebControl>(queue, dir.path(), 0, settings());
        // Set before the dialog's thread starts, so the two never race over it.
        control->setFlashCallHandler([this](const std::string& request) {
            std::function<void(const std::string&)> handler;
            {
                std::lock_guard lock(mutex);
                handler = onCall;
            }
            if (handler) handler(request);
        });
        control->setLastPlayerClosedHandler([this] {
            lastClosedOnDialogThread = std::this_thread::get_id() == dialogId;
            ++lastClosedCount;
        });
        dialog = std::thread([this] {
            dialogId = std::this_thread::get_id();
            // An error thrown by a handler leaves run(); count it and serve on.
            for (;;) {
                try {
                    queue.run();
                    return;
                } catch (const std::exception&) {
                    ++dialogExceptions;
                }
            }
        });
    }

    void TearDown() override {
        queue.quit(0);
        dialog.join();
        control.reset();
    }

    void handleCalls(std::function<void(const std::string&)> handler) {
        std::lock_guard lock(mutex);
        onCall = std::move(handler);
    }

    // CallFunction as the dialog makes it: on the dialog's thread.
    std::future<std::string> callFromDialog(const std::string& request) {
        auto promise = std::make_shared<std::promise<std::string>>();
        auto future = promise->get_future();
        queue.post([this, promise, request] { promise->set_value(control->CallFunction(request)); });
        return future;
    }

    void loadFromDialog(const std::string& path) {
        std::promise<void> done;
        queue.post([&] {
            control->LoadMovie(0, path);
            done.set_value();
        });
        done.get_future().wait();
    }

    // Connects and, once the handshake is through, waits until the control has taken the
    // player on (it does so just after answering the handshake).
    int connect(TestPlayer& player) {
        const std::uint64_t before = control->playersOpened();
        const int status = player.connect(control->port(), control->token());
        for (int i = 0; status == 101 && control->playersOpened() == before && i < 500; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return status;
    }

    ProgramDir dir;
    MessageQueue queue;
    std::unique_ptr<WebControl> control;
    std::thread dialog;
    std::thread::id dialogId;  // written and read on the dialog's thread only
    std::mutex mutex;
    std::function<void(const std::string&)> onCall;
    std::atomic<int> lastClosedCount{0};
    std::atomic<bool> lastClosedOnDialogThread{false};
    std::atomic<int> dialogExceptions{0};
};

}  // namespace tunewick::test
