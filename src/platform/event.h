#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quorix::platform {

// A signal between threads, as the capture thread uses to announce a frame. A manual-reset event
// stays set, releasing every waiter, until Reset; an auto-reset event releases exactly one waiter
// per Set and clears itself as that waiter returns. Owned by whoever creates it; not copyable.
class Event {
public:
    Event(bool manualReset, bool initiallySet);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();

    // Waits until the event is set, at most `timeoutMs` of SDK time (< 0: no limit). Returns
    // false on timeout.
    bool Wait(int32_t timeoutMs);

    bool IsSet() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    const bool m_manualReset;
    bool m_set;
};

}  // namespace quorix::platform
