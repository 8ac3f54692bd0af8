#include "commands/RandomSource.h"

#include <chrono>

namespace tunewick {

RandomSource& RandomSource::processWide() {
    static CrtRandomSource instance;
    return instance;
}

void CrtRandomSource::seed(std::uint32_t seed) { state_.store(seed, std::memory_order_relaxed); }

int CrtRandomSource::next() {
    std::uint32_t current = state_.load(std::memory_order_relaxed);
    std::uint32_t advanced = 0;
    do {
        advanced = current * 214013u + 2531011u;  // wraps modulo 2^32 by definition
    } while (!state_.compare_exchange_weak(current, advanced, std::memory_order_relaxed));
    return static_cast<int>((advanced >> 16) & 0x7FFFu);
}

std::int64_t currentTimeSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace tunewick
