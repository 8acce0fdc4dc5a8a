#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "transport/fx3_api.h"

namespace quorix::test {

// A device-table section of this test alone: a name no other test process uses, set for every
// CFx3Api created during the test, and removed afterwards.
class ScopedSectionName {
public:
    ScopedSectionName() {
        static int serial = 0;
        m_name =
            "/quorix-transport-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        shm_unlink(m_name.c_str());
        CFx3Api::SetSharedSectionNameForTesting(m_name);
    }
    ~ScopedSectionName() { shm_unlink(m_name.c_str()); }
    ScopedSectionName(const ScopedSectionName&) = delete;
    ScopedSectionName& operator=(const ScopedSectionName&) = delete;

    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
};

// The section's bytes as another process sees them, read and written at the documented offsets
// (user count at 0, entry i at 4 + 268 i, entry count at 8580).
class SectionBytes {
public:
    static constexpr size_t kSize = 8584;
    static constexpr size_t kEntrySize = 268;

    explicit SectionBytes(const std::string& name) {
        m_fd = shm_open(name.c_str(), O_RDWR, 0);
        if (m_fd < 0)
            return;
        void* view = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        if (view != MAP_FAILED)
            m_bytes = static_cast<uint8_t*>(view);
    }
    ~SectionBytes() {
        if (m_bytes != nullptr)
            munmap(m_bytes, kSize);
        if (m_fd >= 0)
            close(m_fd);
    }
    SectionBytes(const SectionBytes&) = delete;
    SectionBytes& operator=(const SectionBytes&) = delete;

    bool Valid() const { return m_bytes != nullptr; }
    int32_t UserCount() const { return I32(0); }
    int32_t EntryCount() const { return I32(8580); }
    uint16_t VendorId(int entry) const { return U16(4 + entry * kEntrySize); }
    uint16_t ProductId(int entry) const { return U16(4 + entry * kEntrySize + 2); }
    int32_t Instance(int entry) const { return I32(4 + entry * kEntrySize + 4); }
    std::string Path(int entry) const {
        const char* text = reinterpret_cast<const char*>(m_bytes + 4 + entry * kEntrySize + 8);
        return std::string(text, strnlen(text, 260));
    }

    void SetUserCount(int32_t count) { SetI32(0, count); }
    void SetEntryCount(int32_t count) { SetI32(8580, count); }
    void SetEntry(int entry, uint16_t vendorId, uint16_t productId, int32_t instance,
                  const std::string& path) {
        uint8_t* at = m_bytes + 4 + entry * kEntrySize;
        at[0] = static_cast<uint8_t>(vendorId);
        at[1] = static_cast<uint8_t>(vendorId >> 8);
        at[2] = static_cast<uint8_t>(productId);
        at[3] = static_cast<uint8_t>(productId >> 8);
        SetI32(4 + entry * kEntrySize + 4, instance);
        std::memset(at + 8, 0, 260);
        std::memcpy(at + 8, path.data(), std::min<size_t>(path.size(), 260));
    }
    uint8_t* Raw() { return m_bytes; }

private:
    int32_t I32(size_t at) const {
        return static_cast<int32_t>(m_bytes[at] | (m_bytes[at + 1] << 8) | (m_bytes[at + 2] << 16) |
                                    (static_cast<uint32_t>(m_bytes[at + 3]) << 24));
    }
    uint16_t U16(size_t at) const {
        return static_cast<uint16_t>(m_bytes[at] | (m_bytes[at + 1] << 8));
    }
    void SetI32(size_t at, int32_t value) {
        const auto bits = static_cast<uint32_t>(value);
        for (int i = 0; i < 4; ++i)
            m_bytes[at + i] = static_cast<uint8_t>(bits >> (8 * i));
    }

    int m_fd = -1;
    uint8_t* m_bytes = nullptr;
};

}  // namespace quorix::test
