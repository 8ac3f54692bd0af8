#pragma once
// A FlashControl for tests: records every call in one journal, in order, and answers
// CallFunction with scripted replies (an empty reply once they run out).
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "bridge/FlashControl.h"

namespace tunewick::testing {

class FakeFlashControl : public FlashControl {
public:
    void LoadMovie(std::int32_t layer, const std::string& url) override {
        journal.push_back("LoadMovie " + std::to_string(layer) + " " + url);
    }
    std::string CallFunction(const std::string& request) override {
        journal.push_back("CallFunction " + request);
        calls.push_back(request);
        if (replies.empty()) return {};
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    }
    void SetReturnValue(const std::string& value) override {
        journal.push_back("SetReturnValue " + value);
        returned.push_back(value);
    }
    // Lets a test act as the player and send a movie's call.
    void movieCalls(const std::string& request) { fireFlashCall(request); }

    std::vector<std::string> journal;   // everything, in order; tests may add their own lines
    std::vector<std::string> calls;     // CallFunction requests
    std::vector<std::string> returned;  // SetReturnValue texts
    std::deque<std::string> replies;    // scripted CallFunction replies
};

}  // namespace tunewick::testing
