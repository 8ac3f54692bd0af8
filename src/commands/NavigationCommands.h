#pragma once
// The commands through which movies walk the page history.
#include "bridge/FunctionCommand.h"

namespace tunewick {

class Navigation;

// "getHistoryInfo": an object with the booleans "canGoBack" and "canGoForward".
class GetHistoryInfoCommand final : public FunctionCommand {
public:
    explicit GetHistoryInfoCommand(Navigation& navigation);
    Param execute(const std::vector<Param>& arguments) override;

private:
    Navigation& navigation_;
};

// "goBack": true when there was an earlier page, which is then shown.
class GoBackCommand final : public FunctionCommand {
public:
    explicit GoBackCommand(Navigation& navigation);
    Param execute(const std::vector<Param>& arguments) override;

private:
    Navigation& navigation_;
};

// "goForward": true when there was a later page, which is then shown.
class GoForwardCommand final : public FunctionCommand {
public:
    explicit GoForwardCommand(Navigation& navigation);
    Param execute(const std::vector<Param>& arguments) override;

private:
    Navigation& navigation_;
};

// "loadSwf": starts a new page named by the first argument when it is a string; else nothing.
// Always answers null.
class LoadSwfCommand final : public FunctionCommand {
public:
    explicit LoadSwfCommand(Navigation& navigation);
    Param execute(const std::vector<Param>& arguments) override;

private:
    Navigation& navigation_;
};

}  // namespace tunewick
