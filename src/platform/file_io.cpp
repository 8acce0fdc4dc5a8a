#include "platform/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <new>

namespace quorix::platform {

namespace {

constexpr std::string_view kTemporaryPrefix = ".quorix-";
constexpr std::string_view kTemporarySuffix = ".tmp";
// Links followed before a name counts as a loop, as the kernel does.
constexpr int kMaxLinks = 40;
constexpr size_t kReadChunkBytes = 1 << 16;

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Clears O_NONBLOCK, which was only there so that opening could not wait.
bool MakeBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
           (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// Opens the folder of `path` (relative to `base` unless absolute) and takes its last part as
// the name; false (errno kept) when the folder cannot be opened or the path names a folder.
bool OpenFolderOf(int base, const std::string& path, int& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    const std::string part = slash == std::string::npos ? path : path.substr(slash + 1);
    if (part.empty() || part == "." || part == "..") {
        errno = EISDIR;
        return false;
    }
    const std::string parent =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    // O_PATH: a folder the process may write into but not list still takes the save.
    const int fd = ::openat(base, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    if (folder >= 0) {
        ::close(folder);
    }
    folder = fd;
    name = part;
    return true;
}

bool ReadLink(int folder, const std::string& name, size_t size, std::string& target) {
    target.assign(std::max<size_t>(size, 64) + 1, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(folder, name.c_str(), target.data(), target.size());
        if (n < 0) {
            return false;
        }
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            return true;
        }
        // The link grew since it was looked at.
        target.resize(target.size() * 2);
    }
}

// Flushes the folder's entries (a rename reaches the disk with them). A folder that cannot be
// opened for reading is left to the file system's own schedule.
void SyncFolder(int folder) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

// --- Reading ---------------------------------------------------------------------------------

ReadResult ReadFileContents(const char* path, size_t maxBytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (path == nullptr || path[0] == '\0') {
        errno = ENOENT;
        return ReadResult::kMissing;
    }
    // Looked at before opening: a device is not even opened (opening some has effects).
    struct stat seen = {};
    if (::stat(path, &seen) != 0) {
        return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    }
    if (!S_ISREG(seen.st_mode)) {
        errno = S_ISDIR(seen.st_mode) ? EISDIR : EINVAL;
        return ReadResult::kNotRegular;
    }
    // Non-blocking, so that a FIFO put there since cannot make the open wait for a writer.
    const Descriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
        return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    }
    struct stat info = {};
    if (::fstat(file.Get(), &info) != 0) {
        return ReadResult::kFailed;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return ReadResult::kNotRegular;
    }
    if (!MakeBlocking(file.Get())) {
        return ReadResult::kFailed;
    }
    const size_t limit = std::min<size_t>(maxBytes, SIZE_MAX - 1);
    if (static_cast<uint64_t>(info.st_size) > limit) {
        errno = EFBIG;
        return ReadResult::kTooLarge;
    }
    try {
        // One byte beyond the size seen: a file that grew meanwhile is noticed.
        bytes.resize(static_cast<size_t>(info.st_size) + 1);
        size_t done = 0;
        for (;;) {
            if (done == bytes.size()) {
                if (done > limit) {
                    bytes.clear();
                    errno = EFBIG;
                    return ReadResult::kTooLarge;
                }
                bytes.resize(std::min(limit + 1, done + kReadChunkBytes));
            }
            const ssize_t n = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                bytes.clear();
                return ReadResult::kFailed;
            }
        }
        bytes.resize(done);
    } catch (const std::bad_alloc&) {
        bytes.clear();
        errno = ENOMEM;
        return ReadResult::kNoMemory;
    }
    return ReadResult::kRead;
}

// --- Saving ----------------------------------------------------------------------------------

OutputFile::~OutputFile() {
    // Undoing a failed save keeps the failure's errno for the caller.
    const int error = errno;
    Discard();
    errno = error;
}

bool OutputFile::Open(const char* path) {
    Discard();
    if (path == nullptr || path[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    if (!OpenFolderOf(AT_FDCWD, path, m_folder, m_name)) {
        return false;
    }
    // Through the links to the file they name; a dangling link names the file to create.
    struct stat seen = {};
    for (int links = 0;; ++links) {
        if (::fstatat(m_folder, m_name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                return false;
            }
            return CreateTemporary();
        }
        if (!S_ISLNK(seen.st_mode)) {
            break;
        }
        if (links == kMaxLinks) {
            errno = ELOOP;
            return false;
        }
        std::string target;
        if (!ReadLink(m_folder, m_name, static_cast<size_t>(seen.st_size), target) ||
            !OpenFolderOf(m_folder, target, m_folder, m_name)) {
            return false;
        }
    }
    if (S_ISDIR(seen.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (S_ISCHR(seen.st_mode) || S_ISBLK(seen.st_mode)) {
        return OpenInPlace(seen, Kind::kDevice);
    }
    if (!S_ISREG(seen.st_mode)) {
        errno = EINVAL;
        return false;
    }
    // A file the user keeps from being written (mode 0444) is not replaced behind its back.
    if (::faccessat(m_folder, m_name.c_str(), W_OK, AT_EACCESS) != 0) {
        return false;
    }
    m_hadFile = true;
    m_mode = seen.st_mode & 07777;
    m_owner = seen.st_uid;
    m_group = seen.st_gid;
    if (CreateTemporary()) {
        return true;
    }
    if (errno != EACCES && errno != EPERM) {
        return false;
    }
    return OpenInPlace(seen, Kind::kRewritingInPlace);
}

bool OutputFile::CreateTemporary() {
    static std::atomic<uint32_t> s_sequence{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
                           std::to_string(s_sequence.fetch_add(1)) + std::string(kTemporarySuffix);
        const int fd =
            ::openat(m_folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temporary = std::move(name);
            m_kind = Kind::kReplacing;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

bool OutputFile::OpenInPlace(const struct stat& seen, Kind kind) {
    // Non-blocking, so that opening a device cannot wait (a serial line for its carrier); the
    // name must still be what was looked at, not a link or FIFO put there since.
    const int fd = ::openat(m_folder, m_name.c_str(),
                            O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info = {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && !SameFile(info, seen)) {
        ok = false;
        errno = EAGAIN;  // changed between the look and the open: the caller may try again
    }
    ok = ok && MakeBlocking(fd) && (kind != Kind::kRewritingInPlace || ::ftruncate(fd, 0) == 0);
    if (!ok) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    m_fd = fd;
    m_kind = kind;
    return true;
}

FILE* OutputFile::Stream() {
    if (m_stream == nullptr && m_fd >= 0) {
        m_stream = ::fdopen(m_fd, "wb");
    } else if (m_fd < 0) {
        errno = EBADF;
    }
    return m_stream;
}

bool OutputFile::KeepOwnerAndMode() {
    // A file rewritten in place is still the same file, with its own mode and owner.
    if (!m_hadFile || m_fd < 0 || m_temporary.empty()) {
        return true;
    }
    // The owner first: a change of owner clears the set-user-ID bits the mode then restores.
    // Only root may give a file away; a group the user belongs to may still carry over, and
    // otherwise the new file stays the user's.
    if (::fchown(m_fd, m_owner, m_group) != 0) {
        const int ignored = ::fchown(m_fd, static_cast<uid_t>(-1), m_group);
        static_cast<void>(ignored);
    }
    return ::fchmod(m_fd, m_mode) == 0;
}

bool OutputFile::Publish() {
    if (m_kind == Kind::kNone) {
        errno = EBADF;
        return false;
    }
    if (m_temporary.empty()) {
        return true;
    }
    if (!KeepOwnerAndMode()) {
        return false;
    }
    // Something other than a regular file put under the name since Open is not replaced.
    struct stat now = {};
    if (::fstatat(m_folder, m_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(now.st_mode)) {
        errno = EEXIST;
        return false;
    }
    if (::renameat(m_folder, m_temporary.c_str(), m_folder, m_name.c_str()) != 0) {
        return false;
    }
    m_temporary.clear();
    SyncFolder(m_folder);
    return true;
}

int OutputFile::Release() {
    if (m_fd < 0 || !m_temporary.empty() || m_stream != nullptr) {
        return -1;
    }
    const int fd = m_fd;
    m_fd = -1;
    m_kind = Kind::kNone;
    return fd;
}

bool OutputFile::CloseFile() {
    bool closed = true;
    if (m_stream != nullptr) {
        closed = std::fclose(m_stream) == 0;
    } else if (m_fd >= 0) {
        closed = ::close(m_fd) == 0;
    }
    m_stream = nullptr;
    m_fd = -1;
    return closed;
}

bool OutputFile::Commit() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    int error = 0;
    if (m_stream != nullptr && (std::fflush(m_stream) != 0 || std::ferror(m_stream) != 0)) {
        error = errno != 0 ? errno : EIO;
    }
    // A device takes no flush to a disk (/dev/null refuses one).
    if (error == 0 && m_kind != Kind::kDevice && ::fsync(m_fd) != 0) {
        error = errno;
    }
    if (error == 0 && !KeepOwnerAndMode()) {
        error = errno;
    }
    if (!CloseFile() && error == 0) {
        error = errno;
    }
    if (error == 0 && !Publish()) {
        error = errno;
    }
    Discard();
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

void OutputFile::Discard() {
    CloseFile();
    if (!m_temporary.empty()) {
        ::unlinkat(m_folder, m_temporary.c_str(), 0);
        m_temporary.clear();
    }
    if (m_folder >= 0) {
        ::close(m_folder);
        m_folder = -1;
    }
    m_kind = Kind::kNone;
    m_name.clear();
    m_hadFile = false;
}

bool SetDirectWrites(int fd, bool direct) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        return false;
    }
    return ::fcntl(fd, F_SETFL, direct ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

bool WriteFileAt(int fd, uint64_t offset, const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t written = ::pwrite(fd, p, bytes, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        p += written;
        offset += static_cast<uint64_t>(written);
        bytes -= static_cast<size_t>(written);
    }
    return true;
}

std::optional<uint64_t> FreeDiskBytes(int fd) {
    struct statvfs disk {};
    if (::fstatvfs(fd, &disk) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
}

ReserveResult ReserveFileSpace(int fd, uint64_t offset, uint64_t length) {
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    static_cast<off_t>(length)) == 0) {
        return ReserveResult::kReserved;
    }
    if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) {
        return ReserveResult::kNoRoom;
    }
    return ReserveResult::kUnsupported;
}

bool TruncateFile(int fd, uint64_t length) {
    return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool CloseDescriptor(int fd) {
    return ::close(fd) == 0;
}

int DuplicateDescriptor(FILE* stream) {
    return ::fcntl(::fileno(stream), F_DUPFD_CLOEXEC, 0);
}

void* AllocateAligned(size_t alignment, size_t bytes) {
    void* memory = nullptr;
    if (::posix_memalign(&memory, alignment, bytes) != 0) {
        return nullptr;
    }
    return memory;
}

void FreeAligned(void* memory) {
    std::free(memory);  // NOLINT(cppcoreguidelines-no-malloc): posix_memalign's memory
}

bool IsLeftoverTemporaryFile(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
        return false;
    }
    // The writer's process number follows the prefix; its file is left over once that process
    // has ended. (A process of that number that is alive again keeps it until it ends too.)
    name.remove_prefix(kTemporaryPrefix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end == name.data() || *end != '-' || pid <= 0) {
        return false;
    }
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool ReplaceFileContents(const char* path, const uint8_t* data, size_t size) {
    OutputFile file;
    if (!file.Open(path)) {
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(file.Descriptor(), data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
    }
    return file.Commit();
}

}  // namespace quorix::platform
