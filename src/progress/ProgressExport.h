#pragma once
// The practice history written out for the player to keep or look at elsewhere: one CSV file
// per kind and one JSON file of everything, in a new dated folder. Reads only; runs on the
// thread that owns the store (the dialog's).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace tunewick {

class ProgressStore;

// Everything kept, kind by kind: {"schema", "exported", "session": [...], "notegame": [...],
// "tuner", "chord" (each with its "strings"), "drill", "playalong" (each with its "events")}.
nlohmann::json progressAsJson(const ProgressStore& store, std::int64_t nowMs);

// The player's documents folder: what `xdg-user-dir DOCUMENTS` names when it is a folder,
// else $HOME; empty when neither is known.
std::filesystem::path documentsFolder();

// Makes `<under>/Tunewick progress YYYY-MM-DD` (or "… 2", "… 3" when taken; an existing
// folder is never written into) and writes session.csv, notegame.csv, tuner.csv, chord.csv,
// drill.csv, playalong.csv and progress.json there. The folder, or nothing with the reason in
// `error`.
std::optional<std::filesystem::path> exportProgress(const ProgressStore& store, const std::filesystem::path& under,
                                                    std::int64_t nowMs, std::string& error);

}  // namespace tunewick
