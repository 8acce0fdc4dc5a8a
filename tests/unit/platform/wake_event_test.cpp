#include "platform/wake_event.h"

#include <unistd.h>

#include <future>

#include "test_support.h"

namespace quorix::platform {
namespace {

// The preview's drawing thread sleeps on its wake event and its display connection. A wake given
// while it draws must not be lost, repeated wakes must not leave it spinning, and input on the
// connection must wake it without being taken for a wake.
TEST(WakeEvent, KeepsWakesUntilTheWaitAndCountsThemOnce) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    WakeEvent wake;
    ASSERT_TRUE(wake.Open());
    wake.Set();
    wake.Set();
    EXPECT_TRUE(wake.Wait(pipeEnds[0]));
    const char byte = 1;
    ASSERT_EQ(write(pipeEnds[1], &byte, 1), 1);
    EXPECT_FALSE(wake.Wait(pipeEnds[0])) << "two wakes woke the thread twice";
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST(WakeEvent, SetFromAnotherThreadEndsTheWait) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    WakeEvent wake;
    ASSERT_TRUE(wake.Open());
    std::future<bool> woken =
        std::async(std::launch::async, [&] { return wake.Wait(pipeEnds[0]); });
    wake.Set();
    if (!test::Finishes(woken)) {
        ADD_FAILURE() << "the wake did not end the wait";
        const char byte = 1;  // releases the sleeper through its other handle
        ASSERT_EQ(write(pipeEnds[1], &byte, 1), 1);
    }
    EXPECT_TRUE(woken.get());
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

}  // namespace
}  // namespace quorix::platform
