#pragma once
// The hand-over to the dialog's thread: work posted here runs later, in order, on that thread.
// Every posted message owns its payload, so nothing the poster changes afterwards can reach it.
#include "bridge/FunctionCall.h"

#include <string>

namespace tunewick {

class DialogPoster {
public:
    virtual ~DialogPoster() = default;
    // "LoadSwfMessage": show the named page (a copy of the name travels with the message).
    virtual void postLoadSwf(std::string pageName) = 0;
    // "CallSwfFunctionMessage": call the movie with this record (an owned copy). Safe to call
    // from any thread.
    virtual void postCallSwfFunction(FunctionCall call) = 0;
    // For a stream of calls where only the newest matters (the pitch readings, many a
    // second): a call of the same name still waiting is replaced, not queued behind, so a
    // player that answers slowly never builds a backlog. Safe to call from any thread.
    virtual void postLatestSwfFunction(FunctionCall call) { postCallSwfFunction(std::move(call)); }
};

}  // namespace tunewick
