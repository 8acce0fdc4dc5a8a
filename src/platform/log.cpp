#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace quorix::platform {

bool LogEnabled() {
    return std::getenv("QUORIX_LOG") != nullptr;
}

void Log(const char* category, const char* fmt, ...) {
    if (!LogEnabled())
        return;
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    // One fprintf per line, so lines of concurrent threads do not interleave mid-line.
    std::fprintf(stderr, "[%s] %s\n", category, text);
}

}  // namespace quorix::platform
