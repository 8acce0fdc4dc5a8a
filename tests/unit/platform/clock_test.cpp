#include "platform/clock.h"

#include "test_support.h"

namespace quorix::platform {
namespace {

using test::ScopedTimeScale;

// A scaled sleep must move the SDK clock by at least the time slept, or timeouts in test mode
// would fire early (or late, if the factor were applied the wrong way round).
TEST(Clock, ScaledSleepAdvancesTheSdkClockByAtLeastTheSleep) {
    ScopedTimeScale scale(1000);
    const uint32_t tick0 = GetTickCount();
    const uint64_t ms0 = MonotonicMs();
    SleepMs(10000);
    EXPECT_GE(static_cast<uint32_t>(GetTickCount() - tick0), 10000u);
    EXPECT_GE(MonotonicMs() - ms0, 10000u);
}

TEST(Clock, RealDurationIsTheSdkDurationDividedByTheScaleRoundedUp) {
    using std::chrono::nanoseconds;
    EXPECT_EQ(ToRealDuration(1500), nanoseconds(1'500'000'000));
    {
        ScopedTimeScale scale(1000);
        EXPECT_EQ(ToRealDuration(1500), nanoseconds(1'500'000));
    }
    {
        // 1 ms / 3 = 333333.3 ns: rounding down would end the wait before 1 ms of SDK time.
        ScopedTimeScale scale(3);
        EXPECT_EQ(ToRealDuration(1), nanoseconds(333'334));
    }
    // A factor of 0 would stop SDK time and divide by zero; it means normal speed.
    SetTimeScale(0);
    EXPECT_EQ(GetTimeScale(), 1u);
}

// Switching the scale must neither rewind the clock nor leap it forward by (factor - 1) times
// the time since the clock's start.
TEST(Clock, ChangingTheScaleKeepsTheClockContinuous) {
    // An hour of SDK time: far more than a few statements take even at the highest factor here.
    constexpr uint64_t kLeap = 3'600'000;
    uint64_t before = MonotonicMs();
    for (uint32_t factor : {1000u, 1u, 50000u, 7u, 1u}) {
        SetTimeScale(factor);
        const uint64_t after = MonotonicMs();
        EXPECT_GE(after, before) << "switching to factor " << factor;
        EXPECT_LT(after - before, kLeap) << "switching to factor " << factor;
        before = after;
    }
}

// Interval code subtracts ticks as unsigned 32-bit values; across the wrap the difference must
// still be the elapsed time.
TEST(Clock, TickCountWrapsAsUnsigned32Bit) {
    ScopedTimeScale scale(1000);
    const uint64_t ms0 = MonotonicMs();
    PresetTickCount(0xFFFFFFFFu - 2999);
    const uint32_t tick0 = GetTickCount();
    SleepMs(10000);
    const uint32_t tick1 = GetTickCount();
    EXPECT_GE(tick0, 0xFFFFFFFFu - 2999);
    EXPECT_LT(tick1, tick0);
    EXPECT_GE(static_cast<uint32_t>(tick1 - tick0), 10000u);
    EXPECT_GE(MonotonicMs() - ms0, 10000u) << "the preset must not move the monotonic clock";
    PresetTickCount(static_cast<uint32_t>(MonotonicMs()));
}

}  // namespace
}  // namespace quorix::platform
