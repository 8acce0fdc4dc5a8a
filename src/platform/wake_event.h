#pragma once

namespace quorix::platform {

// Wakes a thread that sleeps until either another thread has something for it or a pollable
// handle of its own (a display connection) has input, as the preview window's drawing thread
// sleeps on its X connection. A wake that arrives while the thread is busy is kept until its next
// wait, and any number of wakes before that wait count as one. Owned by the sleeping thread's
// object; not copyable.
class WakeEvent {
public:
    // A handle a thread can sleep on: a file descriptor on Linux; kNoHandle for none.
    using PollHandle = int;
    static constexpr PollHandle kNoHandle = -1;

    WakeEvent() = default;
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Makes the event, not set. Returns false when the system refuses it.
    bool Open();

    // Wakes the waiting thread, or the next wait. Any thread; does nothing before Open.
    void Set();

    // Sleeps until the event is set or `other` has input to read (no limit), and clears the
    // event when it was set. Returns true when the event woke the thread.
    bool Wait(PollHandle other);

private:
    int m_fd = -1;
};

}  // namespace quorix::platform
