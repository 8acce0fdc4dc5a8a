#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorix::platform {

// A named shared-memory section that all processes of the machine share (the camera device
// table lives in one): a POSIX shared memory object of a fixed size, mapped read-write. Owned by
// one user object for its lifetime.
//
// Two advisory locks live on the object (open-file-description record locks, so they also
// separate threads and objects of one process):
// - byte 0, exclusive, around every read-modify-write of the table (Lock/Unlock);
// - byte 1, shared, held by every live user for its whole life (MarkInUse). A process that dies
//   without cleaning up drops it with its descriptors, so a user count that the dead process
//   left behind can be recognised as stale (AnyOtherUser).
class SharedSection {
public:
    // Opens or creates the section called `name` (a leading '/' is added when missing) with at
    // least `size` bytes and maps them. Null when it cannot be opened, is not ours, or cannot be
    // sized or mapped.
    static std::unique_ptr<SharedSection> Open(const std::string& name, size_t size);
    // Removes the name (the memory lives on while mapped). False when there was none.
    static bool Unlink(const std::string& name);

    SharedSection(const SharedSection&) = delete;
    SharedSection& operator=(const SharedSection&) = delete;
    ~SharedSection();

    // The exclusive table lock; blocks until it is free. Not recursive.
    void Lock();
    void Unlock();

    // True if a user other than this object holds the in-use lock.
    bool AnyOtherUser() const;
    // Takes the in-use lock for the rest of this object's life.
    void MarkInUse();

    uint8_t* Data() const { return m_data; }

private:
    SharedSection(int fd, uint8_t* data, size_t size) : m_fd(fd), m_data(data), m_size(size) {}

    int m_fd;
    uint8_t* m_data;
    size_t m_size;  // [bytes] mapped
};

// Releases the table lock on every path out of a read-modify-write.
class SharedSectionLock {
public:
    explicit SharedSectionLock(SharedSection* section) : m_section(section) {
        if (m_section != nullptr)
            m_section->Lock();
    }
    ~SharedSectionLock() {
        if (m_section != nullptr)
            m_section->Unlock();
    }
    SharedSectionLock(const SharedSectionLock&) = delete;
    SharedSectionLock& operator=(const SharedSectionLock&) = delete;

private:
    SharedSection* m_section;
};

}  // namespace quorix::platform
