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

bool DeviceTable::IsUsed(int32_t index) const {
    return index >= 0 && index < m_entryCount && m_entries[index].path[0] != '\0';
}

DeviceTable::AddResult DeviceTable::Add(std::string_view path, bool* inconsistent) {
    if (inconsistent != nullptr)
        *inconsistent = false;
    if (path.size() > kMaxDevicePathLength)
        return AddResult::kTooLong;
    const DevicePathIds ids = ParseDevicePath(path);

    // The instance number is the lowest one that no used entry of the same camera model has, so
    // a camera that comes back after its old entry was removed takes the old number again.
    // Only used entries count: holes carry IDs 0/0 too, and must not number a path whose IDs did
    // not parse.
    std::array<bool, kDeviceTableSize> taken{};
    int32_t hole = -1;
    for (int32_t i = 0; i < m_entryCount; ++i) {
        if (!IsUsed(i)) {
            if (hole < 0)
                hole = i;
            continue;
        }
        const DeviceTableEntry& entry = m_entries[i];
        if (path == std::string_view(entry.path))
            return AddResult::kKnown;
        if (entry.vendorId == ids.vendorId && entry.productId == ids.productId &&
            entry.instance >= 0 && entry.instance < kDeviceTableSize)
            taken[entry.instance] = true;
    }
    if (hole < 0 && m_entryCount >= kDeviceTableSize)
        return AddResult::kFull;
    int32_t instance = 0;
    while (taken[instance])
        ++instance;

    const int32_t index = hole >= 0 ? hole : m_entryCount;
    DeviceTableEntry& slot = m_entries[index];
    if (hole < 0 && slot.productId != 0 && inconsistent != nullptr)
        *inconsistent = true;
    slot = DeviceTableEntry{};
    slot.vendorId = ids.vendorId;
    slot.productId = ids.productId;
    slot.instance = instance;
    std::memcpy(slot.path, path.data(), path.size());
    if (hole < 0)
        ++m_entryCount;
    return AddResult::kAdded;
}

void DeviceTable::Remove(int32_t index) {
    if (index < 0 || index >= m_entryCount)
        return;
    m_entries[index] = DeviceTableEntry{};
    TrimCount();
}

void DeviceTable::TrimCount() {
    while (m_entryCount > 0 && !IsUsed(m_entryCount - 1)) {
        m_entries[m_entryCount - 1] = DeviceTableEntry{};
        --m_entryCount;
    }
}

void DeviceTable::Encode(int32_t userCount, uint8_t* section) const {
    WriteLe32(section + kSectionUserCountOffset, static_cast<uint32_t>(userCount));
    for (int32_t i = 0; i < kDeviceTableSize; ++i)
        EncodeDeviceTableEntry(m_entries[i],
                               section + kSectionEntriesOffset + i * sizeof(DeviceTableEntry));
    WriteLe32(section + kSectionEntryCountOffset, static_cast<uint32_t>(m_entryCount));
}

bool DeviceTable::Clashes(const DeviceTableEntry& entry,
                          const std::array<bool, kDeviceTableSize>& accepted) const {
    for (int32_t i = 0; i < kDeviceTableSize; ++i) {
        if (!accepted[i])
            continue;
        const DeviceTableEntry& other = m_entries[i];
        if (std::strcmp(other.path, entry.path) == 0 ||
            (other.vendorId == entry.vendorId && other.productId == entry.productId &&
             other.instance == entry.instance))
            return true;
    }
    return false;
}

int32_t DeviceTable::Decode(const uint8_t* section, const DeviceTable* known, int32_t* repaired) {
    const auto count = static_cast<int32_t>(ReadLe32(section + kSectionEntryCountOffset));
    m_entryCount = std::clamp(count, 0, kDeviceTableSize);

    // What each slot below the count holds: a hole, a sound entry, or bytes to throw away.
    std::array<bool, kDeviceTableSize> sound{};
    std::array<bool, kDeviceTableSize> damaged{};
    for (int32_t i = 0; i < kDeviceTableSize; ++i) {
        const uint8_t* bytes = section + kSectionEntriesOffset + i * sizeof(DeviceTableEntry);
        m_entries[i] = DecodeDeviceTableEntry(bytes);
        if (i >= m_entryCount)
            continue;
        const DeviceTableEntry& entry = m_entries[i];
        const bool terminated = std::memchr(bytes + offsetof(DeviceTableEntry, path), '\0',
                                            sizeof(entry.path)) != nullptr;
        if (terminated && entry.path[0] == '\0') {
            damaged[i] = entry.vendorId != 0 || entry.productId != 0 || entry.instance != -1;
            m_entries[i] = DeviceTableEntry{};
            continue;
        }
        const DevicePathIds ids = ParseDevicePath(entry.path);
        sound[i] = terminated && ids.vendorId == entry.vendorId &&
                   ids.productId == entry.productId && entry.instance >= 0 &&
                   entry.instance < kDeviceTableSize;
        damaged[i] = !sound[i];
    }

    // Sound entries that this process knows in the same slot go first, then what it knew in
    // slots that came in damaged, then the other sound entries in slot order; an entry that
    // repeats an accepted path or ID-and-instance pair is dropped, and the slot gets back what
    // this process knew there if that clashes with nothing.
    const auto matchesKnown = [&](int32_t i) {
        return known != nullptr && known->IsUsed(i) &&
               std::strcmp(known->Entry(i).path, m_entries[i].path) == 0 &&
               known->Entry(i).instance == m_entries[i].instance;
    };
    std::array<bool, kDeviceTableSize> accepted{};
    const auto restore = [&](int32_t i) {
        m_entries[i] = DeviceTableEntry{};
        if (known != nullptr && known->IsUsed(i) && !Clashes(known->Entry(i), accepted)) {
            m_entries[i] = known->Entry(i);
            accepted[i] = true;
        }
    };
    for (int32_t i = 0; i < m_entryCount; ++i) {
        if (sound[i] && matchesKnown(i) && !Clashes(m_entries[i], accepted))
            accepted[i] = true;
    }
    for (int32_t i = 0; i < m_entryCount; ++i) {
        if (damaged[i])
            restore(i);
    }
    for (int32_t i = 0; i < m_entryCount; ++i) {
        if (!sound[i] || accepted[i])
            continue;
        if (Clashes(m_entries[i], accepted)) {
            damaged[i] = true;
            restore(i);
        } else {
            accepted[i] = true;
        }
    }
    const auto dropped = static_cast<int32_t>(std::count(damaged.begin(), damaged.end(), true));
    TrimCount();
    if (repaired != nullptr)
        *repaired = dropped;
    return static_cast<int32_t>(ReadLe32(section + kSectionUserCountOffset));
}

}  // namespace quorix
