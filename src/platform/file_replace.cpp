#include "platform/file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

namespace quorix::platform {

bool ReplaceFileContents(const char* path, const uint8_t* data, size_t size) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    // A name no other writer uses: the process and a count of this process's replacements.
    static std::atomic<uint32_t> s_sequence{0};
    const std::string temporary = std::string(path) + ".tmp" + std::to_string(::getpid()) + "-" +
                                  std::to_string(s_sequence.fetch_add(1));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    bool written = true;
    size_t done = 0;
    while (written && done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            written = false;
        }
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the directory: until then a power cut could bring
    // back the old file.
    const std::string name(path);
    const size_t slash = name.rfind('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : name.substr(0, slash));
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace quorix::platform
