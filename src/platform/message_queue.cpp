#include "platform/message_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/log.h"

namespace quorix::platform {

namespace {

// Adds to the eventfd counter. Fails only if the counter would overflow its 2^64 - 2 limit.
bool AddToCounter(int fd, uint64_t value) {
    ssize_t written;
    do
        written = ::write(fd, &value, sizeof(value));
    while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof(value));
}

// Takes one from the counter; in semaphore mode each read decrements it by exactly one.
void TakeFromCounter(int fd) {
    uint64_t value;
    ssize_t got;
    do
        got = ::read(fd, &value, sizeof(value));
    while (got < 0 && errno == EINTR);
}

}  // namespace

std::shared_ptr<MessageQueue> MessageQueue::Create() {
    const int fd = ::eventfd(0, EFD_SEMAPHORE | EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::shared_ptr<MessageQueue>(new MessageQueue(fd));
}

MessageQueue::MessageQueue(int fd) : m_fd(fd) {}

MessageQueue::~MessageQueue() {
    ::close(m_fd);
}

bool MessageQueue::Post(const Message& message) {
    uint64_t dropped = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        if (m_messages.size() >= kCapacity) {
            dropped = ++m_dropped;
        } else {
            // The counter moves under the same lock as the queue, so a poller never sees the
            // descriptor readable without a message behind it, or the other way round.
            if (!AddToCounter(m_fd, 1))
                return false;
            m_messages.push_back(message);
        }
    }
    if (dropped != 0) {
        // A queue nobody reads refuses every later post; one line per thousand keeps the log
        // readable while the count stays exact.
        if (dropped == 1 || dropped % 1000 == 0)
            Log("Platform", "message queue full (%zu messages): %llu posts refused, message 0x%x",
                kCapacity, static_cast<unsigned long long>(dropped), message.message);
        return false;
    }
    m_changed.notify_one();
    return true;
}

bool MessageQueue::PopLocked(Message& out) {
    if (m_closed || m_messages.empty())
        return false;
    out = m_messages.front();
    m_messages.pop_front();
    TakeFromCounter(m_fd);
    return true;
}

bool MessageQueue::Get(Message& out, int32_t timeoutMs) {
    std::unique_lock lock(m_mutex);
    const auto ready = [this] { return m_closed || !m_messages.empty(); };
    if (timeoutMs < 0)
        m_changed.wait(lock, ready);
    else
        m_changed.wait_until(lock, RealDeadline(static_cast<uint32_t>(timeoutMs)), ready);
    return PopLocked(out);
}

bool MessageQueue::Peek(Message& out) {
    std::lock_guard lock(m_mutex);
    return PopLocked(out);
}

void MessageQueue::Close() {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
        m_messages.clear();
        // Leave the counter above zero for good: an event loop polling this queue wakes up, and
        // its next read reports the window as gone.
        AddToCounter(m_fd, 1);
    }
    m_changed.notify_all();
}

uint64_t MessageQueue::DroppedCount() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

bool MessageQueue::IsClosed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

}  // namespace quorix::platform
