#include "audio/portaudio/AudioDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "audio/capture/CaptureEngine.h"
#include "audio/portaudio/PortAudioCaptureDevice.h"
#include "audio/Status.h"
#include "SoundTestSupport.h"

namespace tunewick {
namespace {

AudioDeviceInfo device(std::string name, int in, int out, bool defaultIn = false,
                       bool defaultOut = false) {
    AudioDeviceInfo d;
    d.name = std::move(name);
    d.hostApi = "ALSA";
    d.maxInputChannels = in;
    d.maxOutputChannels = out;
    d.isDefaultInput = defaultIn;
    d.isDefaultOutput = defaultOut;
    return d;
}

const std::vector<AudioDeviceInfo> kDevices{
    device("HDA Intel PCH: ALC892 Analog (hw:0,0)", 2, 8),
    device("pulse", 32, 32),
    device("pulse monitor", 2, 0),
    device("HDMI 0 (hw:0,3)", 0, 8, false, true),
    device("default", 32, 32, true, false),
};

std::string nameOf(const std::optional<AudioDeviceInfo>& d) { return d ? d->name : "<none>"; }

TEST(AudioDevices, FindsTheDefaultOfEachDirectionForAnEmptyName) {
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::input, "")), "default");
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::output, "")), "HDMI 0 (hw:0,3)");
    EXPECT_EQ(nameOf(findAudioDevice({}, AudioDirection::input, "")), "<none>");
}

TEST(AudioDevices, PrefersAnExactNameThenOneUniquePartOfAName) {
    // "pulse" is also part of "pulse monitor": the exact name wins.
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::input, "pulse")), "pulse");
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::input, "MONITOR")), "pulse monitor");
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::input, "alc892")),
              "HDA Intel PCH: ALC892 Analog (hw:0,0)");
    // Part of two input names: the user has to say which.
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::input, "puls")), "<none>");
    // Only one of the two is an output, so there it is not ambiguous.
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::output, "puls")), "pulse");
}

TEST(AudioDevices, FindsOnlyDevicesOfTheAskedDirection) {
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::input, "HDMI 0 (hw:0,3)")), "<none>");
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::output, "pulse monitor")), "<none>");
    EXPECT_EQ(nameOf(findAudioDevice(kDevices, AudioDirection::input, "usb")), "<none>");
}

TEST(AudioDevices, ListsInputsThenOutputsOneALineMarkingTheDefaults) {
    EXPECT_EQ(formatAudioDeviceList(kDevices),
              "input: HDA Intel PCH: ALC892 Analog (hw:0,0) (ALSA)\n"
              "input: pulse (ALSA)\n"
              "input: pulse monitor (ALSA)\n"
              "input: default (ALSA) [default]\n"
              "output: HDA Intel PCH: ALC892 Analog (hw:0,0) (ALSA)\n"
              "output: pulse (ALSA)\n"
              "output: HDMI 0 (hw:0,3) (ALSA) [default]\n"
              "output: default (ALSA)\n");
    EXPECT_EQ(formatAudioDeviceList({}), "no audio devices\n");
    EXPECT_EQ(formatAudioDeviceList({device("dead", 0, 0)}), "no audio devices\n");
}

// CTest runs these tests with ALSA_CONFIG_PATH naming an empty configuration: a machine
// without a sound card or a sound server, whatever the machine really has.
bool withoutSoundCards() {
    const char* config = std::getenv("ALSA_CONFIG_PATH");
    return config != nullptr && std::string(config).ends_with("no-sound-card.conf");
}

bool anyInput(const std::vector<AudioDeviceInfo>& devices) {
    return std::any_of(devices.begin(), devices.end(),
                       [](const AudioDeviceInfo& d) { return d.maxInputChannels > 0; });
}

TEST(AudioDevices, AMachineWithoutSoundCardsListsNoAlsaDevice) {
    if (!withoutSoundCards()) {
        GTEST_SKIP() << "run through CTest, which hides the sound cards";
    }
    PortAudioSession session;
    ASSERT_TRUE(session.ok());
    const auto devices = listAudioDevices(session);
    for (const auto& d : devices) EXPECT_NE(d.hostApi, "ALSA") << d.name;
    std::ostringstream printed;
    printAudioDevices(printed);
    EXPECT_EQ(printed.str(), formatAudioDeviceList(devices));
    if (devices.empty()) {
        EXPECT_EQ(printed.str(), "no audio devices\n");
    }
}

// No microphone: no device at all, so the engine's initialisation answers 1 and its start
// fails without reaching any device.
TEST(PortAudioCaptureDevice, NoInputMeansNoDeviceAndTheEnginesStartFails) {
    const auto named = PortAudioCaptureDevice::factory("no such microphone 4f1c");
    EXPECT_EQ(named(), nullptr);

    RecordingReporter reporter;
    testing::CollectingEngine engine(CaptureConfig::tuner(), named, reporter);
    EXPECT_EQ(engine.initialize(), status::kNothingDone);
    EXPECT_FALSE(engine.hasDevice());
    EXPECT_TRUE(status::failed(engine.start()));
    EXPECT_FALSE(engine.isRunning());
    engine.stop();
    EXPECT_TRUE(engine.bytes().empty());

    if (!withoutSoundCards()) {
        GTEST_SKIP() << "the default input: run through CTest";
    }
    PortAudioSession session;
    if (anyInput(listAudioDevices(session))) {
        GTEST_SKIP() << "an input outside ALSA is here";
    }
    EXPECT_EQ(PortAudioCaptureDevice::factory()(), nullptr);
}

}  // namespace
}  // namespace tunewick
