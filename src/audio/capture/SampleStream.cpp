#include "audio/capture/SampleStream.h"

#include <thread>

namespace tunewick {

bool SampleFanOut::add(SampleTap& tap) {
    std::lock_guard lock(mutex_);
    std::atomic<SampleTap*>* free = nullptr;
    for (auto& slot : taps_) {
        SampleTap* current = slot.load();
        if (current == &tap) return false;
        if (current == nullptr && free == nullptr) free = &slot;
    }
    if (free == nullptr) return false;
    free->store(&tap);
    return true;
}

bool SampleFanOut::remove(SampleTap& tap) {
    std::lock_guard lock(mutex_);
    bool found = false;
    for (auto& slot : taps_) {
        if (slot.load() == &tap) {
            slot.store(nullptr);
            found = true;
        }
    }
    // A delivery that began before the slot was cleared may still hold the tap; one that
    // begins after it cannot see it (both sides use sequentially consistent order). A
    // delivery only copies and wakes, so this wait is a few microseconds at most.
    while (delivering_.load() != 0) std::this_thread::yield();
    return found;
}

std::size_t SampleFanOut::count() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& slot : taps_) n += slot.load() != nullptr ? 1 : 0;
    return n;
}

void SampleFanOut::deliver(const float* samples, std::size_t count, unsigned flags) {
    delivering_.fetch_add(1);
    for (auto& slot : taps_) {
        if (SampleTap* tap = slot.load()) tap->onSamples(samples, count, flags);
    }
    delivering_.fetch_sub(1);
}

}  // namespace tunewick
