#pragma once

#include <mutex>

namespace quorix::platform {

// The lock of the camera stack. Its owner may take it again: a context holding the frame lock
// calls operations that take the same lock themselves, so a plain mutex would deadlock.
using CriticalSection = std::recursive_mutex;

}  // namespace quorix::platform
