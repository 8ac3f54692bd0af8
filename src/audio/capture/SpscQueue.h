#pragma once
// A bounded lock-free queue for one producer thread and one consumer thread: the hand-over
// from a sound device's callback (which must not lock or allocate) to a worker thread.
// All storage is made in the constructor; push and pop never allocate, block or lock.
// What does not fit is refused, not overwritten: the producer counts it as lost.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace tunewick {

template <typename T>
class SpscQueue {
public:
    // Room for `capacity` items (rounded up to a power of two, at least 2).
    explicit SpscQueue(std::size_t capacity) {
        std::size_t size = 2;
        while (size < capacity) size *= 2;
        items_.resize(size);
        mask_ = size - 1;
    }
    SpscQueue(const SpscQueue&) = delete;
    SpscQueue& operator=(const SpscQueue&) = delete;

    std::size_t capacity() const { return items_.size(); }

    // Producer: appends as many of `items` as fit; returns how many.
    std::size_t push(const T* items, std::size_t count) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        const std::size_t n = std::min(count, items_.size() - (head - tail));
        for (std::size_t i = 0; i < n; ++i) items_[(head + i) & mask_] = items[i];
        head_.store(head + n, std::memory_order_release);
        return n;
    }
    bool push(const T& item) { return push(&item, 1) == 1; }

    // Consumer: takes up to `count` items into `out`; returns how many.
    std::size_t pop(T* out, std::size_t count) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        const std::size_t n = std::min(count, head - tail);
        for (std::size_t i = 0; i < n; ++i) out[i] = items_[(tail + i) & mask_];
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }
    bool pop(T& item) { return pop(&item, 1) == 1; }

    // Consumer: the oldest item without taking it; false when empty.
    bool peek(T& item) const {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (head_.load(std::memory_order_acquire) == tail) return false;
        item = items_[tail & mask_];
        return true;
    }

    // Either side: items waiting (a snapshot).
    std::size_t size() const {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
    }

private:
    std::vector<T> items_;
    std::size_t mask_ = 1;
    // Free-running counters; their difference is the fill. Apart, so the two sides do not
    // share a cache line.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace tunewick
