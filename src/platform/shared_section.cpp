#include "platform/shared_section.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/log.h"

namespace quorix::platform {

namespace {

// Byte ranges of the two record locks (they need not lie inside the object).
constexpr off_t kTableLockByte = 0;
constexpr off_t kInUseLockByte = 1;

std::string PosixName(const std::string& name) {
    return (!name.empty() && name[0] == '/') ? name : "/" + name;
}

bool SetRecordLock(int fd, short type, off_t byte, bool wait) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0)
            return true;
        if (errno != EINTR) {
            Log("Transport", "shared section lock (type %d, byte %ld) failed: errno %d", type,
                static_cast<long>(byte), errno);
            return false;
        }
    }
}

}  // namespace

std::unique_ptr<SharedSection> SharedSection::Open(const std::string& name, size_t size) {
    const std::string posixName = PosixName(name);
    // Readable and writable by the owner only: the table steers which device paths are opened.
    const int fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        Log("Transport", "shm_open(%s) failed: errno %d", posixName.c_str(), errno);
        return nullptr;
    }
    struct stat info = {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        Log("Transport", "shared section %s is not usable", posixName.c_str());
        close(fd);
        return nullptr;
    }

    // The creator sizes the object; whoever comes first under the lock does it, so no process
    // ever maps an object that is still too short.
    SetRecordLock(fd, F_WRLCK, kTableLockByte, true);
    bool sized = fstat(fd, &info) == 0;
    if (sized && info.st_size < static_cast<off_t>(size))
        sized = ftruncate(fd, static_cast<off_t>(size)) == 0;
    void* view =
        sized ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    SetRecordLock(fd, F_UNLCK, kTableLockByte, false);
    if (view == MAP_FAILED) {
        Log("Transport", "shared section %s cannot be mapped", posixName.c_str());
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SharedSection>(new SharedSection(fd, static_cast<uint8_t*>(view), size));
}

bool SharedSection::Unlink(const std::string& name) {
    return shm_unlink(PosixName(name).c_str()) == 0;
}

SharedSection::~SharedSection() {
    munmap(m_data, m_size);
    // Closing the only descriptor of this open file description drops both record locks.
    close(m_fd);
}

void SharedSection::Lock() {
    SetRecordLock(m_fd, F_WRLCK, kTableLockByte, true);
}

void SharedSection::Unlock() {
    SetRecordLock(m_fd, F_UNLCK, kTableLockByte, false);
}

bool SharedSection::AnyOtherUser() const {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kInUseLockByte;
    probe.l_len = 1;
    // When the question cannot be asked, assume someone is there: the stored count then stands.
    if (fcntl(m_fd, F_OFD_GETLK, &probe) != 0)
        return true;
    return probe.l_type != F_UNLCK;
}

void SharedSection::MarkInUse() {
    SetRecordLock(m_fd, F_RDLCK, kInUseLockByte, false);
}

}  // namespace quorix::platform
