// The camera context: error history and notifications, and the device calls' argument rules.
#include "context/quorix.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "fake_engine.h"
#include "platform/clock.h"
#include "platform/message_window.h"

namespace quorix {
namespace {

using test::FakeEngine;

// A context that never gets an engine, for the behaviour that needs none.
CQuorix::EngineFactory NoEngine() {
    return [] { return std::unique_ptr<CQuorixU3R5Base>(); };
}

// Drains the calling thread's queue so that one test's posts never leak into the next.
void DrainThreadQueue() {
    platform::Message message{};
    while (platform::PeekMessage(0, message) == platform::WaitResult::kMessage) {
    }
}

// A context whose engine is a FakeEngine the test can lay out.
class ContextWithEngine : public ::testing::Test {
protected:
    void SetUp() override {
        DrainThreadQueue();
        auto owned = std::make_unique<FakeEngine>();
        engine = owned.get();
        auto holder = std::make_shared<std::unique_ptr<FakeEngine>>(std::move(owned));
        context = std::make_unique<CQuorix>(
            [holder] { return std::unique_ptr<CQuorixU3R5Base>(std::move(*holder)); });
        ASSERT_EQ(context->Initialize(0), 1);
        ASSERT_EQ(context->Engine(), engine);
    }
    void TearDown() override { DrainThreadQueue(); }

    FakeEngine* engine = nullptr;
    std::unique_ptr<CQuorix> context;
};

TEST(ErrorHistory, PopsNewestFirstThenZero) {
    CQuorix context(NoEngine());
    ASSERT_EQ(context.Initialize(0), 1);
    context.SetError(9);
    context.SetError(5);
    context.SetError(1);
    EXPECT_EQ(context.GetLastError(), 1u);
    EXPECT_EQ(context.GetLastError(), 5u);
    EXPECT_EQ(context.GetLastError(), 9u);
    EXPECT_EQ(context.GetLastError(), 0u);
    EXPECT_EQ(context.GetLastError(), 0u);
}

// The history holds twenty codes: the twenty-first pushes the oldest out.
TEST(ErrorHistory, KeepsTheNewestTwenty) {
    CQuorix context(NoEngine());
    ASSERT_EQ(context.Initialize(0), 1);
    for (uint32_t code = 1; code <= 21; ++code) {
        context.SetError(code);
    }
    for (uint32_t expected = 21; expected >= 2; --expected) {
        EXPECT_EQ(context.GetLastError(), expected);
    }
    EXPECT_EQ(context.GetLastError(), 0u);
}

// The ten correction planes and maps (45 MiB) are not taken at open, only when a correction
// first asks for them: then all ten at full sensor size, white planes at full scale, dark planes
// and maps at 0. Asking again keeps them as they are.
TEST(MaskPlanes, AreMadeOnFirstUseNotAtOpen) {
    CQuorix context(NoEngine());
    ASSERT_EQ(context.Initialize(0), 1);
    const std::array<std::pair<ImageSlot, uint16_t>, 10> planes = {{{kDarkPlane8, 8},
                                                                    {kWhitePlane8, 8},
                                                                    {kDarkPlane16, 16},
                                                                    {kWhitePlane16, 16},
                                                                    {kHotMap8, 8},
                                                                    {kDeadMap8, 8},
                                                                    {kHotMap16, 16},
                                                                    {kDeadMap16, 16},
                                                                    {kDotMap8, 8},
                                                                    {kDotMap16, 16}}};
    for (const auto& [slot, bits] : planes) {
        EXPECT_EQ(context.Image(slot)->Bits(), nullptr) << "plane " << slot << " taken at open";
    }

    ASSERT_TRUE(context.EnsureMaskPlanes());
    for (const auto& [slot, bits] : planes) {
        const CImageBuffer& plane = *context.Image(slot);
        ASSERT_NE(plane.Bits(), nullptr) << "plane " << slot;
        EXPECT_EQ(plane.Width(), 2048);
        EXPECT_EQ(plane.Height(), 1536);
        EXPECT_EQ(plane.BitsPerPixel(), bits);
        const bool white = slot == kWhitePlane8 || slot == kWhitePlane16;
        EXPECT_EQ(plane.Bits()[plane.SizeBytes() - 1], white ? 0xFF : 0x00) << "plane " << slot;
    }
    context.Image(kDarkPlane8)->Bits()[0] = 7;
    ASSERT_TRUE(context.EnsureMaskPlanes());
    EXPECT_EQ(context.Image(kDarkPlane8)->Bits()[0], 7);
}

TEST(ErrorNotification, RecordedCodesArePostedToTheNotificationWindow) {
    DrainThreadQueue();
    const platform::WindowHandle window = platform::CreateMessageWindow();
    ASSERT_NE(window, 0u);
    {
        CQuorix context(NoEngine());
        ASSERT_EQ(context.Initialize(window), 1);
        context.SetError(7);
        context.PostError(11);  // posted only: not in the history

        platform::Message message{};
        ASSERT_EQ(platform::PeekMessage(window, message), platform::WaitResult::kMessage);
        EXPECT_EQ(message.message, 0x8003u);
        EXPECT_EQ(message.wParam, 0u);
        EXPECT_EQ(message.lParam, 7);
        ASSERT_EQ(platform::PeekMessage(window, message), platform::WaitResult::kMessage);
        EXPECT_EQ(message.lParam, 11);
        EXPECT_EQ(platform::PeekMessage(window, message), platform::WaitResult::kTimeout);
        EXPECT_EQ(context.GetLastError(), 7u);
        EXPECT_EQ(context.GetLastError(), 0u);
    }
    // Nothing went to the thread's own queue while a window was set.
    platform::Message stray{};
    EXPECT_EQ(platform::PeekMessage(0, stray), platform::WaitResult::kTimeout);
    platform::DestroyMessageWindow(window);
}

// Without a notification window recorded codes are not posted at all, while posted-only codes
// reach the calling thread's own queue.
TEST(ErrorNotification, NullWindowSendsPostedOnlyCodesToTheThreadQueue) {
    DrainThreadQueue();
    CQuorix context(NoEngine());
    ASSERT_EQ(context.Initialize(0), 1);
    context.SetError(9);
    platform::Message message{};
    EXPECT_EQ(platform::PeekMessage(0, message), platform::WaitResult::kTimeout);

    context.PostError(1);
    ASSERT_EQ(platform::PeekMessage(0, message), platform::WaitResult::kMessage);
    EXPECT_EQ(message.message, 0x8003u);
    EXPECT_EQ(message.lParam, 1);
    EXPECT_EQ(context.GetLastError(), 9u);
    EXPECT_EQ(context.GetLastError(), 0u);
}

// A context without an engine refuses every camera operation with code 1.
TEST(ContextWithoutEngine, DeviceCallsRecordCodeOne) {
    CQuorix context(NoEngine());
    ASSERT_EQ(context.Initialize(0), 1);
    ASSERT_EQ(context.Engine(), nullptr);
    char names[10][256];
    char16_t wideNames[10][256];
    char name[64];
    char16_t wideName[64];
    EXPECT_EQ(context.EnumDevice(names), 0);
    EXPECT_EQ(context.EnumDeviceW(wideNames), 0);
    EXPECT_EQ(context.GetDeviceName(0, name, sizeof name), 0);
    EXPECT_EQ(context.GetDeviceNameW(0, wideName, 64), 0);
    EXPECT_EQ(context.SetDeviceNumber(0), 0);
    EXPECT_EQ(context.ReadSerialNumber(name, sizeof name), 0);
    EXPECT_EQ(context.ReadSerialNumberW(wideName, 64), 0);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(context.GetLastError(), 1u) << "call " << i;
    }
    EXPECT_EQ(context.GetLastError(), 0u);
    EXPECT_EQ(context.Close(), 1);
    EXPECT_EQ(context.DeviceNumber(), -1);
}

// Each name carries the device index Quorix_SetDeviceNumber opens the camera with, also past a
// gap left by an unplugged camera (a consecutive number would open the wrong camera or none).
TEST_F(ContextWithEngine, EnumDeviceNamesPresentCamerasByTheirDeviceIndex) {
    engine->countedDevices = 2;
    engine->present = {0, 2};  // instance 1 is in the table but unplugged
    char names[10][256];
    std::memset(names, 'x', sizeof names);
    EXPECT_EQ(context->EnumDevice(names), 2);
    EXPECT_STREQ(names[0], "Quorix252DIV-USB3-R5_01");
    EXPECT_STREQ(names[1], "Quorix252DIV-USB3-R5_03");
    for (int entry = 2; entry < 10; ++entry) {
        EXPECT_STREQ(names[entry], "") << entry;
    }

    char16_t wide[10][256];
    EXPECT_EQ(context->EnumDeviceW(wide), 2);
    EXPECT_EQ(std::u16string(wide[1]), u"Quorix252DIV-USB3-R5_03");
    EXPECT_EQ(std::u16string(wide[2]), u"");
    EXPECT_EQ(context->GetLastError(), 0u);
}

// The caller's buffer has room for ten names; an eleventh present camera must not overrun it.
TEST_F(ContextWithEngine, EnumDeviceStopsAtTenNames) {
    engine->countedDevices = 12;
    for (int32_t i = 0; i < 12; ++i) {
        engine->present.insert(i);
    }
    struct {
        char names[10][256];
        char guard[16];
    } buffer;
    std::memset(buffer.guard, 0x5A, sizeof buffer.guard);
    EXPECT_EQ(context->EnumDevice(buffer.names), 10);
    EXPECT_STREQ(buffer.names[9], "Quorix252DIV-USB3-R5_10");
    for (char byte : buffer.guard) {
        EXPECT_EQ(byte, 0x5A);
    }
}

TEST_F(ContextWithEngine, GetDeviceNameRefusesShortBuffersAndAbsentCameras) {
    engine->present = {0, 1};
    char name[64];
    // The name is 23 characters: 18 bytes and any size up to 23 would cut it.
    EXPECT_EQ(context->GetDeviceName(0, name, 18), 0);
    EXPECT_EQ(context->GetLastError(), 9u);
    EXPECT_EQ(context->GetDeviceName(0, name, 23), 0);
    EXPECT_EQ(context->GetLastError(), 9u);
    EXPECT_EQ(context->GetDeviceName(0, nullptr, 64), 0);
    EXPECT_EQ(context->GetLastError(), 9u);
    EXPECT_EQ(context->GetDeviceName(32, name, 64), 0);
    EXPECT_EQ(context->GetLastError(), 2u);
    EXPECT_EQ(context->GetDeviceName(-1, name, 64), 0);
    EXPECT_EQ(context->GetLastError(), 2u);
    EXPECT_EQ(context->GetDeviceName(5, name, 64), 0);
    EXPECT_EQ(context->GetLastError(), 2u);

    ASSERT_EQ(context->GetDeviceName(1, name, 24), 1);
    EXPECT_STREQ(name, "Quorix252DIV-USB3-R5_02");
    EXPECT_EQ(context->GetLastError(), 0u);
}

TEST_F(ContextWithEngine, GetDeviceNameWNeedsRoomForTheTerminator) {
    engine->present = {0};
    char16_t name[32];
    EXPECT_EQ(context->GetDeviceNameW(0, name, 23), 0);
    EXPECT_EQ(context->GetLastError(), 12u);
    ASSERT_EQ(context->GetDeviceNameW(0, name, 24), 1);
    EXPECT_EQ(std::u16string(name), u"Quorix252DIV-USB3-R5_01");
    EXPECT_EQ(context->GetLastError(), 0u);
}

TEST_F(ContextWithEngine, SetDeviceNumberOpensOnceAndRefusesAbsentCameras) {
    engine->present = {0, 1};
    EXPECT_EQ(context->SetDeviceNumber(3), 0);
    EXPECT_EQ(context->GetLastError(), 2u);
    EXPECT_TRUE(engine->createdSensors.empty());

    ASSERT_EQ(context->SetDeviceNumber(1), 1);
    EXPECT_EQ(context->DeviceNumber(), 1);
    // Selecting the open camera again succeeds without reopening it.
    ASSERT_EQ(context->SetDeviceNumber(1), 1);
    EXPECT_EQ(engine->createdSensors, std::vector<int32_t>{1});

    engine->sensorOpens = false;
    EXPECT_EQ(context->SetDeviceNumber(0), 0);
    EXPECT_EQ(context->GetLastError(), 2u);
    EXPECT_EQ(context->DeviceNumber(), 1);
}

// The serial number is read from the EEPROM at 0x1040 upward, one byte at a time.
class SerialNumber : public ContextWithEngine {
protected:
    void SetUp() override {
        ContextWithEngine::SetUp();
        platform::SetTimeScale(1000);  // ten milliseconds after every byte
    }
    void TearDown() override {
        platform::SetTimeScale(1);
        ContextWithEngine::TearDown();
    }
    void Store(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            engine->eeprom[0x1040 + static_cast<uint32_t>(i)] = static_cast<uint8_t>(bytes[i]);
        }
    }
};

TEST_F(SerialNumber, TextEndsAtTheFirstErasedByte) {
    Store(std::string("QX252-000123") + '\xFF' + "junk");
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(context->ReadSerialNumber(buffer, 32), 1);
    EXPECT_STREQ(buffer, "QX252-000123");
    EXPECT_EQ(engine->eepromReads.size(), 13u);  // twelve characters and the 0xFF

    char16_t wide[16];
    ASSERT_EQ(context->ReadSerialNumberW(wide, 13), 1);
    EXPECT_EQ(std::u16string(wide), u"QX252-000123");
    EXPECT_EQ(context->ReadSerialNumberW(wide, 12), 0);
    EXPECT_EQ(context->GetLastError(), 12u);
}

// A field filled to its 32nd byte has no terminator: the text keeps 31 characters.
TEST_F(SerialNumber, FullFieldIsCutToThirtyOneCharacters) {
    Store(std::string(32, 'A') + "B");
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(context->ReadSerialNumber(buffer, 32), 1);
    EXPECT_EQ(std::string(buffer), std::string(31, 'A'));
    EXPECT_EQ(engine->eepromReads.size(), 32u);
}

TEST_F(SerialNumber, BlankOrUnreadableMemoryLeavesTheBufferAlone) {
    char buffer[32];
    // Nothing answers at all: failure, no code.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(context->ReadSerialNumber(buffer, 32), 0);
    EXPECT_EQ(buffer[0], '#');
    // An erased EEPROM answers 0xFF at once: a success with nothing to copy.
    Store("\xFF");
    EXPECT_EQ(context->ReadSerialNumber(buffer, 32), 1);
    EXPECT_EQ(buffer[0], '#');
    // A stored empty text: also success without copying.
    Store(std::string(1, '\0') + "X\xFF");
    EXPECT_EQ(context->ReadSerialNumber(buffer, 32), 1);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(context->GetLastError(), 0u);
}

TEST_F(SerialNumber, BufferBelowThirtyTwoBytesIsRefused) {
    Store("QX252\xFF");
    char buffer[32];
    EXPECT_EQ(context->ReadSerialNumber(buffer, 31), 0);
    EXPECT_EQ(context->GetLastError(), 9u);
    EXPECT_EQ(context->ReadSerialNumber(nullptr, 32), 0);
    EXPECT_EQ(context->GetLastError(), 9u);
    EXPECT_TRUE(engine->eepromReads.empty());
}

}  // namespace
}  // namespace quorix

namespace quorix {
namespace {

class ConfigFile : public ::testing::Test {
protected:
    void TearDown() override { std::remove(path.c_str()); }
    void Write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string path = ::testing::TempDir() + "quorix_config_test.bin";
};

// Records are pairs of little-endian 32-bit values; a trailing partial record is ignored.
TEST_F(ConfigFile, TwentyBytesGiveTwoRecords) {
    Write(std::string("\x01\x00\x00\x00\x02\x00\x00\x00", 8) +
          std::string("\xFF\xFF\xFF\xFF\x78\x56\x34\x12", 8) + std::string("\x09\x09\x09\x09", 4));
    CQuorix context;
    ASSERT_EQ(context.LoadConfigFile(path.c_str()), 1);
    const std::vector<ConfigRecord> expected = {{1, 2}, {0xFFFFFFFFu, 0x12345678u}};
    EXPECT_EQ(context.ConfigRecords(), expected);
}

TEST_F(ConfigFile, EmptyFileEmptiesTheListAndMissingFileKeepsIt) {
    Write(std::string("\x05\x00\x00\x00\x06\x00\x00\x00", 8));
    CQuorix context;
    ASSERT_EQ(context.LoadConfigFile(path.c_str()), 1);
    ASSERT_EQ(context.ConfigRecords().size(), 1u);
    // A file that cannot be read changes nothing and records no code.
    EXPECT_EQ(context.LoadConfigFile((path + ".missing").c_str()), 0);
    EXPECT_EQ(context.LoadConfigFile(nullptr), 0);
    EXPECT_EQ(context.ConfigRecords().size(), 1u);
    EXPECT_EQ(context.GetLastError(), 0u);
    Write("");
    EXPECT_EQ(context.LoadConfigFile(path.c_str()), 1);
    EXPECT_TRUE(context.ConfigRecords().empty());
}

}  // namespace
}  // namespace quorix
