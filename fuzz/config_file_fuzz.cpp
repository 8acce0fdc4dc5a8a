// The configuration file reader on any bytes: one record per whole 8 bytes, each the two
// little-endian values of its bytes.
#include <cstdlib>

#include "context/config_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<quorix::ConfigRecord> records = quorix::ParseConfigRecords(data, size);
    if (records.size() != size / 8) {
        std::abort();
    }
    for (size_t i = 0; i < records.size(); ++i) {
        const uint8_t* record = data + 8 * i;
        const auto le32 = [](const uint8_t* b) {
            return static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16) |
                   static_cast<uint32_t>(b[3]) << 24;
        };
        if (records[i].first != le32(record) || records[i].second != le32(record + 4)) {
            std::abort();
        }
    }
    return 0;
}
