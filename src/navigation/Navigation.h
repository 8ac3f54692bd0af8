#pragma once
// The history of shown pages, like a browser's, and the two halves of a page switch: the
// request half (load, goBack, goForward) changes the history and posts the switch to the
// dialog; the switch half (show) runs later on the dialog's thread and tells the start movie
// which page to show, between the "pageUnload" and "pageLoad" events. So a page never changes
// inside the movie call that asked for it. Everything here runs on the dialog's thread.
#include <string>
#include <vector>

#include "bridge/DialogPoster.h"
#include "bridge/EventRegistry.h"
#include "bridge/FlashControl.h"
#include "bridge/Param.h"

namespace tunewick {

class Navigation {
public:
    struct PageState {
        std::string name;  // exactly as the movie gave it
        Param state;       // null; kept with the entry, read by nobody
    };

    // `startMovie` is the path of the start movie (the movie folder's Loader). The control,
    // poster and event registry are not owned and must outlive the navigation.
    Navigation(FlashControl& control, std::string startMovie, DialogPoster& poster, EventRegistry& events);
    Navigation(const Navigation&) = delete;
    Navigation& operator=(const Navigation&) = delete;

    // Loads the start movie into layer 0. The start movie is no page of the history, and no
    // event is raised.
    void loadStartMovie();

    // Drops every entry after the current one, appends `name` (any text, even one seen
    // before) as the current entry and posts its switch.
    void load(const std::string& name);
    // Each steps one entry when it can, posts that entry's switch and answers true; at the end
    // of the history it answers false and changes nothing.
    bool goBack();
    bool goForward();
    // An object value with the booleans "canGoBack" and "canGoForward".
    Param historyInfo() const;

    // The switch half: raises "pageUnload", calls the start movie's "loadSwf" with the bare
    // name inserted unescaped, then raises "pageLoad". The history is not touched.
    void show(const std::string& name);

    // -1 while the history is empty.
    int currentIndex() const { return current_; }
    std::size_t historySize() const { return history_.size(); }
    std::vector<std::string> historyNames() const;

private:
    void postCurrent();

    FlashControl& control_;
    std::string startMovie_;
    DialogPoster& poster_;
    EventRegistry& events_;
    std::vector<PageState> history_;  // oldest first
    int current_ = -1;
};

}  // namespace tunewick
