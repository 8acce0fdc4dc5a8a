// CFx3Api's shared device table within one process: who resets it, how the user count follows
// the objects, and how enumeration enters what the driver offers. The driver's interfaces come
// from a minimal link provider, so no camera emulation is involved.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "idle_provider.h"
#include "platform/usb/device_io.h"
#include "platform/usb/usb_link.h"
#include "section_test_support.h"
#include "transport/fx3_api.h"

namespace quorix {
namespace {

namespace usb = platform::usb;
using test::IdleProvider;
using test::ScopedSectionName;
using test::SectionBytes;

class Fx3ApiTableTest : public ::testing::Test {
protected:
    void SetUp() override { usb::RegisterProvider(m_provider); }
    void TearDown() override {
        usb::UnregisterProvider(m_provider);
        unsetenv("QUORIX_LOG");  // NOLINT(concurrency-mt-unsafe): no other thread runs
    }

    ScopedSectionName m_section;
    std::shared_ptr<IdleProvider> m_provider = std::make_shared<IdleProvider>();
};

TEST_F(Fx3ApiTableTest, UserCountFollowsTheObjectsAndTheLastOneLeavesTheTableForTheNextReset) {
    auto first = std::make_unique<CFx3Api>();
    SectionBytes section(m_section.Name());
    ASSERT_TRUE(section.Valid());
    EXPECT_EQ(section.UserCount(), 1);
    EXPECT_EQ(section.EntryCount(), 0);
    EXPECT_EQ(section.Instance(0), -1);  // a fresh table has empty entries, not zeroed ones

    m_provider->Add(0x31C0, "cam0");
    m_provider->Add(0x31C0, "cam1");
    EXPECT_EQ(first->EnumerateDevices(), 2);
    {
        CFx3Api second;
        EXPECT_EQ(section.UserCount(), 2);
        // The second object starts from the shared table, not from an empty one.
        EXPECT_EQ(CFx3Api::GetEntryCount(), 2);
    }
    EXPECT_EQ(section.UserCount(), 1);
    EXPECT_EQ(section.EntryCount(), 2);

    first.reset();
    EXPECT_EQ(section.UserCount(), 0);
    // The entries stay in the section until a new first user arrives ...
    EXPECT_EQ(section.EntryCount(), 2);
    // ... which starts an empty table, though the cameras are still there.
    CFx3Api next;
    EXPECT_EQ(section.UserCount(), 1);
    EXPECT_EQ(section.EntryCount(), 0);
    EXPECT_EQ(CFx3Api::GetEntryCount(), 0);
    EXPECT_EQ(section.Path(0), "");
}

// Entries another process wrote while this one had live objects are seen by the next object.
TEST_F(Fx3ApiTableTest, NewObjectsReadWhatOtherProcessesEntered) {
    CFx3Api first;
    SectionBytes section(m_section.Name());
    ASSERT_TRUE(section.Valid());
    section.SetEntry(0, 0x04B4, 0x31C0, 0, "\\\\?\\usb#vid_04b4&pid_31c0#elsewhere#{x}");
    section.SetEntryCount(1);

    CFx3Api second;
    ASSERT_EQ(CFx3Api::GetEntryCount(), 1);
    DeviceTableEntry entry;
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(0, &entry));
    EXPECT_EQ(std::string(entry.path), "\\\\?\\usb#vid_04b4&pid_31c0#elsewhere#{x}");
    // That path is not present here: it exists in the table but does not open.
    EXPECT_EQ(second.DeviceExists(0), 0);
    CFx3Api::DeviceHandle handle;
    EXPECT_EQ(second.OpenDevice(&handle, 0, false), 0);
    EXPECT_FALSE(handle.IsValid());
}

// A process that died kept its users in the count; without a live user anywhere the count is
// stale and the table must still start afresh, or it would fill up for good.
TEST_F(Fx3ApiTableTest, AUserCountLeftByADeadProcessDoesNotKeepTheTable) {
    { CFx3Api creator; }
    {
        SectionBytes section(m_section.Name());
        ASSERT_TRUE(section.Valid());
        section.SetUserCount(3);
        section.SetEntry(0, 0x04B4, 0x31C0, 0, "\\\\?\\usb#vid_04b4&pid_31c0#gone#{x}");
        section.SetEntryCount(1);
    }
    CFx3Api api;
    SectionBytes section(m_section.Name());
    EXPECT_EQ(section.UserCount(), 1);
    EXPECT_EQ(section.EntryCount(), 0);
    EXPECT_EQ(CFx3Api::GetEntryCount(), 0);
}

// Another process of the user cut the section short while this one has it mapped: the next
// enumeration must restore its size before touching it, not die of SIGBUS.
TEST_F(Fx3ApiTableTest, ASectionCutShortIsRestoredBeforeUse) {
    m_provider->Add(0x31C0, "a");
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 1);
    const int fd = shm_open(m_section.Name().c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 16), 0);
    EXPECT_EQ(api.EnumerateDevices(), 1);
    struct stat info {};
    ASSERT_EQ(fstat(fd, &info), 0);
    EXPECT_EQ(info.st_size, 8584);
    close(fd);
    SectionBytes section(m_section.Name());
    EXPECT_NE(section.Path(0).find("#a#"), std::string::npos);
}

// A user count at its largest while another user lives must stay there, not overflow.
TEST_F(Fx3ApiTableTest, TheUserCountSaturates) {
    CFx3Api first;
    SectionBytes section(m_section.Name());
    ASSERT_TRUE(section.Valid());
    section.SetUserCount(0x7FFFFFFF);
    {
        CFx3Api second;
        EXPECT_EQ(section.UserCount(), 0x7FFFFFFF);
    }
    EXPECT_EQ(section.UserCount(), 0x7FFFFFFE);
}

// Random bytes over the whole table while a user has a camera selected: a new object still sees
// both cameras, the selected one keeps its entry, and the section is sound again afterwards.
TEST_F(Fx3ApiTableTest, GarbageInTheSectionIsDroppedAndRebuiltFromDiscovery) {
    m_provider->Add(0x31C0, "a");
    m_provider->Add(0x31C0, "b");
    CFx3Api live;
    ASSERT_EQ(live.EnumerateDevices(), 2);
    live.HoldDeviceEntry(1);
    SectionBytes section(m_section.Name());
    ASSERT_TRUE(section.Valid());
    uint32_t noise = 12345;
    for (size_t i = 4; i < SectionBytes::kSize; ++i) {
        noise = noise * 1103515245u + 12345u;
        section.Raw()[i] = static_cast<uint8_t>(noise >> 16);
    }
    section.SetEntryCount(32);

    CFx3Api other;
    EXPECT_EQ(other.EnumerateDevices(), 2);
    CFx3Api::DeviceHandle handle;
    ASSERT_EQ(live.OpenDevice(&handle, 1, false), 1);
    DeviceTableEntry entry;
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(1, &entry));
    EXPECT_NE(std::string(entry.path).find("#b#"), std::string::npos);
    EXPECT_EQ(section.EntryCount(), 2);
    EXPECT_NE(section.Path(0).find("#a#"), std::string::npos);
    EXPECT_EQ(section.Instance(1), 1);
}

// The entry of a camera that went away stays while a live object holds it, so the replugged
// camera takes the next entry; once nobody holds it, enumeration removes it, the present camera
// keeps its entry and number, and a new camera takes the freed slot and number 0.
TEST_F(Fx3ApiTableTest, AGoneCameraKeepsItsEntryOnlyWhileSomeoneHoldsIt) {
    m_provider->Add(0x31C0, "a");
    auto holder = std::make_unique<CFx3Api>();
    ASSERT_EQ(holder->EnumerateDevices(), 1);
    holder->HoldDeviceEntry(0);
    m_provider->Clear();
    m_provider->Add(0x31C0, "a-again");

    CFx3Api other;
    ASSERT_EQ(other.EnumerateDevices(), 2);
    DeviceTableEntry entry;
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(1, &entry));
    EXPECT_NE(std::string(entry.path).find("#a-again#"), std::string::npos);
    EXPECT_EQ(+entry.instance, 1);

    holder.reset();
    EXPECT_EQ(other.EnumerateDevices(), 2);
    EXPECT_EQ(other.DeviceExists(0), 0);
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(0, &entry));
    EXPECT_EQ(std::string(entry.path), "");
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(1, &entry));
    EXPECT_EQ(+entry.instance, 1);

    m_provider->Add(0x31C0, "new");
    EXPECT_EQ(other.EnumerateDevices(), 2);
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(0, &entry));
    EXPECT_NE(std::string(entry.path).find("#new#"), std::string::npos);
    EXPECT_EQ(+entry.instance, 0);
}

TEST_F(Fx3ApiTableTest, EnumerationEntersInterfacesThatOpenAndSkipsOverlongPaths) {
    CFx3Api api;
    EXPECT_EQ(api.EnumerateDevices(), 0);  // nothing offered: 0, table untouched

    m_provider->Add(0x31C0, "a");
    m_provider->Add(0x31C0, "unopenable");
    m_provider->SetOpenable("unopenable", false);
    // 12 + 4 + 5 + 4 + 1 ("#") + instance + 1 + 38 (GUID) characters: 300 is far too long.
    m_provider->Add(0x31C0, std::string(300, 'L'));
    m_provider->Add(0x31C0, "b");
    EXPECT_EQ(api.EnumerateDevices(), 2);

    DeviceTableEntry entry;
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(1, &entry));
    EXPECT_NE(std::string(entry.path).find("#b#"), std::string::npos);
    EXPECT_EQ(+entry.instance, 1);
    EXPECT_EQ(api.DeviceExists(0), 1);
    EXPECT_EQ(api.DeviceExists(2), 0);  // beyond the entry count
    EXPECT_EQ(api.DeviceExists(-1), 0);
    EXPECT_EQ(api.DeviceExists(32), 0);
    EXPECT_FALSE(CFx3Api::GetDeviceEntry(32, &entry));

    // An interface that opens later is entered then, after the others.
    m_provider->SetOpenable("unopenable", true);
    EXPECT_EQ(api.EnumerateDevices(), 3);
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(2, &entry));
    EXPECT_NE(std::string(entry.path).find("#unopenable#"), std::string::npos);
    EXPECT_EQ(+entry.instance, 2);
}

// The driver's member index runs 0..31: interfaces listed after the 32nd are not looked at.
TEST_F(Fx3ApiTableTest, OnlyTheFirstThirtyTwoMembersAreEnumerated) {
    for (int i = 0; i < 34; ++i)
        m_provider->Add(0x31C0, "m" + std::to_string(i));
    m_provider->SetOpenable("m0", false);
    CFx3Api api;
    EXPECT_EQ(api.EnumerateDevices(), 31);
    DeviceTableEntry entry;
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(30, &entry));
    EXPECT_NE(std::string(entry.path).find("#m31#"), std::string::npos);
}

TEST_F(Fx3ApiTableTest, AnInconsistentTableIsReportedOnlyWhenTheLogIsOn) {
    CFx3Api api;
    SectionBytes section(m_section.Name());
    ASSERT_TRUE(section.Valid());
    // Slot 0 holds a camera, but the count says the table is empty.
    section.SetEntry(0, 0x04B4, 0x31B0, 0, "\\\\?\\usb#vid_04b4&pid_31b0#left#{x}");
    section.SetEntryCount(0);
    m_provider->Add(0x31C0, "a");

    testing::internal::CaptureStderr();
    EXPECT_EQ(api.EnumerateDevices(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    section.SetEntryCount(0);
    setenv("QUORIX_LOG", "1", 1);  // NOLINT(concurrency-mt-unsafe): no other thread runs
    testing::internal::CaptureStderr();
    EXPECT_EQ(api.EnumerateDevices(), 1);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ここには入ってこないはず\r\n"), std::string::npos) << log;
    EXPECT_EQ(section.ProductId(0), 0x31C0);
}

TEST_F(Fx3ApiTableTest, HandlesOpenOnlyForUsedEntriesAndCloseOnce) {
    m_provider->Add(0x31C0, "a");
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 1);
    CFx3Api::DeviceHandle handle;
    EXPECT_EQ(api.OpenDevice(&handle, 1, true), 0);
    EXPECT_EQ(api.OpenDevice(&handle, 0, true), 1);
    EXPECT_TRUE(handle.IsValid());
    EXPECT_EQ(api.CloseDevice(&handle), 1);
    EXPECT_FALSE(handle.IsValid());
    EXPECT_EQ(api.CloseDevice(&handle), 0);

    // A failed open leaves the slot closed, even if it held a handle.
    ASSERT_EQ(api.OpenDevice(&handle, 0, false), 1);
    m_provider->Clear();
    EXPECT_EQ(api.OpenDevice(&handle, 0, false), 0);
    EXPECT_FALSE(handle.IsValid());
}

}  // namespace
}  // namespace quorix
