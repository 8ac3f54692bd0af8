#pragma once
// A sound player for tests that plays nothing and keeps the paths it was asked to play, in
// order. Used on the test's own thread only.
#include <string>
#include <vector>

#include "audio/recording/SoundPlayer.h"

namespace tunewick {

class RecordingSoundPlayer final : public SoundPlayer {
public:
    void play(const std::string& path) override { played.push_back(path); }
    void purge() override {}
    std::vector<std::string> played;
};

}  // namespace tunewick
