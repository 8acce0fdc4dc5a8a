// Settings that survive: what contexts read from and write to the settings store as they start,
// switch cameras and end, with emulated cameras; the capture window chosen by size preset; a
// settings file that is not one, and a FIFO where any file is read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../../support/settings_files.h"
#include "context_test_support.h"

namespace quorix {
namespace {

using test::CameraKeyPath;
using test::CameraSection;
using test::ContextCameraTest;
using test::kProductSection;
using test::kSettingsHeader;

// A size preset's seven values as a file section's lines.
std::string PresetLines(int th, int tv, int eh, int ev, int ehs, int evs, int buf) {
    char lines[256];
    std::snprintf(lines, sizeof lines,
                  "\"TH\"=dword:%08x\n\"TV\"=dword:%08x\n\"EH\"=dword:%08x\n\"EV\"=dword:%08x\n"
                  "\"EHS\"=dword:%08x\n\"EVS\"=dword:%08x\n\"Buf\"=dword:%08x\n",
                  th, tv, eh, ev, ehs, evs, buf);
    return lines;
}

std::vector<int32_t> Window(QuorixHandle handle) {
    int32_t v[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(Quorix_GetCaptureWindowEx(handle, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), 1);
    return {v, v + 6};
}
const std::vector<int32_t> kFullSensor = {2048, 0, 2048, 1536, 0, 1536};

using SavedSettings = ContextCameraTest;

// The first context ever writes the defaults under Camera_-1, its device number while it reads
// them, although it then opens the one camera as number 0; the window stays the whole sensor.
// Camera_00 has no format settings, so the context keeps its own colour type and pause.
TEST_F(SavedSettings, FirstRunWritesCameraMinusOneAndKeepsTheWholeSensor) {
    auto camera = Attach("QX252-001001");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), 0);
    EXPECT_EQ(Window(handle), kFullSensor);
    EXPECT_EQ(Quorix_GetColorMode(handle), 8);
    EXPECT_EQ(Quorix_GetWaitTime(handle), 10);

    const platform::SettingsTree stored = test::StoredSettings();
    const std::string key = CameraKeyPath(-1);
    EXPECT_EQ(stored.Dword(key, "Size"), 0u);
    EXPECT_EQ(stored.Dword(key, "Color"), 2u);
    EXPECT_EQ(stored.Dword(key, "SubSample"), 0u);
    EXPECT_EQ(stored.Dword(key, "WaitTime"), 1u);
    EXPECT_EQ(stored.Dword(key, "Clock"), 0u);
    const std::vector<std::pair<const char*, uint32_t>> preset = {
        {"TH", 2048}, {"TV", 1536}, {"EH", 2048}, {"EV", 1536}, {"EHS", 0}, {"EVS", 0}, {"Buf", 4}};
    for (const auto& [name, value] : preset) {
        EXPECT_EQ(stored.Dword(key + "\\Size_00", name), value) << name;
    }
    EXPECT_FALSE(stored.HasKey(CameraKeyPath(0, "Size_00")));
}

// The size preset is read before the camera opens, so a fresh context takes Camera_-1's preset,
// never Camera_00's, even with camera 0 attached.
TEST_F(SavedSettings, FreshContextReadsThePresetOfCameraMinusOne) {
    test::WriteSettingsFile(kSettingsHeader + kProductSection + CameraSection(0) +
                            "\"Size\"=dword:00000001\n" + CameraSection(0, "Size_01") +
                            PresetLines(2048, 1536, 1024, 768, 512, 384, 4) + CameraSection(-1) +
                            "\"Size\"=dword:00000000\n" + CameraSection(-1, "Size_00") +
                            PresetLines(2048, 1536, 640, 480, 64, 32, 4));
    auto camera = Attach("QX252-001101");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), 0);
    EXPECT_EQ(Window(handle), (std::vector<int32_t>{2048, 64, 640, 1536, 32, 480}));
}

// A second process, started after the first has ended, gets the camera as the first left it:
// the camera receives the stored gain and mirroring as it opens.
TEST_F(SavedSettings, AnotherProcessReadsBackWhatAContextSaved) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        auto camera = Attach("QX252-001201");
        const QuorixHandle handle = Quorix_Initialize(nullptr);
        const bool set =
            handle != 0 && Quorix_SetGlobalGain(handle, 300) == 1 &&
            Quorix_SetExposureTime(handle, 500) == 1 && Quorix_SetMirrorH(handle, 1) == 1 &&
            Quorix_SetBrightness(handle, -20) == 1 && Quorix_SetGrayGainR(handle, 200) == 1 &&
            Quorix_SetFilterValue(handle, QUORIX_VALUE_GRAY_MODE, 1) == 1;
        const bool released = Quorix_Release(handle) == 1;
        sim::DetachAllCameras();
        _exit(set && released ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto camera = Attach("QX252-001201");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), 0);
    EXPECT_EQ(camera->Readout().gain, 300u);
    EXPECT_TRUE(camera->Readout().mirrorH);
    EXPECT_FALSE(camera->Readout().mirrorV);
    EXPECT_EQ(ContextOf(handle).Camera().exposure, 500);
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetBrightness(handle, &ok), -20);
    EXPECT_EQ(Quorix_GetGrayGainR(handle, &ok), 200);
    EXPECT_EQ(Quorix_GetFilterValue(handle, QUORIX_VALUE_GRAY_MODE, &ok), 1);
}

// Selecting another camera saves the values of the one open so far under its number and gives
// the new one its own; coming back restores the first camera's values, in the camera too.
TEST_F(SavedSettings, SwitchingCamerasSavesTheOldAndLoadsTheNew) {
    auto first = Attach("QX252-001301");
    auto second = Attach("QX252-001302");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), -1);
    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 0), 1);
    const uint32_t defaultGain = first->Readout().gain;
    ASSERT_EQ(Quorix_SetGlobalGain(handle, 300), 1);
    ASSERT_EQ(Quorix_SetBrightness(handle, 10), 1);

    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 1), 1);
    int32_t ok = 0;
    EXPECT_EQ(second->Readout().gain, defaultGain);
    EXPECT_EQ(Quorix_GetBrightness(handle, &ok), 0);
    platform::SettingsTree stored = test::StoredSettings();
    EXPECT_EQ(stored.Dword(CameraKeyPath(0, "Gain"), "Global"), 300u);
    EXPECT_EQ(stored.Dword(CameraKeyPath(0, "Filter"), "Brightness"), 10u);
    ASSERT_EQ(Quorix_SetGlobalGain(handle, 200), 1);

    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 0), 1);
    EXPECT_EQ(first->Readout().gain, 300u);
    EXPECT_EQ(Quorix_GetGlobalGain(handle, &ok), 300);
    EXPECT_EQ(Quorix_GetBrightness(handle, &ok), 10);
    stored = test::StoredSettings();
    EXPECT_EQ(stored.Dword(CameraKeyPath(1, "Gain"), "Global"), 200u);

    // Releasing the context saves the open camera's values.
    ASSERT_EQ(Quorix_SetGlobalGain(handle, 123), 1);
    ASSERT_EQ(Release(handle), 1);
    EXPECT_EQ(test::StoredSettings().Dword(CameraKeyPath(0, "Gain"), "Global"), 123u);
}

// A value stored outside its range (a file edited by hand, an older release's wider dialog) is
// read as the nearer end of the range and saved so, never as 0 or the default: a gray gain of
// 300 stays the strongest gain, 255, one of -5 is 0; the same holds for the gray offsets
// (-255..255), the auto-iris mode (0..2) and the preview pause (at most 60 s).
TEST_F(SavedSettings, StoredValuesOutOfRangeAreTakenAsTheNearerEnd) {
    test::WriteSettingsFile(kSettingsHeader + kProductSection + CameraSection(0) +
                            "\"WaitTime\"=dword:000f4240\n" + CameraSection(0, "Gain") +
                            "\"AutoIris\"=dword:00000007\n" + CameraSection(0, "Gray") +
                            "\"GainR1\"=dword:0000012c\n\"GainG1\"=dword:fffffffb\n"
                            "\"OffsetR1\"=dword:00000190\n\"OffsetG1\"=dword:fffffe00\n");
    auto camera = Attach("QX252-001401");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), 0);
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetGrayGainR(handle, &ok), 255);
    EXPECT_EQ(Quorix_GetGrayGainG1(handle, &ok), 0);
    EXPECT_EQ(Quorix_GetGrayOffsetR(handle, &ok), 255);
    EXPECT_EQ(Quorix_GetGrayOffsetG1(handle, &ok), -255);
    EXPECT_EQ(Quorix_GetAutoIris(handle, &ok), 2);
    EXPECT_EQ(Quorix_GetWaitTime(handle), 60'000);

    ASSERT_EQ(Release(handle), 1);
    const platform::SettingsTree stored = test::StoredSettings();
    EXPECT_EQ(stored.Dword(CameraKeyPath(0, "Gray"), "GainR1"), 255u);
    EXPECT_EQ(stored.Dword(CameraKeyPath(0, "Gray"), "OffsetG1"), static_cast<uint32_t>(-255));
    EXPECT_EQ(stored.Dword(CameraKeyPath(0, "Gain"), "AutoIris"), 2u);
}

// Settings that cannot be saved are not lost in silence: switching cameras records code 12 and
// still opens the new camera; releasing the context says so on stderr, with the file and the
// system's reason.
TEST_F(SavedSettings, SaveThatCannotBeWrittenIsReported) {
    auto first = Attach("QX252-001501");
    auto second = Attach("QX252-001502");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 0), 1);
    const std::string path = platform::SettingsStore::CurrentUser().FilePath();
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    while (Quorix_GetLastError(handle) != 0) {
    }

    EXPECT_EQ(Quorix_SetDeviceNumber(handle, 1), 1);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_TEXT);
    EXPECT_EQ(ContextOf(handle).DeviceNumber(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Release(handle), 1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot save settings to " + path + ": " + std::strerror(EISDIR)),
              std::string::npos)
        << said;
}

// Quorix_SetCaptureWindow takes the first product-wide preset of the size, in index order up to
// the first missing index; one the camera cannot read out gives code 7 and the whole sensor.
TEST_F(SavedSettings, SetCaptureWindowTakesTheMatchingPreset) {
    auto camera = Attach("QX252-001401");
    const QuorixHandle handle = Initialize();
    const std::string product = "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\";
    test::WriteSettingsFile(kSettingsHeader + product + "Size_00]\n" +
                            PresetLines(2048, 1536, 1024, 768, 512, 384, 6) + product +
                            "Size_01]\n" + PresetLines(2048, 1536, 640, 480, 3, 0, 4) + product +
                            "Size_02]\n" + PresetLines(2048, 1536, 1024, 768, 0, 0, 4) + product +
                            "Size_04]\n" + PresetLines(2048, 1536, 800, 600, 0, 0, 4));
    while (Quorix_GetLastError(handle) != 0) {
    }

    ASSERT_EQ(Quorix_SetCaptureWindow(handle, 1024, 768), 1);
    EXPECT_EQ(Window(handle), (std::vector<int32_t>{2048, 512, 1024, 1536, 384, 768}));
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);

    EXPECT_EQ(Quorix_SetCaptureWindow(handle, 640, 480), 1);  // starts on an odd column
    EXPECT_EQ(Window(handle), kFullSensor);
    EXPECT_EQ(Quorix_GetLastError(handle), 7u);

    ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, 1024, 1536, 0, 768), 1);
    EXPECT_EQ(Quorix_SetCaptureWindow(handle, 800, 600), 0);  // behind the missing Size_03
    EXPECT_EQ(Quorix_GetLastError(handle), 4u);
    EXPECT_EQ(Quorix_SetCaptureWindow(handle, 640, 400), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 4u);
    EXPECT_EQ(Window(handle), (std::vector<int32_t>{2048, 0, 1024, 1536, 0, 768}));

    ASSERT_EQ(Quorix_ResetSettings(QUORIX_SETTINGS_ALL_CAMERAS), 1);
    EXPECT_EQ(Quorix_SetCaptureWindow(handle, 1024, 768), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 4u);
}

// A settings file that is not one is kept aside under a new name; the context starts from the
// first-use defaults and writes a good file.
TEST_F(SavedSettings, CorruptFileIsSetAsideAndTheContextCarriesOn) {
    const std::string garbage = "Windows Registry Editor Version 5.00\n\"Gain\"=dword:1\n";
    test::WriteSettingsFile(garbage);
    const QuorixHandle handle = Initialize();
    EXPECT_EQ(Quorix_GetWaitTime(handle), 1);
    EXPECT_EQ(Quorix_GetColorMode(handle), 24);

    const platform::SettingsStore store = platform::SettingsStore::CurrentUser();
    std::vector<std::string> aside;
    for (const auto& entry : std::filesystem::directory_iterator(store.Directory())) {
        if (entry.path().filename().string().starts_with("settings.reg.corrupt-")) {
            aside.push_back(entry.path().string());
        }
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(aside[0]), garbage.size());
    EXPECT_EQ(test::StoredSettings().Dword(CameraKeyPath(-1), "WaitTime"), 1u);
}

// A FIFO where the library reads a file would make it wait for a writer without end: the
// settings file at every context start, a settings file to import, a configuration file, a mask
// file. Each is refused as a file that cannot be read, and the FIFO stays.
TEST_F(SavedSettings, FifoWhereAFileIsReadIsRefusedWithoutWaiting) {
    Attach("QX252-000961");
    const std::string fifo = platform::SettingsStore::CurrentUser().FilePath();
    std::filesystem::create_directories(std::filesystem::path(fifo).parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const QuorixHandle handle = Initialize();
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(Quorix_ImportSettings(fifo.c_str(), QUORIX_SETTINGS_ALL_CAMERAS), 0);
    EXPECT_EQ(Quorix_LoadConfigFileA(handle, fifo.c_str()), 0);
    EXPECT_EQ(Quorix_LoadMaskFile(handle, fifo.c_str()), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_MASK_FILE);
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
}

}  // namespace
}  // namespace quorix
