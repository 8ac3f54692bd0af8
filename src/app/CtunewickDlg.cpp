#include "app/CtunewickDlg.h"

#include <iostream>
#include <utility>

#include "audio/analysis/NoteRecognizer.h"
#include "audio/recording/SoundPlayer.h"
#include "audio/recording/WaveFileWriter.h"
#include "audio/Status.h"
#include "audio/analysis/StringTuner.h"
#include "commands/AnalyzeRecordingCommand.h"
#include "commands/AudioCommands.h"
#include "commands/ExitCommand.h"
#include "commands/GenerateMazeCommand.h"
#include "commands/NavigationCommands.h"
#include "commands/PageUnloadHandler.h"
#include "commands/SettingsCommands.h"
#include "navigation/Navigation.h"

namespace tunewick {

CtunewickDlg::CtunewickDlg(DialogServices services)
    : services_(std::move(services)),
      recorder_(services_.microphone, services_.reporter),
      settings_(services_.settingsFile, std::cerr) {
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
    tuner_.reset();
    recognizer_.reset();
    commandRegistry_.reset();
    navigation_.reset();
    services_.control.setFlashCallHandler(nullptr);
    eventRegistry_ = EventRegistry();
    recorder_.release();
}

void CtunewickDlg::OnInitDialog() {
    navigation_ = std::make_unique<Navigation>(services_.control, services_.programDir, *this, eventRegistry_);
    recognizer_ = std::make_unique<NoteRecognizer>(services_.microphone, services_.reporter, *this);
    tuner_ = std::make_unique<StringTuner>(services_.microphone, services_.reporter, *this);
    tuner_->setStringIndex(0);

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
    commands.add(std::make_unique<GetSettingsCommand>(settings_));
    commands.add(std::make_unique<SetSettingCommand>(settings_));
    commands.add(std::make_unique<AnalyzeRecordingCommand>(
        WaveFileWriter::kDefaultPath, AnalyzeRecordingCommand::pitchTracker([this] { return settings_.referencePitch(); })));

    eventRegistry_.addEventHandler(
        "pageUnload", std::make_shared<PageUnloadHandler>(recorder_, *recognizer_, *tuner_, services_.player));

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

}  // namespace tunewick
