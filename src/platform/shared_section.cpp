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
constexpr off_t kFirstRecordLockByte = 2;

std::string PosixName(const std::string& name) {
    return (!name.empty() && name[0] == '/') ? name : "/" + name;
}

// True if an open file description other than `fd`'s holds a lock on `byte` that conflicts
// with a write lock; true as well when the question cannot be asked.
bool LockedByOther(int fd, off_t byte) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = byte;
    probe.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return true;
    return probe.l_type != F_UNLCK;
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
    // An object of ours that someone opened up to others is closed again.
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        fchmod(fd, S_IRUSR | S_IWUSR);

    // The creator sizes the object; whoever comes first under the lock does it, so no process
    // ever maps an object that is still too short. An object of any other size is set to ours:
    // every user maps exactly `size` bytes, and the content is checked before it is used.
    SetRecordLock(fd, F_WRLCK, kTableLockByte, true);
    bool sized = fstat(fd, &info) == 0;
    if (sized && info.st_size != static_cast<off_t>(size)) {
        if (info.st_size != 0)
            Log("Transport", "shared section %s had %lld bytes; resized to %zu", posixName.c_str(),
                static_cast<long long>(info.st_size), size);
        sized = ftruncate(fd, static_cast<off_t>(size)) == 0;
    }
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

bool SharedSection::CheckSize(bool* resized) {
    *resized = false;
    struct stat info = {};
    if (fstat(m_fd, &info) != 0)
        return false;
    if (info.st_size == static_cast<off_t>(m_size))
        return true;
    // A shortened object would fault on the first access past its new end; a longer one is not
    // ours either. Cooperating users only change it under the table lock, which we hold.
    Log("Transport", "shared section changed to %lld bytes; restored to %zu",
        static_cast<long long>(info.st_size), m_size);
    if (ftruncate(m_fd, static_cast<off_t>(m_size)) != 0)
        return false;
    *resized = true;
    return true;
}

bool SharedSection::AnyOtherUser() const {
    // When the question cannot be asked, assume someone is there: the stored count then stands.
    return LockedByOther(m_fd, kInUseLockByte);
}

void SharedSection::MarkInUse() {
    SetRecordLock(m_fd, F_RDLCK, kInUseLockByte, false);
}

void SharedSection::HoldRecord(int32_t index) {
    if (index >= 0 && index < kMaxRecords)
        SetRecordLock(m_fd, F_RDLCK, kFirstRecordLockByte + index, false);
}

void SharedSection::ReleaseRecord(int32_t index) {
    if (index >= 0 && index < kMaxRecords)
        SetRecordLock(m_fd, F_UNLCK, kFirstRecordLockByte + index, false);
}

bool SharedSection::RecordHeldByOther(int32_t index) const {
    if (index < 0 || index >= kMaxRecords)
        return true;
    return LockedByOther(m_fd, kFirstRecordLockByte + index);
}

}  // namespace quorix::platform
