#pragma once
// What the user sees of a failure: a message box with a caption. Safe to call from any thread.
#include <string>

namespace tunewick {

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void report(const std::string& caption, const std::string& text) = 0;
};

}  // namespace tunewick
