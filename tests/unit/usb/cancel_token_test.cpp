#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "../platform/test_support.h"
#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {
namespace {

TEST(CancelToken, WakerRunsOnceOnCancel) {
    CancelToken token;
    int wakes = 0;
    token.SetWaker([&] { ++wakes; });
    EXPECT_FALSE(token.IsCancelled());
    token.Cancel();
    token.Cancel();
    EXPECT_TRUE(token.IsCancelled());
    EXPECT_EQ(wakes, 1);
}

// A link that installs its waker just after the abort would otherwise sleep through it.
TEST(CancelToken, WakerInstalledAfterTheCancelRunsAtOnce) {
    CancelToken token;
    token.Cancel();
    int wakes = 0;
    token.SetWaker([&] { ++wakes; });
    EXPECT_EQ(wakes, 1);
}

TEST(CancelToken, ClearedWakerDoesNotRun) {
    CancelToken token;
    int wakes = 0;
    token.SetWaker([&] { ++wakes; });
    token.ClearWaker();
    token.Cancel();
    EXPECT_EQ(wakes, 0);
    EXPECT_TRUE(token.IsCancelled());
}

// A link frees what its waker touches right after ClearWaker; a waker still running on the
// cancelling thread would use freed memory.
TEST(CancelTokenConcurrency, ClearWakerWaitsForARunningWaker) {
    CancelToken token;
    std::promise<void> wakerEntered;
    std::promise<void> releaseWaker;
    std::shared_future<void> release = releaseWaker.get_future().share();
    std::atomic<bool> wakerFinished{false};
    token.SetWaker([&] {
        wakerEntered.set_value();
        release.wait();
        wakerFinished = true;
    });
    std::thread canceller([&] { token.Cancel(); });
    wakerEntered.get_future().wait();
    auto cleared = std::async(std::launch::async, [&] {
        token.ClearWaker();
        return wakerFinished.load();
    });
    EXPECT_EQ(cleared.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    releaseWaker.set_value();
    ASSERT_TRUE(test::Finishes(cleared));
    EXPECT_TRUE(cleared.get());
    canceller.join();
}

}  // namespace
}  // namespace quorix::platform::usb
