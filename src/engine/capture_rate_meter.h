#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/clock.h"

namespace quorix {

// The capture engine's frame rate (the context has its own meter for the preview): stored frames
// counted over windows of at least `windowMs` of SDK time. Each engine owns one, so engines
// streaming from different cameras at once each count only their own frames. The capture thread
// feeds it; a stop restarts it from the application's thread, hence the lock.
class CaptureRateMeter {
public:
    // Counts one frame; once a window has passed, the rate over it [frames/s].
    std::optional<float> Feed(uint32_t windowMs) {
        const uint32_t now = platform::GetTickCount();
        std::lock_guard lock(m_mutex);
        if (!m_started) {
            // The first frame opens the first window; the frames after it are counted.
            m_started = true;
            m_startTick = now;
            m_count = 0;
            return std::nullopt;
        }
        ++m_count;
        // Unsigned difference, so that the tick count's wrap does not disturb it.
        const uint32_t elapsed = now - m_startTick;
        if (elapsed < windowMs || elapsed == 0) {
            return std::nullopt;
        }
        const float rate = static_cast<float>(m_count) * 1000.0f / static_cast<float>(elapsed);
        m_count = 0;
        m_startTick = now;
        return rate;
    }

    // Forgets the open window: the next frame opens a new one.
    void Restart() {
        std::lock_guard lock(m_mutex);
        m_started = false;
    }

private:
    std::mutex m_mutex;
    bool m_started = false;
    uint32_t m_count = 0;
    uint32_t m_startTick = 0;
};

}  // namespace quorix
