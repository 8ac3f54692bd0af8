// The filter on stderr: PortAudio's check lines go, everything else arrives whole and in order.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "audio/portaudio/StderrFilter.h"

namespace tunewick {
namespace {

TEST(StderrFilter, DropsPortAudiosCheckLinesAndPassesTheRest) {
    EXPECT_TRUE(isPortAudioNoise("Expression 'ret' failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 1736"));
    EXPECT_FALSE(isPortAudioNoise("Microphone: The microphone stopped working."));
    EXPECT_FALSE(isPortAudioNoise("Expression 'x' failed elsewhere"));

    // The real stderr of this test is a file for a while, to see what the filter passes on.
    char path[] = "/tmp/tunewick-stderr-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    {
        StderrFilter filter(&isPortAudioNoise);
        EXPECT_TRUE(filter.active());
        std::fprintf(stderr, "first\n");
        std::fprintf(stderr, "Expression 'err' failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 3665\n");
        std::fprintf(stderr, "Microphone: The microphone stopped");
        std::fprintf(stderr, " working.\nunfinished");
    }
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(path);
    EXPECT_EQ(text.str(), "first\nMicrophone: The microphone stopped working.\nunfinished");
}

}  // namespace
}  // namespace tunewick
