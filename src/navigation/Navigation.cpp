#include "navigation/Navigation.h"

#include <memory>
#include <utility>

#include "bridge/FlashObject.h"
#include "bridge/FunctionCall.h"

namespace tunewick {

Navigation::Navigation(FlashControl& control, std::string startMovie, DialogPoster& poster, EventRegistry& events)
    : control_(control), startMovie_(std::move(startMovie)), poster_(poster), events_(events) {}

void Navigation::loadStartMovie() { control_.LoadMovie(0, startMovie_); }

void Navigation::load(const std::string& name) {
    history_.resize(static_cast<std::size_t>(current_ + 1));
    history_.push_back(PageState{name, Param()});
    current_ = static_cast<int>(history_.size()) - 1;
    postCurrent();
}

bool Navigation::goBack() {
    if (current_ <= 0) return false;
    --current_;
    postCurrent();
    return true;
}

bool Navigation::goForward() {
    if (current_ + 1 >= static_cast<int>(history_.size())) return false;
    ++current_;
    postCurrent();
    return true;
}

Param Navigation::historyInfo() const {
    auto map = std::make_unique<FlashObject>();
    map->setProperty("canGoBack", std::make_unique<Param>(current_ > 0));
    map->setProperty("canGoForward", std::make_unique<Param>(current_ + 1 < static_cast<int>(history_.size())));
    Param info;
    info.setObject(std::move(map));
    return info;
}

void Navigation::show(const std::string& name) {
    FunctionCall unload("pageUnload");
    events_.raiseEvent(unload);
    control_.CallFunction("<invoke name=\"loadSwf\" returntype=\"xml\"><arguments><string>" + name +
                          "</string></arguments></invoke>");
    FunctionCall loaded("pageLoad");
    events_.raiseEvent(loaded);
}

std::vector<std::string> Navigation::historyNames() const {
    std::vector<std::string> names;
    names.reserve(history_.size());
    for (const PageState& page : history_) names.push_back(page.name);
    return names;
}

// The message carries its own copy of the name: a later load may drop this very entry before
// the dialog gets to the message.
void Navigation::postCurrent() { poster_.postLoadSwf(history_[static_cast<std::size_t>(current_)].name); }

}  // namespace tunewick
