#pragma once

#include <cstdarg>

namespace quorix::platform {

// The SDK's diagnostic log: silent unless the environment variable QUORIX_LOG is set, then one
// line per call on stderr, tagged with the layer's category ("Transport", "Engine", ...).

// True while QUORIX_LOG is set (read on every call, so a test may switch it).
bool LogEnabled();

// Writes "[category] <formatted text>\n" to stderr when the log is on; does nothing otherwise.
void Log(const char* category, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// The same with the arguments already collected, for a layer's own printf-style trace hook.
void LogV(const char* category, const char* fmt, va_list args)
    __attribute__((format(printf, 2, 0)));

}  // namespace quorix::platform
