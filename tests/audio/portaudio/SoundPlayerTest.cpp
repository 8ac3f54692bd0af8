#include "audio/portaudio/PortAudioSoundPlayer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/ToneAnalysis.h"

namespace tunewick {
namespace {

using namespace std::chrono_literals;

// These hold with or without a sound card: the paths below never reach a device.

TEST(PortAudioSoundPlayer, IgnoresAFileThatIsMissingOrNotSound) {
    const auto dir = std::filesystem::temp_directory_path() / "tunewick-player-test";
    std::filesystem::create_directories(dir);
    {
        std::ofstream(dir / "text.wav") << "not a RIFF file";
    }
    PortAudioSoundPlayer player;
    for (const auto& path : {dir / "missing.wav", dir / "text.wav", dir}) {
        player.play(path.string());
        EXPECT_TRUE(player.waitIdle(10s)) << path;
    }
    EXPECT_EQ(player.playsStarted(), 0u);
    EXPECT_FALSE(player.busy());
    std::filesystem::remove_all(dir);
}

TEST(PortAudioSoundPlayer, IgnoresAPlayOnAnOutputThatIsNotThere) {
    const auto path = std::filesystem::temp_directory_path() / "tunewick-player-tone.wav";
    ASSERT_TRUE(testing::writeToneWav(path, 44100, 1, 440.0, 0.2, 0.5));
    PortAudioSoundPlayer player("no such output 77d2");
    player.play(path.string());
    EXPECT_TRUE(player.waitIdle(10s));
    EXPECT_EQ(player.playsStarted(), 0u);
    std::filesystem::remove(path);
}

TEST(PortAudioSoundPlayer, PurgeWithNothingPlayingAndEndWithAPlayPendingAreHarmless) {
    PortAudioSoundPlayer player("no such output 77d2");
    player.purge();
    EXPECT_TRUE(player.waitIdle(10s));
    EXPECT_FALSE(player.busy());
    player.play("/nonexistent/a.wav");
    player.play("/nonexistent/b.wav");
    player.purge();
    EXPECT_TRUE(player.waitIdle(10s));
    // The destructor runs with the thread possibly still busy with a last request.
    player.play("/nonexistent/c.wav");
}

}  // namespace
}  // namespace tunewick
