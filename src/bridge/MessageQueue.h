#pragma once
// The dialog's message queue: any thread posts work, the dialog's thread runs it in order.
// This is the only hand-over between threads; everything that touches the movie, the
// navigation or the registries runs inside run().
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace tunewick {

class MessageQueue {
public:
    using Message = std::function<void()>;

    // Safe from any thread. Messages posted after quit() are dropped.
    void post(Message message) {
        {
            std::lock_guard lock(mutex_);
            if (quit_) return;
            messages_.push_back(std::move(message));
        }
        cv_.notify_one();
    }

    // Runs messages on the calling thread until quit(); returns the code given to quit().
    int run() {
        for (;;) {
            Message next;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [this] { return quit_ || !messages_.empty(); });
                if (quit_) return code_;
                next = std::move(messages_.front());
                messages_.pop_front();
            }
            next();
        }
    }

    // Runs the messages queued so far on the calling thread and returns how many ran
    // (for tests, which play the dialog's thread themselves).
    int runPending() {
        int ran = 0;
        for (;;) {
            Message next;
            {
                std::lock_guard lock(mutex_);
                if (quit_ || messages_.empty()) return ran;
                next = std::move(messages_.front());
                messages_.pop_front();
            }
            next();
            ++ran;
        }
    }

    // Ends run() after the message being run; messages still queued are discarded.
    void quit(int code) {
        {
            std::lock_guard lock(mutex_);
            if (quit_) return;
            quit_ = true;
            code_ = code;
            messages_.clear();
        }
        cv_.notify_all();
    }

    bool quitting() const {
        std::lock_guard lock(mutex_);
        return quit_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Message> messages_;
    bool quit_ = false;
    int code_ = 0;
};

}  // namespace tunewick
