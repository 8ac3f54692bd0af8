#pragma once
// The host's main window: owns the navigation, the three audio engines and both registries,
// runs the message queue on its own thread ("the dialog's thread"), and carries out the two
// posted messages — page switches and the engines' calls into the movie.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "audio/capture/CaptureDevice.h"
#include "audio/recording/WavRecorder.h"
#include "bridge/CommandRegistry.h"
#include "bridge/DialogPoster.h"
#include "bridge/EventRegistry.h"
#include "bridge/FlashControl.h"
#include "bridge/MessageQueue.h"
#include "bridge/Reporter.h"
#include "progress/ProgressStore.h"
#include "settings/SettingsStore.h"

namespace tunewick {

class Navigation;
class NoteRecognizer;
class StringTuner;
class SoundPlayer;
class PitchTracker;
class ChordListener;
class PracticeSession;

// What the platform gives the dialog. Everything here outlives the dialog.
struct DialogServices {
    FlashControl& control;
    MessageQueue& queue;
    Reporter& reporter;
    SoundPlayer& player;
    CaptureDeviceFactory microphone;  // opened by each engine at its initialisation
    std::string startMovie;           // the path of the start movie (Loader of the movie folder)
    std::string settingsFile = {};    // the player's settings.json; empty keeps them in memory
    std::string progressFile = {};    // the practice history; empty keeps it in memory
    std::string songsFolder = {};     // the folder "listSongs" lists; empty: none
};

class CtunewickDlg final : public DialogPoster {
public:
    // Sets up the recorder (reporting a failed initialisation) and the event registry.
    explicit CtunewickDlg(DialogServices services);
    // Stops the tuner, the recognizer and the recorder (finishing its file), purges playback,
    // then releases everything in the reverse of its making.
    ~CtunewickDlg() override;
    CtunewickDlg(const CtunewickDlg&) = delete;
    CtunewickDlg& operator=(const CtunewickDlg&) = delete;

    // Builds the navigation, the engines, the twelve commands, the settings commands and the
    // page-unload handler, then loads the start movie. Call once, on the dialog's thread.
    void OnInitDialog();
    // OnInitDialog, then runs the message queue until EndDialog; returns the code given to it.
    int DoModal();
    // Ends the message loop (from any thread): the message being run finishes first.
    void EndDialog(int code);

    // The movie's call (the control's FlashCall event), on the dialog's thread.
    void OnFlashCall(const std::string& request);

    // DialogPoster: both run later on the dialog's thread with their own copies.
    void postLoadSwf(std::string pageName) override;
    void postCallSwfFunction(FunctionCall call) override;
    // Only the newest call of a name waits; see DialogPoster.
    void postLatestSwfFunction(FunctionCall call) override;

    // For tests and diagnostics.
    Navigation* navigation() const { return navigation_.get(); }
    CommandRegistry* commandRegistry() const { return commandRegistry_.get(); }
    EventRegistry& eventRegistry() { return eventRegistry_; }
    WavRecorder& recorder() { return recorder_; }
    NoteRecognizer* recognizer() const { return recognizer_.get(); }
    StringTuner* tuner() const { return tuner_.get(); }
    PitchTracker* pitchTracker() const { return pitchTracker_.get(); }
    ChordListener* chordListener() const { return chordListener_.get(); }
    PracticeSession* practice() const { return practice_.get(); }
    SettingsStore& settings() { return settings_; }
    ProgressStore& progress() { return progress_; }

private:
    DialogServices services_;
    std::unique_ptr<CommandRegistry> commandRegistry_;
    std::unique_ptr<Navigation> navigation_;
    WavRecorder recorder_;
    SettingsStore settings_;
    ProgressStore progress_;
    std::unique_ptr<NoteRecognizer> recognizer_;
    std::unique_ptr<StringTuner> tuner_;
    std::unique_ptr<PitchTracker> pitchTracker_;
    std::unique_ptr<ChordListener> chordListener_;
    std::unique_ptr<PracticeSession> practice_;
    // Calls waiting to be run by name, newest only (postLatestSwfFunction).
    std::mutex latestMutex_;
    std::map<std::string, FunctionCall> latestCalls_;
    EventRegistry eventRegistry_;
};

}  // namespace tunewick
