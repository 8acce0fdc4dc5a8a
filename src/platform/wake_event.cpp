#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quorix::platform {

WakeEvent::~WakeEvent() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool WakeEvent::Open() {
    if (m_fd < 0) {
        m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    return m_fd >= 0;
}

void WakeEvent::Set() {
    if (m_fd < 0) {
        return;
    }
    const uint64_t one = 1;
    // The counter only needs to be non-zero; a full counter is as good as a written one.
    [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
}

bool WakeEvent::Wait(PollHandle other) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {other, POLLIN, 0}};
    const nfds_t count = other == kNoHandle ? 1 : 2;
    if (poll(fds, count, -1) > 0 && (fds[0].revents & POLLIN) != 0) {
        // Reading an eventfd returns its whole count and clears it.
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_fd, &value, sizeof value);
        return true;
    }
    return false;
}

}  // namespace quorix::platform
