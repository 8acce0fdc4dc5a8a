// Handles, error codes and notifications as an application sees them through the public header.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <quorix/quorix.h>

namespace {

void DrainThreadQueue() {
    QuorixMessage message;
    while (Quorix_PeekThreadMessage(&message) == 1) {
    }
}

TEST(Library, VersionIsTwoElevenFiveThirtyThree) {
    EXPECT_EQ(Quorix_GetDllVersion(), 34276641u);
    EXPECT_EQ(Quorix_GetDllVersion(), QUORIX_DLL_VERSION);
}

// Handles created back to back (usually within one tick) must all differ, and each must keep
// naming its own context until it is released.
TEST(Handles, EveryContextGetsItsOwnHandle) {
    std::vector<QuorixHandle> handles;
    std::set<QuorixHandle> distinct;
    for (int i = 0; i < 16; ++i) {
        const QuorixHandle handle = Quorix_Initialize(nullptr);
        ASSERT_NE(handle, 0u);
        handles.push_back(handle);
        distinct.insert(handle);
    }
    EXPECT_EQ(distinct.size(), handles.size());
    // Each handle keeps its own error history.
    for (size_t i = 0; i < handles.size(); ++i) {
        Quorix_SetFilterValue(handles[i], 9999, 0);  // unknown ID or no camera: a code is recorded
    }
    for (QuorixHandle handle : handles) {
        EXPECT_NE(Quorix_GetLastError(handle), 0u);
        EXPECT_EQ(Quorix_GetLastError(handle), 0u);
    }
    for (QuorixHandle handle : handles) {
        EXPECT_EQ(Quorix_Release(handle), 1);
    }
}

TEST(Handles, ReleasingTheMiddleOfThreeKeepsTheOthers) {
    const QuorixHandle a = Quorix_Initialize(nullptr);
    const QuorixHandle b = Quorix_Initialize(nullptr);
    const QuorixHandle c = Quorix_Initialize(nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    ASSERT_NE(c, 0u);
    ASSERT_EQ(Quorix_SetWaitTime(a, 11), 1);
    ASSERT_EQ(Quorix_SetWaitTime(b, 12), 1);
    ASSERT_EQ(Quorix_SetWaitTime(c, 13), 1);
    ASSERT_EQ(Quorix_Release(b), 1);
    // The remaining handles still answer with their contexts' stored values; the released one
    // gives the no-context result.
    EXPECT_EQ(Quorix_GetWaitTime(a), 11);
    EXPECT_EQ(Quorix_GetWaitTime(c), 13);
    EXPECT_EQ(Quorix_GetWaitTime(b), -1);
    EXPECT_EQ(Quorix_Release(b), 0);
    EXPECT_EQ(Quorix_Release(a), 1);
    EXPECT_EQ(Quorix_Release(c), 1);
    EXPECT_EQ(Quorix_GetWaitTime(a), -1);
}

TEST(Errors, HistoryPopsNewestFirst) {
    const QuorixHandle handle = Quorix_Initialize(nullptr);
    ASSERT_NE(handle, 0u);
    char serial[8];
    char name[64];
    QuorixCameraInfo info = {};
    info.size = 20;
    EXPECT_EQ(Quorix_ReadSerialNumberA(handle, serial, sizeof serial), 0);  // 9: below 32 bytes
    EXPECT_EQ(Quorix_GetCameraInfo(handle, &info), 0);                      // 5: record too small
    EXPECT_EQ(Quorix_GetDeviceName(handle, 0, name, sizeof name), 0);       // 2: no camera there
    EXPECT_EQ(Quorix_GetLastError(handle), 2u);
    EXPECT_EQ(Quorix_GetLastError(handle), 5u);
    EXPECT_EQ(Quorix_GetLastError(handle), 9u);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
    EXPECT_EQ(Quorix_Release(handle), 1);
}

TEST(Errors, RecordedCodesArePostedToTheNotificationWindow) {
    DrainThreadQueue();
    QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);
    const QuorixHandle handle = Quorix_Initialize(window);
    ASSERT_NE(handle, 0u);
    char serial[8];
    EXPECT_EQ(Quorix_ReadSerialNumberA(handle, serial, sizeof serial), 0);

    QuorixMessage message;
    ASSERT_EQ(Quorix_GetWindowMessage(window, &message, 1000), 1);
    EXPECT_EQ(message.window, window);
    EXPECT_EQ(message.message, QUORIX_MSG_ERROR);
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 9);
    EXPECT_EQ(Quorix_PeekWindowMessage(window, &message), 0);
    EXPECT_EQ(Quorix_PeekThreadMessage(&message), 0);

    EXPECT_EQ(Quorix_Release(handle), 1);
    EXPECT_EQ(Quorix_DestroyMessageWindow(window), 1);
    EXPECT_EQ(Quorix_DestroyMessageWindow(window), 0);
    EXPECT_EQ(Quorix_GetWindowMessage(window, &message, 0), -1);
}

// Without a notification window, recorded codes are not posted, while posted-only codes (here
// an auto-iris mode above 2) land in the calling thread's queue and stay out of the history.
TEST(Errors, PostedOnlyCodesReachTheThreadQueueWithoutAWindow) {
    DrainThreadQueue();
    const QuorixHandle handle = Quorix_Initialize(nullptr);
    ASSERT_NE(handle, 0u);
    char serial[8];
    EXPECT_EQ(Quorix_ReadSerialNumberA(handle, serial, sizeof serial), 0);
    QuorixMessage message;
    EXPECT_EQ(Quorix_PeekThreadMessage(&message), 0);

    EXPECT_EQ(Quorix_SetAutoIris(handle, 3), 0);
    ASSERT_EQ(Quorix_GetThreadMessage(&message, 1000), 1);
    EXPECT_EQ(message.window, nullptr);
    EXPECT_EQ(message.message, QUORIX_MSG_ERROR);
    EXPECT_EQ(message.lParam, 9);
    EXPECT_EQ(Quorix_GetLastError(handle), 9u);  // the refused serial buffer only
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);

    // Another thread's queue never sees this thread's posts.
    int otherThreadGot = -1;
    std::thread other([&] {
        QuorixMessage stray;
        Quorix_SetAutoIris(handle, 7);
        otherThreadGot = Quorix_PeekThreadMessage(&stray) == 1 ? static_cast<int>(stray.lParam) : 0;
    });
    other.join();
    EXPECT_EQ(otherThreadGot, 9);
    EXPECT_EQ(Quorix_PeekThreadMessage(&message), 0);
    EXPECT_EQ(Quorix_Release(handle), 1);
}

// Applications create and release contexts from several threads and call them at once.
TEST(HandlesConcurrency, ThreadsCreateUseAndReleaseContexts) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures, t] {
            for (int round = 0; round < kRounds; ++round) {
                const QuorixHandle handle = Quorix_Initialize(nullptr);
                if (handle == 0 || Quorix_SetWaitTime(handle, t * 1000 + round) != 1 ||
                    Quorix_GetWaitTime(handle) != t * 1000 + round || Quorix_Release(handle) != 1) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

// A handle released while another thread keeps calling on it: the release returns once the call
// running at that moment has ended (it must neither hang nor free the context under the call;
// AddressSanitizer reports the latter), and the caller's next call answers as for an unknown
// handle.
TEST(HandlesConcurrency, ReleaseWhileAnotherThreadCallsOnTheHandle) {
    for (int round = 0; round < 20; ++round) {
        const QuorixHandle handle = Quorix_Initialize(nullptr);
        ASSERT_NE(handle, 0u);
        std::atomic<int> calls{0};
        std::thread caller([&] {
            while (Quorix_SetWaitTime(handle, round) == 1) {
                ++calls;
            }
        });
        while (calls.load() == 0) {
            std::this_thread::yield();
        }
        EXPECT_EQ(Quorix_Release(handle), 1);
        caller.join();
        EXPECT_EQ(Quorix_GetWaitTime(handle), -1);
        EXPECT_EQ(Quorix_Release(handle), 0);
    }
}

}  // namespace
