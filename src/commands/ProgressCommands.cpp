#include "commands/ProgressCommands.h"

#include <chrono>
#include <cmath>

#include "commands/ParamJson.h"
#include "progress/ProgressExport.h"
#include "progress/ProgressStore.h"
#include "progress/ProgressSummary.h"

namespace tunewick {
namespace {

std::int64_t wallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ProgressContext ProgressContext::standard(std::function<int()> goal,
                                          std::function<void(const std::string&, const std::string&)> tell) {
    return {wallClockMs, std::move(goal), documentsFolder, std::move(tell)};
}

RecordResultCommand::RecordResultCommand(ProgressStore& store, ProgressContext context)
    : FunctionCommand("recordResult"), store_(store), context_(std::move(context)) {}

Param RecordResultCommand::execute(const std::vector<Param>& arguments) {
    if (arguments.size() < 2 || arguments[0].type() != Param::String || arguments[1].type() != Param::Object) {
        return Param(false);
    }
    std::string error;
    const auto result = parsePracticeResult(arguments[0].getString(), paramToJson(arguments[1]), error);
    if (!result) return Param(false);
    return Param(store_.record(*result, context_.nowMs()));
}

GetProgressCommand::GetProgressCommand(ProgressStore& store, ProgressContext context)
    : FunctionCommand("getProgress"), store_(store), context_(std::move(context)) {}

Param GetProgressCommand::execute(const std::vector<Param>& arguments) {
    SummaryRequest request;
    if (!arguments.empty() && arguments[0].type() != Param::Null) {
        if (arguments[0].type() != Param::Number) return Param();
        const double days = arguments[0].getNumber();
        if (!(days >= 1 && days <= 365) || days != std::floor(days)) return Param();
        request.days = static_cast<int>(days);
    }
    request.goalMinutes = context_.goalMinutes ? context_.goalMinutes() : request.goalMinutes;
    request.nowMs = context_.nowMs();
    return jsonToParam(progressSummary(store_, request));
}

ExportProgressCommand::ExportProgressCommand(ProgressStore& store, ProgressContext context)
    : FunctionCommand("exportProgress"), store_(store), context_(std::move(context)) {}

Param ExportProgressCommand::execute(const std::vector<Param>&) {
    std::string error;
    const auto folder = exportProgress(store_, context_.exportUnder(), context_.nowMs(), error);
    if (!folder) {
        if (context_.tell) context_.tell("Practice history", "The history could not be exported: " + error + ".");
        return Param();
    }
    return Param(folder->string());
}

GetProgressJsonCommand::GetProgressJsonCommand(ProgressStore& store, ProgressContext context)
    : FunctionCommand("getProgressJson"), store_(store), context_(std::move(context)) {}

Param GetProgressJsonCommand::execute(const std::vector<Param>&) {
    return Param(progressAsJson(store_, context_.nowMs())
                     .dump(1, ' ', false, nlohmann::json::error_handler_t::replace));
}

DeleteProgressCommand::DeleteProgressCommand(ProgressStore& store)
    : FunctionCommand("deleteProgress"), store_(store) {}

Param DeleteProgressCommand::execute(const std::vector<Param>& arguments) {
    if (arguments.empty() || arguments[0].type() != Param::String || arguments[0].getString() != kConfirmation) {
        return Param(false);
    }
    return Param(store_.clear());
}

}  // namespace tunewick
