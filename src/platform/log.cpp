#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace quorix::platform {

bool LogEnabled() {
    // The SDK never changes its environment, so reading it from any thread is safe.
    return std::getenv("QUORIX_LOG") != nullptr;  // NOLINT(concurrency-mt-unsafe)
}

void LogV(const char* category, const char* fmt, va_list args) {
    if (!LogEnabled())
        return;
    char text[1024];
    // The caller started `args` (va_start); the analyzer cannot see that across functions.
    std::vsnprintf(text, sizeof(text), fmt, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
    // One fprintf per line, so lines of concurrent threads do not interleave mid-line.
    std::fprintf(stderr, "[%s] %s\n", category, text);
}

void Log(const char* category, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    LogV(category, fmt, args);
    va_end(args);
}

}  // namespace quorix::platform
