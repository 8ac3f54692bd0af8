#pragma once
// Made-up practice history for the tests and for the README's picture of the Progress page:
// some days of sessions, note-game rounds, tuner use, chords, drills and play-along runs that
// get a little better day by day. Deterministic for a seed. Used on the calling thread only.
#include <cstdint>

namespace tunewick {

class ProgressStore;

struct HistoryPlan {
    int days = 12;                 // days back from `nowMs`, today included
    std::int64_t nowMs = 0;
    unsigned seed = 7;
    bool skipYesterday = false;    // a gap, so the streak starts again today
};

// Records the plan into `store`; answers how many results were kept.
int buildHistory(ProgressStore& store, const HistoryPlan& plan);

}  // namespace tunewick
