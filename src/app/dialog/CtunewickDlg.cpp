#include "app/dialog/CtunewickDlg.h"

#include <iostream>
#include <optional>
#include <utility>

#include "audio/analysis/NoteRecognizer.h"
#include "audio/analysis/PitchTracker.h"
#include "audio/listening/ChordListener.h"
#include "audio/practice/PracticeSession.h"
#include "audio/recording/SoundPlayer.h"
#include "audio/recording/WaveFileWriter.h"
#include "audio/Status.h"
#include "audio/analysis/StringTuner.h"
#include "commands/AnalyzeRecordingCommand.h"
#include "commands/AudioCommands.h"
#include "commands/ExitCommand.h"
#include "commands/GenerateMazeCommand.h"
#include "commands/ListeningCommands.h"
#include "commands/NavigationCommands.h"
#include "commands/PageUnloadHandler.h"
#include "commands/PitchCommands.h"
#include "commands/ProgressCommands.h"
#include "commands/ChordCommands.h"
#include "commands/SettingsCommands.h"
#include "commands/SongList.h"
#include "navigation/Navigation.h"

namespace tunewick {

CtunewickDlg::CtunewickDlg(DialogServices services)
    : services_(std::move(services)),
      recorder_(services_.microphone, services_.reporter),
      settings_(services_.settingsFile, std::cerr),
      progress_(services_.progressFile, [this](const std::string& caption, const std::string& text) {
          services_.reporter.report(caption, text);
      }) {
    if (status::failed(recorder_.initialize())) {
        services_.reporter.report("Wav Recorder", "Error initializing Wav Recorder.");
    }
    services_.control.setFlashCallHandler([this](const std::string& request) { OnFlashCall(request); });
}

CtunewickDlg::~CtunewickDlg() {
    // Every step runs whatever the one before it did.
    if (tuner_) tuner_->stop();
    if (recognizer_) recognizer_->stop();
    recorder_.stop();
    services_.player.purge();
    if (pitchTracker_) pitchTracker_->release();
    pitchTracker_.reset();
    if (practice_) practice_->release();
    practice_.reset();
    if (chordListener_) chordListener_->release();
    chordListener_.reset();
    tuner_.reset();
    recognizer_.reset();
    commandRegistry_.reset();
    navigation_.reset();
    services_.control.setFlashCallHandler(nullptr);
    eventRegistry_ = EventRegistry();
    recorder_.release();
}

void CtunewickDlg::OnInitDialog() {
    navigation_ = std::make_unique<Navigation>(services_.control, services_.startMovie, *this, eventRegistry_);
    recognizer_ = std::make_unique<NoteRecognizer>(services_.microphone, services_.reporter, *this);
    tuner_ = std::make_unique<StringTuner>(services_.microphone, services_.reporter, *this);
    tuner_->setStringIndex(0);
    pitchTracker_ = std::make_unique<PitchTracker>(services_.microphone, *this);
    pitchTracker_->initialize();
    // The stored reference pitch tunes the tracker now and whenever a page changes it.
    pitchTracker_->setReferencePitch(settings_.referencePitch());
    chordListener_ = std::make_unique<ChordListener>(services_.microphone, *this);
    chordListener_->initialize();
    practice_ = std::make_unique<PracticeSession>(services_.microphone, *this);
    practice_->initialize();
    settings_.onChange([this](const std::string& name) {
        if (name == SettingsStore::kReferencePitch && pitchTracker_) {
            pitchTracker_->setReferencePitch(settings_.referencePitch());
        }
    });

    commandRegistry_ = std::make_unique<CommandRegistry>();
    commandRegistry_->control = &services_.control;
    CommandRegistry& commands = *commandRegistry_;
    commands.add(std::make_unique<GetHistoryInfoCommand>(*navigation_));
    commands.add(std::make_unique<GoBackCommand>(*navigation_));
    commands.add(std::make_unique<GoForwardCommand>(*navigation_));
    commands.add(std::make_unique<LoadSwfCommand>(*navigation_));
    commands.add(std::make_unique<StartRecorderCommand>(recorder_));
    commands.add(std::make_unique<StopRecorderCommand>(recorder_));
    commands.add(std::make_unique<PlayWavCommand>(services_.player));
    commands.add(std::make_unique<ExitCommand>([this](int code) { EndDialog(code); }));
    commands.add(std::make_unique<StartRecognizerCommand>(*recognizer_));
    commands.add(std::make_unique<GenerateMazeCommand>());
    commands.add(std::make_unique<StartTunerCommand>(*tuner_));
    commands.add(std::make_unique<SetTunerStringCommand>(*tuner_));
    // Tunewick's own, after the specified twelve.
    commands.add(std::make_unique<StartPitchTrackerCommand>(*pitchTracker_));
    commands.add(std::make_unique<StopPitchTrackerCommand>(*pitchTracker_));
    commands.add(std::make_unique<SetReferencePitchCommand>(
        *pitchTracker_, [this](double hz) { settings_.set(SettingsStore::kReferencePitch, hz); }));
    commands.add(std::make_unique<SetPitchFocusCommand>(*pitchTracker_));
    commands.add(std::make_unique<StartChordListenerCommand>(*chordListener_));
    commands.add(std::make_unique<StopChordListenerCommand>(*chordListener_));
    commands.add(std::make_unique<SetChordTargetCommand>(*chordListener_));
    commands.add(std::make_unique<StartPracticeCommand>(*practice_, [this] { return settings_.latency(); }));
    commands.add(std::make_unique<SetMusicLateCommand>(*practice_));
    commands.add(std::make_unique<StopPracticeCommand>(*practice_));
    commands.add(std::make_unique<PlayReferenceToneCommand>(services_.player));
    commands.add(std::make_unique<PlayChordCommand>(services_.player));
    commands.add(std::make_unique<GetSettingsCommand>(settings_));
    commands.add(std::make_unique<SetSettingCommand>(settings_));
    commands.add(std::make_unique<AnalyzeRecordingCommand>(WaveFileWriter::kDefaultPath,
                                                           AnalyzeRecordingCommand::pitchTracker(),
                                                           [this] { return settings_.referencePitch(); }, *this));
    {
        auto context = ProgressContext::standard([this] { return settings_.dailyGoal(); },
                                                 [this](const std::string& caption, const std::string& text) {
                                                     services_.reporter.report(caption, text);
                                                 });
        commands.add(std::make_unique<RecordResultCommand>(progress_, context));
        commands.add(std::make_unique<GetProgressCommand>(progress_, context));
        commands.add(std::make_unique<ExportProgressCommand>(progress_, context));
        commands.add(std::make_unique<GetProgressJsonCommand>(progress_, context));
        commands.add(std::make_unique<DeleteProgressCommand>(progress_));
    }
    commands.add(std::make_unique<ListSongsCommand>(services_.songsFolder));

    eventRegistry_.addEventHandler(
        "pageUnload", std::make_shared<PageUnloadHandler>(recorder_, *recognizer_, *tuner_, services_.player,
                                                        pitchTracker_.get(), chordListener_.get(), practice_.get()));

    // A SWF movie calls the commands as global functions: the player must know them first.
    services_.control.setCommandNames(commands.names());
    navigation_->loadStartMovie();
}

int CtunewickDlg::DoModal() {
    services_.queue.post([this] { OnInitDialog(); });
    return services_.queue.run();
}

void CtunewickDlg::EndDialog(int code) { services_.queue.quit(code); }

void CtunewickDlg::OnFlashCall(const std::string& request) {
    if (commandRegistry_) {
        commandRegistry_->dispatch(request);
    } else {
        services_.control.SetReturnValue("<null/>");
    }
}

void CtunewickDlg::postLoadSwf(std::string pageName) {
    services_.queue.post([this, name = std::move(pageName)] {
        if (navigation_) navigation_->show(name);
    });
}

void CtunewickDlg::postCallSwfFunction(FunctionCall call) {
    services_.queue.post([this, call = std::move(call)] {
        // The movie's reply is released unread.
        if (commandRegistry_) (void)call.invoke(*commandRegistry_);
    });
}

void CtunewickDlg::postLatestSwfFunction(FunctionCall call) {
    std::string name = call.name;
    {
        std::lock_guard lock(latestMutex_);
        const bool waiting = latestCalls_.count(name) != 0;
        latestCalls_.insert_or_assign(name, std::move(call));
        if (waiting) return;  // the message already posted will take this one
    }
    services_.queue.post([this, name = std::move(name)] {
        std::optional<FunctionCall> call;
        {
            std::lock_guard lock(latestMutex_);
            auto it = latestCalls_.find(name);
            if (it == latestCalls_.end()) return;
            call = std::move(it->second);
            latestCalls_.erase(it);
        }
        if (commandRegistry_) (void)call->invoke(*commandRegistry_);
    });
}

}  // namespace tunewick
