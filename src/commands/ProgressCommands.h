#pragma once
// The commands through which pages keep and read the practice history. They run on the
// dialog's thread and share the dialog's ProgressStore; each is quick (one transaction, or a
// few indexed queries over a year of practice at most).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "bridge/FunctionCommand.h"

namespace tunewick {

class ProgressStore;

// What the progress commands need besides the store: the time, the daily goal, where an export
// goes, and how the player is told of a failed export.
struct ProgressContext {
    std::function<std::int64_t()> nowMs;                 // ms since 1970
    std::function<int()> goalMinutes;                    // the "dailyGoal" setting
    std::function<std::filesystem::path()> exportUnder;  // the documents folder
    std::function<void(const std::string& caption, const std::string& text)> tell;

    // The wall clock, the documents folder and a goal of `goal` minutes.
    static ProgressContext standard(std::function<int()> goal,
                                    std::function<void(const std::string&, const std::string&)> tell);
};

// "recordResult"(kind, object): true when the result was valid and kept; false for an unknown
// kind, a bad field, or a failed write.
class RecordResultCommand final : public FunctionCommand {
public:
    RecordResultCommand(ProgressStore& store, ProgressContext context);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ProgressStore& store_;
    ProgressContext context_;
};

// "getProgress"(days): the summary object of the last `days` days (1..365, 30 when missing);
// null for a days value of the wrong type or range.
class GetProgressCommand final : public FunctionCommand {
public:
    GetProgressCommand(ProgressStore& store, ProgressContext context);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ProgressStore& store_;
    ProgressContext context_;
};

// "exportProgress"(): the folder the CSV and JSON files went to, or null (the player is told
// why).
class ExportProgressCommand final : public FunctionCommand {
public:
    ExportProgressCommand(ProgressStore& store, ProgressContext context);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ProgressStore& store_;
    ProgressContext context_;
};

// "getProgressJson"(): the whole history as one JSON text, for the page's download.
class GetProgressJsonCommand final : public FunctionCommand {
public:
    GetProgressJsonCommand(ProgressStore& store, ProgressContext context);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ProgressStore& store_;
    ProgressContext context_;
};

// "deleteProgress"(confirm): forgets the whole history only when `confirm` is the string
// "delete"; anything else answers false and keeps it.
class DeleteProgressCommand final : public FunctionCommand {
public:
    static constexpr const char* kConfirmation = "delete";
    explicit DeleteProgressCommand(ProgressStore& store);
    Param execute(const std::vector<Param>& arguments) override;

private:
    ProgressStore& store_;
};

}  // namespace tunewick
