#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorix {

// One record of a configuration file: two little-endian 32-bit values. What they configure is
// up to the application; the context keeps them for its lifetime.
struct ConfigRecord {
    uint32_t first = 0;
    uint32_t second = 0;
    friend bool operator==(const ConfigRecord&, const ConfigRecord&) = default;
};

// The records of a configuration file's bytes: one per whole 8 bytes, a trailing partial record
// ignored.
std::vector<ConfigRecord> ParseConfigRecords(const uint8_t* bytes, size_t size);

}  // namespace quorix
