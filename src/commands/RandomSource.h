#pragma once
// The one source of random numbers 0..32767 that the maze draws from, and the clock that
// seeds it.
//
// The recurrence is the classic C runtime one (s = s * 214013 + 2531011 in unsigned 32-bit
// arithmetic, r = (s >> 16) & 0x7FFF), so a seed gives the same sequence on every machine.
// glibc's rand() has another range and another sequence and is never used.
#include <atomic>
#include <cstdint>
#include <functional>

namespace tunewick {

class RandomSource {
public:
    static constexpr int kMax = 32767;

    virtual ~RandomSource() = default;

    // Restarts the sequence from `seed`.
    virtual void seed(std::uint32_t seed) = 0;
    // The next number of the sequence, always in 0..kMax.
    virtual int next() = 0;

    // The process-wide instance (a CrtRandomSource). Every maze request reseeds it.
    static RandomSource& processWide();
};

// The classic recurrence. Each call is atomic, so several threads may draw at once; a
// sequence of draws is only reproducible while no other thread draws in between.
class CrtRandomSource final : public RandomSource {
public:
    explicit CrtRandomSource(std::uint32_t seed = 1) : state_(seed) {}

    void seed(std::uint32_t seed) override;
    int next() override;

private:
    std::atomic<std::uint32_t> state_;
};

// Whole seconds of calendar time; injectable so that tests can fix the seed.
using SecondsClock = std::function<std::int64_t()>;

// Seconds since the epoch, from the system clock.
std::int64_t currentTimeSeconds();

// The seed for a time: the seconds cut to their low 32 bits.
constexpr std::uint32_t timeSeed(std::int64_t seconds) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds) & 0xFFFFFFFFu);
}

}  // namespace tunewick
