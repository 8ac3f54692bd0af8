#include "app/CtunewickApp.h"

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
#include <thread>

#include "app/BrowserLauncher.h"
#include "app/CtunewickDlg.h"
#include "app/MessageQueue.h"
#include "app/PlayerReporter.h"
#include "app/WebControl.h"
#include "audio/portaudio/AudioDevices.h"
#include "audio/portaudio/PortAudioCaptureDevice.h"
#include "audio/portaudio/PortAudioSoundPlayer.h"
#include "audio/capture/WavFileCaptureDevice.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;

// The folder of the running binary (its real path), ending in "/": data/ and web/ lie beside it.
std::string programDirectory() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    std::string dir = fs::weakly_canonical(exe, error).parent_path().string();
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

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

    MessageQueue queue;
    std::unique_ptr<WebControl> control;
    try {
        control = std::make_unique<WebControl>(queue, programDirectory(), options.port);
    } catch (const std::exception& error) {
        std::cerr << "tunewick: cannot serve the player: " << error.what() << "\n";
        return 1;
    }
    PlayerReporter reporter(*control);
    // The microphone's failures reach the player through the reporter, so it is made here.
    if (!microphone) microphone = PortAudioCaptureDevice::factory(options.inputDevice, &reporter);

    std::cout << "Tunewick is running at " << control->url() << std::endl;
    std::cout << "Microphone: " << microphoneName << std::endl;
    std::cout << "Sound output: " << chosenDevice(AudioDirection::output, options.outputDevice) << std::endl;

    BrowserLauncher browser;
    if (options.openBrowser) browser.open(control->url());

    int code = 0;
    {
        CtunewickDlg dialog(DialogServices{*control, queue, reporter, speakers, microphone, programDirectory(),
                                           SettingsStore::defaultFile().string()});
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
