#pragma once

#include <chrono>
#include <cstdint>

namespace quorix::platform {

// The one clock of the SDK. Every sleep, tick reading and timed wait goes through it, so that
// tests can run SDK time faster than real time and finish multi-second camera timeouts quickly.

// Milliseconds since an arbitrary start; wraps at 2^32, so callers compare ticks by unsigned
// subtraction only.
uint32_t GetTickCount();

// Milliseconds since the same start as GetTickCount, never wrapping and never going backwards.
uint64_t MonotonicMs();

// Sleeps for `ms` milliseconds of SDK time; 0 only yields the processor.
void SleepMs(uint32_t ms);

// How long `ms` milliseconds of SDK time last in real time. Rounded up, so a wait never ends
// before the SDK clock has advanced by `ms`.
std::chrono::nanoseconds ToRealDuration(uint32_t ms);

// The steady-clock instant at which `ms` milliseconds of SDK time from now have passed; the
// deadline for condition-variable waits.
std::chrono::steady_clock::time_point RealDeadline(uint32_t ms);

// Test mode: SDK time runs `factor` times faster than real time (1 = normal, clamped to
// 1..kMaxTimeScale). The SDK clock carries on from its current reading, it never jumps.
constexpr uint32_t kMaxTimeScale = 100000;
void SetTimeScale(uint32_t factor);
uint32_t GetTimeScale();

// Test hook: GetTickCount reads `ticks` now and counts on from there, so code that measures
// intervals can be run across the 2^32 wrap. MonotonicMs is unaffected.
void PresetTickCount(uint32_t ticks);

// Marks a stretch of short waits that want 1 ms timer resolution. Linux timers already have it,
// so the guard does nothing; it keeps the intent visible at the call sites.
class TimerResolutionGuard {
public:
    TimerResolutionGuard();
    ~TimerResolutionGuard();
    TimerResolutionGuard(const TimerResolutionGuard&) = delete;
    TimerResolutionGuard& operator=(const TimerResolutionGuard&) = delete;
};

}  // namespace quorix::platform
