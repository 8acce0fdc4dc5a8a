#include "sim/command_memory.h"

#include <algorithm>
#include <cstring>

namespace quorix::sim {

void CommandMemory::Read(uint64_t address, uint8_t* out, size_t count) const {
    size_t done = 0;
    while (done < count) {
        const uint64_t at = address + done;  // wraps at the end of the address space
        const uint64_t pageIndex = at / kPageSize;
        const size_t inPage = static_cast<size_t>(at % kPageSize);
        const size_t n = std::min(count - done, kPageSize - inPage);
        const auto it = m_pages.find(pageIndex);
        if (it == m_pages.end())
            std::memset(out + done, 0, n);
        else
            std::memcpy(out + done, it->second->data() + inPage, n);
        done += n;
    }
}

size_t CommandMemory::Write(uint64_t address, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const uint64_t at = address + done;
        const uint64_t pageIndex = at / kPageSize;
        const size_t inPage = static_cast<size_t>(at % kPageSize);
        const size_t n = std::min(count - done, kPageSize - inPage);
        auto it = m_pages.find(pageIndex);
        if (it == m_pages.end()) {
            if (m_pages.size() >= kMaxPages)
                return done;
            auto page = std::make_unique<Page>();
            page->fill(0);
            it = m_pages.emplace(pageIndex, std::move(page)).first;
        }
        std::memcpy(it->second->data() + inPage, bytes + done, n);
        done += n;
    }
    return done;
}

uint8_t CommandMemory::Byte(uint64_t address) const {
    uint8_t value = 0;
    Read(address, &value, 1);
    return value;
}

}  // namespace quorix::sim
