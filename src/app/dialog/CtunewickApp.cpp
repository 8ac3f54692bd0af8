#include "app/dialog/CtunewickApp.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/dialog/BrowserLauncher.h"
#include "app/dialog/CtunewickDlg.h"
#include "app/dialog/MovieFolder.h"
#include "app/dialog/PlayerReporter.h"
#include "app/dialog/ProgramFiles.h"
#include "app/dialog/SongsFolder.h"
#include "app/web/WebControl.h"
#include "audio/capture/WavFileCaptureDevice.h"
#include "audio/portaudio/AudioDevices.h"
#include "audio/portaudio/PortAudioCaptureDevice.h"
#include "audio/portaudio/PortAudioSoundPlayer.h"
#include "bridge/MessageQueue.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;

// The name of the device that a name from the command line (empty: the default) picks, for
// the startup output; an explanation when there is none.
std::string chosenDevice(AudioDirection direction, const std::string& wanted) {
    PortAudioSession session;
    const auto device = findAudioDevice(listAudioDevices(session), direction, wanted);
    if (device) return device->name;
    const char* what = direction == AudioDirection::input ? "microphone" : "sound output";
    if (wanted.empty()) return std::string("none (no ") + what + " found)";
    return "none (no single " + std::string(what) + " matches \"" + wanted + "\"; see --list-devices)";
}

// Turns SIGINT and SIGTERM into an orderly end of the dialog. The signals are blocked in every
// thread (this must be made before any other thread) and collected here with sigtimedwait.
class SignalWatcher {
public:
    SignalWatcher() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    }
    ~SignalWatcher() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    void start(MessageQueue& queue, std::function<void()> onSignal) {
        thread_ = std::thread([this, &queue, onSignal = std::move(onSignal)] {
            const timespec tick{0, 200'000'000};
            while (!done_) {
                const int got = sigtimedwait(&signals_, nullptr, &tick);
                if (got == SIGINT || got == SIGTERM) {
                    queue.post(onSignal);
                    return;
                }
            }
        });
    }

private:
    sigset_t signals_{};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

int CtunewickApp::InitInstance(const Options& options) {
    SignalWatcher signalWatcher;

    CaptureDeviceFactory microphone;
    std::string microphoneName;
    std::shared_ptr<WavFileCaptureDevice> inputFile;
    if (!options.inputFile.empty()) {
        std::string error;
        inputFile = WavFileCaptureDevice::open(options.inputFile, WavFileCaptureDevice::Mode::realTime, &error);
        if (!inputFile) {
            std::cerr << "tunewick: " << error << "\n";
            return 2;
        }
        microphone = inputFile->factory();
        microphoneName = "the file " + options.inputFile;
    } else {
        microphoneName = chosenDevice(AudioDirection::input, options.inputDevice);
    }
    PortAudioSoundPlayer speakers(options.outputDevice);

    const fs::path program = runningProgram();
    const std::optional<std::string> programFiles = findProgramFiles(program);
    if (!programFiles) {
        std::cerr << "tunewick: cannot find the movies and the player (data/ and web/) in "
                  << programFilesCandidates(program) << "\n";
        return 1;
    }
    const MovieFolder movies = chooseMovieFolder(options.movies, fs::path(*programFiles) / "data");
    const fs::path songs = chooseSongsFolder(options.songs);

    MessageQueue queue;
    std::unique_ptr<WebControl> control;
    try {
        WebControlSettings web;
        web.moviesDir = movies.folder;
        web.songsDir = songs;
        control = std::make_unique<WebControl>(queue, *programFiles, options.port, web);
    } catch (const std::exception& error) {
        std::cerr << "tunewick: cannot serve the player: " << error.what() << "\n";
        return 1;
    }
    PlayerReporter reporter(*control);
    // The microphone's failures reach the player through the reporter, so it is made here.
    if (!microphone) microphone = PortAudioCaptureDevice::factory(options.inputDevice, &reporter);

    std::cout << "Tunewick is running at " << control->url() << std::endl;
    std::cout << "Movies and player: " << *programFiles << std::endl;
    std::cout << "Start movie: " << movies.startMovie.string() << std::endl;
    std::cout << "Songs: " << (songs.empty() ? std::string("none") : songs.string()) << std::endl;
    std::cout << "Microphone: " << microphoneName << std::endl;
    std::cout << "Sound output: " << chosenDevice(AudioDirection::output, options.outputDevice) << std::endl;

    BrowserLauncher browser;
    if (options.openBrowser) browser.open(control->url());

    int code = 0;
    {
        CtunewickDlg dialog(DialogServices{*control, queue, reporter, speakers, microphone, movies.startMovie.string(),
                                           SettingsStore::defaultFile().string(),
                                           ProgressStore::defaultFile().string(), songs.string()});
        control->setLastPlayerClosedHandler([&dialog] { dialog.EndDialog(0); });
        signalWatcher.start(queue, [&dialog] { dialog.EndDialog(0); });
        code = dialog.DoModal();
        // The dialog's destructor stops the engines (a recording is finished) before the
        // player is told that the program has ended.
    }
    (void)code;  // the dialog's code is not the process's: ending is always a success
    control->sendExit();
    control->stop();
    return 0;
}

}  // namespace tunewick
