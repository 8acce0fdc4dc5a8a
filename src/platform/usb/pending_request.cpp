#include "platform/usb/pending_request.h"

namespace quorix::platform::usb {

void PendingRequest::Finish(const Outcome& outcome) {
    {
        // The event is set under the request's lock, so no one who learns of the outcome here
        // can free the event while Set still runs.
        std::lock_guard lock(m_mutex);
        m_outcome = outcome;
        if (event != nullptr)
            event->Set();
        m_finished = true;
    }
    m_finishedChanged.notify_all();
}

bool PendingRequest::IsFinished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

void PendingRequest::WaitFinished() const {
    std::unique_lock lock(m_mutex);
    m_finishedChanged.wait(lock, [this] { return m_finished; });
}

PendingRequest::Outcome PendingRequest::Result() const {
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

}  // namespace quorix::platform::usb
