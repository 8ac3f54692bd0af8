#pragma once
// "analyzeRecording": the picture of the last take for the recorder page. Runs on the dialog's
// thread; reads the recording file and hands it to the pitch tracker's offline analysis.
#include <functional>
#include <string>
#include <vector>

#include "bridge/FunctionCommand.h"
#include "commands/TakeSummary.h"

namespace tunewick {

class AnalyzeRecordingCommand final : public FunctionCommand {
public:
    // The tracker over a whole file: its readings for the voiced parts, time from the start.
    using Analyzer = std::function<std::vector<TakeReading>(const std::string& path)>;

    // Takes longer than this are drawn only up to it; the page stays quick to draw.
    static constexpr double kMaxSeconds = 30.0 * 60.0;

    AnalyzeRecordingCommand(std::string path, Analyzer analyzer);

    // The pitch tracker's own offline run, against the reference pitch `referencePitch` gives
    // at the time of the call; a file it cannot read gives no readings.
    static Analyzer pitchTracker(std::function<double()> referencePitch);

    // Answers TakeSummary's object, or null when the file is missing or no sound file.
    Param execute(const std::vector<Param>& arguments) override;

private:
    std::string path_;
    Analyzer analyzer_;
};

}  // namespace tunewick
