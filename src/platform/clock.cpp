#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace quorix::platform {

namespace {

using Steady = std::chrono::steady_clock;

constexpr int64_t kNsPerMs = 1'000'000;

// SDK time is a straight line through one anchor point: sdk = sdkAnchor + (real - realAnchor) *
// factor. Each scale change moves the anchor to "now", which keeps the SDK clock continuous.
struct ClockState {
    std::mutex mutex;
    int64_t realAnchorNs = Steady::now().time_since_epoch().count();
    int64_t sdkAnchorNs = realAnchorNs;
    uint32_t factor = 1;
};

ClockState& State() {
    // Built on first use, so static constructors elsewhere in the library may already read ticks.
    static ClockState state;
    return state;
}

// Added to the low 32 bits of MonotonicMs to form GetTickCount; only PresetTickCount changes it.
std::atomic<uint32_t> g_tickOffset{0};

int64_t SdkNowNsLocked(const ClockState& state) {
    const int64_t realNs = Steady::now().time_since_epoch().count();
    return state.sdkAnchorNs + (realNs - state.realAnchorNs) * state.factor;
}

}  // namespace

uint64_t MonotonicMs() {
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    return static_cast<uint64_t>(SdkNowNsLocked(state) / kNsPerMs);
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(MonotonicMs()) + g_tickOffset.load(std::memory_order_relaxed);
}

void PresetTickCount(uint32_t ticks) {
    g_tickOffset.store(ticks - static_cast<uint32_t>(MonotonicMs()), std::memory_order_relaxed);
}

void SetTimeScale(uint32_t factor) {
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    const int64_t sdkNs = SdkNowNsLocked(state);
    state.realAnchorNs = Steady::now().time_since_epoch().count();
    state.sdkAnchorNs = sdkNs;
    state.factor = std::clamp<uint32_t>(factor, 1, kMaxTimeScale);
}

uint32_t GetTimeScale() {
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    return state.factor;
}

std::chrono::nanoseconds ToRealDuration(uint32_t ms) {
    const int64_t factor = GetTimeScale();
    return std::chrono::nanoseconds((static_cast<int64_t>(ms) * kNsPerMs + factor - 1) / factor);
}

Steady::time_point RealDeadline(uint32_t ms) {
    return Steady::now() + ToRealDuration(ms);
}

void SleepMs(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(ToRealDuration(ms));
}

// Defined out of line so that a guard that is only declared counts as used.
TimerResolutionGuard::TimerResolutionGuard() {}
TimerResolutionGuard::~TimerResolutionGuard() {}

}  // namespace quorix::platform
