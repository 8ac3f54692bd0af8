#pragma once
// The application: makes the platform pieces (the player control, the reporter, the
// microphone and the speakers), prints where the player is, opens it, runs the dialog until
// "exit", a closed player or SIGINT/SIGTERM, and tears everything down in order.
#include "app/dialog/Options.h"

namespace tunewick {

class CtunewickApp {
public:
    // Runs the whole program; returns the process's exit status.
    static int InitInstance(const Options& options);
};

}  // namespace tunewick
