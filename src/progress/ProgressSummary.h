#pragma once
// What the Progress page draws, worked out from the practice history: minutes a day, the
// streak, accuracy per song, missed places on the neck, timing, chord changes, and the three
// weakest items to practise next. Reads only; runs on the thread that owns the store (the
// dialog's).
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace tunewick {

class ProgressStore;

struct SummaryRequest {
    int days = 30;                  // the window, ending today
    int goalMinutes = 15;           // the daily goal, passed through for the page
    std::int64_t nowMs = 0;         // "now", ms since 1970; days are local calendar days
};

// The summary object (see the fields in the page's API note); an empty history gives
// "empty": true with zeroed series. A store that is not available gives the same.
nlohmann::json progressSummary(const ProgressStore& store, const SummaryRequest& request);

// The local calendar day of `ms` as "YYYY-MM-DD".
std::string localDay(std::int64_t ms);

}  // namespace tunewick
