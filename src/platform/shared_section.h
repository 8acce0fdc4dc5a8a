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
//   left behind can be recognised as stale (AnyOtherUser);
// - byte 2 + n, shared, held by a user that has record n in use (HoldRecord), so others can
//   tell a record some live user still relies on from one that nobody holds (RecordHeldByOther).
//
// The object is created readable and writable by its owner only, and an object of another user
// is never opened, so one user's processes cannot corrupt or crash another user's. Processes of
// the same user may still truncate it: CheckSize, under the table lock, restores the size before
// the mapped bytes are touched, so a shortened object never faults a reader.
class SharedSection {
public:
    // Opens or creates the section called `name` (a leading '/' is added when missing) with
    // exactly `size` bytes and maps them; an object of another size (left by a damaged or foreign
    // writer) is resized first. Null when it cannot be opened, is not ours, or cannot be sized or
    // mapped.
    static std::unique_ptr<SharedSection> Open(const std::string& name, size_t size);
    // Removes the name (the memory lives on while mapped). False when there was none.
    static bool Unlink(const std::string& name);

    SharedSection(const SharedSection&) = delete;
    SharedSection& operator=(const SharedSection&) = delete;
    ~SharedSection();

    // The exclusive table lock; blocks until it is free. Not recursive.
    void Lock();
    void Unlock();

    // Call under the table lock before touching Data(). True when the object still has the
    // mapped size; when another process changed it, the size is restored and `*resized` set (the
    // bytes a truncation cut off read as zero). False when the size cannot be restored: Data()
    // must then not be touched.
    bool CheckSize(bool* resized);

    // True if a user other than this object holds the in-use lock.
    bool AnyOtherUser() const;
    // Takes the in-use lock for the rest of this object's life.
    void MarkInUse();

    // Holds record `index` (0..kMaxRecords-1) until ReleaseRecord or the end of this object.
    void HoldRecord(int32_t index);
    void ReleaseRecord(int32_t index);
    // True if a user other than this object holds record `index` (also when it cannot be told).
    bool RecordHeldByOther(int32_t index) const;
    static constexpr int32_t kMaxRecords = 64;

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
