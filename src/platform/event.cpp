#include "platform/event.h"

#include "platform/clock.h"

namespace quorix::platform {

Event::Event(bool manualReset, bool initiallySet)
    : m_manualReset(manualReset), m_set(initiallySet) {}

void Event::Set() {
    // Notify while holding the lock: a waiter that wakes may destroy the event as soon as it
    // can take the lock, so the condition variable must not be touched after unlocking. An
    // auto-reset event is consumed by the first waiter, so waking more would be wasted.
    std::lock_guard lock(m_mutex);
    m_set = true;
    if (m_manualReset)
        m_changed.notify_all();
    else
        m_changed.notify_one();
}

void Event::Reset() {
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool Event::Wait(int32_t timeoutMs) {
    std::unique_lock lock(m_mutex);
    const auto isSet = [this] { return m_set; };
    if (timeoutMs < 0)
        m_changed.wait(lock, isSet);
    else if (!m_changed.wait_until(lock, RealDeadline(static_cast<uint32_t>(timeoutMs)), isSet))
        return false;
    if (!m_manualReset)
        m_set = false;
    return true;
}

bool Event::IsSet() const {
    std::lock_guard lock(m_mutex);
    return m_set;
}

}  // namespace quorix::platform
