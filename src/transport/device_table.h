#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorix {

// One camera interface the table has seen: its vendor and product ID (the product ID is the
// camera ID that selects the sensor head), its instance number among the interfaces of the same
// IDs, and its device path. The layout is that of an entry in the shared section.
#pragma pack(push, 1)
struct DeviceTableEntry {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int32_t instance = -1;  // -1 in an empty entry
    char path[260] = {};    // NUL-terminated
};
#pragma pack(pop)
static_assert(sizeof(DeviceTableEntry) == 268);
static_assert(offsetof(DeviceTableEntry, productId) == 2);
static_assert(offsetof(DeviceTableEntry, instance) == 4);
static_assert(offsetof(DeviceTableEntry, path) == 8);

inline constexpr int32_t kDeviceTableSize = 32;
// Longest path an entry holds; longer interface paths are never entered.
inline constexpr size_t kMaxDevicePathLength = sizeof(DeviceTableEntry::path) - 1;

// The shared section that mirrors the table for every process: user count, 32 entries, entry
// count, all little-endian.
#pragma pack(push, 1)
struct SharedSectionLayout {
    int32_t userCount = 0;
    DeviceTableEntry entries[kDeviceTableSize];
    int32_t entryCount = 0;
};
#pragma pack(pop)
static_assert(sizeof(SharedSectionLayout) == 8584);
static_assert(offsetof(SharedSectionLayout, entries) == 4);
static_assert(offsetof(SharedSectionLayout, entryCount) == 8580);

inline constexpr size_t kSharedSectionSize = sizeof(SharedSectionLayout);
inline constexpr size_t kSectionUserCountOffset = offsetof(SharedSectionLayout, userCount);
inline constexpr size_t kSectionEntriesOffset = offsetof(SharedSectionLayout, entries);
inline constexpr size_t kSectionEntryCountOffset = offsetof(SharedSectionLayout, entryCount);

// Entry <-> 268 section bytes. Decoding always leaves a NUL-terminated path.
void EncodeDeviceTableEntry(const DeviceTableEntry& entry, uint8_t* out);
DeviceTableEntry DecodeDeviceTableEntry(const uint8_t* in);

// Vendor and product ID of a path of the form \\?\usb#vid_vvvv&pid_pppp#...: up to four hex
// digits at characters 12 and 21. A field without a hex digit there stays 0.
struct DevicePathIds {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};
DevicePathIds ParseDevicePath(std::string_view path);

// The table of camera interfaces, as one process holds it and as the shared section stores it.
// An entry keeps its index and instance number for as long as it lives, so instance numbers stay
// stable across processes. An entry whose camera is gone is removed only when nobody holds it
// (Remove); its slot becomes a hole that the next new interface fills, and the entry count
// covers the highest used slot. A plain value with no locking; CFx3Api keeps the process copy
// and guards it.
class DeviceTable {
public:
    enum class AddResult {
        kKnown,    // the path already has an entry
        kAdded,    // a new entry was made
        kFull,     // 32 entries are in use; the interface is not entered
        kTooLong,  // the path does not fit an entry; the interface is not entered
    };

    DeviceTable() { Reset(); }

    // All entries empty, entry count 0.
    void Reset();

    int32_t EntryCount() const { return m_entryCount; }
    // Entry 0..31, used or empty.
    const DeviceTableEntry& Entry(int32_t index) const { return m_entries[index]; }
    // Whether entry `index` (below the entry count) names an interface.
    bool IsUsed(int32_t index) const;

    // Enters an interface unless its path is known, in the first hole or after the last entry.
    // A new entry's instance number is the lowest one no used entry with the same vendor and
    // product ID has. `inconsistent` reports that the slot being filled was not empty, which
    // only a corrupted section can cause.
    AddResult Add(std::string_view path, bool* inconsistent = nullptr);
    // Empties entry `index`; later entries keep their index.
    void Remove(int32_t index);

    // The table as section bytes (kSharedSectionSize), with the given user count.
    void Encode(int32_t userCount, uint8_t* section) const;
    // Reads section bytes that another process may have damaged, and returns the user count.
    // An entry count outside 0..32 is clamped. Every entry below it must be a hole or name an
    // interface with a terminated path, the IDs the path carries and an instance number of
    // 0..31, and no two entries may share a path or an ID-and-instance pair; others become
    // holes, counted in `*repaired`. Where `known` (the table as this process last saw it) had
    // a valid entry in a slot that came in damaged, that entry is kept, so a live user does not
    // lose the camera it has open; it also wins a clash with a duplicate in another slot.
    int32_t Decode(const uint8_t* section, const DeviceTable* known = nullptr,
                   int32_t* repaired = nullptr);

private:
    // Whether `entry` may stand beside the already accepted entries of `accepted`.
    bool Clashes(const DeviceTableEntry& entry,
                 const std::array<bool, kDeviceTableSize>& accepted) const;
    void TrimCount();

    std::array<DeviceTableEntry, kDeviceTableSize> m_entries;
    int32_t m_entryCount = 0;
};

}  // namespace quorix
