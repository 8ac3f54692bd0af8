// The host's message box over a web control on loopback: whole lines on the error output
// from any thread, and the same text shown in the player.
#include "app/dialog/PlayerReporter.h"
#include "support/WebControlFixture.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tunewick::test {
namespace {

using json = nlohmann::json;

using PlayerReporterTest = WebControlFixture;

TEST_F(PlayerReporterTest, WritesWholeLinesFromAnyThreadAndShowsTheText) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // Lines longer than a pipe's atomic write, read while written, would interleave without
    // the reporter's lock.
    std::string written;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) {
            written.append(chunk, static_cast<std::size_t>(n));
            std::this_thread::sleep_for(1ms);  // keep the pipe full, so writers block mid-line
        }
    });
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    const std::string text(8000, 'x');
    {
        PlayerReporter reporter(*control, fds[1]);
        std::vector<std::thread> threads;
        for (const char* caption : {"A", "B", "C", "D"}) {
            threads.emplace_back([&reporter, &text, caption] {
                for (int j = 0; j < 10; ++j) reporter.report(caption, text);
            });
        }
        for (auto& t : threads) t.join();
        reporter.report("Wav Recorder", "Error initializing Wav Recorder.");
    }
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    std::size_t at = 0;
    for (int i = 0; i < 40; ++i) {
        ASSERT_LT(at + 2, written.size());
        EXPECT_EQ(written.compare(at + 1, text.size() + 3, ": " + text + "\n"), 0) << "line " << i;
        at += text.size() + 4;
    }
    EXPECT_EQ(written.substr(at), "Wav Recorder: Error initializing Wav Recorder.\n");

    for (int i = 0; i < 40; ++i) ASSERT_TRUE(player.receive());
    EXPECT_EQ(player.receive(),
              (json{{"type", "alert"}, {"caption", "Wav Recorder"}, {"text", "Error initializing Wav Recorder."}}));
}

}  // namespace
}  // namespace tunewick::test
