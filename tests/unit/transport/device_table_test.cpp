// The device table: how interface paths become entries, how instance numbers are given, and how
// the table is stored in the section that all processes share.

#include "transport/device_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace quorix {
namespace {

constexpr const char* kGuidText = "{5d1b7c2e-4a90-4f6b-8e13-9c07a2f4d6b1}";

std::string PathOf(const char* vid, const char* pid, const std::string& instance) {
    return std::string("\\\\?\\usb#vid_") + vid + "&pid_" + pid + "#" + instance + "#" + kGuidText;
}

TEST(DevicePathTest, IdsAreTheHexFieldsAtCharacters12And21) {
    const std::string path = PathOf("04b4", "31c0", "6&2f1c8a&0&1");
    ASSERT_EQ(path.substr(12, 4), "04b4");  // the layout the driver promises
    ASSERT_EQ(path.substr(21, 4), "31c0");
    const DevicePathIds ids = ParseDevicePath(path);
    EXPECT_EQ(ids.vendorId, 0x04B4);
    EXPECT_EQ(ids.productId, 0x31C0);

    const DevicePathIds upper = ParseDevicePath(PathOf("ABCD", "Ef01", "x"));
    EXPECT_EQ(upper.vendorId, 0xABCD);
    EXPECT_EQ(upper.productId, 0xEF01);
}

// A field that is not hex must read as 0, never as whatever happens to follow it.
TEST(DevicePathTest, FieldsThatDoNotParseStayZero) {
    const DevicePathIds badVendor = ParseDevicePath(PathOf("zz12", "31c0", "1"));
    EXPECT_EQ(badVendor.vendorId, 0);
    EXPECT_EQ(badVendor.productId, 0x31C0);

    const DevicePathIds badProduct = ParseDevicePath(PathOf("04b4", "#31c", "1"));
    EXPECT_EQ(badProduct.vendorId, 0x04B4);
    EXPECT_EQ(badProduct.productId, 0);

    // Fewer than four digits read like a "%04x" field: the digits that are there.
    EXPECT_EQ(ParseDevicePath("\\\\?\\usb#vid_12&pid_3").vendorId, 0x12);
    EXPECT_EQ(ParseDevicePath("\\\\?\\usb#vid_12&pid_3").productId, 0);

    EXPECT_EQ(ParseDevicePath("").vendorId, 0);
    EXPECT_EQ(ParseDevicePath("\\\\?\\usb#vid_").vendorId, 0);
}

TEST(DeviceTableTest, InstanceNumbersCountEarlierCamerasOfTheSameModel) {
    DeviceTable table;
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "a")), DeviceTable::AddResult::kAdded);
    EXPECT_EQ(table.Add(PathOf("04b4", "31b0", "b")), DeviceTable::AddResult::kAdded);
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "c")), DeviceTable::AddResult::kAdded);
    // Same product ID under another vendor is another model.
    EXPECT_EQ(table.Add(PathOf("1234", "31c0", "d")), DeviceTable::AddResult::kAdded);
    ASSERT_EQ(table.EntryCount(), 4);
    EXPECT_EQ(+table.Entry(0).instance, 0);
    EXPECT_EQ(+table.Entry(1).instance, 0);
    EXPECT_EQ(+table.Entry(2).instance, 1);
    EXPECT_EQ(+table.Entry(3).instance, 0);
    EXPECT_EQ(+table.Entry(2).productId, 0x31C0);
    EXPECT_EQ(std::string(table.Entry(2).path), PathOf("04b4", "31c0", "c"));
    // Unused entries stay empty.
    EXPECT_EQ(+table.Entry(4).instance, -1);
    EXPECT_EQ(+table.Entry(4).productId, 0);
}

// A camera unplugged and replugged under a new path keeps its old entry (and number) and gets a
// new one with the next number; entering a known path again changes nothing.
TEST(DeviceTableTest, KnownPathsAreNotEnteredTwiceAndReplugsGetTheNextNumber) {
    DeviceTable table;
    const std::string first = PathOf("04b4", "31c0", "plug1");
    table.Add(first);
    table.Add(PathOf("04b4", "31c0", "other"));
    EXPECT_EQ(table.Add(first), DeviceTable::AddResult::kKnown);
    EXPECT_EQ(table.EntryCount(), 2);

    // Paths compare exactly, case included.
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "PLUG1")), DeviceTable::AddResult::kAdded);
    EXPECT_EQ(+table.Entry(2).instance, 2);
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "plug2")), DeviceTable::AddResult::kAdded);
    EXPECT_EQ(+table.Entry(3).instance, 3);
    EXPECT_EQ(std::string(table.Entry(0).path), first);
    EXPECT_EQ(+table.Entry(0).instance, 0);
}

TEST(DeviceTableTest, AThirtyThirdInterfaceAndOverlongPathsAreNotEntered) {
    DeviceTable table;
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(table.Add(PathOf("04b4", "31c0", std::to_string(i))),
                  DeviceTable::AddResult::kAdded);
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "32")), DeviceTable::AddResult::kFull);
    EXPECT_EQ(table.EntryCount(), 32);
    EXPECT_EQ(+table.Entry(31).instance, 31);
    // A known path is still recognised in a full table.
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "5")), DeviceTable::AddResult::kKnown);

    DeviceTable other;
    const std::string prefix = PathOf("04b4", "31c0", "");
    const std::string fits = prefix + std::string(259 - prefix.size(), 'x');
    const std::string tooLong = fits + "y";
    EXPECT_EQ(other.Add(tooLong), DeviceTable::AddResult::kTooLong);
    EXPECT_EQ(other.EntryCount(), 0);
    EXPECT_EQ(other.Add(fits), DeviceTable::AddResult::kAdded);
    EXPECT_EQ(std::string(other.Entry(0).path), fits);
    EXPECT_EQ(other.Entry(0).path[259], '\0');
}

// Empty entries carry IDs 0/0; a path whose IDs do not parse must not count them as cameras.
TEST(DeviceTableTest, UnparsedIdsAreNumberedAmongUsedEntriesOnly) {
    DeviceTable table;
    table.Add(PathOf("04b4", "31c0", "a"));
    table.Add("\\\\?\\usb#weird-path-1");
    table.Add("\\\\?\\usb#weird-path-2");
    EXPECT_EQ(+table.Entry(1).productId, 0);
    EXPECT_EQ(+table.Entry(1).instance, 0);
    EXPECT_EQ(+table.Entry(2).instance, 1);
}

TEST(DeviceTableTest, SectionBytesFollowTheSharedLayout) {
    DeviceTable table;
    table.Add(PathOf("04b4", "31c0", "a"));
    table.Add(PathOf("04b4", "31c0", "b"));
    std::vector<uint8_t> section(8584, 0xEE);
    table.Encode(7, section.data());

    EXPECT_EQ(section[0], 7);  // user count
    EXPECT_EQ(section[3], 0);
    // Entry 1 starts at 4 + 268.
    const size_t entry1 = 4 + 268;
    EXPECT_EQ(section[entry1 + 0], 0xB4);
    EXPECT_EQ(section[entry1 + 1], 0x04);
    EXPECT_EQ(section[entry1 + 2], 0xC0);
    EXPECT_EQ(section[entry1 + 3], 0x31);
    EXPECT_EQ(section[entry1 + 4], 1);  // instance 1
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&section[entry1 + 8])),
              PathOf("04b4", "31c0", "b"));
    // Entry 2 is empty: IDs 0, instance -1, empty path.
    const size_t entry2 = 4 + 2 * 268;
    EXPECT_EQ(section[entry2 + 2], 0);
    EXPECT_EQ(section[entry2 + 4], 0xFF);
    EXPECT_EQ(section[entry2 + 7], 0xFF);
    EXPECT_EQ(section[entry2 + 8], 0);
    // Entry count at 8580.
    EXPECT_EQ(section[8580], 2);
    EXPECT_EQ(section[8583], 0);

    DeviceTable back;
    EXPECT_EQ(back.Decode(section.data()), 7);
    EXPECT_EQ(back.EntryCount(), 2);
    EXPECT_EQ(+back.Entry(1).instance, 1);
    EXPECT_EQ(std::string(back.Entry(0).path), PathOf("04b4", "31c0", "a"));
}

// The section is written by other processes: a broken count or an unterminated path must not
// send the table past its 32 entries or a path past its 260 bytes.
TEST(DeviceTableTest, DecodingSurvivesACorruptedSection) {
    std::vector<uint8_t> section(8584, 'A');
    section[8580] = 77;
    section[8581] = section[8582] = section[8583] = 0;
    DeviceTable table;
    int32_t repaired = 0;
    table.Decode(section.data(), nullptr, &repaired);
    // 32 entries of unterminated paths whose IDs do not parse: none of them is taken.
    EXPECT_EQ(table.EntryCount(), 0);
    EXPECT_EQ(repaired, 32);

    section[8580] = section[8581] = section[8582] = section[8583] = 0xFF;  // -1
    table.Decode(section.data());
    EXPECT_EQ(table.EntryCount(), 0);
}

// What another process may leave in the section: a path copied into a second slot, IDs that
// are not the path's, an instance number out of range, an ID-and-instance pair given twice.
// Each becomes a hole; what this process knew in a damaged slot comes back, also when the
// duplicate sits in another slot, and a new camera fills the first hole.
TEST(DeviceTableTest, DecodingDropsDamagedEntriesAndKeepsWhatTheProcessKnew) {
    DeviceTable known;
    known.Add(PathOf("04b4", "31c0", "a"));
    known.Add(PathOf("04b4", "31c0", "b"));
    std::vector<uint8_t> section(8584);
    known.Encode(1, section.data());
    const auto put = [&](int slot, uint16_t vendorId, int32_t instance, const std::string& path) {
        DeviceTableEntry entry;
        entry.vendorId = vendorId;
        entry.productId = 0x31C0;
        entry.instance = instance;
        std::memcpy(entry.path, path.data(), path.size());
        EncodeDeviceTableEntry(entry, section.data() + 4 + slot * sizeof(DeviceTableEntry));
    };
    put(0, 0x04B4, 1, PathOf("04b4", "31c0", "b"));
    put(2, 0x1234, 2, PathOf("04b4", "31c0", "c"));
    put(3, 0x04B4, 40, PathOf("04b4", "31c0", "d"));
    put(4, 0x04B4, 0, PathOf("04b4", "31c0", "e"));
    put(5, 0x04B4, 2, PathOf("04b4", "31c0", "f"));
    section[8580] = 6;

    DeviceTable table;
    int32_t repaired = 0;
    EXPECT_EQ(table.Decode(section.data(), &known, &repaired), 1);
    EXPECT_EQ(repaired, 4);
    ASSERT_EQ(table.EntryCount(), 6);
    EXPECT_EQ(std::string(table.Entry(0).path), PathOf("04b4", "31c0", "a"));
    EXPECT_EQ(+table.Entry(0).instance, 0);
    EXPECT_EQ(std::string(table.Entry(1).path), PathOf("04b4", "31c0", "b"));
    for (int32_t hole : {2, 3, 4}) {
        EXPECT_FALSE(table.IsUsed(hole)) << hole;
        EXPECT_EQ(+table.Entry(hole).instance, -1) << hole;
    }
    EXPECT_EQ(+table.Entry(5).instance, 2);

    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "g")), DeviceTable::AddResult::kAdded);
    EXPECT_EQ(std::string(table.Entry(2).path), PathOf("04b4", "31c0", "g"));
    EXPECT_EQ(+table.Entry(2).instance, 3);
}

// A removed entry leaves its slot empty, later entries keep their index and instance number,
// and the next camera of the model takes the slot and the lowest free instance number.
TEST(DeviceTableTest, ARemovedEntryLeavesAHoleForTheNextCamera) {
    DeviceTable table;
    for (const char* instance : {"a", "b", "c"})
        table.Add(PathOf("04b4", "31c0", instance));
    table.Remove(0);
    EXPECT_EQ(table.EntryCount(), 3);
    EXPECT_FALSE(table.IsUsed(0));
    EXPECT_EQ(+table.Entry(1).instance, 1);
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "d")), DeviceTable::AddResult::kAdded);
    EXPECT_EQ(std::string(table.Entry(0).path), PathOf("04b4", "31c0", "d"));
    EXPECT_EQ(+table.Entry(0).instance, 0);
    table.Remove(2);
    EXPECT_EQ(table.EntryCount(), 2);
}

// A table whose count says slot n is free while slot n still holds a camera is inconsistent; the
// slot is overwritten and the caller told.
TEST(DeviceTableTest, FillingAnOccupiedSlotIsReported) {
    DeviceTable table;
    table.Add(PathOf("04b4", "31c0", "a"));
    table.Add(PathOf("04b4", "31c0", "b"));
    std::vector<uint8_t> section(8584);
    table.Encode(1, section.data());
    section[8580] = 1;  // entry 1 left behind
    table.Decode(section.data());

    bool inconsistent = false;
    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "c"), &inconsistent),
              DeviceTable::AddResult::kAdded);
    EXPECT_TRUE(inconsistent);
    EXPECT_EQ(std::string(table.Entry(1).path), PathOf("04b4", "31c0", "c"));
    EXPECT_EQ(+table.Entry(1).instance, 1);

    EXPECT_EQ(table.Add(PathOf("04b4", "31c0", "d"), &inconsistent),
              DeviceTable::AddResult::kAdded);
    EXPECT_FALSE(inconsistent);
}

}  // namespace
}  // namespace quorix
