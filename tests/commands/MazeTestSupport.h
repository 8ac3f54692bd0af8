#pragma once
// Helpers shared by the maze tests: a scripted random source and a grid view of maze text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "commands/RandomSource.h"

namespace tunewick::test {

// Hands out the given numbers in order (then repeats the last one), counts the draws and
// remembers the last seed, so a test can see exactly what the generator drew.
class ScriptedRandom final : public RandomSource {
public:
    explicit ScriptedRandom(std::vector<int> values = {0}) : values_(std::move(values)) {}

    void seed(std::uint32_t seed) override {
        lastSeed = seed;
        ++seeds;
    }
    int next() override {
        const int value = values_[std::min(draws, values_.size() - 1)];
        ++draws;
        return value;
    }

    std::size_t draws = 0;
    std::size_t seeds = 0;
    std::uint32_t lastSeed = 0;

private:
    std::vector<int> values_;
};

// A fixed clock.
inline SecondsClock fixedClock(std::int64_t seconds) {
    return [seconds] { return seconds; };
}

// Read-only 1-based view of W x H maze text.
struct Grid {
    const std::string& text;
    int width;
    int height;

    char at(int x, int y) const {
        return text[static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(width) +
                    static_cast<std::size_t>(x - 1)];
    }
    bool open(int x, int y) const {
        return x >= 1 && x <= width && y >= 1 && y <= height && at(x, y) == ' ';
    }
    std::string row(int y) const {
        return text.substr(static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(width),
                           static_cast<std::size_t>(width));
    }
};

}  // namespace tunewick::test
