#include "context/config_record.h"

#include "platform/byte_order.h"

namespace quorix {

std::vector<ConfigRecord> ParseConfigRecords(const uint8_t* bytes, size_t size) {
    std::vector<ConfigRecord> records;
    records.reserve(size / 8);
    for (size_t offset = 0; offset + 8 <= size; offset += 8) {
        records.push_back(ConfigRecord{ReadLe32(bytes + offset), ReadLe32(bytes + offset + 4)});
    }
    return records;
}

}  // namespace quorix
