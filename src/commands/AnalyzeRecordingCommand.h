#pragma once
// "analyzeRecording": the picture of the last take for the recorder page. A take of minutes
// takes seconds to look at, so the command only starts the work: it answers at once on the
// dialog's thread and a worker thread it owns reads the recording file, runs the pitch
// tracker's offline analysis over it and hands the picture back to the movie through
// "setAnalysis"(picture or null), posted to the dialog's thread.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/DialogPoster.h"
#include "bridge/FunctionCommand.h"
#include "commands/TakeSummary.h"

namespace tunewick {

class AnalyzeRecordingCommand final : public FunctionCommand {
public:
    // The tracker over a whole file against a reference pitch (A4 in Hz): its readings for the
    // voiced parts, time from the start. Runs on the worker thread.
    using Analyzer = std::function<std::vector<TakeReading>(const std::string& path, double referencePitch)>;

    // Takes longer than this are drawn only up to it; the page stays quick to draw.
    static constexpr double kMaxSeconds = 30.0 * 60.0;
    // The movie function that receives the picture.
    static constexpr const char* kResultFunction = "setAnalysis";

    // `referencePitch` is asked on the dialog's thread when a call starts the work.
    AnalyzeRecordingCommand(std::string path, Analyzer analyzer, std::function<double()> referencePitch,
                            DialogPoster& poster);
    // Waits for a running analysis, whose answer is then left unsent.
    ~AnalyzeRecordingCommand() override;

    // The pitch tracker's own offline run; a file it cannot read gives no readings.
    static Analyzer pitchTracker();

    // True when the work started; false while an earlier call's work still runs (its answer
    // will come).
    Param execute(const std::vector<Param>& arguments) override;

    // The work itself, on the calling thread: TakeSummary's object, or null when the file is
    // missing or no sound file.
    Param analyze(double referencePitch) const;

    bool busy() const { return busy_.load(); }

private:
    std::string path_;
    Analyzer analyzer_;
    std::function<double()> referencePitch_;
    DialogPoster& poster_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> stopping_{false};
    std::thread worker_;  // started and joined on the dialog's thread only
};

}  // namespace tunewick
