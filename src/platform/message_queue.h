#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace quorix::platform {

// Names a message window; 0 means no window (a post to 0 goes to the posting thread's queue).
using WindowHandle = std::uintptr_t;

// One posted message, as the context sends frame and error notifications to the application.
struct Message {
    WindowHandle window;  // the window it was posted to; 0 for a thread-queue message
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// The queue behind one message window or one thread: a thread-safe FIFO plus a file descriptor
// that an event loop can poll. The descriptor is readable exactly while messages are pending, and
// stays readable once the queue is closed so that a poller notices; it belongs to the queue and
// must only be polled, never read. Shared by the window table and every thread using it, so a
// window destroyed under a blocked reader stays alive until that reader has returned.
//
// A queue holds at most kCapacity messages, so that a window nobody reads (an application that
// stopped pumping while the preview still notifies every frame) cannot grow without end: a post
// to a full queue fails at once and is counted, and the poster (a capture worker) never waits.
class MessageQueue {
public:
    static constexpr size_t kCapacity = 10000;

    // Returns null when the system refuses another descriptor.
    static std::shared_ptr<MessageQueue> Create();

    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Appends a message without blocking; false once the queue is closed or while it holds
    // kCapacity messages (the lost message is counted and logged).
    bool Post(const Message& message);

    // Removes the oldest message, waiting up to `timeoutMs` of SDK time for one (< 0: no limit).
    // False on timeout or when the queue is or gets closed.
    bool Get(Message& out, int32_t timeoutMs);

    // Removes the oldest message if there is one; never waits.
    bool Peek(Message& out);

    // Drops pending messages, refuses further posts and fails every present and future Get.
    void Close();

    bool IsClosed() const;
    int Fd() const { return m_fd; }
    // Posts refused because the queue was full, since it was made.
    uint64_t DroppedCount() const;

private:
    explicit MessageQueue(int fd);
    bool PopLocked(Message& out);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Message> m_messages;
    bool m_closed = false;
    uint64_t m_dropped = 0;
    const int m_fd;  // eventfd in semaphore mode: its counter is the number of pending messages
};

}  // namespace quorix::platform
