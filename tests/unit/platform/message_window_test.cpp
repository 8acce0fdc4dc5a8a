#include "platform/message_window.h"

#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "test_support.h"

namespace quorix::platform {
namespace {

constexpr uint32_t kFrameMessage = 0x8002;
constexpr uint32_t kErrorMessage = 0x8003;

bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

// Runs `body` on a fresh thread, whose own queue starts empty, and waits for it.
template <typename Body>
void OnNewThread(Body body) {
    std::thread(body).join();
}

// Closing stands for destroying a window: later posts fail, reads fail, and an event loop polling
// the fd wakes up instead of sleeping on a dead queue.
TEST(MessageQueue, CloseDropsMessagesRefusesPostsAndWakesPollers) {
    const auto queue = MessageQueue::Create();
    ASSERT_TRUE(queue);
    ASSERT_TRUE(queue->Post(Message{0, kErrorMessage, 0, 5}));
    queue->Close();
    Message out{};
    EXPECT_FALSE(queue->Peek(out));
    EXPECT_FALSE(queue->Get(out, 0));
    EXPECT_FALSE(queue->Post(Message{0, kErrorMessage, 0, 6}));
    EXPECT_TRUE(queue->IsClosed());
    EXPECT_TRUE(Readable(queue->Fd()));
}

// A window nobody reads must not grow without end: at kCapacity pending messages further posts
// fail at once (never block the posting worker) and are counted; the messages already queued are
// kept in order, and a read makes room again.
TEST(MessageQueue, FullQueueRefusesAndCountsPostsWithoutLosingQueuedOnes) {
    const auto queue = MessageQueue::Create();
    ASSERT_TRUE(queue);
    constexpr uintptr_t kPosts = 2 * MessageQueue::kCapacity;
    uintptr_t accepted = 0;
    for (uintptr_t i = 0; i < kPosts; ++i)
        accepted += queue->Post(Message{0, kFrameMessage, i, 0}) ? 1 : 0;
    EXPECT_EQ(accepted, MessageQueue::kCapacity);
    EXPECT_EQ(queue->DroppedCount(), kPosts - MessageQueue::kCapacity);
    Message out{};
    ASSERT_TRUE(queue->Peek(out));
    EXPECT_EQ(out.wParam, 0u);
    ASSERT_TRUE(queue->Post(Message{0, kErrorMessage, 0, 9})) << "a read makes room";
    for (uintptr_t i = 1; i < MessageQueue::kCapacity; ++i) {
        ASSERT_TRUE(queue->Get(out, 0));
        ASSERT_EQ(out.wParam, i);
    }
    ASSERT_TRUE(queue->Get(out, 0));
    EXPECT_EQ(out.message, kErrorMessage);
    EXPECT_FALSE(Readable(queue->Fd()));
}

TEST(MessageWindow, DeliversPostsInOrderWithTheirWindow) {
    const WindowHandle window = CreateMessageWindow();
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(IsWindow(window));
    ASSERT_TRUE(PostMessage(window, kFrameMessage, 0x1000, 0));
    ASSERT_TRUE(PostMessage(window, kErrorMessage, 0, 13));
    Message out{};
    ASSERT_EQ(GetMessage(window, out, 0), WaitResult::kMessage);
    EXPECT_EQ(out.window, window);
    EXPECT_EQ(out.message, kFrameMessage);
    EXPECT_EQ(out.wParam, 0x1000u);
    ASSERT_EQ(PeekMessage(window, out), WaitResult::kMessage);
    EXPECT_EQ(out.message, kErrorMessage);
    EXPECT_EQ(out.lParam, 13);
    EXPECT_EQ(PeekMessage(window, out), WaitResult::kTimeout);
    EXPECT_TRUE(DestroyMessageWindow(window));
}

TEST(MessageWindow, FdIsReadableExactlyWhileMessagesArePending) {
    const WindowHandle window = CreateMessageWindow();
    const int fd = MessageFd(window);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd));
    PostMessage(window, kFrameMessage, 1, 0);
    PostMessage(window, kFrameMessage, 2, 0);
    Message out{};
    EXPECT_TRUE(Readable(fd));
    ASSERT_EQ(PeekMessage(window, out), WaitResult::kMessage);
    EXPECT_TRUE(Readable(fd)) << "one message is still pending";
    ASSERT_EQ(GetMessage(window, out, 0), WaitResult::kMessage);
    EXPECT_FALSE(Readable(fd));
    DestroyMessageWindow(window);
}

TEST(MessageWindow, GetMessageTimesOutInSdkTime) {
    const WindowHandle window = CreateMessageWindow();
    Message out{};
    EXPECT_EQ(GetMessage(window, out, 20), WaitResult::kTimeout);
    {
        test::ScopedTimeScale scale(1000);
        const uint32_t tick0 = GetTickCount();
        EXPECT_EQ(GetMessage(window, out, 60000), WaitResult::kTimeout);
        EXPECT_GE(static_cast<uint32_t>(GetTickCount() - tick0), 60000u);
    }
    DestroyMessageWindow(window);
}

// A stale handle must never reach freed memory nor a newer window that took its place.
TEST(MessageWindow, DestroyedHandlesStayDeadAndAreNotReused) {
    std::set<WindowHandle> seen;
    for (int i = 0; i < 1000; ++i) {
        const WindowHandle window = CreateMessageWindow();
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(seen.insert(window).second) << "handle " << window << " handed out twice";
        ASSERT_TRUE(DestroyMessageWindow(window));
    }
    const WindowHandle live = CreateMessageWindow();
    Message out{};
    for (WindowHandle stale : {*seen.begin(), *seen.rbegin()}) {
        EXPECT_FALSE(IsWindow(stale));
        EXPECT_FALSE(PostMessage(stale, kFrameMessage, 0, 0));
        EXPECT_EQ(GetMessage(stale, out, 0), WaitResult::kInvalid);
        EXPECT_EQ(PeekMessage(stale, out), WaitResult::kInvalid);
        EXPECT_EQ(MessageFd(stale), -1);
        EXPECT_FALSE(DestroyMessageWindow(stale));
    }
    EXPECT_EQ(PeekMessage(live, out), WaitResult::kTimeout) << "a stale post reached a new window";
    DestroyMessageWindow(live);
}

TEST(MessageWindow, BlockedGetIsWokenByAPostFromAnotherThread) {
    const WindowHandle window = CreateMessageWindow();
    std::atomic<bool> waiting{false};
    auto got = std::async(std::launch::async, [&] {
        waiting = true;
        Message out{};
        return GetMessage(window, out, -1) == WaitResult::kMessage ? out.lParam : -1;
    });
    while (!waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it block first
    PostMessage(window, kErrorMessage, 0, 7);
    const bool finished = test::Finishes(got);
    DestroyMessageWindow(window);  // releases the reader if the post failed to
    ASSERT_TRUE(finished);
    EXPECT_EQ(got.get(), 7);
}

TEST(MessageWindow, DestroyWakesBlockedReadersWithInvalid) {
    const WindowHandle window = CreateMessageWindow();
    std::atomic<int> waiting{0};
    std::vector<std::future<WaitResult>> readers;
    for (int32_t timeout : {-1, 60000})  // the finite limit must not be what ends the wait
        readers.push_back(std::async(std::launch::async, [&, timeout] {
            ++waiting;
            Message out{};
            return GetMessage(window, out, timeout);
        }));
    while (waiting < 2)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(DestroyMessageWindow(window));
    for (auto& reader : readers) {
        ASSERT_TRUE(test::Finishes(reader));
        EXPECT_EQ(reader.get(), WaitResult::kInvalid);
    }
}

// Posted-only error codes without a notification window land in the posting thread's queue;
// they must not show up in any other thread's queue.
TEST(ThreadQueue, PostToWindowZeroReachesOnlyThePostingThread) {
    OnNewThread([] {
        ASSERT_TRUE(PostMessage(0, kErrorMessage, 0, 11));
        const int ownFd = MessageFd(0);
        EXPECT_TRUE(Readable(ownFd));
        OnNewThread([ownFd] {
            Message out{};
            EXPECT_EQ(PeekMessage(0, out), WaitResult::kTimeout);
            EXPECT_EQ(GetMessage(0, out, 10), WaitResult::kTimeout);
            EXPECT_NE(MessageFd(0), ownFd);
            EXPECT_FALSE(Readable(MessageFd(0)));
        });
        Message out{};
        ASSERT_EQ(GetMessage(0, out, 0), WaitResult::kMessage);
        EXPECT_EQ(out.window, 0u);
        EXPECT_EQ(out.lParam, 11);
        EXPECT_FALSE(Readable(ownFd));
    });
}

// SDK threads come and go with every preview; their queues must go with them.
TEST(ThreadQueue, QueueAndFdAreReleasedWhenTheThreadEnds) {
    int fd = -1;
    OnNewThread([&fd] {
        PostMessage(0, kErrorMessage, 0, 1);
        fd = MessageFd(0);
    });
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

// Several capture and worker threads post to one notification window while the application
// reads it: nothing may be lost, duplicated or reordered per poster. Together they post more than
// a queue holds; a poster whose post is refused while the queue is full posts again.
TEST(MessageQueueConcurrency, ManyPostersOneReaderKeepEachPostersOrder) {
    constexpr uint32_t kPosters = 4;
    constexpr uintptr_t kPerPoster = 5000;
    const WindowHandle window = CreateMessageWindow();
    std::vector<std::thread> posters;
    for (uint32_t poster = 0; poster < kPosters; ++poster)
        posters.emplace_back([=] {
            for (uintptr_t i = 0; i < kPerPoster; ++i)
                while (!PostMessage(window, poster, i, 0))
                    std::this_thread::yield();
        });
    std::vector<uintptr_t> nextExpected(kPosters, 0);
    Message out{};
    for (uintptr_t received = 0; received < kPosters * kPerPoster; ++received) {
        ASSERT_EQ(GetMessage(window, out, 30000), WaitResult::kMessage) << "after " << received;
        ASSERT_LT(out.message, kPosters);
        ASSERT_EQ(out.wParam, nextExpected[out.message]++) << "from poster " << out.message;
    }
    for (auto& poster : posters)
        poster.join();
    EXPECT_FALSE(Readable(MessageFd(window)));
    EXPECT_EQ(PeekMessage(window, out), WaitResult::kTimeout);
    DestroyMessageWindow(window);
}

// Windows created and destroyed on several threads at once, with posts racing the destruction
// of the target: handles stay unique and a post to a dying window either lands or fails cleanly.
TEST(MessageQueueConcurrency, CreateDestroyAndPostFromManyThreads) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    std::atomic<WindowHandle> shared{0};
    std::vector<std::vector<WindowHandle>> created(kThreads);
    std::vector<std::thread> threads;
    for (auto& handles : created)
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                const WindowHandle window = CreateMessageWindow();
                ASSERT_NE(window, 0u);
                handles.push_back(window);
                EXPECT_TRUE(PostMessage(window, kFrameMessage, 0, round));
                PostMessage(shared.exchange(window), kFrameMessage, 0, -1);
                Message out{};
                EXPECT_EQ(PeekMessage(window, out), WaitResult::kMessage);
                EXPECT_TRUE(DestroyMessageWindow(window));
                EXPECT_FALSE(PostMessage(window, kFrameMessage, 0, 0));
                EXPECT_EQ(PeekMessage(window, out), WaitResult::kInvalid);
            }
        });
    for (auto& thread : threads)
        thread.join();
    std::set<WindowHandle> unique;
    for (const auto& handles : created)
        unique.insert(handles.begin(), handles.end());
    EXPECT_EQ(unique.size(), static_cast<size_t>(kThreads * kRounds));
}

TEST(MessageQueueConcurrency, ThreadQueuesStaySeparateUnderLoad) {
    std::vector<std::future<bool>> threads;
    for (intptr_t id = 1; id <= 4; ++id)
        threads.push_back(std::async(std::launch::async, [id] {
            bool ok = true;
            for (uintptr_t i = 0; i < 2000; ++i) {
                Message out{};
                ok = ok && PostMessage(0, kErrorMessage, i, id) &&
                     GetMessage(0, out, 0) == WaitResult::kMessage && out.lParam == id &&
                     out.wParam == i;
            }
            return ok;
        }));
    for (auto& thread : threads) {
        ASSERT_TRUE(test::Finishes(thread));
        EXPECT_TRUE(thread.get());
    }
}

}  // namespace
}  // namespace quorix::platform
