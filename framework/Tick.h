#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

// Milliseconds of the monotonic clock as a wrapping 32-bit count, the unit of every capture time.
inline uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

// The frames a driver hands over together share one clock read: reading the clock costs as much
// as the rest of storing a small frame. While an ArrivalTick lives on a thread, the first Now()
// reads the clock and later ones repeat it; without one, Now() is TickCount(). A driver makes one
// around a handover, after its wait, so a batch is timed when its first frame is taken.
class ArrivalTick {
public:
    ArrivalTick() : outer_(state_) { state_ = kStale; }
    ~ArrivalTick() { state_ = outer_; }
    ArrivalTick(const ArrivalTick&) = delete;
    ArrivalTick& operator=(const ArrivalTick&) = delete;

    // The time of the frame about to be handed over, when the driver has the kernel's receive time
    // for it: Now() gives it until the next Set or until the ArrivalTick ends. Only while an
    // ArrivalTick lives on the thread.
    static void Set(uint32_t tick) {
        tick_ = tick;
        state_ = kRead;
    }

    static uint32_t Now() {
        if (state_ == kOff) return TickCount();
        if (state_ == kStale) {
            tick_ = TickCount();
            state_ = kRead;
        }
        return tick_;
    }

private:
    enum State : uint8_t { kOff, kStale, kRead };
    static inline thread_local State state_ = kOff;
    static inline thread_local uint32_t tick_ = 0;
    State outer_;
};

// A kernel receive time (the real-time clock, as packet sockets and libpcap stamp frames) on the
// tick base: the tick the monotonic clock showed at that instant. The distance between the two
// clocks is measured once per call; frames of one batch share it through one RealtimeToTick.
class RealtimeToTick {
public:
    RealtimeToTick() {
        // Every batch keeps the distance the process first took, so that frames of different
        // batches keep their exact spacing. A new measurement replaces it only when it was read
        // without being interrupted (a short gap between its monotonic reads) and differs by more
        // than 100 ms: a step of the real-time clock, never a thread that lost the processor.
        static std::atomic<int64_t> shared{INT64_MIN};
        int64_t gap = 0;
        const int64_t measured = Measure(gap);
        const int64_t held = shared.load(std::memory_order_relaxed);
        const bool step = held == INT64_MIN || measured - held > 100000000 ||
                          held - measured > 100000000;
        if (held != INT64_MIN && (!step || gap >= 50000)) {
            offsetNs_ = held;
        } else {
            offsetNs_ = measured;
            shared.store(measured, std::memory_order_relaxed);
        }
    }
    uint32_t operator()(int64_t seconds, int64_t nanoseconds) const {
        return static_cast<uint32_t>(static_cast<uint64_t>(Ns(seconds, nanoseconds) + offsetNs_) /
                                     1000000u);
    }

private:
    static int64_t Ns(int64_t seconds, int64_t nanoseconds) {
        return seconds * 1000000000 + nanoseconds;
    }
    // The real-time clock read between two monotonic reads; of a few tries the one with the
    // shortest gap, so that a thread preempted between the reads on a busy machine does not
    // shift a batch of frames by the time it lost.
    static int64_t Measure(int64_t& shortest) {
        int64_t offset = 0;
        shortest = INT64_MAX;
        for (int attempt = 0; attempt < 3; ++attempt) {
            timespec before{}, real{}, after{};
            clock_gettime(CLOCK_MONOTONIC, &before);
            clock_gettime(CLOCK_REALTIME, &real);
            clock_gettime(CLOCK_MONOTONIC, &after);
            const int64_t from = Ns(before.tv_sec, before.tv_nsec);
            const int64_t gap = Ns(after.tv_sec, after.tv_nsec) - from;
            if (gap >= shortest) continue;
            shortest = gap;
            offset = from + gap / 2 - Ns(real.tv_sec, real.tv_nsec);
            if (gap < 20000) break;  // 20 µs: good enough, and the usual case
        }
        return offset;
    }
    int64_t offsetNs_ = 0;
};
