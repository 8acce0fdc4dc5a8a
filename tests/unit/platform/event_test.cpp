#include "platform/event.h"

#include <atomic>
#include <thread>
#include <vector>

#include "test_support.h"

namespace quorix::platform {
namespace {

TEST(Event, ManualResetStaysSetUntilReset) {
    Event event(true, false);
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0)) << "a wait must not consume a manual-reset event";
    EXPECT_TRUE(event.IsSet());
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(Event(true, true).Wait(0));
}

TEST(Event, AutoResetIsConsumedByOneWait) {
    Event event(false, true);
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set();  // setting a set event does not count twice
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

// The engine's 3000 ms frame wait is measured on the SDK clock, so test mode shortens it.
TEST(Event, WaitTimesOutAfterTheTimeoutInSdkTime) {
    Event event(false, false);
    EXPECT_FALSE(event.Wait(20));
    test::ScopedTimeScale scale(1000);
    const uint32_t tick0 = GetTickCount();
    EXPECT_FALSE(event.Wait(30000));
    EXPECT_GE(static_cast<uint32_t>(GetTickCount() - tick0), 30000u);
}

// Waiters released by one Set of an auto-reset event: waking them all would hand one frame to
// several consumers.
TEST(EventConcurrency, AutoResetReleasesOneWaiterPerSet) {
    constexpr int kWaiters = 3;
    Event event(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            if (event.Wait(-1))
                ++released;
        });
    for (int expected = 1; expected <= kWaiters; ++expected) {
        event.Set();
        const auto limit = std::chrono::steady_clock::now() + test::kHangLimit;
        while (released < expected && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        ASSERT_EQ(released, expected);
        // Give wrongly woken waiters a chance to show up before the next Set.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(released, expected);
    }
    for (auto& waiter : waiters)
        waiter.join();
}

TEST(EventConcurrency, ManualResetReleasesEveryWaiter) {
    Event event(true, false);
    std::vector<std::future<bool>> waits;
    for (int i = 0; i < 4; ++i)
        waits.push_back(std::async(std::launch::async, [&] { return event.Wait(-1); }));
    event.Set();
    for (auto& wait : waits) {
        ASSERT_TRUE(test::Finishes(wait));
        EXPECT_TRUE(wait.get());
    }
}

}  // namespace
}  // namespace quorix::platform
