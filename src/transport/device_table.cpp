#include "transport/device_table.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace quorix {

namespace {

// Where the driver's interface paths carry their IDs: \\?\usb#vid_vvvv&pid_pppp#...
constexpr size_t kVendorIdColumn = 12;
constexpr size_t kProductIdColumn = 21;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Up to four hex digits from `column`; 0 when there is none.
uint16_t ParseHexField(std::string_view path, size_t column) {
    uint32_t value = 0;
    for (size_t i = column; i < path.size() && i < column + 4; ++i) {
        const int digit = HexDigit(path[i]);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

void EncodeDeviceTableEntry(const DeviceTableEntry& entry, uint8_t* out) {
    WriteLe16(out + offsetof(DeviceTableEntry, vendorId), entry.vendorId);
    WriteLe16(out + offsetof(DeviceTableEntry, productId), entry.productId);
    WriteLe32(out + offsetof(DeviceTableEntry, instance), static_cast<uint32_t>(entry.instance));
    std::memcpy(out + offsetof(DeviceTableEntry, path), entry.path, sizeof(entry.path));
}

DeviceTableEntry DecodeDeviceTableEntry(const uint8_t* in) {
    DeviceTableEntry entry;
    entry.vendorId = ReadLe16(in + offsetof(DeviceTableEntry, vendorId));
    entry.productId = ReadLe16(in + offsetof(DeviceTableEntry, productId));
    entry.instance = static_cast<int32_t>(ReadLe32(in + offsetof(DeviceTableEntry, instance)));
    std::memcpy(entry.path, in + offsetof(DeviceTableEntry, path), sizeof(entry.path));
    // Another process wrote these bytes: never trust them to be terminated.
    entry.path[sizeof(entry.path) - 1] = '\0';
    return entry;
}

DevicePathIds ParseDevicePath(std::string_view path) {
    return {ParseHexField(path, kVendorIdColumn), ParseHexField(path, kProductIdColumn)};
}

void DeviceTable::Reset() {
    m_entries.fill(DeviceTableEntry{});
    m_entryCount = 0;
}

DeviceTable::AddResult DeviceTable::Add(std::string_view path, bool* inconsistent) {
    if (inconsistent != nullptr)
        *inconsistent = false;
    if (path.size() > kMaxDevicePathLength)
        return AddResult::kTooLong;
    const DevicePathIds ids = ParseDevicePath(path);

    // The instance number is the count of earlier interfaces of the same camera model. Only
    // used entries count: empty ones carry IDs 0/0 too, and must not number a path whose IDs
    // did not parse.
    int32_t instance = 0;
    for (int32_t i = 0; i < m_entryCount; ++i) {
        const DeviceTableEntry& entry = m_entries[i];
        if (entry.vendorId != ids.vendorId || entry.productId != ids.productId)
            continue;
        if (path == std::string_view(entry.path))
            return AddResult::kKnown;
        ++instance;
    }
    if (m_entryCount >= kDeviceTableSize)
        return AddResult::kFull;

    DeviceTableEntry& slot = m_entries[m_entryCount];
    if (slot.productId != 0 && inconsistent != nullptr)
        *inconsistent = true;
    slot = DeviceTableEntry{};
    slot.vendorId = ids.vendorId;
    slot.productId = ids.productId;
    slot.instance = instance;
    std::memcpy(slot.path, path.data(), path.size());
    ++m_entryCount;
    return AddResult::kAdded;
}

void DeviceTable::Encode(int32_t userCount, uint8_t* section) const {
    WriteLe32(section + kSectionUserCountOffset, static_cast<uint32_t>(userCount));
    for (int32_t i = 0; i < kDeviceTableSize; ++i)
        EncodeDeviceTableEntry(m_entries[i],
                               section + kSectionEntriesOffset + i * sizeof(DeviceTableEntry));
    WriteLe32(section + kSectionEntryCountOffset, static_cast<uint32_t>(m_entryCount));
}

int32_t DeviceTable::Decode(const uint8_t* section) {
    for (int32_t i = 0; i < kDeviceTableSize; ++i)
        m_entries[i] =
            DecodeDeviceTableEntry(section + kSectionEntriesOffset + i * sizeof(DeviceTableEntry));
    const auto count = static_cast<int32_t>(ReadLe32(section + kSectionEntryCountOffset));
    m_entryCount = std::clamp(count, 0, kDeviceTableSize);
    return static_cast<int32_t>(ReadLe32(section + kSectionUserCountOffset));
}

}  // namespace quorix
