// Writes made-up practice history into a progress.db, for looking at the Progress page (the
// README's picture). Usage: make_practice_history FILE [DAYS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "progress/HistoryBuilder.h"
#include "progress/ProgressStore.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [DAYS]\n", argv[0]);
        return 2;
    }
    tunewick::HistoryPlan plan;
    plan.days = argc > 2 ? std::max(1, std::atoi(argv[2])) : 14;
    plan.nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
    tunewick::ProgressStore store(argv[1], [](const std::string& caption, const std::string& text) {
        std::cerr << caption << ": " << text << "\n";
    });
    if (!store.available()) return 1;
    std::cout << tunewick::buildHistory(store, plan) << " results written to " << argv[1] << "\n";
    return 0;
}
