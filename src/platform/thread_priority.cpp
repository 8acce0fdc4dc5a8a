#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace quorix::platform {

bool RaiseThreadPriority() {
    const int low = sched_get_priority_min(SCHED_FIFO);
    const int high = sched_get_priority_max(SCHED_FIFO);
    sched_param param{};
    param.sched_priority = low + (high - low) / 2;
    const int refused = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (refused == 0) {
        return true;
    }
    // Without real-time rights a higher share of the ordinary scheduler may still be allowed.
    constexpr int kRaisedNice = -10;
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kRaisedNice) == 0) {
        Log("Engine", "capture thread: real-time scheduling refused (%s), nice %d",
            std::strerror(refused), kRaisedNice);
        return false;
    }
    Log("Engine", "capture thread: real-time scheduling refused (%s), normal priority",
        std::strerror(refused));
    return false;
}

void LowerThreadPriority() {
    constexpr int kLowered = 10;
    const int current = getpriority(PRIO_PROCESS, 0);
    const int nice = current + kLowered > 19 ? 19 : current + kLowered;
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) != 0) {
        Log("Preview", "drawing thread: nice %d refused (%s)", nice, std::strerror(errno));
    }
}

}  // namespace quorix::platform
