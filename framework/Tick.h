#pragma once

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
